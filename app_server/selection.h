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

}  // namespace app
