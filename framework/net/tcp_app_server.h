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
//
// Login: with credentials set, every connection the client opens logs in first
// ("Sessao.Login"), so a reconnect after a server restart needs nothing from the user. A refusal
// raises ELoginRefused with the server's message ("Usuário ou senha inválidos.") and closes the
// connection. The credentials stay in this object's memory only.
//
// Cancel() abandons the connect or call in flight from another thread (the host's window, while
// the call runs on a worker): every wait polls a wake-up descriptor beside the socket, so the
// call ends at once, closes the connection and raises "Operação cancelada pelo usuário.".
//
// Encryption (TOptions::Tls): the connection speaks TLS 1.2 or later, the server's certificate
// checked against the authorities in TlsCaFile (the system's when empty; the file may hold the
// server's own certificate instead) and against the host as configured, a name or an IP
// address. A certificate that fails (another authority, another host, expired) refuses the
// connection with the reason, naming host and port: "Não foi possível conectar com segurança ao
// servidor de aplicação em 10.0.0.5:7450 (certificado expirado em 2024-03-01).". The handshake
// counts against ConnectTimeoutMs, and Cancel ends it as it ends the rest.
//
// System errors are reported in Portuguese (SystemErrorText), never in the C library's English.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/account.h"
#include "protocol/remote.h"
#include "protocol/text.h"

struct ssl_st;
struct ssl_ctx_st;

namespace fw {

namespace wire {
class TReplyReader;
struct TReply;
}  // namespace wire

// The server refused the login: wrong credentials, a disabled account, too many attempts. The
// message is the server's.
class ELoginRefused : public ERemoteError {
 public:
  using ERemoteError::ERemoteError;
};

struct TCredentials {
  std::string Login;
  std::string Password;
  bool Empty() const { return Login.empty() && Password.empty(); }
};

class TTcpAppServer : public IAppServer {
 public:
  struct TOptions {
    int ConnectTimeoutMs = 5000;
    int CallTimeoutMs = 60000;
    bool Tls = false;
    std::string TlsCaFile = {};  // PEM; empty: the system's authorities
  };

  // serverName: the object's registered name, "CMP09500.rdmAcompSoli".
  TTcpAppServer(std::string host, int port, std::string serverName);
  TTcpAppServer(std::string host, int port, std::string serverName, TOptions options);
  TTcpAppServer(std::string host, int port, std::string serverName, TOptions options,
                TCredentials credentials);
  ~TTcpAppServer() override;
  TTcpAppServer(const TTcpAppServer&) = delete;
  TTcpAppServer& operator=(const TTcpAppServer&) = delete;

  // Used by every connect from now on (the open connection, if any, stays as it is).
  void SetCredentials(TCredentials credentials) { credentials_ = std::move(credentials); }
  // The account's name as the last login's answer gave it.
  const std::string& UserName() const { return userName_; }
  // What the account reads, as the last login's answer gave it (account.h).
  const TAccountScope& Scope() const { return scope_; }
  static constexpr const char* kLoginMethod = "Sessao.Login";

  // Opens the connection (closing any open one) and logs in when credentials are set. Raises
  // ELoginRefused, or ERemoteError naming host and port:
  // "Não foi possível conectar ao servidor de aplicação em 127.0.0.1:7450 (conexão recusada)."
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

  // Safe from any thread. Ends the Connect or Invoke in flight: the connection is closed and the
  // call raises ERemoteError(kCancelledMessage). Without one in flight it does nothing, so a late
  // cancel never reaches the next call.
  void Cancel();
  static constexpr const char* kCancelledMessage = "Operação cancelada pelo usuário.";

  const std::string& Host() const { return host_; }
  int Port() const { return port_; }
  const TOptions& Options() const { return options_; }

 private:
  // Marks a public operation in flight for Cancel.
  class TOperation;
  enum class TWait { Ready, TimedOut, Cancelled };

  // What a read or write on the connection came to.
  struct TIo {
    enum class TStatus { Done, Wait, Closed, Failed } Status;
    size_t Count = 0;  // Done: bytes moved (0: try again)
    short Events = 0;  // Wait: what to wait for
    std::string Why;   // Failed
  };

  std::string Address() const;
  void ConnectNow();
  // The TLS handshake on the connected socket_, by `deadline`. Raises ERemoteError.
  void StartTls(std::chrono::steady_clock::time_point deadline);
  TIo SendSome(const char* data, size_t size);
  TIo ReceiveSome(char* data, size_t size);
  void CloseTls();
  void LogIn();
  // Sends one request and reads its reply; transport failures close the connection and raise.
  wire::TReply Exchange(const std::string& fullName, const std::vector<TRemoteArg>& args);
  // Waits until `socket` is ready for `events`, the deadline passes or Cancel is called.
  TWait Wait(int socket, short events, std::chrono::steady_clock::time_point deadline) const;
  [[noreturn]] void TransportFailure(const std::string& message);

  std::string host_;
  int port_;
  std::string serverName_;
  TOptions options_;
  TCredentials credentials_;
  std::string userName_;
  TAccountScope scope_;
  int socket_ = -1;
  ssl_ctx_st* tlsContext_ = nullptr;  // made at the first encrypted connect
  ssl_st* tls_ = nullptr;             // while connected with Tls
  bool tlsClean_ = false;             // a close_notify may be sent on closing
  uint32_t nextMsgId_ = 1;
  std::chrono::steady_clock::time_point lastAnswer_;
  std::string request_;                         // reused between calls
  std::unique_ptr<wire::TReplyReader> reader_;  // likewise; dropped with the connection
  int wakeFd_ = -1;                             // readable once Cancel was called
  std::mutex cancelMutex_;                      // guards inFlight_ and the wake-up state
  bool inFlight_ = false;
};

// Likewise for the name resolver's codes ("endereço não encontrado" for EAI_NONAME).
std::string ResolverErrorText(int code);

}  // namespace fw
