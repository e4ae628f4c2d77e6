// Display formats of the Brazilian locale: decimal ",", thousands ".".
//
//   FormatFloat("###,##0.000", 1234.5)  -> "1.234,500"
//   FormatFloat("###,##0.000", -0.0001) -> "0,000"   (no "-0,000")
//   FormatFloat("", 1234.5)             -> "1234,5"  (shortest text, no grouping)
//
// Edit masks "mask;saveLiterals;blank":
//   FormatMaskText(">aaaa;0; ", "01")  -> "01  "
//   FormatMaskText(">aaaa;0; ", "ab12") -> "AB12"
//   FormatMaskText("00.000.000;0;_", "01002003") -> "01.002.003"
#pragma once

#include <string>
#include <string_view>

namespace fw {

std::string FormatFloat(std::string_view format, double value);

struct TEditMask {
  std::string Mask;          // the mask proper, directives included
  bool SaveLiterals = true;  // literals are part of the stored value
  char Blank = '_';          // shown in empty positions while editing
};

TEditMask ParseEditMask(std::string_view mask);
// The display text of a stored value under the mask (an empty mask returns the value).
std::string FormatMaskText(std::string_view mask, std::string_view value);
// Number of character positions the mask displays (literals included).
int MaskDisplayLength(std::string_view mask);
// The stored value of a text typed under the mask: literals dropped unless the mask saves them,
// blanks trimmed at the end. An empty mask returns the text unchanged.
std::string MaskStoredValue(std::string_view mask, std::string_view text);

}  // namespace fw
