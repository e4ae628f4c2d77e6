// Selection lists as the list picker builds them: the marked codes, each in single quotes with
// inner quotes doubled, separated by commas, nothing else: 'A01','B''2' holds A01 and B'2.
// An empty (or blank) text is an empty list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

struct TSelectionParse {
  bool Ok = false;
  std::vector<std::string> Codes;
  size_t ErrorPosition = 0;  // 1-based character where the layout breaks
  std::string Expected;      // what should have been there, in Portuguese
};

TSelectionParse ParseSelectionList(std::string_view text);

// The codes as a JSON array of strings, bound as one query parameter and read back with
// json_each: ["A01","B'2"].
std::string CodesToJsonArray(const std::vector<std::string>& codes);

// Both at once, as the service reads a list: the JSON array straight from the text (no code is
// held on its own), or where the layout breaks, or that it has more than `maxCodes` codes.
struct TSelectionJson {
  bool Ok = false;
  std::string Json;  // when Ok
  size_t Codes = 0;  // how many codes the list holds (all of them, also past the limit)
  bool TooMany = false;
  size_t ErrorPosition = 0;  // as in TSelectionParse, when the layout breaks
  std::string Expected;
};
TSelectionJson SelectionListToJson(std::string_view text, size_t maxCodes);

}  // namespace app
