// The login gate of a session (session.h), with an authenticator in the registry: the deadline
// by which a connection must have logged in, the check of a login on the login pool and its
// answer, and the session's place among the connections that have not logged in (the count
// that lets a newcomer evict the oldest of them).
//
// It runs on the session's thread (the password check on a login thread), and its handlers
// keep the session alive.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <string>

#include "app_server/rpc/rpc.h"

namespace app::net {

class TSession;

class TLoginGate {
 public:
  TLoginGate(TSession& session, const asio::any_io_executor& executor);

  TLoginGate(const TLoginGate&) = delete;
  TLoginGate& operator=(const TLoginGate&) = delete;

  bool Authenticated() const { return authenticated_; }

  // The account logged in: what its calls may read is that account's.
  const std::string& Account() const { return login_; }

  // Counted among the connections that have not logged in, as the `number`th (under the
  // shared mutex).
  void JoinStrangersLocked(uint64_t number);

  // Off the count of connections that have not logged in (at login, and at the end).
  void LeaveStrangersLocked();

  // Closed to make room for a newcomer while strangers hold every place (on this session's
  // thread); Admit took it off the count already.
  void Evict();

  // Closes the connection when no login has succeeded by the deadline; a login being checked
  // then is answered first.
  void ArmLoginDeadline();

  // Checks a login on the login pool (the password hash takes CPU and memory by design); the
  // answer comes back to this thread, a refusal only LoginFailureDelayMs after the request
  // arrived. False, with the answer in the session's writer, when the queue is full.
  bool StartLogin(IAuthenticator& authenticator, const TRpcRequest& request);

  // Stops the deadline and a refusal's wait (the session closes).
  void Cancel();

 private:
  void FinishLogin(uint32_t msgid, std::chrono::steady_clock::time_point arrived,
                   const TLoginOutcome& outcome, const std::string& error);

  // Writes the login's answer in the session's writer and goes on with the requests after it
  // (or closes, when the login deadline passed meanwhile without a success).
  void AnswerLogin();

  TSession& session_;
  asio::steady_timer loginTimer_;  // the login deadline
  asio::steady_timer delayTimer_;  // a refused login's answer waits on it
  uint64_t strangerNumber_ = 0;    // in the shared Strangers while not 0
  bool authenticated_ = false;
  std::string login_;
  bool loginPending_ = false;  // a login is being checked, or its refusal waits
  bool loginExpired_ = false;  // the login deadline passed meanwhile
};

}  // namespace app::net
