// Selection lists as the list picker builds them: the marked codes, each in single quotes with
// inner quotes doubled, separated by commas, nothing else: 'A01','B''2' holds A01 and B'2.
// An empty (or blank) text is an empty list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace app {

struct TSelectionParse {
  bool Ok = false;
  std::vector<std::string> Codes;
  size_t ErrorPosition = 0;  // 1-based character where the layout breaks
  std::string Expected;      // what should have been there, in Portuguese
  // Past `maxCodes` codes the list is refused (Ok false, no codes kept), but still read to the
  // end: Count says how many it holds, and a broken layout is still reported as such.
  bool TooMany = false;
  size_t Count = 0;
};

TSelectionParse ParseSelectionList(std::string_view text, size_t maxCodes = SIZE_MAX);

// The codes as a JSON array of strings, bound as one query parameter and read back with
// json_each: ["A01","B'2"].
std::string CodesToJsonArray(const std::vector<std::string>& codes);

}  // namespace app
