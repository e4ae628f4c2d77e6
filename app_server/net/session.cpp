#include "app_server/net/session.h"

#include <fmt/format.h>

#include <iterator>

namespace app::net {

namespace {

// A call answered with an error is worth an operator's look; the others are the day's work.
TLogPriority PriorityOf(const TCallOutcome& outcome) {
  return outcome.Kind == TCallOutcome::TKind::Error ? TLogPriority::Warning : TLogPriority::Info;
}

}  // namespace

// "GetItens 1.8 ms 37 linhas"; a call that waited for a query thread says how long, apart:
// "GetItens 1.8 ms (fila 4.2 ms) 37 linhas".
std::string LogText(const TRpcRequest& request, const TCallOutcome& outcome, double ms,
                    double queuedMs) {
  std::string line = queuedMs < 0 ? fmt::format("{} {:.1f} ms", QuoteClientText(request.Method), ms)
                                  : fmt::format("{} {:.1f} ms (fila {:.1f} ms)",
                                                QuoteClientText(request.Method), ms, queuedMs);
  switch (outcome.Kind) {
    case TCallOutcome::TKind::Data:
      fmt::format_to(std::back_inserter(line), " {} linhas", outcome.Rows);
      break;
    case TCallOutcome::TKind::Fail:
      fmt::format_to(std::back_inserter(line), " recusada: {}", outcome.Message);
      break;
    case TCallOutcome::TKind::Error:
      fmt::format_to(std::back_inserter(line), " erro: {}", outcome.Message);
      if (!outcome.Detail.empty())
        fmt::format_to(std::back_inserter(line), " ({})", outcome.Detail);
      break;
  }
  return line;
}

TSession::TSession(TSocket socket, TShared& shared, bool counted, std::string refusal)
    : stream_(std::move(socket), shared.Tls.get()),
      timer_(stream_.Socket().get_executor()),
      gate_(*this, stream_.Socket().get_executor()),
      shared_(shared),
      counted_(counted),
      refusingSlot_(!refusal.empty()),
      refusal_(std::move(refusal)),
      writer_(*this),
      tls_(*this) {
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

TSession::~TSession() {
  ReleaseBuffered();
  writer_.ReleaseUnsent();
  std::function<void()> lastGone;
  {
    std::lock_guard<std::mutex> lock(shared_.Mutex);
    gate_.LeaveStrangersLocked();
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

void TSession::Start() {
  // The login deadline counts from the accept, the handshake inside it: a connection holds
  // its slot unauthenticated for LoginTimeoutMs at most, however it spends them.
  if (refusal_.empty() && shared_.Registry.Authenticator() != nullptr) gate_.ArmLoginDeadline();
  if (stream_.Encrypted()) {
    tls_.AwaitHandshake();
    return;
  }
  Serve();
}

void TSession::RequestStop() {
  stopping_ = true;
  if (!refusal_.empty() || (!busy_ && decoder_.Buffered() == 0)) Close();
}

void TSession::Serve() {
  if (!refusal_.empty()) ArmTimer(kRefusalWait, "");
  ReadMore();
}

void TSession::ReadMore() {
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

void TSession::OnRead(const asio::error_code& error, size_t count) {
  if (closed_) return;
  if (error) {
    if (error == asio::error::eof && decoder_.Buffered() > 0) {
      // The client finished sending in the middle of a message: tell it, then close.
      writer_.Reply(decoder_.MsgId().value_or(0),
                    refusal_.empty()
                        ? "Requisição truncada: a conexão terminou no meio da mensagem."
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

void TSession::ProcessBuffered() {
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
        writer_.Reply(msgid, refusal_, true);
      }
      return;
    }
    if (!HoldBuffered()) {
      Metrics().Refused(TRefusalReason::PendingBytes);
      Note("requisição rejeitada: limite de bytes em requisições incompletas",
           TLogPriority::Warning);
      writer_.Reply(
          decoder_.MsgId().value_or(next.Status == TStatus::Call ? next.Request.MsgId : 0),
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
        writer_.Reply(next.MsgId, next.Message, true);
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
          writer_.Reply(next.MsgId, next.Message, true);
          return;
        }
        EncodeErrorResponse(writer_.Response(), next.MsgId, next.Message);
        break;
      case TStatus::Call:
        if (messageTimerArmed_) {
          messageTimerArmed_ = false;
          timer_.cancel();
        }
        if (IAuthenticator* authenticator = shared_.Registry.Authenticator()) {
          if (next.Request.Method == kLoginMethod) {
            if (gate_.StartLogin(*authenticator, next.Request)) return;
            break;
          }
          if (!gate_.Authenticated()) {
            Note(QuoteClientText(next.Request.Method) + " erro: " + kNotAuthenticated);
            EncodeErrorResponse(writer_.Response(), next.Request.MsgId, kNotAuthenticated);
            break;
          }
        }
        // A quick call runs right here unless searches are waiting for a query thread: then
        // it waits in line behind them, so that no call overtakes one that came before it.
        if (shared_.Registry.IsQuick(next.Request.Method) &&
            shared_.QueuedQueries.load(std::memory_order_relaxed) == 0) {
          const auto started = TClock::now();
          const TCallOutcome outcome =
              HandleRequest(shared_.Registry, next.Request, {gate_.Account()}, writer_.Response());
          const double ms = Milliseconds(started);
          Metrics().Call(next.Request.Method, outcome.Kind, ms / 1000);
          Note(LogText(next.Request, outcome, ms), PriorityOf(outcome));
        } else if (RunOnPool(next.Request)) {
          return;
        }
        break;
    }
    if (!writer_.Send(false)) return;
  }
}

bool TSession::HoldBuffered() {
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

void TSession::ReleaseBuffered() {
  if (held_ != 0) shared_.PendingBytes.fetch_sub(held_);
  held_ = 0;
}

double TSession::Milliseconds(TClock::time_point since) {
  return std::chrono::duration<double, std::milli>(TClock::now() - since).count();
}

bool TSession::RunOnPool(TRpcRequest& request) {
  if (shared_.QueuedQueries.fetch_add(1) >= shared_.MaxQueuedQueries.load()) {
    shared_.QueuedQueries.fetch_sub(1);
    Metrics().Busy(TBusyQueue::Queries);
    Note(QuoteClientText(request.Method) + " erro: " + kBusy, TLogPriority::Warning);
    EncodeErrorResponse(writer_.Response(), request.MsgId, kBusy);
    return false;
  }
  busy_ = true;
  auto self = shared_from_this();
  const auto queued = TClock::now();
  const bool isLong = shared_.Registry.IsLong(request.Method);
  auto call = [self, request = std::move(request), queued, isLong,
               context = TCallContext{gate_.Account()}]() mutable {
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
    std::string line = LogText(request, outcome, Milliseconds(started),
                               std::chrono::duration<double, std::milli>(started - queued).count());
    const TLogPriority priority = PriorityOf(outcome);
    if (isLong) {
      {
        std::lock_guard<std::mutex> lock(self->shared_.Mutex);
        --self->shared_.LongRunning;
      }
      self->shared_.StartLongCalls();
    }
    asio::post(self->Executor(),
               [self, response = std::move(response), line = std::move(line), priority]() mutable {
                 self->busy_ = false;
                 if (self->closed_) return;
                 self->Note(line, priority);
                 self->writer_.Response() = std::move(response);
                 if (self->writer_.Send(false)) self->ProcessBuffered();
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

void TSession::ArmTimer(TClock::duration after, std::string why) {
  timer_.expires_after(after);
  timer_.async_wait(
      [self = shared_from_this(), why = std::move(why)](const asio::error_code& error) {
        if (error || self->closed_) return;
        if (!why.empty()) self->Note("conexão encerrada: " + why);
        self->Close();
      });
}

void TSession::Close() {
  if (closed_) return;
  closed_ = true;
  gone_ = true;
  ReleaseBuffered();
  writer_.ReleaseUnsent();
  timer_.cancel();
  gate_.Cancel();
  asio::error_code ignored;
  stream_.Socket().shutdown(TSocket::shutdown_both, ignored);
  stream_.Socket().close(ignored);
}

void TSession::Note(const std::string& text, TLogPriority priority) {
  if (!gate_.Authenticated() && shared_.Registry.Authenticator() != nullptr &&
      !shared_.LogLimit.Allow(addressText_, TClock::now()))
    return;
  LogLine(priority, peer_ + " " + text);
}

}  // namespace app::net
