#include "driver/script.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>

#include "framework/testing/canned_service.h"
#include "grid_export/grid_export.h"
#include "protocol/contract.h"
#include "protocol/datetime.h"

namespace driver {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// The line without its comment (a "#" outside quotes), for the echo.
std::string StripComment(std::string_view line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (quoted && line[i] == '\\') {
      ++i;
    } else if (line[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && line[i] == '#') {
      return Trim(line.substr(0, i));
    }
  }
  return Trim(line);
}

std::vector<std::string> SplitCells(std::string_view line) {
  std::vector<std::string> cells;
  size_t start = 0;
  for (;;) {
    const size_t bar = line.find('|', start);
    cells.push_back(Trim(line.substr(start, bar == std::string_view::npos ? bar : bar - start)));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return cells;
}

using TValidator = std::function<void(const TCommand&)>;

struct TCommandDef {
  int MinArgs;
  int MaxArgs;  // -1: no limit
  TValidator Validate;
};

[[noreturn]] void Fail(const TCommand& command, const std::string& message) {
  throw TScriptError(command.Line, message);
}

void CheckCount(const TCommand& command, const std::string& name, size_t count, int minimum,
                int maximum, const std::string& usage) {
  if (static_cast<int>(count) < minimum)
    Fail(command, "missing argument of '" + name + "' (usage: " + usage + ")");
  if (maximum >= 0 && static_cast<int>(count) > maximum)
    Fail(command, "too many arguments for '" + name + "' (usage: " + usage + ")");
}

const service::TMethodDef& Method(const TCommand& command, const std::string& name) {
  const service::TMethodDef* method = service::FindMethod(name);
  if (!method) Fail(command, "unknown method '" + name + "'");
  return *method;
}

void YesNo(const TCommand& command, const std::string& word) {
  if (word != "yes" && word != "no") Fail(command, "expected yes or no, got '" + word + "'");
}

int Count(const TCommand& command, const std::string& word, int minimum, const char* what) {
  int value = 0;
  if (!ParseCount(word, minimum, 1000000000, value))
    Fail(command, std::string("invalid ") + what + " '" + word + "'");
  return value;
}

void ValidateKey(const TCommand& command) {
  uint16_t key = 0;
  if (!ParseKeyName(command.Args[1], key)) Fail(command, "unknown key '" + command.Args[1] + "'");
  fw::TShiftState shift = 0;
  if (command.Args.size() > 2 && !ParseModifiers(command.Args[2], shift))
    Fail(command, "unknown modifiers '" + command.Args[2] + "'");
}

// The format comes from the extension, so a script finds a typo before anything runs.
void ValidateExport(const TCommand& command) {
  if (!gridexport::FormatOfPath(command.Args[1]))
    Fail(command, "export writes a .xlsx or .csv file, not '" + command.Args[1] + "'");
}

void ValidateSort(const TCommand& command) {
  if (command.Args.size() > 2 && command.Args[2] != "desc" && command.Args[2] != "asc")
    Fail(command, "expected desc or asc, got '" + command.Args[2] + "'");
}

void ValidateFind(const TCommand& command) {
  fw::TSearchMatch match;
  if (command.Args.size() > 2 && !ParseSearchMatch(command.Args[2], match))
    Fail(command, "expected começa or contém, got '" + command.Args[2] + "'");
}

void ValidateRefs(const TCommand& command) {
  const service::TMethodDef& method = Method(command, command.Args[0]);
  for (size_t i = 1; i < command.Args.size(); ++i) {
    const std::string& pair = command.Args[i];
    const size_t equals = pair.find('=');
    if (equals == std::string::npos) Fail(command, "expected NAME=VALUE, got '" + pair + "'");
    const std::string name = pair.substr(0, equals);
    const int index = service::ParamIndex(method, name);
    if (index < 0 || method.Params[index].Kind != service::TParamKind::InOutString)
      Fail(command, "'" + name + "' is not an in-out parameter of " + method.Name);
  }
}

void ValidateServe(const TCommand& command) {
  const service::TMethodDef& method = Method(command, command.Args[0]);
  if (command.Args.size() == 2) {
    if (command.Args[1] != "empty")
      Fail(command, "expected 'empty', got '" + command.Args[1] + "'");
    return;
  }
  const int headerLine = command.Line + 1;
  fw::TDataPacket fields(method.Fields);
  for (const auto& name : command.Header)
    if (fields.FieldIndex(name) < 0)
      throw TScriptError(headerLine,
                         "method " + std::string(method.Name) + " has no field '" + name + "'");
  for (size_t i = 0; i < command.Header.size(); ++i)
    if (std::count(command.Header.begin(), command.Header.end(), command.Header[i]) > 1)
      throw TScriptError(headerLine, "field '" + command.Header[i] + "' named twice");
  // Each row on its own, so that a bad value is reported at its line.
  for (size_t r = 0; r < command.Rows.size(); ++r) {
    try {
      service::PacketFromText(method, command.Header, {command.Rows[r]});
    } catch (const std::invalid_argument& error) {
      if (command.Rows[r].size() != command.Header.size())
        throw TScriptError(command.RowLines[r],
                           "row has " + std::to_string(command.Rows[r].size()) +
                               " values, the header " + std::to_string(command.Header.size()));
      throw TScriptError(command.RowLines[r], error.what());
    }
  }
}

void ValidateArg(const TCommand& command) {
  const service::TMethodDef& method = Method(command, command.Args[1]);
  const int index = service::ParamIndex(method, command.Args[2]);
  if (index < 0)
    Fail(command,
         "method " + std::string(method.Name) + " has no parameter '" + command.Args[2] + "'");
  if (method.Params[index].Kind == service::TParamKind::Date &&
      !fw::TextToDateTime(command.Args[3]))
    Fail(command, "invalid date '" + command.Args[3] + "'");
}

const std::map<std::string, TCommandDef>& ExpectTable() {
  static const std::map<std::string, TCommandDef> table = {
      {"focus", {1, 1, {}}},
      {"form", {1, 1, {}}},
      {"text", {2, 2, {}}},
      {"enabled", {2, 2, [](const TCommand& c) { YesNo(c, c.Args[2]); }}},
      {"checked", {2, 2, [](const TCommand& c) { YesNo(c, c.Args[2]); }}},
      {"message", {1, 1, {}}},
      {"message-like", {1, 1, {}}},
      {"no-message", {0, 0, {}}},
      {"open", {2, 2, [](const TCommand& c) { YesNo(c, c.Args[2]); }}},
      {"rows", {2, 2, [](const TCommand& c) { Count(c, c.Args[2], 0, "row count"); }}},
      {"cell", {4, 4, [](const TCommand& c) { Count(c, c.Args[2], 1, "row"); }}},
      {"current", {2, 2, [](const TCommand& c) { Count(c, c.Args[2], 0, "row"); }}},
      {"column", {2, 2, {}}},
      {"var",
       {2, 2,
        [](const TCommand& c) {
          const auto& names = VariableNames();
          if (std::find(names.begin(), names.end(), c.Args[1]) == names.end())
            Fail(c, "unknown variable '" + c.Args[1] + "'");
          if (IsBooleanVariable(c.Args[1]) && c.Args[2] != "true" && c.Args[2] != "false")
            Fail(c, "expected true or false, got '" + c.Args[2] + "'");
        }}},
      {"calls",
       {0, -1,
        [](const TCommand& c) {
          for (size_t i = 1; i < c.Args.size(); ++i) Method(c, c.Args[i]);
        }}},
      {"arg", {3, 3, ValidateArg}},
      {"busy", {1, 1, [](const TCommand& c) { Count(c, c.Args[1], 0, "count"); }}},
      {"caption", {1, 1, {}}},
      {"busy-off", {0, 0, {}}},
      {"loaded", {1, 1, {}}},
      {"cursor",
       {1, 1,
        [](const TCommand& c) {
          if (c.Args[1] != "hourglass" && c.Args[1] != "default")
            Fail(c, "expected hourglass or default, got '" + c.Args[1] + "'");
        }}},
  };
  return table;
}

const std::map<std::string, std::pair<TCommandDef, const char*>>& CommandTable() {
  static const std::map<std::string, std::pair<TCommandDef, const char*>> table = {
      {"start", {{0, 0, {}}, "start"}},
      {"open", {{0, 0, {}}, "open"}},
      {"activate", {{0, 0, {}}, "activate"}},
      {"close", {{0, 0, {}}, "close"}},
      {"focus", {{1, 1, {}}, "focus NAME"}},
      {"type", {{2, 2, {}}, "type NAME TEXT"}},
      {"click", {{1, 1, {}}, "click NAME"}},
      {"key", {{2, 3, ValidateKey}, "key NAME KEY [MODS]"}},
      {"row", {{2, 2, [](const TCommand& c) { Count(c, c.Args[1], 1, "row"); }}, "row GRID N"}},
      {"column", {{2, 2, {}}, "column GRID FIELD"}},
      {"dblclick", {{1, 2, {}}, "dblclick GRID [FIELD]"}},
      {"export", {{2, 2, ValidateExport}, "export GRID FILE"}},
      {"sort", {{1, 3, ValidateSort}, "sort GRID [FIELD [desc]]"}},
      {"pick", {{0, -1, {}}, "pick KEY..."}},
      {"pick-cancel", {{0, 0, {}}, "pick-cancel"}},
      {"find", {{2, 3, ValidateFind}, "find FIELD VALUE [começa|contém]"}},
      {"lookup", {{1, 1, {}}, "lookup CODE"}},
      {"serve", {{1, 2, ValidateServe}, "serve METHOD [empty]"}},
      {"fail", {{2, 2, [](const TCommand& c) { Method(c, c.Args[0]); }}, "fail METHOD TEXT"}},
      {"error", {{2, 2, [](const TCommand& c) { Method(c, c.Args[0]); }}, "error METHOD TEXT"}},
      {"refs", {{2, -1, ValidateRefs}, "refs METHOD NAME=VALUE..."}},
      {"expect", {{1, -1, {}}, "expect WHAT ..."}},
  };
  return table;
}

void ValidateCommand(const TCommand& command) {
  const auto& table = CommandTable();
  auto found = table.find(command.Name);
  if (found == table.end()) Fail(command, "unknown command '" + command.Name + "'");
  const auto& [def, usage] = found->second;
  CheckCount(command, command.Name, command.Args.size(), def.MinArgs, def.MaxArgs, usage);
  if (command.Name == "expect") {
    const auto& checks = ExpectTable();
    auto check = checks.find(command.Args[0]);
    if (check == checks.end()) Fail(command, "unknown check 'expect " + command.Args[0] + "'");
    CheckCount(command, "expect " + command.Args[0], command.Args.size() - 1, check->second.MinArgs,
               check->second.MaxArgs, "see the driver's language");
    if (check->second.Validate) check->second.Validate(command);
    return;
  }
  if (def.Validate) def.Validate(command);
}

}  // namespace

std::vector<std::string> SplitWords(std::string_view line, int lineNumber) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    if (line[i] == '#') break;
    std::string word;
    while (i < line.size() && !IsBlank(line[i]) && line[i] != '#') {
      if (line[i] != '"') {
        word += line[i++];
        continue;
      }
      // A quoted part, glued to whatever stands beside it.
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\') {
          if (i >= line.size() || (line[i] != '"' && line[i] != '\\'))
            throw TScriptError(lineNumber, "invalid escape in quoted text (only \\\" and \\\\)");
          word += line[i++];
          continue;
        }
        word += c;
      }
      if (!closed) throw TScriptError(lineNumber, "unclosed quote");
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::vector<TCommand> ParseScript(std::string_view source) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= source.size()) {
    const size_t end = source.find('\n', start);
    lines.emplace_back(source.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }

  std::vector<TCommand> commands;
  for (size_t index = 0; index < lines.size(); ++index) {
    const int lineNumber = static_cast<int>(index) + 1;
    std::vector<std::string> words = SplitWords(lines[index], lineNumber);
    if (words.empty()) continue;
    TCommand command;
    command.Line = lineNumber;
    command.Text = StripComment(lines[index]);
    command.Name = words.front();
    command.Args.assign(words.begin() + 1, words.end());

    if (command.Name == "serve" && command.Args.size() == 1) {
      // The block: header, rows, end. Values are taken as written (no quotes, no comments), but
      // blank lines and comment lines are skipped.
      command.HasBlock = true;
      bool ended = false, haveHeader = false;
      while (++index < lines.size()) {
        const std::string line = Trim(lines[index]);
        if (line.empty() || line.front() == '#') continue;
        if (line == "end") {
          ended = true;
          break;
        }
        if (!haveHeader) {
          command.Header = SplitCells(line);
          haveHeader = true;
        } else {
          command.Rows.push_back(SplitCells(line));
          command.RowLines.push_back(static_cast<int>(index) + 1);
        }
      }
      if (!ended) throw TScriptError(lineNumber, "'serve' without its 'end' line");
      if (!haveHeader) throw TScriptError(lineNumber, "'serve' without a header line");
    }
    ValidateCommand(command);
    commands.push_back(std::move(command));
  }
  return commands;
}

bool ParseKeyName(std::string_view name, uint16_t& key) {
  static const std::map<std::string_view, uint16_t> named = {
      {"Enter", fw::vk::Return}, {"Tab", fw::vk::Tab},     {"Esc", fw::vk::Escape},
      {"Up", fw::vk::Up},        {"Down", fw::vk::Down},   {"Left", fw::vk::Left},
      {"Right", fw::vk::Right},  {"PgUp", fw::vk::PageUp}, {"PgDn", fw::vk::PageDown},
      {"Home", fw::vk::Home},    {"End", fw::vk::End},
  };
  if (auto found = named.find(name); found != named.end()) {
    key = found->second;
    return true;
  }
  if (name.size() == 1) {
    const char c = name[0];
    if (c >= '0' && c <= '9')
      key = static_cast<uint16_t>(c);
    else if (c >= 'A' && c <= 'Z')
      key = static_cast<uint16_t>(c);
    else if (c >= 'a' && c <= 'z')
      key = static_cast<uint16_t>(c - 'a' + 'A');
    else
      return false;
    return true;
  }
  int number = 0;
  if (name.size() >= 2 && name[0] == 'F' && ParseCount(name.substr(1), 1, 12, number)) {
    key = static_cast<uint16_t>(fw::vk::F1 + number - 1);
    return true;
  }
  return false;
}

bool ParseModifiers(std::string_view text, fw::TShiftState& shift) {
  shift = 0;
  size_t start = 0;
  for (;;) {
    const size_t plus = text.find('+', start);
    const std::string_view part =
        text.substr(start, plus == std::string_view::npos ? plus : plus - start);
    if (part == "shift")
      shift |= fw::ssShift;
    else if (part == "ctrl")
      shift |= fw::ssCtrl;
    else if (part == "alt")
      shift |= fw::ssAlt;
    else
      return false;
    if (plus == std::string_view::npos) return true;
    start = plus + 1;
  }
}

bool ParseSearchMatch(std::string_view word, fw::TSearchMatch& match) {
  if (word == "começa" || word == "comeca") {
    match = fw::TSearchMatch::StartsWith;
  } else if (word == "contém" || word == "contem") {
    match = fw::TSearchMatch::Contains;
  } else {
    return false;
  }
  return true;
}

bool ParseCount(std::string_view text, int minimum, int maximum, int& value) {
  if (text.empty() || text[0] == '+' || text[0] == '-') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= minimum &&
         value <= maximum;
}

const std::vector<std::string>& VariableNames() {
  static const std::vector<std::string> names = {
      "stTFilSoli", "stLFilSoli", "stTSolicita", "stLSolicita", "stDtSoli",
      "stDtEntr",   "stTCdProd",  "boVD",        "boPrimVez",   "boStCriado"};
  return names;
}

bool IsBooleanVariable(std::string_view name) {
  return name.substr(0, 2) == "bo";
}

}  // namespace driver
