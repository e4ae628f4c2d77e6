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
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app_server/database.h"
#include "app_server/rpc.h"

namespace app {

// A login is at most this long (bytes of UTF-8), a password at most kMaxPasswordBytes; longer
// ones are refused as wrong credentials, never looked up or hashed.
inline constexpr size_t kMaxLoginBytes = 64;
inline constexpr size_t kMaxPasswordBytes = 4096;

// How hard a password hash is to compute. Interactive is what --add-user uses (libsodium's
// interactive limits: 64 MiB and about a tenth of a second per check). Demo is the least the
// library allows, for the demo database's accounts, whose password is "demo" anyway: a demo of
// thousands of operators is created in a moment, and each account still has a salt of its own.
enum class THashCost { Interactive, Demo };

// The Argon2id hash string of `password` ("$argon2id$v=19$m=...", with its salt). Raises
// std::runtime_error when the library fails (out of memory).
std::string HashPassword(std::string_view password, THashCost cost);
// Whether `password` matches `hash`; false for a hash that is not one.
bool VerifyPassword(const std::string& hash, std::string_view password);

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

// Failed logins per client address and per login. Five failures of either within a minute lock
// it for a minute: every login from that address, or for that login, is refused meanwhile
// without a password being checked. A success clears the failures of its login (not of the
// address: one known account must not reset the count of guesses at others).
class TLoginThrottle {
 public:
  using TClock = std::chrono::steady_clock;
  struct TOptions {
    int MaxFailures = 5;
    TClock::duration Window = std::chrono::seconds(60);
    TClock::duration Lockout = std::chrono::seconds(60);
    // Past this many entries of either kind, the expired ones are dropped, then the oldest.
    size_t MaxEntries = 100000;
  };

  TLoginThrottle() : TLoginThrottle(TOptions()) {}
  explicit TLoginThrottle(TOptions options) : options_(options) {}

  bool Locked(const std::string& address, const std::string& login, TClock::time_point now);
  void Failed(const std::string& address, const std::string& login, TClock::time_point now);
  void Succeeded(const std::string& login);

 private:
  struct TEntry {
    std::vector<TClock::time_point> Failures;  // within the window, oldest first
    TClock::time_point LockedUntil{};
  };
  using TTable = std::map<std::string, TEntry, std::less<>>;

  bool IsLocked(TTable& table, const std::string& key, TClock::time_point now);
  void Count(TTable& table, const std::string& key, TClock::time_point now);
  void Prune(TTable& table, TClock::time_point now);

  TOptions options_;
  std::mutex mutex_;
  TTable addresses_;
  TTable logins_;
};

// The accounts of the database the pool reads, behind the throttle.
class TAccountAuthenticator : public IAuthenticator {
 public:
  explicit TAccountAuthenticator(TConnectionPool& pool,
                                 TLoginThrottle::TOptions throttle = TLoginThrottle::TOptions())
      : pool_(pool), throttle_(throttle) {}
  TLoginOutcome Login(const std::string& address, const std::vector<TRpcValue>& params) override;

 private:
  TConnectionPool& pool_;
  TLoginThrottle throttle_;
};

// --add-user and --disable-user, on a database `target` names (a file or a connection string;
// see database.h). AddAccount creates the table when missing and, for a login that exists,
// sets its password and name and enables it; returns true when the account is new.
// DisableAccount returns false when there is no such account. Raise std::runtime_error.
bool AddAccount(const std::string& target, const std::string& login, const std::string& name,
                const std::string& hash);
bool DisableAccount(const std::string& target, const std::string& login);

}  // namespace app
