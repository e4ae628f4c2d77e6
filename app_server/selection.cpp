#include "app_server/selection.h"

#include <cstdio>

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

}  // namespace

TSelectionParse ParseSelectionList(std::string_view text) {
  TSelectionParse result;
  if (IsBlank(text)) {
    result.Ok = true;
    return result;
  }
  size_t at = 0;
  for (;;) {
    if (at >= text.size() || text[at] != '\'') return Broken(at, "aspa simples de abertura");
    ++at;
    std::string code;
    for (;;) {
      if (at >= text.size()) return Broken(at, "aspa simples de fechamento");
      if (text[at] == '\'') {
        if (at + 1 < text.size() && text[at + 1] == '\'') {
          code.push_back('\'');
          at += 2;
          continue;
        }
        ++at;
        break;
      }
      code.push_back(text[at]);
      ++at;
    }
    result.Codes.push_back(std::move(code));
    if (at == text.size()) break;
    if (text[at] != ',') return Broken(at, "vírgula ou fim da lista");
    ++at;
  }
  result.Ok = true;
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
    for (const char c : codes[i]) {
      const auto byte = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\') {
        json.push_back('\\');
        json.push_back(c);
      } else if (byte < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
        json.append(escaped);
      } else {
        json.push_back(c);
      }
    }
    json.push_back('"');
  }
  json.push_back(']');
  return json;
}

}  // namespace app
