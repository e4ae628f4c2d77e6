// The login dialog: a refusal keeps it open with the server's words, a success closes it with
// the credentials, and "Cancelar" ends a check that hangs.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "host_app/login_dialog.h"

namespace hostapp::testing {
namespace {

using namespace std::chrono_literals;

// Serves events until `done` holds or `timeoutMs` passes; whether it holds.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QTest::qWait(10);
  }
  return true;
}

// Runs the dialog until it closes or `timeoutMs` passes; `during` runs once it is shown.
int RunDialog(LoginDialog& dialog, const std::function<void()>& during, int timeoutMs = 5000) {
  QTimer::singleShot(0, &dialog, during);
  QTimer::singleShot(timeoutMs, &dialog, [&] { dialog.done(-1); });
  return dialog.exec();
}

TEST(LoginDialogTest, ARefusalStaysInTheDialogThenASuccessClosesItWithTheCredentials) {
  std::atomic<int> tries{0};
  fw::TCredentials checked;
  LoginDialog dialog(
      [&](const fw::TCredentials& credentials) {
        ++tries;
        checked = credentials;
        if (credentials.Password != "demo") throw fw::ELoginRefused("Usuário ou senha inválidos.");
      },
      [] {}, {"demo", ""});
  EXPECT_EQ(QStringLiteral("demo"), dialog.UserEdit()->text());
  EXPECT_EQ(QLineEdit::Password, dialog.PasswordEdit()->echoMode());
  EXPECT_EQ(QStringLiteral("&Entrar"), dialog.EnterButton()->text());

  const int result = RunDialog(dialog, [&] {
    QTest::keyClicks(dialog.PasswordEdit(), "errada");
    QTest::keyClick(dialog.PasswordEdit(), Qt::Key_Return);
    // The refusal comes back from the worker: the dialog shows it and stays.
    EXPECT_TRUE(
        WaitUntil([&] { return dialog.MessageLabel()->text().contains("inválidos"); }, 3000));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.PasswordEdit()->isEnabled());
    dialog.PasswordEdit()->setText(QStringLiteral("demo"));
    QTest::mouseClick(dialog.EnterButton(), Qt::LeftButton);
  });
  EXPECT_EQ(QDialog::Accepted, result);
  EXPECT_EQ(2, tries.load());
  EXPECT_EQ("demo", dialog.Credentials().Login);
  EXPECT_EQ("demo", dialog.Credentials().Password);
  EXPECT_EQ("demo", checked.Password);
}

TEST(LoginDialogTest, CancelDuringAHungCheck_EndsTheCheckAndClosesTheDialog) {
  std::atomic<bool> cancelled{false};
  LoginDialog dialog(
      [&](const fw::TCredentials&) {
        while (!cancelled) std::this_thread::sleep_for(5ms);
        throw fw::ERemoteError("Operação cancelada pelo usuário.");
      },
      [&] { cancelled = true; }, {"demo", "demo"});
  const int result = RunDialog(dialog, [&] {
    QTest::mouseClick(dialog.EnterButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return !dialog.UserEdit()->isEnabled(); }, 1000));
    dialog.reject();
  });
  EXPECT_EQ(QDialog::Rejected, result);
  EXPECT_TRUE(cancelled);
}

}  // namespace
}  // namespace hostapp::testing
