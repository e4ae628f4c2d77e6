// How often a login may be tried, in memory, for one application server (docs/security.md says
// what several servers share through the database and what each counts alone).
//
// Per account: failures from places the account never logged in from ("unknown") are counted
// while they follow one another; past FreeFailures each one makes the next try from an unknown
// place wait, twice as long each time up to MaxDelay; at MaxFailures the account is locked to
// its known places (the caller stores that in the database, where --unlock-user clears it). A
// known place is an address the account logged in from before: its own failures have a delay of
// their own, so that nobody elsewhere can keep the account's user out of it. A success clears
// the count of where it came from: at a known place, that place's; from an unknown place (which
// becomes known), the account's, but not a lock. The user logging in at her desk every day does
// not reset what guessing from elsewhere has counted.
//
// Per address: at most AddressFailures failed logins within AddressWindow, whatever the
// accounts, then every login from it waits for the window to pass.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace app {

class TLoginThrottle {
 public:
  using TClock = std::chrono::steady_clock;
  struct TOptions {
    int FreeFailures = 3;
    TClock::duration FirstDelay = std::chrono::seconds(1);
    TClock::duration MaxDelay = std::chrono::seconds(60);
    int MaxFailures = 100;
    int AddressFailures = 20;
    TClock::duration AddressWindow = std::chrono::seconds(60);
    // Past this many entries of one kind, the ones that hold nothing that matters go first.
    size_t MaxEntries = 100000;
    size_t MaxPlacesPerAccount = 32;
  };

  enum class TVerdict {
    Check,           // check the password
    Wait,            // too soon after failures: refuse without checking
    KnownPlacesOnly  // locked: refuse without checking (not a known place)
  };

  TLoginThrottle() : TLoginThrottle(TOptions()) {}
  explicit TLoginThrottle(TOptions options) : options_(options) {}

  // Whether the password of `login` may be checked for a try from `address` at `now`. `known`
  // tells whether the address is a known place of the account (KnownPlace, or what the
  // database says); `locked`, whether the database holds a lock of the account.
  TVerdict Before(const std::string& address, const std::string& login, bool known, bool locked,
                  TClock::time_point now);
  // A wrong password (or unknown account): true when this failure is the one that locks the
  // account (MaxFailures in a row from unknown places): the caller stores the lock.
  bool Failed(const std::string& address, const std::string& login, bool known,
              TClock::time_point now);
  // A success from `address` (`known` as given to Before): it becomes a known place.
  void Succeeded(const std::string& address, const std::string& login, bool known);
  // Whether this server saw `login` succeed from `address`.
  bool KnownPlace(const std::string& address, const std::string& login);
  // An administrator cleared the lock in the database: the count starts again.
  void Unlocked(const std::string& login);
  // Whether this server locked `login` (and has not seen it cleared since).
  bool LockedHere(const std::string& login);

  // How long the try after `failures` failures in a row must wait.
  TClock::duration DelayAfter(int failures) const;

 private:
  struct TFailures {
    int Count = 0;  // in a row
    TClock::time_point Last{};
    bool Locked = false;  // reached MaxFailures (unknown places only)
  };
  struct TAddress {
    TClock::time_point WindowStart{};
    int Count = 0;
  };

  static std::string PlaceKey(const std::string& login, const std::string& address) {
    return login + '\n' + address;
  }
  bool Waiting(const TFailures& failures, TClock::time_point now) const;
  template <class TTable>
  void MakeRoom(TTable& table, TClock::time_point now);

  TOptions options_;
  std::mutex mutex_;
  std::map<std::string, TFailures, std::less<>> accounts_;  // failures from unknown places
  std::map<std::string, TFailures, std::less<>> places_;    // failures at a known place
  std::map<std::string, TAddress, std::less<>> addresses_;
  std::map<std::string, std::set<std::string>, std::less<>> known_;  // login: addresses
};

}  // namespace app
