#include "app_server/net/server.h"

#include "app_server/db/database.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app_server/auth/accounts.h"
#include "app_server/log/metrics.h"
#include "app_server/net/log_limit.h"
#include "app_server/net/tls_stream.h"

namespace app {

namespace {

using asio::ip::tcp;
using TClock = std::chrono::steady_clock;
using TSocket = tcp::socket;

constexpr size_t kReadChunk = 64 * 1024;
constexpr auto kDrainTime = std::chrono::seconds(2);
// How long a connection past a limit may take to send the request its refusal answers, and how
// much of that request is read.
constexpr auto kRefusalWait = std::chrono::seconds(2);
constexpr size_t kRefusalReadLimit = 64 * 1024;
// Connections being refused at once; past that a connection is closed as soon as accepted.
constexpr int kMaxRefusing = 16;
// After the descriptors ran out, how long accepting pauses.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
constexpr const char* kBusy = "Servidor ocupado; tente novamente em instantes.";
constexpr const char* kTlsRequired =
    "Este servidor de aplicação aceita somente conexões criptografadas (TLS); ative tls na "
    "configuração do cliente.";

class TSession;

// What the sessions share with the server.
struct TShared {
  TShared(const TObjectRegistry& registry, TServerOptions options, asio::thread_pool& queries,
          asio::thread_pool& logins)
      : Registry(registry),
        Options(std::move(options)),
        Queries(queries),
        Logins(logins),
        LogLimit(Options.LogLinesPerAddress) {
    TakeLimits(Options);
  }

  // The limits read without the mutex, from `options` (at start and at each Reconfigure).
  void TakeLimits(const TServerOptions& options) {
    MessageTimeoutMs = options.MessageTimeoutMs;
    LoginTimeoutMs = options.LoginTimeoutMs;
    HandshakeTimeoutMs = options.HandshakeTimeoutMs;
    MaxPendingBytes = options.MaxPendingBytes;
    MaxQueuedQueries = options.MaxQueuedQueries;
    MaxQueuedLogins = options.MaxQueuedLogins;
  }

  const TObjectRegistry& Registry;
  // The connection limits, MaxUnsentBytes and ShutdownGraceMs are read and changed under Mutex;
  // the limits below are read by the sessions without it, and changed only through the atomics.
  TServerOptions Options;
  std::atomic<int> MessageTimeoutMs{0}, LoginTimeoutMs{0}, HandshakeTimeoutMs{0};
  std::atomic<size_t> MaxPendingBytes{0};
  std::atomic<int> MaxQueuedQueries{0}, MaxQueuedLogins{0};
  asio::thread_pool& Queries;
  asio::thread_pool& Logins;  // password checks
  std::mutex Mutex;
  // Every session, the ones being refused too (so that a stop reaches them).
  std::unordered_map<TSession*, std::weak_ptr<TSession>> Sessions;
  int Served = 0;  // sessions counted against the connection limits
  std::map<asio::ip::address, int> PerAddress;
  int Refusing = 0;
  bool Stopping = false;
  std::function<void()> LastSessionGone;    // while stopping
  std::atomic<size_t> PendingBytes{0};      // held by requests not yet whole
  std::atomic<int> QueuedQueries{0};        // searches waiting for a query thread
  std::unique_ptr<asio::ssl::context> Tls;  // set when connections are encrypted
  std::atomic<int> QueuedLogins{0};         // logins waiting for a login thread
  // Connections that have not logged in, by address, oldest first (under Mutex).
  std::map<asio::ip::address, std::map<uint64_t, std::weak_ptr<TSession>>> Strangers;
  int StrangerCount = 0;
  uint64_t NextStranger = 1;
  std::atomic<size_t> UnsentBytes{0};  // replies written but not yet taken by the clients
  // Long calls waiting to start, and how many run (under Mutex); LongLimit is set at start.
  std::deque<std::function<void()>> LongWaiting;
  int LongRunning = 0;
  int LongLimit = 1;
  TLogLimiter LogLimit;

  // Starts the long calls that may start now; call after anything that may allow one.
  void StartLongCalls() {
    std::vector<std::function<void()>> starting;
    {
      std::lock_guard<std::mutex> lock(Mutex);
      while (!LongWaiting.empty() && LongRunning < LongLimit &&
             UnsentBytes.load() < Options.MaxUnsentBytes) {
        starting.push_back(std::move(LongWaiting.front()));
        LongWaiting.pop_front();
        ++LongRunning;
      }
    }
    for (auto& call : starting) asio::post(Queries, std::move(call));
  }
};

// A call answered with an error is worth an operator's look; the others are the day's work.
TLogPriority PriorityOf(const TCallOutcome& outcome) {
  return outcome.Kind == TCallOutcome::TKind::Error ? TLogPriority::Warning : TLogPriority::Info;
}

// "GetItens 1.8 ms 37 linhas"; a call that waited for a query thread says how long, apart:
// "GetItens 1.8 ms (fila 4.2 ms) 37 linhas".
std::string LogText(const TRpcRequest& request, const TCallOutcome& outcome, double ms,
                    double queuedMs = -1) {
  char duration[64];
  if (queuedMs < 0)
    std::snprintf(duration, sizeof(duration), " %.1f ms", ms);
  else
    std::snprintf(duration, sizeof(duration), " %.1f ms (fila %.1f ms)", ms, queuedMs);
  std::string line = QuoteClientText(request.Method) + duration;
  switch (outcome.Kind) {
    case TCallOutcome::TKind::Data:
      line += " " + std::to_string(outcome.Rows) + " linhas";
      break;
    case TCallOutcome::TKind::Fail:
      line += " recusada: " + outcome.Message;
      break;
    case TCallOutcome::TKind::Error:
      line += " erro: " + outcome.Message;
      if (!outcome.Detail.empty()) line += " (" + outcome.Detail + ")";
      break;
  }
  return line;
}

// One client connection. Everything it does runs on the thread of the reactor that accepted it,
// except the calls that go to the query pool, whose answers come back to that thread.
//
// A session past a connection limit is a refusal: it reads the first request only to answer it
// with `refusal` and closes. So is a client that speaks plain MessagePack to an encrypted
// server: it is answered in plain that the server wants TLS.
//
// On an encrypted server the TLS handshake comes first, and must be done within the handshake
// time-out (the refusal wait for a refusal); the requests follow as on a plain connection.
class TSession : public std::enable_shared_from_this<TSession> {
 public:
  TSession(TSocket socket, TShared& shared, bool counted, std::string refusal)
      : stream_(std::move(socket), shared.Tls.get()),
        timer_(stream_.Socket().get_executor()),
        loginTimer_(stream_.Socket().get_executor()),
        delayTimer_(stream_.Socket().get_executor()),
        shared_(shared),
        counted_(counted),
        refusingSlot_(!refusal.empty()),
        refusal_(std::move(refusal)) {
    asio::error_code ignored;
    TSocket& connection = stream_.Socket();
    connection.set_option(tcp::no_delay(true), ignored);
    connection.set_option(asio::socket_base::keep_alive(true), ignored);
    connection.non_blocking(true, ignored);
    const auto endpoint = connection.remote_endpoint(ignored);
    if (!ignored) address_ = endpoint.address();
    addressText_ = ignored ? "?" : endpoint.address().to_string();
    peer_ = ignored ? "?" : addressText_ + ":" + std::to_string(endpoint.port());
  }

  ~TSession() {
    ReleaseBuffered();
    ReleaseUnsent();
    std::function<void()> lastGone;
    {
      std::lock_guard<std::mutex> lock(shared_.Mutex);
      LeaveStrangersLocked();
      shared_.Sessions.erase(this);
      if (counted_) {
        --shared_.Served;
        auto found = shared_.PerAddress.find(address_);
        if (found != shared_.PerAddress.end() && --found->second == 0)
          shared_.PerAddress.erase(found);
      }
      if (refusingSlot_) --shared_.Refusing;
      if (shared_.Stopping && shared_.Sessions.empty()) lastGone = shared_.LastSessionGone;
    }
    if (lastGone) lastGone();
  }

  asio::any_io_executor Executor() { return stream_.Socket().get_executor(); }
  const asio::ip::address& Address() const { return address_; }

  // Counted among the connections that have not logged in, as the `number`th (under the
  // shared mutex).
  void JoinStrangersLocked(uint64_t number) {
    strangerNumber_ = number;
    shared_.Strangers[address_].emplace(number, weak_from_this());
    ++shared_.StrangerCount;
  }

  // Closed to make room for a newcomer while strangers hold every place (on this session's
  // thread); Admit took it off the count already.
  void Evict() {
    if (closed_ || authenticated_) return;
    Note("conexão encerrada: sem login, vaga cedida a uma nova conexão");
    Close();
  }

  void Start() {
    // The login deadline counts from the accept, the handshake inside it: a connection holds
    // its slot unauthenticated for LoginTimeoutMs at most, however it spends them.
    if (refusal_.empty() && shared_.Registry.Authenticator() != nullptr) ArmLoginDeadline();
    if (stream_.Encrypted()) {
      AwaitHandshake();
      return;
    }
    Serve();
  }

  // From the server's Stop, on this session's thread.
  void RequestStop() {
    stopping_ = true;
    if (!refusal_.empty() || (!busy_ && decoder_.Buffered() == 0)) Close();
  }

 private:
  void Serve() {
    if (!refusal_.empty()) ArmTimer(kRefusalWait, "");
    ReadMore();
  }

  // Looks at the first byte before the handshake: a client that starts with anything but a
  // TLS record is not speaking TLS, and is told so in plain.
  void AwaitHandshake() {
    if (refusal_.empty())
      ArmTimer(std::chrono::milliseconds(shared_.HandshakeTimeoutMs.load()),
               "negociação TLS não concluída: tempo esgotado");
    else
      ArmTimer(kRefusalWait, "");
    AwaitFirstByte();
  }

  void AwaitFirstByte() {
    stream_.Socket().async_wait(
        TSocket::wait_read, [self = shared_from_this()](const asio::error_code& error) {
          if (self->closed_) return;
          if (error) {
            self->Close();
            return;
          }
          unsigned char first = 0;
          asio::error_code peeked;
          const size_t count = self->stream_.Socket().receive(asio::buffer(&first, 1),
                                                              TSocket::message_peek, peeked);
          if (peeked == asio::error::would_block || peeked == asio::error::try_again) {
            self->AwaitFirstByte();
            return;
          }
          if (peeked || count == 0) {
            self->Close();
            return;
          }
          if (first != kTlsHandshakeRecord) {
            Metrics().Refused(TRefusalReason::PlainClient);
            self->Note("conexão recusada: cliente sem TLS", TLogPriority::Warning);
            self->stream_.DropEncryption();
            if (self->refusal_.empty()) self->refusal_ = kTlsRequired;
            self->timer_.cancel();
            self->Serve();
            return;
          }
          self->Handshake();
        });
  }

  void Handshake() {
    stream_.AsyncHandshake([self = shared_from_this()](const asio::error_code& error) {
      if (self->closed_) return;
      if (error) {
        self->Note("negociação TLS recusada (" + error.message() + ")");
        self->Close();
        return;
      }
      self->timer_.cancel();
      self->Serve();
    });
  }

  void ReadMore() {
    if (closed_) return;
    if (refusal_.empty()) {
      if (decoder_.Buffered() > 0) {
        if (!messageTimerArmed_) {
          messageTimerArmed_ = true;
          ArmTimer(std::chrono::milliseconds(shared_.MessageTimeoutMs.load()),
                   "mensagem incompleta: tempo esgotado");
        }
      } else if (messageTimerArmed_) {
        messageTimerArmed_ = false;
        timer_.cancel();
      }
    }
    char* room = decoder_.Room(kReadChunk);
    stream_.AsyncReadSome(asio::buffer(room, decoder_.RoomSize()),
                          [self = shared_from_this()](const asio::error_code& error, size_t count) {
                            self->OnRead(error, count);
                          });
  }

  void OnRead(const asio::error_code& error, size_t count) {
    if (closed_) return;
    if (error) {
      if (error == asio::error::eof && decoder_.Buffered() > 0) {
        // The client finished sending in the middle of a message: tell it, then close.
        Reply(decoder_.MsgId().value_or(0),
              refusal_.empty() ? "Requisição truncada: a conexão terminou no meio da mensagem."
                               : refusal_,
              true);
        return;
      }
      Close();
      return;
    }
    decoder_.Received(count);
    ProcessBuffered();
  }

  // Answers every whole request received so far, then reads on. Returns early whenever an
  // answer has to wait (for the query pool, or for the client to read).
  void ProcessBuffered() {
    using TStatus = TRequestDecoder::TStatus;
    for (;;) {
      if (closed_) return;
      TRequestDecoder::TNext next = decoder_.Next();
      if (!refusal_.empty()) {
        if (next.Status == TStatus::NeedMore && decoder_.Buffered() <= kRefusalReadLimit) {
          ReadMore();
        } else {
          const uint32_t msgid = next.Status == TStatus::Call       ? next.Request.MsgId
                                 : next.Status == TStatus::NeedMore ? decoder_.MsgId().value_or(0)
                                                                    : next.MsgId;
          Reply(msgid, refusal_, true);
        }
        return;
      }
      if (!HoldBuffered()) {
        Metrics().Refused(TRefusalReason::PendingBytes);
        Note("requisição rejeitada: limite de bytes em requisições incompletas",
             TLogPriority::Warning);
        Reply(decoder_.MsgId().value_or(next.Status == TStatus::Call ? next.Request.MsgId : 0),
              "O servidor de aplicação está recebendo requisições grandes demais ao mesmo tempo "
              "(limite de " +
                  std::to_string(shared_.MaxPendingBytes.load() / (1024 * 1024)) +
                  " MiB); tente novamente em instantes.",
              true);
        return;
      }
      switch (next.Status) {
        case TStatus::Broken:
          Note(next.LogText);
          Reply(next.MsgId, next.Message, true);
          return;
        case TStatus::NeedMore:
          if (stopping_ && decoder_.Buffered() == 0) {
            Close();
            return;
          }
          decoder_.Compact();
          ReadMore();
          return;
        case TStatus::Notification:
          Note(next.LogText);
          if (Stranger()) {
            Close();
            return;
          }
          continue;
        case TStatus::Refused:
          Note(next.LogText);
          if (Stranger()) {
            // Whoever has not logged in gets one answer for a malformed request, then the
            // door: each byte of a stream of junk would be a request of its own.
            Reply(next.MsgId, next.Message, true);
            return;
          }
          EncodeErrorResponse(response_, next.MsgId, next.Message);
          break;
        case TStatus::Call:
          if (messageTimerArmed_) {
            messageTimerArmed_ = false;
            timer_.cancel();
          }
          if (IAuthenticator* authenticator = shared_.Registry.Authenticator()) {
            if (next.Request.Method == kLoginMethod) {
              if (StartLogin(*authenticator, next.Request)) return;
              break;
            }
            if (!authenticated_) {
              Note(QuoteClientText(next.Request.Method) + " erro: " + kNotAuthenticated);
              EncodeErrorResponse(response_, next.Request.MsgId, kNotAuthenticated);
              break;
            }
          }
          // A quick call runs right here unless searches are waiting for a query thread: then
          // it waits in line behind them, so that no call overtakes one that came before it.
          if (shared_.Registry.IsQuick(next.Request.Method) &&
              shared_.QueuedQueries.load(std::memory_order_relaxed) == 0) {
            const auto started = TClock::now();
            const TCallOutcome outcome =
                HandleRequest(shared_.Registry, next.Request, {login_}, response_);
            const double ms = Milliseconds(started);
            Metrics().Call(next.Request.Method, outcome.Kind, ms / 1000);
            Note(LogText(next.Request, outcome, ms), PriorityOf(outcome));
          } else if (RunOnPool(next.Request)) {
            return;
          }
          break;
      }
      if (!Send(false)) return;
    }
  }

  bool Stranger() const { return !authenticated_ && shared_.Registry.Authenticator() != nullptr; }

  // Accounts for the bytes the decoder holds against the budget of all connections; false
  // when they would pass it.
  bool HoldBuffered() {
    const size_t now = decoder_.Buffered();
    if (now > held_) {
      const size_t more = now - held_;
      const size_t before = shared_.PendingBytes.fetch_add(more);
      if (before + more > shared_.MaxPendingBytes.load(std::memory_order_relaxed)) {
        shared_.PendingBytes.fetch_sub(more);
        return false;
      }
    } else if (now < held_) {
      shared_.PendingBytes.fetch_sub(held_ - now);
    }
    held_ = now;
    return true;
  }

  void ReleaseBuffered() {
    if (held_ != 0) shared_.PendingBytes.fetch_sub(held_);
    held_ = 0;
  }

  static double Milliseconds(TClock::time_point since) {
    return std::chrono::duration<double, std::milli>(TClock::now() - since).count();
  }

  // A call that may take long runs on the query pool (and so does a quick one while searches
  // wait there); this connection waits for it, the others on this thread do not. False, with
  // the answer in response_, when the queue is full.
  bool RunOnPool(TRpcRequest& request) {
    if (shared_.QueuedQueries.fetch_add(1) >= shared_.MaxQueuedQueries.load()) {
      shared_.QueuedQueries.fetch_sub(1);
      Metrics().Busy(TBusyQueue::Queries);
      Note(QuoteClientText(request.Method) + " erro: " + kBusy, TLogPriority::Warning);
      EncodeErrorResponse(response_, request.MsgId, kBusy);
      return false;
    }
    busy_ = true;
    auto self = shared_from_this();
    const auto queued = TClock::now();
    const bool isLong = shared_.Registry.IsLong(request.Method);
    auto call = [self, request = std::move(request), queued, isLong,
                 context = TCallContext{login_}]() mutable {
      self->shared_.QueuedQueries.fetch_sub(1);
      const auto started = TClock::now();
      std::string response;
      TCallOutcome outcome;
      if (self->gone_) {
        // The client left while the call waited (or the server stops): nobody would read it.
        outcome.Message = "conexão encerrada antes do início";
      } else {
        outcome = HandleRequest(self->shared_.Registry, request, context, response);
        // What the client waited for: the queue and the call.
        Metrics().Call(request.Method, outcome.Kind, Milliseconds(queued) / 1000);
      }
      std::string line =
          LogText(request, outcome, Milliseconds(started),
                  std::chrono::duration<double, std::milli>(started - queued).count());
      const TLogPriority priority = PriorityOf(outcome);
      if (isLong) {
        {
          std::lock_guard<std::mutex> lock(self->shared_.Mutex);
          --self->shared_.LongRunning;
        }
        self->shared_.StartLongCalls();
      }
      asio::post(self->Executor(), [self, response = std::move(response), line = std::move(line),
                                    priority]() mutable {
        self->busy_ = false;
        if (self->closed_) return;
        self->Note(line, priority);
        self->response_ = std::move(response);
        if (self->Send(false)) self->ProcessBuffered();
      });
    };
    if (!isLong) {
      asio::post(shared_.Queries, std::move(call));
      return true;
    }
    {
      std::lock_guard<std::mutex> lock(shared_.Mutex);
      shared_.LongWaiting.push_back(std::move(call));
    }
    shared_.StartLongCalls();
    return true;
  }

  // Closes the connection when no login has succeeded by the deadline; a login being checked
  // then is answered first.
  void ArmLoginDeadline() {
    loginTimer_.expires_after(std::chrono::milliseconds(shared_.LoginTimeoutMs.load()));
    loginTimer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
      if (error || self->closed_ || self->authenticated_) return;
      self->loginExpired_ = true;
      if (self->loginPending_) return;
      self->Note("conexão encerrada: sem login em " +
                 std::to_string(self->shared_.LoginTimeoutMs.load() / 1000) + " s");
      self->Close();
    });
  }

  // Checks a login on the query pool (the password hash takes CPU and memory by design); the
  // answer comes back to this thread, a refusal only LoginFailureDelayMs after the request
  // arrived. False, with the answer in response_, when the queue is full.
  bool StartLogin(IAuthenticator& authenticator, const TRpcRequest& request) {
    if (shared_.QueuedLogins.fetch_add(1) >= shared_.MaxQueuedLogins.load()) {
      shared_.QueuedLogins.fetch_sub(1);
      Metrics().Busy(TBusyQueue::Logins);
      Metrics().Login(TLoginResult::Busy);
      Note(std::string(kLoginMethod) + " erro: " + kBusy, TLogPriority::Warning);
      EncodeErrorResponse(response_, request.MsgId, kBusy);
      return false;
    }
    busy_ = true;
    loginPending_ = true;
    auto self = shared_from_this();
    const auto arrived = TClock::now();
    asio::post(shared_.Logins,
               [self, &authenticator, msgid = request.MsgId, params = request.Params, arrived]() {
                 self->shared_.QueuedLogins.fetch_sub(1);
                 TLoginOutcome outcome;
                 std::string error;
                 try {
                   outcome = authenticator.Login(self->address_.to_string(), params);
                 } catch (const EDatabaseError& failure) {
                   error = std::string("Não foi possível verificar o acesso: ") + failure.what();
                 } catch (const std::exception& failure) {
                   error = "Falha interna no servidor de aplicação ao verificar o acesso.";
                   outcome.LogText = failure.what();
                 }
                 asio::post(self->Executor(), [self, msgid, arrived, outcome = std::move(outcome),
                                               error = std::move(error)]() {
                   self->FinishLogin(msgid, arrived, outcome, error);
                 });
               });
    return true;
  }

  void FinishLogin(uint32_t msgid, TClock::time_point arrived, const TLoginOutcome& outcome,
                   const std::string& error) {
    Metrics().Login(!error.empty()                            ? TLoginResult::Failed
                    : outcome.Accepted                        ? TLoginResult::Accepted
                    : outcome.Message == kLockedToKnownPlaces ? TLoginResult::Locked
                    : outcome.Message == kTooManyAttempts     ? TLoginResult::Delayed
                                                              : TLoginResult::Refused);
    if (closed_) {
      busy_ = loginPending_ = false;
      return;
    }
    const std::string took =
        " (" + std::to_string(static_cast<int>(Milliseconds(arrived))) + " ms)";
    if (!error.empty()) {
      Note(std::string(kLoginMethod) + " erro: " + error +
               (outcome.LogText.empty() ? "" : " (" + outcome.LogText + ")"),
           TLogPriority::Warning);
      EncodeErrorResponse(response_, msgid, error);
      AnswerLogin();
      return;
    }
    Note(std::string(kLoginMethod) + " " + outcome.LogText + took);
    if (outcome.Accepted) {
      authenticated_ = true;
      {
        std::lock_guard<std::mutex> lock(shared_.Mutex);
        LeaveStrangersLocked();
      }
      login_ = outcome.Login;
      loginTimer_.cancel();
      EncodeLoginResponse(response_, msgid, outcome.Login, outcome.Name, outcome.Scope);
      AnswerLogin();
      return;
    }
    EncodeErrorResponse(response_, msgid, outcome.Message);
    delayTimer_.expires_at(arrived +
                           std::chrono::milliseconds(shared_.Options.LoginFailureDelayMs));
    delayTimer_.async_wait([self = shared_from_this()](const asio::error_code&) {
      if (self->closed_) {
        self->busy_ = self->loginPending_ = false;
        return;
      }
      self->AnswerLogin();
    });
  }

  // Writes the login's answer in response_ and goes on with the requests after it (or closes,
  // when the login deadline passed meanwhile without a success).
  void AnswerLogin() {
    busy_ = false;
    loginPending_ = false;
    const bool expired = loginExpired_ && !authenticated_;
    if (expired)
      Note("conexão encerrada: sem login em " +
           std::to_string(shared_.LoginTimeoutMs.load() / 1000) + " s");
    if (Send(expired)) ProcessBuffered();
  }

  // An error answer, after which the connection closes.
  void Reply(uint32_t msgid, const std::string& message, bool closeAfter) {
    EncodeErrorResponse(response_, msgid, message);
    Send(closeAfter);
  }

  // Writes response_. Most answers fit the socket buffer and go out at once, with no timer and
  // no handler to schedule; true then, and the caller goes on with the next request. Otherwise
  // the rest is written asynchronously under the write time-out and OnWritten goes on.
  bool Send(bool closeAfter) {
    asio::error_code error;
    size_t written = 0;
    while (written < response_.size()) {
      written += stream_.WriteNow(
          asio::buffer(response_.data() + written, response_.size() - written), error);
      if (error) break;
    }
    if (!error) return AfterWrite(closeAfter);
    if (error != asio::error::would_block && error != asio::error::try_again) {
      Close();
      return false;
    }
    busy_ = true;
    AddUnsent(response_.size());  // all of it is held until written
    ArmTimer(std::chrono::milliseconds(shared_.Options.WriteTimeoutMs),
             "resposta não lida pelo cliente: tempo esgotado");
    stream_.AsyncWrite(
        asio::buffer(response_.data() + written, response_.size() - written),
        [self = shared_from_this(), closeAfter](const asio::error_code& failure, size_t) {
          self->OnWritten(failure, closeAfter);
        });
    return false;
  }

  void OnWritten(const asio::error_code& error, bool closeAfter) {
    busy_ = false;
    timer_.cancel();
    ReleaseUnsent();
    if (closed_) return;
    if (error) {
      Close();
      return;
    }
    if (AfterWrite(closeAfter)) ProcessBuffered();
  }

  // True when the session goes on reading requests.
  bool AfterWrite(bool closeAfter) {
    if (response_.capacity() > 4 * kReadChunk) std::string().swap(response_);
    if (closeAfter) {
      Drain();
      return false;
    }
    if (stopping_) {
      Close();
      return false;
    }
    return true;
  }

  // Half-closes and reads what the client still sends for a moment, so that the error just
  // written reaches it before the connection is torn down (closing with unread bytes would
  // reset the connection and could discard the answer).
  void Drain() {
    ReleaseBuffered();
    asio::error_code ignored;
    stream_.Socket().shutdown(TSocket::shutdown_send, ignored);
    ArmTimer(kDrainTime, "");
    DrainMore();
  }

  void DrainMore() {
    if (closed_) return;
    stream_.Socket().async_read_some(
        asio::buffer(drain_, sizeof(drain_)),
        [self = shared_from_this()](const asio::error_code& error, size_t) {
          if (error)
            self->Close();
          else
            self->DrainMore();
        });
  }

  void ArmTimer(TClock::duration after, std::string why) {
    timer_.expires_after(after);
    timer_.async_wait(
        [self = shared_from_this(), why = std::move(why)](const asio::error_code& error) {
          if (error || self->closed_) return;
          if (!why.empty()) self->Note("conexão encerrada: " + why);
          self->Close();
        });
  }

  // Off the count of connections that have not logged in (at login, and at the end).
  void LeaveStrangersLocked() {
    if (strangerNumber_ == 0) return;
    const auto found = shared_.Strangers.find(address_);
    if (found != shared_.Strangers.end() && found->second.erase(strangerNumber_) != 0) {
      --shared_.StrangerCount;
      if (found->second.empty()) shared_.Strangers.erase(found);
    }
    strangerNumber_ = 0;
  }

  void AddUnsent(size_t bytes) {
    unsent_ += bytes;
    shared_.UnsentBytes.fetch_add(bytes);
  }

  void ReleaseUnsent() {
    if (unsent_ == 0) return;
    shared_.UnsentBytes.fetch_sub(unsent_);
    unsent_ = 0;
    shared_.StartLongCalls();
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    gone_ = true;
    ReleaseBuffered();
    ReleaseUnsent();
    timer_.cancel();
    loginTimer_.cancel();
    delayTimer_.cancel();
    asio::error_code ignored;
    stream_.Socket().shutdown(TSocket::shutdown_both, ignored);
    stream_.Socket().close(ignored);
  }

  // A connection that has not logged in writes at most LogLinesPerAddress lines a second for
  // its address; the rest are counted (TLogLimiter).
  void Note(const std::string& text, TLogPriority priority = TLogPriority::Info) {
    if (!authenticated_ && shared_.Registry.Authenticator() != nullptr &&
        !shared_.LogLimit.Allow(addressText_, TClock::now()))
      return;
    LogLine(priority, peer_ + " " + text);
  }

  TConnectionStream stream_;
  asio::steady_timer timer_;
  asio::steady_timer loginTimer_;  // the login deadline
  asio::steady_timer delayTimer_;  // a refused login's answer waits on it
  TShared& shared_;
  const bool counted_;
  const bool refusingSlot_;  // counted in shared_.Refusing
  std::string refusal_;
  asio::ip::address address_;
  std::string addressText_;
  std::string peer_;
  uint64_t strangerNumber_ = 0;  // in shared_.Strangers while not 0
  size_t unsent_ = 0;            // of response_, counted in shared_.UnsentBytes
  TRequestDecoder decoder_;
  size_t held_ = 0;  // of decoder_'s bytes, accounted in shared_.PendingBytes
  std::string response_;
  char drain_[4096];
  bool busy_ = false;  // an answer is being computed or written
  bool stopping_ = false;
  bool closed_ = false;
  std::atomic<bool> gone_{false};  // closed_, for the query threads: a call not begun is dropped
  bool messageTimerArmed_ = false;
  bool authenticated_ = false;
  std::string login_;          // the account logged in: what its calls may read is that account's
  bool loginPending_ = false;  // a login is being checked, or its refusal waits
  bool loginExpired_ = false;  // the login deadline passed meanwhile
};

bool IsOutOfDescriptors(const asio::error_code& error) {
  const int code = error.value();
  return error.category() == asio::system_category() &&
         (code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM);
}

// Descriptors the server needs besides its connections: standard streams, the listener, each
// reactor's and the query pool's own, a database connection per thread, refusals in progress.
int DescriptorsBesideConnections(int workers) {
  return 32 + 5 * workers + kMaxRefusing;
}

// Raises the descriptor limit to the most allowed; returns it.
long RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? 1L << 20 : static_cast<long>(limit.rlim_cur);
}

// 127.0.0.0/8 and ::1, written as IPv6 too (::ffff:127.0.0.1).
bool IsLoopback(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).is_loopback();
  return address.is_loopback();
}

}  // namespace

// Each worker thread runs a reactor of its own (an io_context used by that thread only), which
// owns the connections handed to it at accept time: reading, quick calls and writing happen on
// that thread with no hand-off between threads. Calls that may take long go to the query pool.
struct TServer::TImpl {
  TImpl(const TObjectRegistry& registry, TServerOptions options)
      : Workers(options.Workers < 1 ? 1 : options.Workers),
        Queries(std::make_unique<asio::thread_pool>(static_cast<size_t>(Workers))),
        Logins(std::make_unique<asio::thread_pool>(static_cast<size_t>(LoginThreads(options)))),
        Shared(registry, options, *Queries, *Logins) {
    Shared.LongLimit = Workers > 1 ? Workers - 1 : 1;
    for (int i = 0; i < Workers; ++i) {
      Reactors.push_back(std::make_unique<asio::io_context>(1));
      Guards.emplace_back(Reactors.back()->get_executor());
    }
    Acceptor = std::make_unique<tcp::acceptor>(*Reactors[0]);
    AcceptPause = std::make_unique<asio::steady_timer>(*Reactors[0]);
    Signals = std::make_unique<asio::signal_set>(*Reactors[0], SIGINT, SIGTERM, SIGHUP);
    Grace = std::make_unique<asio::steady_timer>(*Reactors[0]);
    LogTick = std::make_unique<asio::steady_timer>(*Reactors[0]);
    TickTimer = std::make_unique<asio::steady_timer>(*Reactors[0]);
  }

  ~TImpl() { ReleaseReserve(); }

  // Half the cores, 1 to 4, unless set: a password check takes a core and its memory for tens
  // of milliseconds, and the searches must keep the rest.
  static int LoginThreads(const TServerOptions& options) {
    if (options.LoginThreads > 0) return options.LoginThreads;
    const int half = static_cast<int>(std::thread::hardware_concurrency() / 2);
    return half < 1 ? 1 : half > 4 ? 4 : half;
  }

  void AwaitSignal() {
    Signals->async_wait([this](const asio::error_code& error, int signal) {
      if (error) return;
      if (signal == SIGHUP) {
        LogLine(TLogPriority::Notice, "sinal recebido: SIGHUP");
        if (Hooks.Reload) {
          try {
            Hooks.Reload();
          } catch (const std::exception& failure) {
            LogLine(TLogPriority::Error, std::string("falha ao reler: ") + failure.what());
          }
        }
        AwaitSignal();
        return;
      }
      LogLine(TLogPriority::Notice,
              std::string("sinal recebido: ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
      BeginStop();
    });
  }

  void Tick() {
    TickTimer->expires_after(Hooks.TickEvery);
    TickTimer->async_wait([this](const asio::error_code& error) {
      if (error) return;
      Hooks.Tick();
      Tick();
    });
  }

  // The connection limit asked for, within what the descriptors leave room for (0: 1000 or
  // what fits); said in the log when lowered.
  int ConnectionLimit(int asked) const {
    if (asked <= 0) return ConnectionRoom < 1000 ? ConnectionRoom : 1000;
    if (asked <= ConnectionRoom) return asked;
    LogLine(TLogPriority::Warning,
            "aviso: limite de conexões reduzido de " + std::to_string(asked) + " a " +
                std::to_string(ConnectionRoom) + ": o limite de descritores de arquivo é " +
                std::to_string(Descriptors));
    return ConnectionRoom;
  }

  // Once a second: how many lines each noisy address had left out.
  void TellOmitted() {
    for (const auto& line : Shared.LogLimit.TakeOmitted(TClock::now())) LogLine(line);
    LogTick->expires_after(std::chrono::seconds(1));
    LogTick->async_wait([this](const asio::error_code& error) {
      if (!error) TellOmitted();
    });
  }

  void Accept() {
    asio::io_context& target = *Reactors[NextReactor++ % Reactors.size()];
    Acceptor->async_accept(target, [this](const asio::error_code& error, tcp::socket socket) {
      if (error) {
        if (error == asio::error::operation_aborted || !Acceptor->is_open()) return;
        if (IsOutOfDescriptors(error)) {
          // Accepting again at once would fail at once, forever: close what waits, pause.
          const int dropped = DropWaiting();
          Metrics().Refused(TRefusalReason::OutOfDescriptors, dropped);
          NoteAcceptFailure(error, dropped);
          AcceptPause->expires_after(kAcceptPause);
          AcceptPause->async_wait([this](const asio::error_code& failure) {
            if (failure || !Acceptor->is_open()) return;
            TakeReserve();
            Accept();
          });
          return;
        }
        NoteAcceptFailure(error, 0);
      } else {
        Admit(std::move(socket));
      }
      if (Acceptor->is_open()) Accept();
    });
  }

  // Counts the connection against the limits, or makes it a refusal.
  void Admit(tcp::socket socket) {
    asio::error_code ignored;
    const auto endpoint = socket.remote_endpoint(ignored);
    const auto& options = Shared.Options;
    std::string refusal;
    TRefusalReason reason = TRefusalReason::TotalLimit;
    bool counted = false;
    const bool stranger = Shared.Registry.Authenticator() != nullptr;
    std::shared_ptr<TSession> evicted;
    {
      std::lock_guard<std::mutex> lock(Shared.Mutex);
      if (Shared.Stopping) return;
      const auto strangers = Shared.Strangers.find(endpoint.address());
      if (Shared.Served >= options.MaxConnections) {
        refusal = "O servidor de aplicação atingiu o limite de " +
                  std::to_string(options.MaxConnections) +
                  " conexões; tente novamente em instantes.";
      } else if (Shared.PerAddress[endpoint.address()] >= options.MaxConnectionsPerAddress) {
        reason = TRefusalReason::AddressLimit;
        refusal = "O endereço " + endpoint.address().to_string() + " atingiu o limite de " +
                  std::to_string(options.MaxConnectionsPerAddress) +
                  " conexões por endereço com o servidor de aplicação; feche as que não usa ou "
                  "tente novamente em instantes.";
      } else if (stranger && strangers != Shared.Strangers.end() &&
                 static_cast<int>(strangers->second.size()) >=
                     options.MaxUnauthenticatedPerAddress) {
        reason = TRefusalReason::UnauthenticatedLimit;
        refusal = "O endereço " + endpoint.address().to_string() + " atingiu o limite de " +
                  std::to_string(options.MaxUnauthenticatedPerAddress) +
                  " conexões sem login com o servidor de aplicação; tente novamente em instantes.";
      } else {
        if (stranger && Shared.StrangerCount >= options.MaxUnauthenticated)
          evicted = TakeEvictedLocked();
        counted = true;
        ++Shared.Served;
        ++Shared.PerAddress[endpoint.address()];
      }
      if (!counted) {
        if (Shared.PerAddress[endpoint.address()] == 0) Shared.PerAddress.erase(endpoint.address());
        Metrics().Refused(reason);
        NoteRefusal(endpoint, refusal);
        if (Shared.Refusing >= kMaxRefusing) return;  // closed at once
        ++Shared.Refusing;
      }
    }
    if (evicted) asio::post(evicted->Executor(), [evicted] { evicted->Evict(); });
    auto session = std::make_shared<TSession>(std::move(socket), Shared, counted, refusal);
    {
      std::lock_guard<std::mutex> lock(Shared.Mutex);
      Shared.Sessions.emplace(session.get(), session);
      if (stranger && counted) session->JoinStrangersLocked(Shared.NextStranger++);
    }
    asio::post(session->Executor(), [session] { session->Start(); });
  }

  // Every place for strangers is taken: the oldest connection of the address that holds the
  // most goes (taken off the count here), so that whoever floods makes room for the others,
  // a newcomer who logs in at once among them.
  std::shared_ptr<TSession> TakeEvictedLocked() {
    auto heaviest = Shared.Strangers.end();
    for (auto it = Shared.Strangers.begin(); it != Shared.Strangers.end(); ++it)
      if (heaviest == Shared.Strangers.end() || it->second.size() > heaviest->second.size())
        heaviest = it;
    if (heaviest == Shared.Strangers.end() || heaviest->second.empty()) return nullptr;
    auto oldest = heaviest->second.begin();
    std::shared_ptr<TSession> session = oldest->second.lock();
    heaviest->second.erase(oldest);
    --Shared.StrangerCount;
    if (heaviest->second.empty()) Shared.Strangers.erase(heaviest);
    return session;
  }

  // Closes every connection waiting to be accepted, with the descriptors kept for this, so that
  // those clients hear at once rather than wait for a time-out. Returns how many. The kept
  // descriptors stay free until accepting resumes: the sessions closing meanwhile, the database
  // and the log may need one.
  int DropWaiting() {
    ReleaseReserve();
    int dropped = 0;
    for (;;) {
      const int fd = ::accept4(Acceptor->native_handle(), nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) break;
      ::close(fd);
      ++dropped;
    }
    return dropped;
  }

  void TakeReserve() {
    for (int& fd : Reserve)
      if (fd < 0) fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  }

  void ReleaseReserve() {
    for (int& fd : Reserve) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  }

  // Like accept failures, at most one line a second.
  void NoteRefusal(const tcp::endpoint& peer, const std::string& refusal) {
    const auto now = TClock::now();
    ++RefusedSinceNote;
    if (now - LastRefusalNote < std::chrono::seconds(1)) return;
    LastRefusalNote = now;
    std::string line = peer.address().to_string() + ":" + std::to_string(peer.port()) +
                       " conexão recusada: " + refusal;
    if (RefusedSinceNote > 1)
      line += " (" + std::to_string(RefusedSinceNote) + " conexões recusadas no último segundo)";
    LogLine(TLogPriority::Warning, line);
    RefusedSinceNote = 0;
  }

  // At most one line a second, however often accepting fails. The text of a system error is
  // taken with strerror: with no descriptor free, even a check of a virtual call (the sanitizer
  // build's) can fail.
  void NoteAcceptFailure(const asio::error_code& error, int dropped) {
    const auto now = TClock::now();
    DroppedSinceNote += dropped;
    ++FailuresSinceNote;
    if (now - LastAcceptNote < std::chrono::seconds(1)) return;
    LastAcceptNote = now;
    std::string line = "falha ao aceitar conexões: ";
    line += error.category() == asio::system_category() ? std::strerror(error.value())
                                                        : error.message();
    if (FailuresSinceNote > 1)
      line += " (" + std::to_string(FailuresSinceNote) + " vezes no último segundo)";
    if (DroppedSinceNote > 0)
      line += "; " + std::to_string(DroppedSinceNote) + " conexões em espera fechadas";
    LogLine(TLogPriority::Error, line);
    FailuresSinceNote = 0;
    DroppedSinceNote = 0;
  }

  // On reactor 0.
  void BeginStop() {
    std::vector<std::shared_ptr<TSession>> sessions;
    {
      std::lock_guard<std::mutex> lock(Shared.Mutex);
      if (Shared.Stopping) return;
      Shared.Stopping = true;
      for (auto& entry : Shared.Sessions)
        if (auto session = entry.second.lock()) sessions.push_back(std::move(session));
      Shared.LastSessionGone = [this] { asio::post(*Reactors[0], [this] { Finish(); }); };
    }
    LogLine(TLogPriority::Notice,
            "parando: " + std::to_string(sessions.size()) + " conexões abertas");
    if (Hooks.Stopping) Hooks.Stopping();
    TickTimer->cancel();
    asio::error_code ignored;
    Acceptor->close(ignored);
    AcceptPause->cancel();
    LogTick->cancel();
    Signals->cancel(ignored);
    if (sessions.empty()) {
      Finish();
      return;
    }
    int grace = 0;
    {
      std::lock_guard<std::mutex> lock(Shared.Mutex);
      grace = Shared.Options.ShutdownGraceMs;
    }
    Grace->expires_after(std::chrono::milliseconds(grace));
    Grace->async_wait([this](const asio::error_code& error) {
      if (error) return;
      LogLine(TLogPriority::Warning,
              "parando: tempo de espera esgotado; conexões restantes descartadas");
      Queries->stop();
      Logins->stop();
      for (auto& reactor : Reactors) reactor->stop();
    });
    for (auto& session : sessions) {
      auto target = session;
      asio::post(target->Executor(), [target] { target->RequestStop(); });
    }
  }

  // Every connection is closed: let the reactors run dry.
  void Finish() {
    Grace->cancel();
    for (auto& guard : Guards) guard.reset();
  }

  int Workers;
  // Destroyed before the reactors by ~TServer (see there); the shared state refers to them.
  std::unique_ptr<asio::thread_pool> Queries;
  std::unique_ptr<asio::thread_pool> Logins;
  // Shared outlives the reactors: sessions still queued in them refer to it when they go.
  TShared Shared;
  std::vector<std::unique_ptr<asio::io_context>> Reactors;
  std::vector<asio::executor_work_guard<asio::io_context::executor_type>> Guards;
  size_t NextReactor = 0;
  std::unique_ptr<tcp::acceptor> Acceptor;
  std::unique_ptr<asio::steady_timer> AcceptPause;
  std::unique_ptr<asio::signal_set> Signals;
  std::unique_ptr<asio::steady_timer> Grace;
  std::unique_ptr<asio::steady_timer> LogTick;
  std::unique_ptr<asio::steady_timer> TickTimer;
  TServerHooks Hooks;
  // What Listen found: the descriptor limit, and the connections it leaves room for.
  long Descriptors = 0;
  int ConnectionRoom = 1;
  int Reserve[2] = {-1, -1};  // descriptors kept free for DropWaiting
  TClock::time_point LastAcceptNote{}, LastRefusalNote{};
  int RefusedSinceNote = 0;
  int FailuresSinceNote = 0;
  int DroppedSinceNote = 0;
};

TServer::TServer(const TObjectRegistry& registry, TServerOptions options)
    : impl_(std::make_unique<TImpl>(registry, std::move(options))) {}

TServer::~TServer() {
  std::deque<std::function<void()>> waiting;
  {
    std::lock_guard<std::mutex> lock(impl_->Shared.Mutex);
    impl_->Shared.LastSessionGone = nullptr;
    waiting.swap(impl_->Shared.LongWaiting);
  }
  // Calls that never started when the grace ran out hold their sessions: those go first, while
  // their reactors and what they share are still there (a session outliving its reactor
  // corrupted the heap). The pools' queues go the same way: stopped, joined, then shut down,
  // which destroys what was still queued.
  waiting.clear();
  impl_->Queries->stop();
  impl_->Logins->stop();
  impl_->Queries->join();
  impl_->Logins->join();
  impl_->Queries.reset();
  impl_->Logins.reset();
  // Sessions still queued go with their reactors, before anything they refer to.
  impl_->Grace.reset();
  impl_->LogTick.reset();
  impl_->TickTimer.reset();
  impl_->Signals.reset();
  impl_->AcceptPause.reset();
  impl_->Acceptor.reset();
  impl_->Guards.clear();
  impl_->Reactors.clear();
}

void ValidateServerOptions(const TServerOptions& options) {
  asio::error_code error;
  const auto address = asio::ip::make_address(options.Host, error);
  if (error)
    throw std::runtime_error("Endereço de escuta inválido: " + options.Host + " (" +
                             error.message() + ").");
  if (options.TlsCertificateFile.empty() != options.TlsKeyFile.empty())
    throw std::runtime_error(
        "Para TLS são precisos o certificado e a chave (--tls-cert e "
        "--tls-key).");
  if (options.TlsCertificateFile.empty() && !IsLoopback(address) && !options.AllowInsecure)
    throw std::runtime_error(
        "Recusado escutar em " + options.Host +
        " sem criptografia: os dados de compras passariam abertos pela rede. Use --tls-cert e "
        "--tls-key, ou --insecure para aceitar o risco.");
}

void TServer::Listen() {
  auto& options = impl_->Shared.Options;
  impl_->Descriptors = RaiseDescriptorLimit();
  const long room = impl_->Descriptors - DescriptorsBesideConnections(impl_->Workers);
  // Connections never take the descriptors the database and the server itself need: past
  // them, every call would fail, not just the connection that came too many.
  impl_->ConnectionRoom = static_cast<int>(room < 1 ? 1 : room < 1000000 ? room : 1000000);
  options.MaxConnections = impl_->ConnectionLimit(options.MaxConnections);
  if (options.MaxUnauthenticated <= 0)
    options.MaxUnauthenticated = options.MaxConnections / 4 < 1 ? 1 : options.MaxConnections / 4;
  impl_->TakeReserve();

  ValidateServerOptions(options);
  asio::error_code error;
  const auto address = asio::ip::make_address(options.Host, error);
  if (!options.TlsCertificateFile.empty())
    impl_->Shared.Tls = MakeServerTlsContext(options.TlsCertificateFile, options.TlsKeyFile);
  const tcp::endpoint endpoint(address, options.Port);
  auto& acceptor = *impl_->Acceptor;
  acceptor.open(endpoint.protocol(), error);
  if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (!error) acceptor.native_non_blocking(true, error);
  if (error)
    throw std::runtime_error("Não foi possível escutar em " + options.Host + ":" +
                             std::to_string(options.Port) + " (" + error.message() + ").");
}

uint16_t TServer::Port() const {
  asio::error_code error;
  const auto endpoint = impl_->Acceptor->local_endpoint(error);
  return error ? 0 : endpoint.port();
}

std::string TServer::LimitsText() const {
  std::lock_guard<std::mutex> lock(impl_->Shared.Mutex);
  const auto& options = impl_->Shared.Options;
  return "limites: " + std::to_string(options.MaxConnections) + " conexões (" +
         std::to_string(options.MaxConnectionsPerAddress) + " por endereço), " +
         std::to_string(options.MaxPendingBytes / (1024 * 1024)) +
         " MiB em requisições incompletas, " + std::to_string(options.MaxQueuedQueries) +
         " pesquisas na fila";
}

void TServer::SetHooks(TServerHooks hooks) {
  impl_->Hooks = std::move(hooks);
}

void TServer::Reconfigure(const TServerOptions& next) {
  TShared& shared = impl_->Shared;
  const int connections = impl_->ConnectionLimit(next.MaxConnections);
  {
    std::lock_guard<std::mutex> lock(shared.Mutex);
    TServerOptions& options = shared.Options;
    options.MaxConnections = connections;
    options.MaxConnectionsPerAddress = next.MaxConnectionsPerAddress;
    options.MaxUnauthenticated = next.MaxUnauthenticated > 0
                                     ? next.MaxUnauthenticated
                                     : (connections / 4 < 1 ? 1 : connections / 4);
    options.MaxUnauthenticatedPerAddress = next.MaxUnauthenticatedPerAddress;
    options.MaxUnsentBytes = next.MaxUnsentBytes;
    options.ShutdownGraceMs = next.ShutdownGraceMs;
    options.MessageTimeoutMs = next.MessageTimeoutMs;
    options.LoginTimeoutMs = next.LoginTimeoutMs;
    options.HandshakeTimeoutMs = next.HandshakeTimeoutMs;
    options.MaxPendingBytes = next.MaxPendingBytes;
    options.MaxQueuedQueries = next.MaxQueuedQueries;
    options.MaxQueuedLogins = next.MaxQueuedLogins;
    shared.TakeLimits(options);
  }
  // More room for replies may let a waiting report start.
  shared.StartLongCalls();
}

TServerLoad TServer::Load() const {
  TShared& shared = impl_->Shared;
  TServerLoad load;
  {
    std::lock_guard<std::mutex> lock(shared.Mutex);
    load.Connections = shared.Served;
    load.Unauthenticated = shared.StrangerCount;
    load.WaitingLongCalls = static_cast<int>(shared.LongWaiting.size());
  }
  load.QueuedQueries = shared.QueuedQueries.load();
  load.QueuedLogins = shared.QueuedLogins.load();
  load.UnsentBytes = shared.UnsentBytes.load();
  return load;
}

void TServer::Run() {
  LogLine(TLogPriority::Notice, LimitsText());
  impl_->AwaitSignal();
  if (impl_->Hooks.Tick && impl_->Hooks.TickEvery.count() > 0) impl_->Tick();
  impl_->Accept();
  impl_->TellOmitted();
  StartLogBuffering();
  std::vector<std::thread> threads;
  for (size_t i = 1; i < impl_->Reactors.size(); ++i)
    threads.emplace_back([this, i] { impl_->Reactors[i]->run(); });
  impl_->Reactors[0]->run();
  for (auto& thread : threads) thread.join();
  impl_->Queries->join();
  impl_->Logins->join();
  {
    std::lock_guard<std::mutex> lock(impl_->Shared.Mutex);
    impl_->Shared.LastSessionGone = nullptr;
  }
  for (const auto& line : impl_->Shared.LogLimit.TakeOmitted(TClock::now(), true)) LogLine(line);
  StopLogBuffering();
}

void TServer::Stop() {
  asio::post(*impl_->Reactors[0], [this] { impl_->BeginStop(); });
}

}  // namespace app
