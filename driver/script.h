// The screen driver's script: reading a script into commands, each checked against the command
// table before anything runs.
//
// One command a line; words separated by blanks; a word with blanks in double quotes (with \" and
// \\ inside); "#" starts a comment outside quotes. `serve METHOD` takes the lines after it up to
// `end`: a header of field names separated by "|", then rows of values separated by "|".
//
//   serve GetFilSoliGD          -> Name "serve", Args {"GetFilSoliGD"},
//   CDFILIAL | NMFILIAL            Header {"CDFILIAL", "NMFILIAL"},
//   0001 | Matriz                  Rows {{"0001", "Matriz"}}
//   end
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "framework/platform.h"
#include "framework/ui/controls.h"

namespace driver {

// A script that cannot run: an unreadable line, an unknown command or name, a bad argument.
// Reported with its line number; the driver then exits with status 2.
class TScriptError : public std::runtime_error {
 public:
  TScriptError(int line, const std::string& message) : std::runtime_error(message), line_(line) {}
  int Line() const { return line_; }

 private:
  int line_;
};

struct TCommand {
  int Line = 0;
  std::string Text;  // the line as written, without its comment: what the transcript echoes
  std::string Name;
  std::vector<std::string> Args;
  // A `serve` block: header, rows and the line of each row.
  std::vector<std::string> Header;
  std::vector<std::vector<std::string>> Rows;
  std::vector<int> RowLines;
  bool HasBlock = false;
};

// Splits one line into words (quotes and comment as above). Raises TScriptError on an unclosed
// quote or an unknown escape.
std::vector<std::string> SplitWords(std::string_view line, int lineNumber);

// Reads a whole script. Raises TScriptError at the first line that is not a valid command.
std::vector<TCommand> ParseScript(std::string_view source);

// A key name of `key` ("F9", "Enter", "a", "7") as a key code; false when unknown.
bool ParseKeyName(std::string_view name, uint16_t& key);
// Modifiers "shift", "ctrl", "alt" joined by "+"; false when one is unknown.
bool ParseModifiers(std::string_view text, fw::TShiftState& shift);
// The last word of `find FIELD VALUE [começa|contém]` ("comeca" and "contem" too); false when
// it is neither.
bool ParseSearchMatch(std::string_view word, fw::TSearchMatch& match);
// A whole number within [minimum, maximum]; false otherwise.
bool ParseCount(std::string_view text, int minimum, int maximum, int& value);

// Names that `expect var` reads.
const std::vector<std::string>& VariableNames();
bool IsBooleanVariable(std::string_view name);

}  // namespace driver
