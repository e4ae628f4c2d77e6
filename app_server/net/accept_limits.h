// The listener's side of the limits: the descriptor limit and the connections it leaves room
// for, the descriptors kept free for when none are left, and the listener's log lines, each at
// most once a second however often it happens.
#pragma once

#include <asio.hpp>
#include <string>

#include "app_server/net/session.h"

namespace app::net {

// An accept failed for want of descriptors (or of the memory behind them).
bool IsOutOfDescriptors(const asio::error_code& error);

// Descriptors the server needs besides its connections: standard streams, the listener, each
// reactor's and the query pool's own, a database connection per thread, refusals in progress.
int DescriptorsBesideConnections(int workers);

// Raises the descriptor limit to the most allowed; returns it.
long RaiseDescriptorLimit();

// Descriptors kept free, so that with none left the connections waiting to be accepted can
// still be accepted and closed.
class TDescriptorReserve {
 public:
  TDescriptorReserve() = default;
  TDescriptorReserve(const TDescriptorReserve&) = delete;
  TDescriptorReserve& operator=(const TDescriptorReserve&) = delete;
  ~TDescriptorReserve() { Release(); }

  void Take();
  void Release();

  // Closes every connection waiting to be accepted on `listener`, with the descriptors kept for
  // this, so that those clients hear at once rather than wait for a time-out. Returns how many.
  // The kept descriptors stay free until Take: the sessions closing meanwhile, the database and
  // the log may need one.
  int DropWaiting(int listener);

 private:
  int fds_[2] = {-1, -1};
};

// The listener's log lines: a refused connection, a failed accept. At most one line a second
// each, with the count of what happened since the last.
class TAcceptNotes {
 public:
  void Refusal(const tcp::endpoint& peer, const std::string& refusal);
  // The text of a system error is taken with strerror: with no descriptor free, even a check of
  // a virtual call (the sanitizer build's) can fail.
  void AcceptFailure(const asio::error_code& error, int dropped);

 private:
  TClock::time_point lastAccept_{}, lastRefusal_{};
  int refusedSinceNote_ = 0;
  int failuresSinceNote_ = 0;
  int droppedSinceNote_ = 0;
};

}  // namespace app::net
