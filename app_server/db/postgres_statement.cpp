// A statement's text and parameters as libpq takes them: positional placeholders, lists as
// text[] literals, and each parameter's type.
#include <string>

#include "app_server/db/postgres_internal.h"

namespace app::postgres {

TPositional ToPositional(const char* sql) {
  TPositional out;
  const std::string_view text = sql;
  auto identifier = [](char c, bool first) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           (!first && c >= '0' && c <= '9');
  };
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '\'' || c == '"') {
      const size_t close = text.find(c, i + 1);
      const size_t end = close == std::string_view::npos ? text.size() : close + 1;
      out.Text.append(text.substr(i, end - i));
      i = end;
      continue;
    }
    if (c == ':' && i + 1 < text.size() && text[i + 1] == ':') {
      out.Text.append("::");
      i += 2;
      continue;
    }
    if (c == ':' && i + 1 < text.size() && identifier(text[i + 1], true)) {
      size_t end = i + 1;
      while (end < text.size() && identifier(text[end], false)) ++end;
      const std::string name(text.substr(i + 1, end - i - 1));
      size_t index = 0;
      while (index < out.Names.size() && out.Names[index] != name) ++index;
      if (index == out.Names.size()) out.Names.push_back(name);
      // Appended in two steps: GCC 12 at -O3 takes "$" + to_string(...) for an overlapping
      // copy and fails the Release build (-Werror=restrict).
      out.Text += '$';
      out.Text += std::to_string(index + 1);
      i = end;
      continue;
    }
    out.Text.push_back(c);
    ++i;
  }
  return out;
}

std::string ArrayLiteral(const std::vector<std::string>& codes) {
  std::string literal = "{";
  for (size_t i = 0; i < codes.size(); ++i) {
    if (i > 0) literal.push_back(',');
    literal.push_back('"');
    for (const char c : codes[i]) {
      if (c == '"' || c == '\\') literal.push_back('\\');
      literal.push_back(c);
    }
    literal.push_back('"');
  }
  literal.push_back('}');
  return literal;
}

Oid TypeOf(const TParam& param) {
  switch (param.Kind) {
    case TParam::TKind::Text:
      return kTextOid;
    case TParam::TKind::Day:
      return kTimestampOid;
    case TParam::TKind::Codes:
      return kTextArrayOid;
  }
  return kTextOid;
}

}  // namespace app::postgres
