// The opening of a session on an encrypted server (session.h): the look at the first byte and
// the TLS handshake, which must be done within the handshake time-out (the refusal wait for a
// refusal). A client that starts with anything but a TLS record is not speaking TLS: the session
// then answers it in plain that the server wants TLS.
//
// It runs on the session's thread, and its handlers keep the session alive.
#pragma once

namespace app::net {

class TSession;

class TTlsOpening {
 public:
  explicit TTlsOpening(TSession& session) : session_(session) {}

  TTlsOpening(const TTlsOpening&) = delete;
  TTlsOpening& operator=(const TTlsOpening&) = delete;

  // Arms the time-out and waits for the first byte; the session serves once the handshake is
  // done (or, for a plain client, to refuse it).
  void AwaitHandshake();

 private:
  void AwaitFirstByte();

  void Handshake();

  TSession& session_;
};

}  // namespace app::net
