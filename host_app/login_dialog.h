// The login at the host's start: "Usuário", "Senha", "Entrar", "Cancelar". "Entrar" checks the
// credentials against the application server beside the dialog (a worker thread runs the
// check, so the dialog stays painted and "Cancelar" ends a check that hangs); a refusal or a
// server out of reach is shown in the dialog (a refusal in the server's words; a connection that
// failed as what to do, its technical text behind "Detalhes"), and the user tries again.
// Accepted, the credentials are the session's (the host keeps them in its configuration).
#pragma once

#include <QDialog>
#include <functional>
#include <future>
#include <string>

#include "framework/net/tcp_app_server.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace hostapp {

class LoginDialog : public QDialog {
 public:
  // Runs on a worker thread: raises fw::ERemoteError (its message is shown) when the login is
  // not accepted. `cancel` is called from the dialog's thread to end a check in flight.
  using TCheck = std::function<void(const fw::TCredentials&)>;
  using TCancel = std::function<void()>;

  LoginDialog(TCheck check, TCancel cancel, const fw::TCredentials& prefill,
              QWidget* parent = nullptr);
  ~LoginDialog() override;

  fw::TCredentials Credentials() const;
  QLineEdit* UserEdit() const { return user_; }
  QLineEdit* PasswordEdit() const { return password_; }
  QPushButton* EnterButton() const { return enter_; }
  QLabel* MessageLabel() const { return message_; }
  // "Detalhes" of a failure that has a technical text, and that text (hidden until asked).
  QPushButton* DetailsButton() const { return detailsButton_; }
  QLabel* DetailsLabel() const { return details_; }
  // Shows a failure as a check would (for pictures and tests).
  void ShowFailure(const QString& text);

  void accept() override;
  void reject() override;

 private:
  void Poll();
  void SetChecking(bool checking);

  TCheck check_;
  TCancel cancel_;
  QLineEdit* user_;
  QLineEdit* password_;
  QLabel* message_;
  QPushButton* detailsButton_;
  QLabel* details_;
  QPushButton* enter_;
  QPushButton* cancelButton_;
  QTimer* poll_;
  std::future<std::string> pending_;  // the check in flight: its failure, or empty
  bool closing_ = false;              // cancelled while a check was in flight
};

}  // namespace hostapp
