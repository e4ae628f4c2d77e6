#include "app_server/db/selection.h"

#include <fmt/format.h>

#include <iterator>

namespace app {

namespace {

bool IsBlank(std::string_view text) {
  for (const char c : text)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  return true;
}

TSelectionParse Broken(size_t position, const char* expected) {
  TSelectionParse result;
  result.ErrorPosition = position + 1;
  result.Expected = expected;
  return result;
}

// Walks the layout once, handing each character of a code to `onChar` and each end of a code to
// `onCode`; returns the 0-based position where the layout breaks and what was expected there, or
// npos when the whole text is a list.
template <typename OnChar, typename OnCode>
size_t Scan(std::string_view text, const char*& expected, OnChar onChar, OnCode onCode) {
  if (IsBlank(text)) return std::string_view::npos;
  size_t at = 0;
  for (;;) {
    if (at >= text.size() || text[at] != '\'') {
      expected = "aspa simples de abertura";
      return at;
    }
    ++at;
    for (;;) {
      if (at >= text.size()) {
        expected = "aspa simples de fechamento";
        return at;
      }
      if (text[at] == '\'') {
        if (at + 1 < text.size() && text[at + 1] == '\'') {
          onChar('\'');
          at += 2;
          continue;
        }
        ++at;
        break;
      }
      onChar(text[at]);
      ++at;
    }
    onCode();
    if (at == text.size()) return std::string_view::npos;
    if (text[at] != ',') {
      expected = "vírgula ou fim da lista";
      return at;
    }
    ++at;
  }
}

void AppendJsonChar(std::string& json, char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (c == '"' || c == '\\') {
    json.push_back('\\');
    json.push_back(c);
  } else if (byte < 0x20) {
    fmt::format_to(std::back_inserter(json), "\\u{:04x}", byte);
  } else {
    json.push_back(c);
  }
}

}  // namespace

TSelectionParse ParseSelectionList(std::string_view text, size_t maxCodes) {
  TSelectionParse result;
  std::string code;
  const char* expected = "";
  const size_t broken = Scan(
      text, expected,
      [&](char c) {
        if (!result.TooMany) code.push_back(c);
      },
      [&] {
        if (++result.Count > maxCodes && !result.TooMany) {
          result.TooMany = true;
          std::vector<std::string>().swap(result.Codes);
        }
        if (!result.TooMany) result.Codes.push_back(std::move(code));
        code.clear();
      });
  if (broken != std::string_view::npos) return Broken(broken, expected);
  result.Ok = !result.TooMany;
  return result;
}

std::string CodesToJsonArray(const std::vector<std::string>& codes) {
  std::string json;
  size_t total = 2;
  for (const auto& code : codes) total += code.size() + 3;
  json.reserve(total);
  json.push_back('[');
  for (size_t i = 0; i < codes.size(); ++i) {
    if (i != 0) json.push_back(',');
    json.push_back('"');
    for (const char c : codes[i]) AppendJsonChar(json, c);
    json.push_back('"');
  }
  json.push_back(']');
  return json;
}

}  // namespace app
