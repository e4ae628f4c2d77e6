#include "app_server/auth/login_throttle.h"

#include <iterator>
#include <type_traits>

namespace app {

TLoginThrottle::TClock::duration TLoginThrottle::DelayAfter(int failures) const {
  if (failures < options_.FreeFailures) return TClock::duration::zero();
  TClock::duration delay = options_.FirstDelay;
  for (int i = options_.FreeFailures; i < failures && delay < options_.MaxDelay; ++i) delay *= 2;
  return delay < options_.MaxDelay ? delay : options_.MaxDelay;
}

bool TLoginThrottle::Waiting(const TFailures& failures, TClock::time_point now) const {
  return failures.Count > 0 && now < failures.Last + DelayAfter(failures.Count);
}

TLoginThrottle::TVerdict TLoginThrottle::Before(const std::string& address,
                                                const std::string& login, bool known, bool locked,
                                                TClock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto from = addresses_.find(address);
  if (from != addresses_.end() && now - from->second.WindowStart < options_.AddressWindow &&
      from->second.Count >= options_.AddressFailures)
    return TVerdict::Wait;
  if (known) {
    const auto place = places_.find(PlaceKey(login, address));
    return place != places_.end() && Waiting(place->second, now) ? TVerdict::Wait : TVerdict::Check;
  }
  const auto account = accounts_.find(login);
  if (locked || (account != accounts_.end() && account->second.Locked))
    return TVerdict::KnownPlacesOnly;
  return account != accounts_.end() && Waiting(account->second, now) ? TVerdict::Wait
                                                                     : TVerdict::Check;
}

template <class TTable>
void TLoginThrottle::MakeRoom(TTable& table, TClock::time_point now) {
  if (table.size() < options_.MaxEntries) return;
  // What no longer holds anything back goes first; then all but the locks, so that a flood of
  // distinct names cannot unlock what it locked.
  for (auto it = table.begin(); it != table.end();) {
    const auto& entry = it->second;
    bool keep;
    if constexpr (std::is_same_v<typename TTable::mapped_type, TAddress>)
      keep = now - entry.WindowStart < options_.AddressWindow;
    else
      keep = entry.Locked || Waiting(entry, now);
    it = keep ? std::next(it) : table.erase(it);
  }
  if (table.size() < options_.MaxEntries) return;
  for (auto it = table.begin(); it != table.end();) {
    if constexpr (std::is_same_v<typename TTable::mapped_type, TAddress>)
      it = table.erase(it);
    else
      it = it->second.Locked ? std::next(it) : table.erase(it);
  }
}

bool TLoginThrottle::Failed(const std::string& address, const std::string& login, bool known,
                            TClock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (addresses_.find(address) == addresses_.end()) MakeRoom(addresses_, now);
  TAddress& from = addresses_[address];
  if (now - from.WindowStart >= options_.AddressWindow) {
    from.WindowStart = now;
    from.Count = 0;
  }
  ++from.Count;

  auto& table = known ? places_ : accounts_;
  const std::string key = known ? PlaceKey(login, address) : login;
  if (table.find(key) == table.end()) MakeRoom(table, now);
  TFailures& failures = table[key];
  ++failures.Count;
  failures.Last = now;
  if (known || failures.Locked || failures.Count < options_.MaxFailures) return false;
  failures.Locked = true;
  return true;
}

void TLoginThrottle::Succeeded(const std::string& address, const std::string& login, bool known) {
  std::lock_guard<std::mutex> lock(mutex_);
  places_.erase(PlaceKey(login, address));
  const auto account = accounts_.find(login);
  // A lock stays until an administrator clears it, whoever logs in meanwhile.
  if (!known && account != accounts_.end() && !account->second.Locked) accounts_.erase(account);
  auto& places = known_[login];
  if (places.size() >= options_.MaxPlacesPerAccount && places.count(address) == 0)
    places.erase(places.begin());
  places.insert(address);
  if (known_.size() > options_.MaxEntries) known_.erase(known_.begin());
}

bool TLoginThrottle::KnownPlace(const std::string& address, const std::string& login) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = known_.find(login);
  return found != known_.end() && found->second.count(address) != 0;
}

void TLoginThrottle::Unlocked(const std::string& login) {
  std::lock_guard<std::mutex> lock(mutex_);
  accounts_.erase(login);
}

bool TLoginThrottle::LockedHere(const std::string& login) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = accounts_.find(login);
  return found != accounts_.end() && found->second.Locked;
}

}  // namespace app
