// app-server's command line: every option declared once with CLI11 (its name, its value, its help
// text in Portuguese and its check), the serving settings from the table of server_config.h; the
// usage ("app-server --help") is generated from those declarations. A new option is declared in
// command_line.cpp, a new setting (an option that may also be in the configuration file) in the
// table of server_config.cpp.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app_server/auth/account_commands.h"

namespace app {

struct TCommandLine {
  // The serving settings given, as (option, value) for ApplySetting, in the table's order.
  std::vector<std::pair<std::string, std::string>> Settings;
  std::string ConfigPath;  // --config
  bool ConfigGiven = false;
  bool CheckConfig = false;
  bool UpgradeSchema = false;  // --upgrade-schema
  std::string Schema;          // --schema
  std::string Demo;            // --init-demo
  long Seed = 1, Scale = 1;
  std::string AddUser, DisableUser, UnlockUser, AccountName;
  TScopeCommand Scope;  // Option empty when none was given
  bool DbGiven = false;
};

// The usage, as --help prints it.
std::string Usage();

// "app-server: PROBLEM", a blank line and the usage on stderr (the usage alone when `problem` is
// empty), then exit status 2.
[[noreturn]] void UsageError(const std::string& problem);

// Reads the command line; --help prints the usage and exits 0, a line that does not read is a
// UsageError.
TCommandLine ParseCommandLine(int argc, char** argv);

}  // namespace app
