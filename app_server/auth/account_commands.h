// The account commands of app-server (--add-user, --disable-user, --unlock-user, and the read
// scope's --grant-branches, --grant-all-branches, --revoke-branches, --own-requests, --operator,
// --show-user): each does its one change in the database and says what it did, in the words an
// operator reads on the terminal. They return the program's exit status.
#pragma once

#include <string>

namespace app {

// A read scope command (read_scope.h): what to do, to which account, with what value.
struct TScopeCommand {
  std::string Option, Login, Value;
};

// --add-user (with the password read from the terminal without echo, twice, or as the first line
// of standard input), --disable-user or --unlock-user, whichever is not empty.
int AccountCommand(const std::string& db, const std::string& addUser, const std::string& name,
                   const std::string& disableUser, const std::string& unlockUser);

// A read scope command, then the account as it stands.
int ScopeCommand(const std::string& db, const TScopeCommand& command);

}  // namespace app
