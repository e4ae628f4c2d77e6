// Selection lists as a client may send them. Read with and without a limit on the codes, the
// list must give the same codes or the same break position, with the limit counted right; the
// JSON the SQLite statements bind must be an array of strings that reads back as the codes; and
// the codes written again in the picker's layout must parse to themselves.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app_server/db/selection.h"

namespace {

[[noreturn]] void Fault(const char* what, const std::string& text) {
  std::fprintf(stderr, "fuzz_selection: %s: [%s]\n", what, text.c_str());
  std::abort();
}

// Reads the JSON the service binds back into the codes; nullopt when it is not an array of
// strings with only the escapes CodesToJsonArray writes being needed to read it.
std::optional<std::vector<std::string>> ReadJson(const std::string& json) {
  std::vector<std::string> codes;
  size_t at = 0;
  auto more = [&] { return at < json.size(); };
  if (!more() || json[at++] != '[') return std::nullopt;
  if (more() && json[at] == ']') return ++at == json.size() ? std::optional(codes) : std::nullopt;
  for (;;) {
    if (!more() || json[at++] != '"') return std::nullopt;
    std::string code;
    for (;;) {
      if (!more()) return std::nullopt;
      const char c = json[at++];
      if (c == '"') break;
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        code.push_back(c);
        continue;
      }
      if (!more()) return std::nullopt;
      const char escaped = json[at++];
      if (escaped == '"' || escaped == '\\') {
        code.push_back(escaped);
      } else if (escaped == 'u' && at + 4 <= json.size() && json.compare(at, 2, "00") == 0) {
        code.push_back(static_cast<char>(std::stoi(json.substr(at + 2, 2), nullptr, 16)));
        at += 4;
      } else {
        return std::nullopt;
      }
    }
    codes.push_back(std::move(code));
    if (!more()) return std::nullopt;
    const char next = json[at++];
    if (next == ']') return at == json.size() ? std::optional(codes) : std::nullopt;
    if (next != ',') return std::nullopt;
  }
}

std::string AsList(const std::vector<std::string>& codes) {
  std::string list;
  for (size_t i = 0; i < codes.size(); ++i) {
    if (i != 0) list.push_back(',');
    list.push_back('\'');
    for (const char c : codes[i]) {
      if (c == '\'') list.push_back('\'');
      list.push_back(c);
    }
    list.push_back('\'');
  }
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t limit = data[0] % 16;  // small, so that the limit is often reached
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  const app::TSelectionParse parsed = app::ParseSelectionList(text);
  const app::TSelectionParse limited = app::ParseSelectionList(text, limit);
  if (!parsed.Ok) {
    if (parsed.TooMany) Fault("no limit, yet too many", text);
    if (limited.Ok || limited.TooMany) Fault("a broken list read as whole", text);
    if (limited.ErrorPosition != parsed.ErrorPosition || limited.Expected != parsed.Expected)
      Fault("the two readings break at different places", text);
    if (parsed.ErrorPosition < 1 || parsed.ErrorPosition > text.size() + 1)
      Fault("break position outside the text", text);
    return 0;
  }
  if (limited.Count != parsed.Codes.size()) Fault("code counts differ", text);
  if (limited.TooMany != (parsed.Codes.size() > limit)) Fault("limit applied wrongly", text);
  if (limited.TooMany) {
    if (limited.Ok || !limited.Codes.empty()) Fault("too many codes, yet kept", text);
  } else if (!limited.Ok || limited.Codes != parsed.Codes) {
    Fault("the limited reading differs", text);
  }
  const auto back = ReadJson(app::CodesToJsonArray(parsed.Codes));
  if (!back || *back != parsed.Codes) Fault("the JSON does not read back as the codes", text);
  const std::string again = AsList(parsed.Codes);
  const app::TSelectionParse reparsed = app::ParseSelectionList(again);
  if (!reparsed.Ok || reparsed.Codes != parsed.Codes) Fault("the list does not round-trip", text);
  return 0;
}
