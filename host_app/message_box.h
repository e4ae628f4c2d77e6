// Messages a buyer can act on. The framework, the screens and the connection word their failures
// for whoever reads them; a failure of the connection to the server is worded for support ("...
// tempo esgotado na negociação TLS após 5 s"). The host's message box says what happened and
// what to do instead, with the technical text behind "Detalhes", for support.
#pragma once

#include <QMessageBox>
#include <QString>
#include <string>

class QPushButton;

namespace hostapp {

struct TUserMessage {
  QString Text;    // what the box says
  QString Detail;  // the technical text behind "Detalhes"; empty when there is none
};

// The connection's failures, by what the user can do about them:
// - no answer in time (a connect, the TLS handshake or a call that timed out): "O servidor não
//   respondeu a tempo. Tente novamente; se persistir, avise o suporte.";
// - the server out of reach (refused, unreachable, a name not found): "Não foi possível falar
//   com o servidor de aplicação. ...";
// - a server whose identity could not be checked (its certificate): "... avise o suporte.";
// - the connection dropped in the middle of a call, or a reply that makes no sense;
// any other text is already the user's, and stands as it is.
TUserMessage UserMessage(const std::string& text);

// A warning ("Atenção") or information ("Informação") box with "OK" and, for a message with a
// technical detail, "Detalhes", which shows or hides it.
class MessageBox : public QMessageBox {
 public:
  MessageBox(bool error, const TUserMessage& message, QWidget* parent = nullptr);
  // "Detalhes"; nullptr when the message has no detail.
  QPushButton* DetailsButton() const { return details_; }

 private:
  QPushButton* details_ = nullptr;
};

}  // namespace hostapp
