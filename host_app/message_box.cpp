#include "host_app/message_box.h"

#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

#include "host_app/conversions.h"

namespace hostapp {

namespace {
bool Has(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}
bool Starts(const std::string& text, const char* part) {
  return text.rfind(part, 0) == 0;
}
}  // namespace

TUserMessage UserMessage(const std::string& text) {
  const auto worded = [&](const char* sentence) {
    return TUserMessage{QString::fromUtf8(sentence), ToQt(text)};
  };
  // The wording of framework/net (tcp_app_server.cpp, tls_client.cpp, failover_app_server.cpp).
  const bool connecting = Starts(text, "Não foi possível conectar ao servidor de aplicação") ||
                          Starts(text, "Não foi possível conectar com segurança ao servidor") ||
                          Starts(text, "Nenhum servidor de aplicação respondeu");
  if (Has(text, "tempo esgotado") ||
      (Starts(text, "O servidor de aplicação em ") && Has(text, " não respondeu a ")))
    return worded(
        "O servidor não respondeu a tempo. Tente novamente; se persistir, avise o "
        "suporte.");
  if (Starts(text, "Não foi possível conectar com segurança ao servidor") &&
      Has(text, "certificado"))
    return worded(
        "Não foi possível confirmar que o servidor é o da empresa (o certificado dele "
        "não confere). Nada foi enviado. Avise o suporte.");
  if (connecting)
    return worded(
        "Não foi possível falar com o servidor de aplicação. Confira a rede e tente "
        "novamente; se persistir, avise o suporte.");
  if (Starts(text, "A conexão com o servidor de aplicação em ") &&
      Has(text, " foi encerrada durante a chamada"))
    return worded(
        "A conexão com o servidor caiu no meio da consulta. Tente novamente; se "
        "persistir, avise o suporte.");
  if (Starts(text, "Resposta inválida do servidor de aplicação"))
    return worded(
        "O servidor de aplicação respondeu algo que esta versão não entende. Avise o "
        "suporte.");
  return {ToQt(text), {}};
}

MessageBox::MessageBox(bool error, const TUserMessage& message, QWidget* parent)
    : QMessageBox(error ? QMessageBox::Warning : QMessageBox::Information,
                  error ? QStringLiteral("Atenção") : QStringLiteral("Informação"), message.Text,
                  QMessageBox::NoButton, parent) {
  QPushButton* ok = addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  setDefaultButton(ok);
  setEscapeButton(ok);
  if (message.Detail.isEmpty()) return;
  setDetailedText(message.Detail);
  // The box's own button for the detail, worded as the rest of the host.
  for (QPushButton* button : findChildren<QPushButton*>())
    if (button != ok) details_ = button;
  if (!details_) return;
  const auto label = [this] {
    const QTextEdit* text = findChild<QTextEdit*>();
    details_->setText(text && text->isVisible() ? QStringLiteral("Ocultar &detalhes")
                                                : QStringLiteral("&Detalhes"));
  };
  label();
  // After the box's own handling of the click, which words the button its way.
  connect(details_, &QPushButton::clicked, this,
          [this, label] { QTimer::singleShot(0, this, label); });
}

}  // namespace hostapp
