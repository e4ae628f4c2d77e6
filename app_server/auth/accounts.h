// Who may call the server: the accounts in the database (table USUARIO), their passwords as
// Argon2id hashes, and the login of a connection ("Sessao.Login") with its throttling.
//
// A connection is not authenticated until a login succeeds; the session (server.cpp) answers
// every other call before that with "Sessão não autenticada." and runs the login itself on the
// query pool through IAuthenticator, since checking a password takes tens of milliseconds of
// CPU and memory by design. docs/security.md describes what an operator sees and configures.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app_server/auth/login_throttle.h"
#include "app_server/db/database.h"
#include "app_server/rpc/rpc.h"

namespace app {

// A login is at most this long (bytes of UTF-8), a password at most kMaxPasswordBytes; longer
// ones are refused as wrong credentials, never looked up or hashed.
inline constexpr size_t kMaxLoginBytes = 64;
inline constexpr size_t kMaxPasswordBytes = 4096;

// How hard a password hash is to compute. Interactive is the site's cost, what --add-user uses
// and what a login rehashes an account's password to: Argon2id with 19 MiB and 2 passes, from
// OWASP's table of equivalent settings (as strong as 64 MiB and 1 pass for less memory per
// check; a few tens of milliseconds of one core). Demo is the least the library allows, for the
// demo database's accounts, whose password is "demo" anyway: a demo of thousands of operators is
// created in a moment, and each account still has a salt of its own.
enum class THashCost { Interactive, Demo };
inline constexpr size_t kSiteHashMemoryBytes = 19u * 1024u * 1024u;
inline constexpr unsigned long long kSiteHashPasses = 2;
// A stored hash that asks for more memory than this is not checked (the login is refused and
// the log says why): the memory that concurrent checks may take stays bounded whatever the table
// holds. 64 MiB is what --add-user used before the site cost was lowered.
inline constexpr size_t kMaxHashMemoryBytes = 64u * 1024u * 1024u;

// The Argon2id hash string of `password` ("$argon2id$v=19$m=...", with its salt). Raises
// std::runtime_error when the library fails (out of memory).
std::string HashPassword(std::string_view password, THashCost cost);
// Whether `password` matches `hash`; false for a hash that is not one, or that asks for more
// than kMaxHashMemoryBytes.
bool VerifyPassword(const std::string& hash, std::string_view password);
// The memory in bytes a check of `hash` takes (its m=), 0 when it is no Argon2 hash.
size_t HashMemoryBytes(std::string_view hash);
// Whether a hash that just matched should be stored again at the site's cost: true for any other
// cost than the site's, except the demo cost, which the demo writes on purpose.
bool NeedsRehash(const std::string& hash);

// Why a login cannot be an account's (nullptr when it can): empty, over kMaxLoginBytes, not
// UTF-8, or with a control character or a blank at either end.
const char* LoginProblem(std::string_view login);

// The accounts table on each engine (created by --init-demo, and by --add-user when missing).
extern const char* const kAccountsSqliteSql;
extern const char* const kAccountsPostgresSql;

struct TAccount {
  std::string Login;
  std::string Name;
  std::string Hash;
  bool Enabled = false;
};

// Looks an account up; nullopt when there is none of that login. Raises EDatabaseError.
std::optional<TAccount> FindAccount(IConnection& connection, const std::string& login);

// What a try from an unknown place gets while its account is locked to its known places.
inline constexpr const char* kLockedToKnownPlaces =
    "Acesso bloqueado a partir deste endereço depois de muitas tentativas; entre de uma estação "
    "de onde já entrou antes, ou peça ao administrador que desbloqueie a conta.";

// The accounts of the database the pool reads, behind the throttle (login_throttle.h). With a
// write target (--db as given), what several servers share is kept beside USUARIO: the known
// places of each account (USUARIO_LOCAL) and the locks (USUARIO_BLOQUEIO, cleared by
// --unlock-user); and a password stored at another cost is stored again at the site's after a
// successful login. Without one, or when the database refuses the writes, all of it stays in
// this server's memory.
class TAccountAuthenticator : public IAuthenticator {
 public:
  explicit TAccountAuthenticator(TConnectionPool& pool,
                                 TLoginThrottle::TOptions throttle = TLoginThrottle::TOptions())
      : pool_(pool), throttle_(throttle) {}
  void SetWriteTarget(std::string target) { writeTarget_ = std::move(target); }
  TLoginOutcome Login(const std::string& address, const std::vector<TRpcValue>& params) override;

 private:
  // What the database says of the account at this address; read failures count as nothing.
  bool StoredKnownPlace(IConnection& connection, const std::string& login,
                        const std::string& address);
  bool StoredLock(IConnection& connection, const std::string& login);
  // The writes, each tried once; a failure is told in `note` for the log.
  void Store(const std::string& what, const std::function<void()>& write, std::string& note);

  TConnectionPool& pool_;
  TLoginThrottle throttle_;
  std::string writeTarget_;
  std::mutex mutex_;
  std::set<std::string> storedLocks_;  // locks this server wrote, to notice when cleared
};

// The tables of known places and locks on each engine (created by the server at start when it
// may write, by --add-user and --unlock-user).
extern const char* const kLoginStateSqliteSql;
extern const char* const kLoginStatePostgresSql;
// Creates them on `target` when missing. Raises std::runtime_error.
void CreateLoginState(const std::string& target);
void StoreKnownPlace(const std::string& target, const std::string& login, const std::string& place);
void StoreLock(const std::string& target, const std::string& login, int failures);
// --unlock-user: false when the account was not locked.
bool UnlockAccount(const std::string& target, const std::string& login);
// Replaces the hash of `login` when it is still `oldHash` (a password changed meanwhile stays).
void StoreRehashed(const std::string& target, const std::string& login, const std::string& oldHash,
                   const std::string& newHash);

// --add-user and --disable-user, on a database `target` names (a file or a connection string;
// see database.h). AddAccount creates the table when missing and, for a login that exists,
// sets its password and name and enables it; returns true when the account is new.
// DisableAccount returns false when there is no such account. Raise std::runtime_error.
bool AddAccount(const std::string& target, const std::string& login, const std::string& name,
                const std::string& hash);
bool DisableAccount(const std::string& target, const std::string& login);

}  // namespace app
