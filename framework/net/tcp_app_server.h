// The MessagePack-RPC client: an application-server object reached over one TCP connection.
//
// Calls are synchronous and never wait without limit: connecting waits at most ConnectTimeoutMs,
// a call (sending the request and reading the whole reply) at most CallTimeoutMs.
//
// Connection policy:
// - A transport failure (time-out, reset, the server closing the connection mid-call, a reply
//   that cannot be read) raises ERemoteError and closes the socket. The failed call is not
//   repeated: the server may have run it.
// - The next Invoke after that connects again, once; if that fails it raises ERemoteError.
// - Before sending on a connection idle for more than a second, a close by the server in the
//   meantime (a restart) is noticed and the connection replaced; nothing had been sent on it,
//   so nothing is repeated. (Calls in quick succession, as a screen's cascade makes them, skip
//   that check; a close in that second surfaces as a transport failure of the call.)
// - A reply with `error` or `fail` leaves the connection open.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/net/remote.h"

namespace fw {

namespace wire {
class TReplyReader;
}

class TTcpAppServer : public IAppServer {
 public:
  struct TOptions {
    int ConnectTimeoutMs = 5000;
    int CallTimeoutMs = 60000;
  };

  // serverName: the object's registered name, "CMP09500.rdmAcompSoli".
  TTcpAppServer(std::string host, int port, std::string serverName);
  TTcpAppServer(std::string host, int port, std::string serverName, TOptions options);
  ~TTcpAppServer() override;
  TTcpAppServer(const TTcpAppServer&) = delete;
  TTcpAppServer& operator=(const TTcpAppServer&) = delete;

  // Opens the connection (closing any open one). Raises ERemoteError naming host and port:
  // "Não foi possível conectar ao servidor de aplicação em 127.0.0.1:7450 (Connection refused)."
  void Connect();
  void Disconnect();
  bool Connected() const { return socket_ >= 0; }

  // Sends "<serverName>.<method>" with the arguments and waits for the reply. A refusal comes
  // back as a result with Refused set; the in-out arguments then keep their values. On success
  // the in-out arguments hold what the server left in them. Raises ERemoteError.
  TRemoteResult Invoke(const std::string& method, std::vector<TRemoteArg>& args) override;

  // True when the server closed (or reset) the connection while it was idle between calls: a
  // call sent on it now would fail, with nothing of it sent yet.
  bool PeerClosedWhileIdle() const;

  const std::string& Host() const { return host_; }
  int Port() const { return port_; }
  const TOptions& Options() const { return options_; }

 private:
  std::string Address() const;
  [[noreturn]] void TransportFailure(const std::string& message);

  std::string host_;
  int port_;
  std::string serverName_;
  TOptions options_;
  int socket_ = -1;
  uint32_t nextMsgId_ = 1;
  std::chrono::steady_clock::time_point lastAnswer_;
  std::string request_;                         // reused between calls
  std::unique_ptr<wire::TReplyReader> reader_;  // likewise; dropped with the connection
};

}  // namespace fw
