#include "app_server/server.h"

#include <asio.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

namespace app {

namespace {

using asio::ip::tcp;
using TClock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 64 * 1024;
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr auto kLogFlushEvery = std::chrono::milliseconds(100);

// "2024-03-05 14:07:09.123"; the date and time are formatted once a second.
std::string Timestamp() {
  thread_local std::time_t cachedSecond = -1;
  thread_local char cached[64];
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  if (seconds != cachedSecond) {
    std::tm local{};
    localtime_r(&seconds, &local);
    std::snprintf(cached, sizeof(cached), "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    cachedSecond = seconds;
  }
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::string text(cached);
  text.push_back('.');
  text.push_back(static_cast<char>('0' + millis / 100));
  text.push_back(static_cast<char>('0' + millis / 10 % 10));
  text.push_back(static_cast<char>('0' + millis % 10));
  return text;
}

// The log. While the server runs, lines are collected and written by a background thread every
// 100 ms (or at once past 64 KiB), so that a call costs no write of its own; otherwise, and at
// the end, they are written at once.
class TLog {
 public:
  void Line(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ += Timestamp();
    pending_ += ' ';
    pending_ += line;
    pending_ += '\n';
    if (!buffering_ || pending_.size() > 64 * 1024) FlushLocked();
  }

  void StartBuffering() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (buffering_) return;
    buffering_ = true;
    flusher_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (buffering_) {
        wake_.wait_for(lock, kLogFlushEvery);
        FlushLocked();
      }
    });
  }

  void StopBuffering() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!buffering_) return;
      buffering_ = false;
    }
    wake_.notify_all();
    flusher_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    FlushLocked();
  }

 private:
  void FlushLocked() {
    if (pending_.empty()) return;
    std::fwrite(pending_.data(), 1, pending_.size(), stderr);
    std::fflush(stderr);
    pending_.clear();
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::string pending_;
  bool buffering_ = false;
  std::thread flusher_;
};

TLog& Log() {
  static TLog log;
  return log;
}

}  // namespace

void LogLine(const std::string& line) {
  Log().Line(line);
}

namespace {

class TSession;

// What the sessions share with the server.
struct TShared {
  const TObjectRegistry& Registry;
  TServerOptions Options;
  asio::thread_pool& Queries;
  std::mutex Mutex;
  std::unordered_map<TSession*, std::weak_ptr<TSession>> Sessions;
  bool Stopping = false;
  std::function<void()> LastSessionGone;  // while stopping
};

std::string LogText(const TRpcRequest& request, const TCallOutcome& outcome, double ms) {
  char duration[32];
  std::snprintf(duration, sizeof(duration), " %.1f ms", ms);
  std::string line = request.Method + duration;
  switch (outcome.Kind) {
    case TCallOutcome::TKind::Data:
      line += " " + std::to_string(outcome.Rows) + " linhas";
      break;
    case TCallOutcome::TKind::Fail:
      line += " recusada: " + outcome.Message;
      break;
    case TCallOutcome::TKind::Error:
      line += " erro: " + outcome.Message;
      break;
  }
  return line;
}

// One client connection. Everything it does runs on the thread of the reactor that accepted it,
// except the calls that go to the query pool, whose answers come back to that thread.
class TSession : public std::enable_shared_from_this<TSession> {
 public:
  TSession(tcp::socket socket, TShared& shared)
      : socket_(std::move(socket)),
        timer_(socket_.get_executor()),
        shared_(shared),
        stream_(visitor_) {
    asio::error_code ignored;
    socket_.set_option(tcp::no_delay(true), ignored);
    socket_.set_option(asio::socket_base::keep_alive(true), ignored);
    socket_.non_blocking(true, ignored);
    const auto endpoint = socket_.remote_endpoint(ignored);
    peer_ = ignored ? "?" : endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
  }

  ~TSession() {
    std::function<void()> lastGone;
    {
      std::lock_guard<std::mutex> lock(shared_.Mutex);
      shared_.Sessions.erase(this);
      if (shared_.Stopping && shared_.Sessions.empty()) lastGone = shared_.LastSessionGone;
    }
    if (lastGone) lastGone();
  }

  asio::any_io_executor Executor() { return socket_.get_executor(); }

  void Start() { ReadMore(); }

  // From the server's Stop, on this session's thread.
  void RequestStop() {
    stopping_ = true;
    if (!busy_ && stream_.MessageSize() == 0) Close();
  }

 private:
  void ReadMore() {
    if (closed_) return;
    if (stream_.MessageSize() > 0) {
      if (!messageTimerArmed_) {
        messageTimerArmed_ = true;
        ArmTimer(std::chrono::milliseconds(shared_.Options.MessageTimeoutMs),
                 "mensagem incompleta: tempo esgotado");
      }
    } else if (messageTimerArmed_) {
      messageTimerArmed_ = false;
      timer_.cancel();
    }
    char* room = stream_.Room(kReadChunk);
    socket_.async_read_some(
        asio::buffer(room, stream_.RoomSize()),
        [self = shared_from_this()](const asio::error_code& error, size_t count) {
          self->OnRead(error, count);
        });
  }

  void OnRead(const asio::error_code& error, size_t count) {
    if (closed_) return;
    if (error) {
      if (error == asio::error::eof && stream_.MessageSize() > 0) {
        // The client finished sending in the middle of a message: tell it, then close.
        Reply(visitor_.MsgId().value_or(0),
              "Requisição truncada: a conexão terminou no meio da mensagem.", true);
        return;
      }
      Close();
      return;
    }
    stream_.Received(count);
    ProcessBuffered();
  }

  // Answers every whole request received so far, then reads on. Returns early whenever an
  // answer has to wait (for the query pool, or for the client to read).
  void ProcessBuffered() {
    using TStatus = fw::wire::TMsgpackStream<TRequestVisitor>::TStatus;
    for (;;) {
      if (closed_) return;
      TStatus status;
      try {
        status = stream_.Parse();
      } catch (const std::exception&) {
        status = TStatus::Invalid;
      }
      if (status == TStatus::Invalid) {
        Note("requisição rejeitada: " + visitor_.StopReason());
        Reply(visitor_.MsgId().value_or(0), "Requisição malformada: " + visitor_.StopReason() + ".",
              true);
        return;
      }
      // Whole or not, a message past the limit is refused (a read can complete one past it).
      if (stream_.MessageSize() - (status == TStatus::Complete ? stream_.Pending() : 0) >
          fw::wire::kMaxMessageSize) {
        Note("requisição rejeitada: mais de 64 MiB");
        Reply(visitor_.MsgId().value_or(0), "A requisição excede o limite de 64 MiB por mensagem.",
              true);
        return;
      }
      if (status == TStatus::NeedMore) {
        if (stopping_ && stream_.MessageSize() == 0) {
          Close();
          return;
        }
        ReadMore();
        return;
      }

      TRequestVisitor::TParsed parsed = visitor_.Take();
      stream_.Reset();
      if (messageTimerArmed_) {
        messageTimerArmed_ = false;
        timer_.cancel();
      }
      if (parsed.Kind == TRequestVisitor::TParsed::TKind::Notification) {
        Note("notificação ignorada");
        continue;
      }
      if (parsed.Kind == TRequestVisitor::TParsed::TKind::Invalid) {
        Note("requisição rejeitada: " + parsed.Problem);
        EncodeErrorResponse(response_, parsed.MsgId.value_or(0),
                            "Requisição malformada: " + parsed.Problem + ".");
      } else if (shared_.Registry.IsQuick(parsed.Request.Method)) {
        const auto started = TClock::now();
        const TCallOutcome outcome = HandleRequest(shared_.Registry, parsed.Request, response_);
        Note(LogText(parsed.Request, outcome, Milliseconds(started)));
      } else {
        RunOnPool(std::move(parsed.Request));
        return;
      }
      if (!Send(false)) return;
    }
  }

  static double Milliseconds(TClock::time_point since) {
    return std::chrono::duration<double, std::milli>(TClock::now() - since).count();
  }

  // A call that may take long runs on the query pool; this connection waits for it, the
  // others on this thread do not.
  void RunOnPool(TRpcRequest request) {
    busy_ = true;
    auto self = shared_from_this();
    asio::post(shared_.Queries, [self, request = std::move(request)]() mutable {
      const auto started = TClock::now();
      std::string response;
      const TCallOutcome outcome = HandleRequest(self->shared_.Registry, request, response);
      std::string line = LogText(request, outcome, Milliseconds(started));
      asio::post(self->Executor(),
                 [self, response = std::move(response), line = std::move(line)]() mutable {
                   self->busy_ = false;
                   if (self->closed_) return;
                   self->Note(line);
                   self->response_ = std::move(response);
                   if (self->Send(false)) self->ProcessBuffered();
                 });
    });
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
      written += socket_.write_some(
          asio::buffer(response_.data() + written, response_.size() - written), error);
      if (error) break;
    }
    if (!error) return AfterWrite(closeAfter);
    if (error != asio::error::would_block && error != asio::error::try_again) {
      Close();
      return false;
    }
    busy_ = true;
    ArmTimer(std::chrono::milliseconds(shared_.Options.WriteTimeoutMs),
             "resposta não lida pelo cliente: tempo esgotado");
    asio::async_write(
        socket_, asio::buffer(response_.data() + written, response_.size() - written),
        [self = shared_from_this(), closeAfter](const asio::error_code& failure, size_t) {
          self->OnWritten(failure, closeAfter);
        });
    return false;
  }

  void OnWritten(const asio::error_code& error, bool closeAfter) {
    busy_ = false;
    timer_.cancel();
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
    asio::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    ArmTimer(kDrainTime, "");
    DrainMore();
  }

  void DrainMore() {
    if (closed_) return;
    socket_.async_read_some(asio::buffer(drain_, sizeof(drain_)),
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

  void Close() {
    if (closed_) return;
    closed_ = true;
    timer_.cancel();
    asio::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  void Note(const std::string& text) { LogLine(peer_ + " " + text); }

  tcp::socket socket_;
  asio::steady_timer timer_;
  TShared& shared_;
  std::string peer_;
  TRequestVisitor visitor_;
  fw::wire::TMsgpackStream<TRequestVisitor> stream_;
  std::string response_;
  char drain_[4096];
  bool busy_ = false;  // an answer is being computed or written
  bool stopping_ = false;
  bool closed_ = false;
  bool messageTimerArmed_ = false;
};

}  // namespace

// Each worker thread runs a reactor of its own (an io_context used by that thread only), which
// owns the connections handed to it at accept time: reading, quick calls and writing happen on
// that thread with no hand-off between threads. Calls that may take long go to the query pool.
struct TServer::TImpl {
  TImpl(const TObjectRegistry& registry, TServerOptions options)
      : Workers(options.Workers < 1 ? 1 : options.Workers),
        Queries(static_cast<size_t>(Workers)),
        Shared{registry, options, Queries, {}, {}, false, {}} {
    for (int i = 0; i < Workers; ++i) {
      Reactors.push_back(std::make_unique<asio::io_context>(1));
      Guards.emplace_back(Reactors.back()->get_executor());
    }
    Acceptor = std::make_unique<tcp::acceptor>(*Reactors[0]);
    Signals = std::make_unique<asio::signal_set>(*Reactors[0], SIGINT, SIGTERM);
    Grace = std::make_unique<asio::steady_timer>(*Reactors[0]);
  }

  void Accept() {
    asio::io_context& target = *Reactors[NextReactor++ % Reactors.size()];
    Acceptor->async_accept(target, [this](const asio::error_code& error, tcp::socket socket) {
      if (error) {
        if (error == asio::error::operation_aborted || !Acceptor->is_open()) return;
        LogLine("falha ao aceitar conexão: " + error.message());
      } else {
        auto session = std::make_shared<TSession>(std::move(socket), Shared);
        bool accepted = false;
        {
          std::lock_guard<std::mutex> lock(Shared.Mutex);
          if (!Shared.Stopping) {
            Shared.Sessions.emplace(session.get(), session);
            accepted = true;
          }
        }
        if (accepted) asio::post(session->Executor(), [session] { session->Start(); });
      }
      if (Acceptor->is_open()) Accept();
    });
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
    LogLine("parando: " + std::to_string(sessions.size()) + " conexões abertas");
    asio::error_code ignored;
    Acceptor->close(ignored);
    Signals->cancel(ignored);
    if (sessions.empty()) {
      Finish();
      return;
    }
    Grace->expires_after(std::chrono::milliseconds(Shared.Options.ShutdownGraceMs));
    Grace->async_wait([this](const asio::error_code& error) {
      if (error) return;
      LogLine("parando: tempo de espera esgotado; conexões restantes descartadas");
      Queries.stop();
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
  asio::thread_pool Queries;
  // Shared outlives the reactors: sessions still queued in them refer to it when they go.
  TShared Shared;
  std::vector<std::unique_ptr<asio::io_context>> Reactors;
  std::vector<asio::executor_work_guard<asio::io_context::executor_type>> Guards;
  size_t NextReactor = 0;
  std::unique_ptr<tcp::acceptor> Acceptor;
  std::unique_ptr<asio::signal_set> Signals;
  std::unique_ptr<asio::steady_timer> Grace;
};

TServer::TServer(const TObjectRegistry& registry, TServerOptions options)
    : impl_(std::make_unique<TImpl>(registry, std::move(options))) {}

TServer::~TServer() {
  {
    std::lock_guard<std::mutex> lock(impl_->Shared.Mutex);
    impl_->Shared.LastSessionGone = nullptr;
  }
  impl_->Queries.join();
  // Sessions still queued go with their reactors, before anything they refer to.
  impl_->Grace.reset();
  impl_->Signals.reset();
  impl_->Acceptor.reset();
  impl_->Guards.clear();
  impl_->Reactors.clear();
}

void TServer::Listen() {
  const auto& options = impl_->Shared.Options;
  asio::error_code error;
  const auto address = asio::ip::make_address(options.Host, error);
  if (error)
    throw std::runtime_error("Endereço de escuta inválido: " + options.Host + " (" +
                             error.message() + ").");
  const tcp::endpoint endpoint(address, options.Port);
  auto& acceptor = *impl_->Acceptor;
  acceptor.open(endpoint.protocol(), error);
  if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error)
    throw std::runtime_error("Não foi possível escutar em " + options.Host + ":" +
                             std::to_string(options.Port) + " (" + error.message() + ").");
}

uint16_t TServer::Port() const {
  asio::error_code error;
  const auto endpoint = impl_->Acceptor->local_endpoint(error);
  return error ? 0 : endpoint.port();
}

void TServer::Run() {
  impl_->Signals->async_wait([this](const asio::error_code& error, int signal) {
    if (error) return;
    LogLine(std::string("sinal recebido: ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
    impl_->BeginStop();
  });
  impl_->Accept();
  Log().StartBuffering();
  std::vector<std::thread> threads;
  for (size_t i = 1; i < impl_->Reactors.size(); ++i)
    threads.emplace_back([this, i] { impl_->Reactors[i]->run(); });
  impl_->Reactors[0]->run();
  for (auto& thread : threads) thread.join();
  impl_->Queries.join();
  {
    std::lock_guard<std::mutex> lock(impl_->Shared.Mutex);
    impl_->Shared.LastSessionGone = nullptr;
  }
  Log().StopBuffering();
}

void TServer::Stop() {
  asio::post(*impl_->Reactors[0], [this] { impl_->BeginStop(); });
}

}  // namespace app
