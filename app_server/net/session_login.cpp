#include "app_server/net/session.h"

namespace app::net {

void TSession::JoinStrangersLocked(uint64_t number) {
  strangerNumber_ = number;
  shared_.Strangers[address_].emplace(number, weak_from_this());
  ++shared_.StrangerCount;
}

void TSession::Evict() {
  if (closed_ || authenticated_) return;
  Note("conexão encerrada: sem login, vaga cedida a uma nova conexão");
  Close();
}

void TSession::LeaveStrangersLocked() {
  if (strangerNumber_ == 0) return;
  const auto found = shared_.Strangers.find(address_);
  if (found != shared_.Strangers.end() && found->second.erase(strangerNumber_) != 0) {
    --shared_.StrangerCount;
    if (found->second.empty()) shared_.Strangers.erase(found);
  }
  strangerNumber_ = 0;
}

void TSession::ArmLoginDeadline() {
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

bool TSession::StartLogin(IAuthenticator& authenticator, const TRpcRequest& request) {
  if (shared_.QueuedLogins.fetch_add(1) >= shared_.MaxQueuedLogins.load()) {
    shared_.QueuedLogins.fetch_sub(1);
    Metrics().Busy(TBusyQueue::Logins);
    Metrics().Login(TLoginResult::Busy);
    Note(std::string(kLoginMethod) + " erro: " + kBusy, TLogPriority::Warning);
    EncodeErrorResponse(writer_.Response(), request.MsgId, kBusy);
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

void TSession::FinishLogin(uint32_t msgid, TClock::time_point arrived, const TLoginOutcome& outcome,
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
  const std::string took = " (" + std::to_string(static_cast<int>(Milliseconds(arrived))) + " ms)";
  if (!error.empty()) {
    Note(std::string(kLoginMethod) + " erro: " + error +
             (outcome.LogText.empty() ? "" : " (" + outcome.LogText + ")"),
         TLogPriority::Warning);
    EncodeErrorResponse(writer_.Response(), msgid, error);
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
    EncodeLoginResponse(writer_.Response(), msgid, outcome.Login, outcome.Name, outcome.Scope);
    AnswerLogin();
    return;
  }
  EncodeErrorResponse(writer_.Response(), msgid, outcome.Message);
  delayTimer_.expires_at(arrived + std::chrono::milliseconds(shared_.Options.LoginFailureDelayMs));
  delayTimer_.async_wait([self = shared_from_this()](const asio::error_code&) {
    if (self->closed_) {
      self->busy_ = self->loginPending_ = false;
      return;
    }
    self->AnswerLogin();
  });
}

void TSession::AnswerLogin() {
  busy_ = false;
  loginPending_ = false;
  const bool expired = loginExpired_ && !authenticated_;
  if (expired)
    Note("conexão encerrada: sem login em " + std::to_string(shared_.LoginTimeoutMs.load() / 1000) +
         " s");
  if (writer_.Send(expired)) ProcessBuffered();
}

}  // namespace app::net
