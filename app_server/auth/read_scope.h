// Who reads what: each account's read scope, kept beside the accounts in the served database,
// and what the server does with it.
//
// A scope is the set of branches the account reads (a list of CDFILIAL, or all branches) and
// whether it reads only the requests it made itself (SOLICITACAO.CDOPERSOLI equal to the
// account's operator). A request is visible when its branch (SOLICITACAO.CDFILIAL) is in the set
// and, for an own-requests account, it is the account's own; an item, an approval, a purchase,
// an invoice or a quotation is visible when its request is. Deny by default: a new account has
// no branch and reads nothing.
//
// Stored in USUARIO's columns IDTODASFILIAIS ('S': every branch), IDSOLIPROPRIAS ('S': its own
// requests only) and CDOPERADOR (its operator), and in USUARIOFILIAL (LOGIN, CDFILIAL), the
// branches of an account without IDTODASFILIAIS.
//
// Every call reads its account's scope first (one look-up by key, in the call's connection) and
// then runs the statement of the scope's shape (TScopeShape, below; queries.h), with the login and
// the operator bound: a change takes effect at the account's next call, on connections already
// logged in too. A call of an account that reads nothing, that was disabled or that is gone is
// refused ("Sua conta não tem acesso a nenhuma filial.", "Sua conta foi desativada."), and no
// statement runs. docs/security.md, "Who reads what".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app_server/db/database.h"
#include "app_server/db/database_writer.h"
#include "app_server/rpc/rpc.h"
#include "protocol/account.h"

namespace app {

// The shape of a read scope, which picks the form of a call's statement (queries.h).
struct TScopeShape {
  bool Branches = false;     // a list of branches, not all
  bool OwnRequests = false;  // only the requests the account made itself

  bool operator==(const TScopeShape&) const = default;
};

inline constexpr const char* kAccountDisabled = "Sua conta foi desativada.";

// ------------------------------------------------------------------ schema

// The columns and the table of the scopes, for a USUARIO just made without them (the demo).
const char* ReadScopeSchemaSql(TDialect dialect);
// Brings the accounts of an earlier version up to date (the columns added when missing, the
// table created), inside the writer's transaction. Every administration command runs it first.
void UpgradeForReadScopes(TWriteConnection& writer);
// Raises std::runtime_error, saying what to do, when the database `target` names has no scopes.
void CheckReadScopeSchema(IConnection& connection, const std::string& target);

// ------------------------------------------------------------------ a call's scope

struct TReadScope {
  std::string Login;
  bool Found = false;    // the account exists
  bool Enabled = false;  // and is not disabled
  bool AllBranches = false;
  bool HasBranches = false;  // USUARIOFILIAL holds at least one of its branches
  bool OwnRequests = false;
  std::string Operator;

  // Why the account may read nothing (kNoBranchAccess, kAccountDisabled); nullptr when it may
  // read something.
  const char* Denial() const;
  // The statements' form for it.
  TScopeShape Shape() const;
  // Adds what the statements of Shape() bind: the login, the operator.
  void Bind(TNamedParams& params) const;

  bool operator==(const TReadScope&) const = default;
};

// The scope of `login` (one look-up by key). Raises EDatabaseError.
TReadScope ReadScopeOf(IConnection& connection, const std::string& login, int timeLimitMs);
// The same look-up as a statement to send with another (IConnection::QueryThen): its row fills
// `into` (whose Login the caller sets). `params`, ScopeParams(login), must outlive the call.
TNamedParams ScopeParams(const std::string& login);
TStatementCall ScopeStatement(const TNamedParams& params, TReadScope& into);

// The scope as the login's answer carries it, with the list of branches. Raises EDatabaseError.
fw::TAccountScope AccountScopeOf(IConnection& connection, const std::string& login,
                                 int timeLimitMs);

// Logs in through `accounts` and, when the login is accepted, adds the account's scope to the
// answer.
class TScopedAuthenticator : public IAuthenticator {
 public:
  TScopedAuthenticator(IAuthenticator& accounts, TConnectionPool& pool)
      : accounts_(accounts), pool_(pool) {}
  TLoginOutcome Login(const std::string& address, const std::vector<TRpcValue>& params) override;

 private:
  IAuthenticator& accounts_;
  TConnectionPool& pool_;
};

// ------------------------------------------------------------------ administration

// The administration commands on the database `target` names (a file or a connection string).
// Each runs in one transaction and changes nothing when it refuses; each raises
// std::runtime_error in Portuguese: no such account, a branch or an operator that does not
// exist, a list that is not "0001,0003", own requests without an operator.

// The account reads exactly these branches ("0001,0003"; blanks around codes ignored); every
// code must be a branch of FILIAL.
void GrantBranches(const std::string& target, const std::string& login,
                   const std::string& branchList);
// The account reads every branch, those made later too.
void GrantAllBranches(const std::string& target, const std::string& login);
// The account reads no branch (nothing at all).
void RevokeBranches(const std::string& target, const std::string& login);
// Only its own requests (`own`), or every request of its branches. Own requests need the
// account's operator.
void SetOwnRequests(const std::string& target, const std::string& login, bool own);
// The account's operator (a CDOPERADOR of OPERADOR): its own requests are those of that
// requester. Empty clears it, refused while the account reads only its own requests.
void SetOperator(const std::string& target, const std::string& login,
                 const std::string& operatorCode);

struct TAccountReport {
  std::string Login, Name, OperatorName;
  bool Enabled = false;
  fw::TAccountScope Scope;
};
// An account and its scope, for --show-user.
TAccountReport ShowAccount(const std::string& target, const std::string& login);

}  // namespace app
