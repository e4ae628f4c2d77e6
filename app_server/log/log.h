// The server's log: one line per event, whole, never interleaved with another.
//
// Where it goes: to stderr by default, each line after its local time
// ("2024-03-05 14:07:09.123 GetItens 1.8 ms 37 linhas"); to a file instead with SetLogFile (the
// same form, reopened by ReopenLog after a rotation); or, when systemd started the server with
// stderr on the journal, to stderr in the journal's form: "<6>GetItens 1.8 ms 37 linhas", the
// priority first and no time, since the journal stamps every line itself.
//
// Each line has a priority, as syslog ranks them; lines less important than the level set are
// left out (Info, the default, writes every call; Warning only what an operator must look at).
//
// While the server runs, lines are collected and written by a background thread every 100 ms
// (sooner past 64 KiB), so that a call never waits for the log (StartLogBuffering); otherwise,
// and at the end, lines are written at once. Control characters and bytes that are not UTF-8
// are escaped, so that no text can start a line of its own.
#pragma once

#include <string>
#include <string_view>

namespace app {

enum class TLogPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

void LogLine(const std::string& line);  // Info
void LogLine(TLogPriority priority, const std::string& line);

// Lines less important than `level` are left out.
void SetLogLevel(TLogPriority level);
TLogPriority LogLevel();
// The level a setting names: "erro", "aviso", "info" (or error, warning, notice, info); false
// when it names none.
bool ParseLogLevel(std::string_view text, TLogPriority& level);
const char* LogLevelName(TLogPriority level);

// The journal's form on stderr (see above) or today's.
void SetLogJournal(bool journal);
// Lines are appended to `path` from now on ("" for stderr again). Raises std::runtime_error, in
// Portuguese, when the file cannot be opened; the log then stays where it was.
void SetLogFile(const std::string& path);
// Opens the log file again at its path (a rotation renamed the old one); nothing for stderr.
// Raises like SetLogFile, the old file kept.
void ReopenLog();

// Collecting and writing in the background while the server runs; the stop writes what is left.
void StartLogBuffering();
void StopLogBuffering();

}  // namespace app
