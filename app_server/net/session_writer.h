// The writing side of a session (session.h): its answer, written at once when the socket takes
// it and otherwise asynchronously under the write time-out, the bytes held until the client
// takes them (counted against MaxUnsentBytes, which holds back the long calls), and the drain
// that lets a last error answer reach the client before the connection is torn down.
//
// It runs on the session's thread, and its handlers keep the session alive.
#pragma once

#include <asio.hpp>
#include <cstddef>
#include <cstdint>
#include <string>

namespace app::net {

class TSession;

class TSessionWriter {
 public:
  explicit TSessionWriter(TSession& session) : session_(session) {}

  TSessionWriter(const TSessionWriter&) = delete;
  TSessionWriter& operator=(const TSessionWriter&) = delete;

  // The answer to write next; the calls encode into it.
  std::string& Response() { return response_; }

  // An error answer, after which the connection closes.
  void Reply(uint32_t msgid, const std::string& message, bool closeAfter);

  // Writes Response(). Most answers fit the socket buffer and go out at once, with no timer and
  // no handler to schedule; true then, and the caller goes on with the next request. Otherwise
  // the rest is written asynchronously under the write time-out and OnWritten goes on.
  bool Send(bool closeAfter);

  // Gives back what the answer held of the shared budget of bytes not yet taken.
  void ReleaseUnsent();

 private:
  void OnWritten(const asio::error_code& error, bool closeAfter);

  // True when the session goes on reading requests.
  bool AfterWrite(bool closeAfter);

  // Half-closes and reads what the client still sends for a moment, so that the error just
  // written reaches it before the connection is torn down (closing with unread bytes would
  // reset the connection and could discard the answer).
  void Drain();

  void DrainMore();

  void AddUnsent(size_t bytes);

  TSession& session_;
  size_t unsent_ = 0;  // of response_, counted in the shared UnsentBytes
  std::string response_;
  char drain_[4096];
};

}  // namespace app::net
