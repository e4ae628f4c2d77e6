#include "app_server/net/session_login.h"

#include "app_server/net/session.h"

namespace app::net {

TLoginGate::TLoginGate(TSession& session, const asio::any_io_executor& executor)
    : session_(session), loginTimer_(executor), delayTimer_(executor) {}

void TLoginGate::JoinStrangersLocked(uint64_t number) {
  strangerNumber_ = number;
  session_.shared_.Strangers[session_.address_].emplace(number, session_.weak_from_this());
  ++session_.shared_.StrangerCount;
}

void TLoginGate::Evict() {
  if (session_.closed_ || authenticated_) return;
  session_.Note("conexão encerrada: sem login, vaga cedida a uma nova conexão");
  session_.Close();
}

void TLoginGate::LeaveStrangersLocked() {
  if (strangerNumber_ == 0) return;
  TShared& shared = session_.shared_;
  const auto found = shared.Strangers.find(session_.address_);
  if (found != shared.Strangers.end() && found->second.erase(strangerNumber_) != 0) {
    --shared.StrangerCount;
    if (found->second.empty()) shared.Strangers.erase(found);
  }
  strangerNumber_ = 0;
}

void TLoginGate::ArmLoginDeadline() {
  loginTimer_.expires_after(std::chrono::milliseconds(session_.shared_.LoginTimeoutMs.load()));
  loginTimer_.async_wait([self = session_.shared_from_this()](const asio::error_code& error) {
    TLoginGate& gate = self->gate_;
    if (error || self->closed_ || gate.authenticated_) return;
    gate.loginExpired_ = true;
    if (gate.loginPending_) return;
    self->Note("conexão encerrada: sem login em " +
               std::to_string(self->shared_.LoginTimeoutMs.load() / 1000) + " s");
    self->Close();
  });
}

bool TLoginGate::StartLogin(IAuthenticator& authenticator, const TRpcRequest& request) {
  TShared& shared = session_.shared_;
  if (shared.QueuedLogins.fetch_add(1) >= shared.MaxQueuedLogins.load()) {
    shared.QueuedLogins.fetch_sub(1);
    Metrics().Busy(TBusyQueue::Logins);
    Metrics().Login(TLoginResult::Busy);
    session_.Note(std::string(kLoginMethod) + " erro: " + kBusy, TLogPriority::Warning);
    EncodeErrorResponse(session_.writer_.Response(), request.MsgId, kBusy);
    return false;
  }
  session_.busy_ = true;
  loginPending_ = true;
  auto self = session_.shared_from_this();
  const auto arrived = TClock::now();
  asio::post(shared.Logins,
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
                 self->gate_.FinishLogin(msgid, arrived, outcome, error);
               });
             });
  return true;
}

void TLoginGate::FinishLogin(uint32_t msgid, TClock::time_point arrived,
                             const TLoginOutcome& outcome, const std::string& error) {
  Metrics().Login(!error.empty()                            ? TLoginResult::Failed
                  : outcome.Accepted                        ? TLoginResult::Accepted
                  : outcome.Message == kLockedToKnownPlaces ? TLoginResult::Locked
                  : outcome.Message == kTooManyAttempts     ? TLoginResult::Delayed
                                                            : TLoginResult::Refused);
  if (session_.closed_) {
    session_.busy_ = loginPending_ = false;
    return;
  }
  std::string& response = session_.writer_.Response();
  const std::string took =
      " (" + std::to_string(static_cast<int>(TSession::Milliseconds(arrived))) + " ms)";
  if (!error.empty()) {
    session_.Note(std::string(kLoginMethod) + " erro: " + error +
                      (outcome.LogText.empty() ? "" : " (" + outcome.LogText + ")"),
                  TLogPriority::Warning);
    EncodeErrorResponse(response, msgid, error);
    AnswerLogin();
    return;
  }
  session_.Note(std::string(kLoginMethod) + " " + outcome.LogText + took);
  if (outcome.Accepted) {
    authenticated_ = true;
    {
      std::lock_guard<std::mutex> lock(session_.shared_.Mutex);
      LeaveStrangersLocked();
    }
    login_ = outcome.Login;
    loginTimer_.cancel();
    EncodeLoginResponse(response, msgid, outcome.Login, outcome.Name, outcome.Scope);
    AnswerLogin();
    return;
  }
  EncodeErrorResponse(response, msgid, outcome.Message);
  delayTimer_.expires_at(arrived +
                         std::chrono::milliseconds(session_.shared_.Options.LoginFailureDelayMs));
  delayTimer_.async_wait([self = session_.shared_from_this()](const asio::error_code&) {
    if (self->closed_) {
      self->busy_ = self->gate_.loginPending_ = false;
      return;
    }
    self->gate_.AnswerLogin();
  });
}

void TLoginGate::AnswerLogin() {
  session_.busy_ = false;
  loginPending_ = false;
  const bool expired = loginExpired_ && !authenticated_;
  if (expired)
    session_.Note("conexão encerrada: sem login em " +
                  std::to_string(session_.shared_.LoginTimeoutMs.load() / 1000) + " s");
  if (session_.writer_.Send(expired)) session_.ProcessBuffered();
}

void TLoginGate::Cancel() {
  loginTimer_.cancel();
  delayTimer_.cancel();
}

}  // namespace app::net
