// What an account may read, as the login's answer carries it to the client: the branches (all,
// or a list of codes) and whether only the requests the account made itself. The server decides
// what every call returns from the account's scope in its database (docs/security.md); the
// client only shows it, and leaves the screens closed when the scope holds nothing.
//
// In the login's answer, beside "usuario" and "nome", as texts (an older client ignores them):
//   "todasfiliais"  "S" or "N"
//   "filiais"       the branch codes granted, in order, separated by commas ("0002,0003")
//   "proprias"      "S" when the account reads only its own requests, else "N"
//   "operador"      the account's operator code, whose requests are its own ("" when none)
// An answer without them (a server of an earlier version) gives a scope that is not Known.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace fw {

namespace wire {
class TWireWriter;
}

// What the host shows, and the server answers every call with, when the scope holds nothing.
inline constexpr const char* kNoBranchAccess = "Sua conta não tem acesso a nenhuma filial.";

struct TAccountScope {
  bool Known = false;
  bool AllBranches = false;
  std::vector<std::string> Branches;  // when not AllBranches
  bool OwnRequests = false;
  std::string Operator;

  // No branch, or only its own requests without an operator to make them its own.
  bool ReadsNothing() const {
    return Known && ((!AllBranches && Branches.empty()) || (OwnRequests && Operator.empty()));
  }
  bool operator==(const TAccountScope&) const = default;
};

// The number of key/value pairs WriteLoginScope writes.
inline constexpr unsigned kLoginScopeKeys = 4;
// The scope's pairs of the login's answer map (the caller writes the map's header).
void WriteLoginScope(wire::TWireWriter& writer, const TAccountScope& scope);
// The scope from the texts of a login's answer.
TAccountScope ReadLoginScope(const std::map<std::string, std::string>& texts);

// The scope in a few words, as the host's status bar shows it: "todas as filiais", "filiais
// 0002, 0003", "minhas solicitações", "minhas solicitações nas filiais 0002, 0003", "nenhuma
// filial"; a long list names its first `maxCodes` codes and counts the rest ("filiais 0001,
// 0002, 0003, 0004, 0005 e mais 12"). Empty when the scope is not Known.
std::string ScopeText(const TAccountScope& scope, size_t maxCodes = 5);

}  // namespace fw
