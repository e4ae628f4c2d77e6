#include "host_app/login_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "host_app/conversions.h"
#include "host_app/message_box.h"

namespace hostapp {

LoginDialog::LoginDialog(TCheck check, TCancel cancel, const fw::TCredentials& prefill,
                         QWidget* parent)
    : QDialog(parent),
      check_(std::move(check)),
      cancel_(std::move(cancel)),
      user_(new QLineEdit(this)),
      password_(new QLineEdit(this)),
      message_(new QLabel(this)),
      detailsButton_(new QPushButton(QStringLiteral("&Detalhes"), this)),
      details_(new QLabel(this)),
      enter_(nullptr),
      cancelButton_(nullptr),
      poll_(new QTimer(this)) {
  setWindowTitle(QStringLiteral("Compras - Entrar"));
  user_->setText(ToQt(prefill.Login));
  user_->setMaxLength(64);
  password_->setText(ToQt(prefill.Password));
  password_->setEchoMode(QLineEdit::Password);

  auto* form = new QFormLayout();
  form->addRow(QStringLiteral("&Usuário:"), user_);
  form->addRow(QStringLiteral("&Senha:"), password_);
  message_->setWordWrap(true);
  message_->hide();
  details_->setWordWrap(true);
  details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  details_->hide();
  detailsButton_->setAutoDefault(false);
  detailsButton_->hide();
  connect(detailsButton_, &QPushButton::clicked, this, [this] {
    details_->setVisible(!details_->isVisible());
    detailsButton_->setText(details_->isVisible() ? QStringLiteral("Ocultar &detalhes")
                                                  : QStringLiteral("&Detalhes"));
  });
  auto* buttons = new QDialogButtonBox(this);
  enter_ = buttons->addButton(QStringLiteral("&Entrar"), QDialogButtonBox::AcceptRole);
  enter_->setDefault(true);
  cancelButton_ = buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  const auto enable = [this] {
    if (!pending_.valid()) enter_->setEnabled(!user_->text().trimmed().isEmpty());
  };
  connect(user_, &QLineEdit::textChanged, this, enable);
  enable();
  connect(poll_, &QTimer::timeout, this, [this] { Poll(); });

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(message_);
  auto* detailsRow = new QHBoxLayout();
  detailsRow->addWidget(detailsButton_);
  detailsRow->addStretch(1);
  layout->addLayout(detailsRow);
  layout->addWidget(details_);
  layout->addWidget(buttons);
  (user_->text().isEmpty() ? user_ : password_)->setFocus();
  setMinimumWidth(340);
}

LoginDialog::~LoginDialog() {
  if (pending_.valid()) {
    if (cancel_) cancel_();
    pending_.wait();
  }
}

fw::TCredentials LoginDialog::Credentials() const {
  return {FromQt(user_->text().trimmed()), FromQt(password_->text())};
}

void LoginDialog::ShowFailure(const QString& text) {
  // A failure in red; what to do, with the connection's own words behind "Detalhes".
  const TUserMessage worded = UserMessage(FromQt(text));
  QPalette alert = message_->palette();
  alert.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x20));
  message_->setPalette(alert);
  message_->setText(worded.Text);
  message_->show();
  details_->setText(worded.Detail);
  details_->hide();
  detailsButton_->setText(QStringLiteral("&Detalhes"));
  detailsButton_->setVisible(!worded.Detail.isEmpty());
  password_->setFocus();
  password_->selectAll();
}

void LoginDialog::SetChecking(bool checking) {
  user_->setEnabled(!checking);
  password_->setEnabled(!checking);
  enter_->setEnabled(!checking);
  if (checking) {
    // Work in progress, not a failure: the dialog's own text colour.
    message_->setPalette(palette());
    message_->setText(QStringLiteral("Verificando o acesso…"));
    message_->show();
    detailsButton_->hide();
    details_->hide();
  }
}

void LoginDialog::accept() {
  if (pending_.valid() || user_->text().trimmed().isEmpty()) return;
  if (!check_) {
    QDialog::accept();
    return;
  }
  SetChecking(true);
  pending_ = std::async(std::launch::async, [check = check_, credentials = Credentials()] {
    try {
      check(credentials);
      return std::string();
    } catch (const std::exception& failure) {
      const std::string text = failure.what();
      return text.empty() ? std::string("Acesso recusado.") : text;
    }
  });
  poll_->start(20);
}

void LoginDialog::reject() {
  if (pending_.valid()) {
    closing_ = true;
    if (cancel_) cancel_();
    return;  // Poll closes the dialog once the check has ended
  }
  QDialog::reject();
}

void LoginDialog::Poll() {
  if (!pending_.valid() || pending_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
    return;
  poll_->stop();
  const std::string failure = pending_.get();
  SetChecking(false);
  if (closing_) {
    QDialog::reject();
    return;
  }
  if (failure.empty()) {
    message_->hide();
    QDialog::accept();
    return;
  }
  ShowFailure(ToQt(failure));
}

}  // namespace hostapp
