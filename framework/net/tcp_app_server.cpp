#include "framework/net/tcp_app_server.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "framework/net/cancelled.h"
#include "protocol/wire.h"

namespace fw {

namespace {

using TClock = std::chrono::steady_clock;

int RemainingMs(TClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

std::string Seconds(int ms) {
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

}  // namespace

ECancelled::ECancelled() : ERemoteError(TTcpAppServer::kCancelledMessage) {}

std::string ResolverErrorText(int code) {
  switch (code) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return "endereço não encontrado";
    case EAI_AGAIN:
      return "servidor de nomes indisponível, tente de novo";
    case EAI_FAIL:
      return "falha do servidor de nomes";
    case EAI_FAMILY:
      return "tipo de endereço não suportado";
    case EAI_SERVICE:
      return "porta inválida";
    case EAI_MEMORY:
      return "memória insuficiente";
    case EAI_SYSTEM:
      return SystemErrorText(errno);
    default:
      return "erro ao procurar o endereço (código " + std::to_string(code) + ")";
  }
}

// A public operation in flight: Cancel acts only while one is, and what it left behind is
// cleared when the operation ends.
class TTcpAppServer::TOperation {
 public:
  explicit TOperation(TTcpAppServer& server) : server_(server) {
    std::lock_guard lock(server_.cancelMutex_);
    server_.inFlight_ = true;
  }
  ~TOperation() {
    std::lock_guard lock(server_.cancelMutex_);
    server_.inFlight_ = false;
    uint64_t count = 0;
    if (server_.wakeFd_ >= 0 && ::read(server_.wakeFd_, &count, sizeof(count)) < 0) count = 0;
  }
  TOperation(const TOperation&) = delete;
  TOperation& operator=(const TOperation&) = delete;

 private:
  TTcpAppServer& server_;
};

TTcpAppServer::TTcpAppServer(std::string host, int port, std::string serverName)
    : TTcpAppServer(std::move(host), port, std::move(serverName), TOptions()) {}

TTcpAppServer::TTcpAppServer(std::string host, int port, std::string serverName, TOptions options)
    : TTcpAppServer(std::move(host), port, std::move(serverName), options, TCredentials()) {}

TTcpAppServer::TTcpAppServer(std::string host, int port, std::string serverName, TOptions options,
                             TCredentials credentials)
    : host_(std::move(host)),
      port_(port),
      serverName_(std::move(serverName)),
      options_(options),
      credentials_(std::move(credentials)),
      wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TTcpAppServer::~TTcpAppServer() {
  Disconnect();
  if (tlsContext_ != nullptr) SSL_CTX_free(tlsContext_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void TTcpAppServer::Cancel() {
  std::lock_guard lock(cancelMutex_);
  if (!inFlight_ || wakeFd_ < 0) return;
  const uint64_t one = 1;
  if (::write(wakeFd_, &one, sizeof(one)) < 0) {
    // Only a counter at its limit fails, and that counter is already readable.
  }
}

TTcpAppServer::TWait TTcpAppServer::Wait(int socket, short events,
                                         TClock::time_point deadline) const {
  for (;;) {
    pollfd pollers[2] = {{socket, events, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = ::poll(pollers, wakeFd_ >= 0 ? 2 : 1, RemainingMs(deadline));
    if (ready > 0) return pollers[1].revents ? TWait::Cancelled : TWait::Ready;
    if (ready == 0) return TWait::TimedOut;
    if (errno != EINTR) return TWait::TimedOut;
  }
}

std::string TTcpAppServer::Address() const {
  if (host_.find(':') != std::string::npos) return "[" + host_ + "]:" + std::to_string(port_);
  return host_ + ":" + std::to_string(port_);
}

void TTcpAppServer::Disconnect() {
  CloseTls();
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  reader_.reset();
}

void TTcpAppServer::Connect() {
  TOperation operation(*this);
  ConnectNow();
}

void TTcpAppServer::ConnectNow() {
  Disconnect();
  const std::string failure = "Não foi possível conectar ao servidor de aplicação em " + Address();
  if (port_ <= 0 || port_ > 65535) throw ERemoteError(failure + " (porta inválida).");

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* addresses = nullptr;
  const std::string service = std::to_string(port_);
  const int resolved = ::getaddrinfo(host_.c_str(), service.c_str(), &hints, &addresses);
  if (resolved != 0) throw ERemoteError(failure + " (" + ResolverErrorText(resolved) + ").");

  const auto deadline = TClock::now() + std::chrono::milliseconds(options_.ConnectTimeoutMs);
  std::string reason = "endereço não encontrado";
  for (addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
    const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address->ai_protocol);
    if (fd < 0) {
      reason = SystemErrorText(errno);
      continue;
    }
    int error = 0;
    if (::connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        const TWait waited = Wait(fd, POLLOUT, deadline);
        if (waited != TWait::Ready) {
          ::close(fd);
          if (waited == TWait::Cancelled) {
            ::freeaddrinfo(addresses);
            throw ECancelled();
          }
          reason = "tempo esgotado após " + Seconds(options_.ConnectTimeoutMs);
          break;
        }
        socklen_t length = sizeof(error);
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      }
    }
    if (error != 0) {
      reason = SystemErrorText(error);
      ::close(fd);
      continue;
    }
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
    // The socket stays non-blocking: every wait goes through Wait, with the call's deadline and
    // the wake-up of Cancel.
    socket_ = fd;
    break;
  }
  ::freeaddrinfo(addresses);
  if (socket_ < 0) throw ERemoteError(failure + " (" + reason + ").");
  if (options_.Tls) StartTls(deadline);
  if (!credentials_.Empty()) LogIn();
}

void TTcpAppServer::LogIn() {
  std::vector<TRemoteArg> args{TRemoteArg::FromString(credentials_.Login),
                               TRemoteArg::FromString(credentials_.Password)};
  wire::TReply reply = Exchange(kLoginMethod, args);
  // The password leaves no copy behind in the request buffer.
  std::fill(request_.begin(), request_.end(), '\0');
  if (reply.Failed) {
    Disconnect();
    throw ELoginRefused(reply.ErrorMessage.empty() ? "Acesso recusado pelo servidor de aplicação."
                                                   : reply.ErrorMessage);
  }
  const auto name = reply.Texts.find("nome");
  if (reply.HasPacket || reply.Result.Refused || name == reply.Texts.end())
    TransportFailure("Resposta inválida do servidor de aplicação ao login em " + Address() + ".");
  userName_ = name->second;
  scope_ = ReadLoginScope(reply.Texts);
}

void TTcpAppServer::TransportFailure(const std::string& message) {
  tlsClean_ = false;  // a record may be half sent
  Disconnect();
  throw ERemoteError(message);
}

bool TTcpAppServer::PeerClosedWhileIdle() const {
  // Between calls nothing should be readable: readable means the server closed (or reset) the
  // connection, or sent something unasked for; either way the connection is not usable.
  pollfd poller{socket_, POLLIN, 0};
  if (::poll(&poller, 1, 0) <= 0) return false;
  if ((poller.revents & (POLLIN | POLLHUP | POLLERR)) == 0) return false;
  if (tls_ == nullptr) return true;
  // Encrypted, what came may be a TLS record carrying nothing for the application; only a
  // close, an error or data unasked for make the connection unusable.
  ERR_clear_error();
  char byte;
  size_t count = 0;
  const int peeked = SSL_peek_ex(tls_, &byte, 1, &count);
  const bool waiting = peeked != 1 && SSL_get_error(tls_, peeked) == SSL_ERROR_WANT_READ;
  ERR_clear_error();
  return !waiting;
}

TRemoteResult TTcpAppServer::Invoke(const std::string& method, std::vector<TRemoteArg>& args) {
  TOperation operation(*this);
  const std::string fullName = serverName_ + "." + method;

  size_t estimate = fullName.size() + 32;
  for (const auto& arg : args) estimate += arg.Text.size() + 9;
  if (estimate > wire::kMaxMessageSize)
    throw ERemoteError("A chamada " + fullName + " excede o limite de 64 MiB por mensagem.");

  if (socket_ >= 0 && TClock::now() - lastAnswer_ > std::chrono::seconds(1) &&
      PeerClosedWhileIdle())
    Disconnect();
  if (socket_ < 0) ConnectNow();

  wire::TReply reply = Exchange(fullName, args);
  if (reply.Failed)
    throw ERemoteError(reply.ErrorMessage.empty() ? "Erro no servidor de aplicação."
                                                  : reply.ErrorMessage);

  TRemoteResult result = std::move(reply.Result);
  if (result.Refused) return result;
  if (!reply.HasPacket)
    TransportFailure(
        "Resposta inválida do servidor de aplicação: a resposta não traz pacote de "
        "dados.");
  if (reply.HasRefs && result.Refs.size() != args.size()) {
    throw ERemoteError("Resposta inválida do servidor de aplicação: " +
                       std::to_string(result.Refs.size()) + " valores de retorno para " +
                       std::to_string(args.size()) + " parâmetros de " + fullName + ".");
  }
  result.Refs.resize(args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].Kind != TRemoteArg::TKind::InOutString) {
      result.Refs[i].reset();
      continue;
    }
    if (result.Refs[i]) args[i].Text = *result.Refs[i];
  }
  return result;
}

wire::TReply TTcpAppServer::Exchange(const std::string& fullName,
                                     const std::vector<TRemoteArg>& args) {
  const uint32_t msgid = nextMsgId_++;
  if (nextMsgId_ == 0) nextMsgId_ = 1;
  request_.clear();
  wire::TWireWriter writer(request_);
  wire::EncodeRequest(writer, msgid, fullName, args);
  if (request_.size() > wire::kMaxMessageSize)
    throw ERemoteError("A chamada " + fullName + " excede o limite de 64 MiB por mensagem.");

  const auto deadline = TClock::now() + std::chrono::milliseconds(options_.CallTimeoutMs);
  // Messages are only put together when needed: a call that goes well builds none.
  const auto timeout = [&] {
    return "O servidor de aplicação em " + Address() + " não respondeu a " + fullName + " em " +
           Seconds(options_.CallTimeoutMs) + ".";
  };
  const auto dropped = [&](const std::string& why) {
    return "A conexão com o servidor de aplicação em " + Address() +
           " foi encerrada durante a chamada " + fullName + why + ".";
  };
  const auto waitOrFail = [&](short events) {
    switch (Wait(socket_, events, deadline)) {
      case TWait::Ready:
        return;
      case TWait::TimedOut:
        TransportFailure(timeout());
      case TWait::Cancelled:
        tlsClean_ = false;  // as TransportFailure: a record may be half sent
        Disconnect();
        throw ECancelled();
    }
  };

  size_t sent = 0;
  while (sent < request_.size()) {
    const TIo io = SendSome(request_.data() + sent, request_.size() - sent);
    switch (io.Status) {
      case TIo::TStatus::Done:
        sent += io.Count;
        break;
      case TIo::TStatus::Wait:
        waitOrFail(io.Events);
        break;
      case TIo::TStatus::Closed:
        TransportFailure(dropped(""));
      case TIo::TStatus::Failed:
        TransportFailure(dropped(" (" + io.Why + ")"));
    }
  }

  if (!reader_) reader_ = std::make_unique<wire::TReplyReader>();
  wire::TReply reply;
  try {
    // The answer cannot be there yet: wait first, then read what has come. (Encrypted, a read
    // comes first: the TLS layer may hold bytes already taken from the socket.)
    if (tls_ == nullptr) waitOrFail(POLLIN);
    for (;;) {
      const auto room = reader_->Room();
      const TIo io = ReceiveSome(room.Data, room.Size);
      if (io.Status == TIo::TStatus::Done) {
        if (io.Count > 0 && reader_->Received(io.Count)) break;
        continue;
      }
      if (io.Status == TIo::TStatus::Wait) {
        waitOrFail(io.Events);
        continue;
      }
      TransportFailure(dropped(io.Status == TIo::TStatus::Closed ? "" : " (" + io.Why + ")"));
    }
    reply = reader_->Take();
  } catch (const ERemoteError&) {
    // The stream cannot be trusted any more.
    Disconnect();
    throw;
  }
  if (reply.MsgId != msgid) {
    TransportFailure("Resposta inválida do servidor de aplicação: msgid " +
                     std::to_string(reply.MsgId) + " em vez de " + std::to_string(msgid) + ".");
  }
  lastAnswer_ = TClock::now();
  return reply;
}

}  // namespace fw
