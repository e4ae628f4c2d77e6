// What the host's window tells the user around the screens: the status bar (records of the grid
// in view, user, server), the help window and F1, messages worded for a buyer with the technical
// text behind "Detalhes", and the login dialog's colours.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>
#include <QTextEdit>
#include <atomic>
#include <chrono>
#include <thread>

#include "framework/net/tcp_app_server.h"
#include "host_app/help_window.h"
#include "host_app/login_dialog.h"
#include "host_app/message_box.h"
#include "host_app/remote_server.h"
#include "host_app/status_bar.h"
#include "test_form.h"

namespace hostapp::testing {
namespace {

using StatusBarTest = BoundTest;

TEST_F(StatusBarTest, AfterEachLoad_TheRecordsOfTheGridInView_OrNoneFound) {
  QStatusBar bar;
  WindowStatus status(&bar);
  TTestForm* form = ShowTestForm();
  const auto records = [&] {
    QApplication::processEvents();
    return status.RecordsLabel()->isVisibleTo(&bar) ? status.RecordsLabel()->text() : QString();
  };
  EXPECT_EQ(QString(), records()) << "a closed grid says nothing";
  form->cdsDados->SetData(Packet(3));
  EXPECT_EQ(QStringLiteral("3 registros"), records());
  form->cdsDados->SetData(Packet(1));
  EXPECT_EQ(QStringLiteral("1 registro"), records());
  form->cdsDados->SetData(Packet(1234));
  EXPECT_EQ(QStringLiteral("1.234 registros"), records());
  // A query that found nothing says so: the user knows it ran.
  form->cdsDados->SetData(Packet(0));
  EXPECT_EQ(QStringLiteral("Nenhum registro encontrado."), records());
  // The other tab has no grid in view; back on the first, its count again.
  form->cdsDados->SetData(Packet(5));
  fw::Application->UserSelectTab(form->tshDois);
  EXPECT_EQ(QString(), records());
  fw::Application->UserSelectTab(form->tshUm);
  EXPECT_EQ(QStringLiteral("5 registros"), records());
  form->cdsDados->Close();
  EXPECT_EQ(QString(), records());

  EXPECT_FALSE(status.UserLabel()->isVisibleTo(&bar));
  status.SetUser(QStringLiteral("demo"));
  EXPECT_EQ(QStringLiteral("Usuário: demo"), status.UserLabel()->text());
  status.SetScope(QStringLiteral("todas as filiais"));
  EXPECT_EQ(QStringLiteral("Usuário: demo · todas as filiais"), status.UserLabel()->text());
  status.SetServer(QStringLiteral("127.0.0.1:7450"), true);
  EXPECT_EQ(QStringLiteral("Servidor: 127.0.0.1:7450 (TLS)"), status.ServerLabel()->text());
  EXPECT_TRUE(status.ServerLabel()->isVisibleTo(&bar));
}

TEST(ServerText, HostAndPort_IPv6InBrackets) {
  EXPECT_EQ("app1:7450", ServerText({"app1", 7450}));
  EXPECT_EQ("[::1]:7451", ServerText({"::1", 7451}));
}

using HelpTest = BoundTest;

// The pages ship beside the host; each screen's opens on its code, links lead between pages,
// and the list of topics follows the page in view.
TEST_F(HelpTest, EachScreensPage_ItsLinks_AndTheTopicsList) {
  ASSERT_FALSE(HelpWindow::Folder().isEmpty()) << "the help pages beside the executable";
  for (const char* topic : {"", "CMP09500", "CMP09501", "SUP00700"})
    EXPECT_FALSE(HelpWindow::PageOf(QString::fromLatin1(topic)).isEmpty()) << topic;
  EXPECT_TRUE(HelpWindow::PageOf(QStringLiteral("CMP99999")).isEmpty());
  EXPECT_FALSE(platform->ShowHelp("CMP99999"));

  ASSERT_TRUE(platform->ShowHelp("CMP09500"));
  HelpWindow* help = HelpWindow::Current();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(QStringLiteral("CMP09500"), help->Topic());
  const QString page = help->Browser()->toPlainText();
  for (const char* part : {"Data de Solicitação", "Status do item", "Aguardando Cotação",
                           "Dt. Concl. Cot.", "F9", "Filtrar"})
    EXPECT_TRUE(page.contains(QString::fromUtf8(part))) << part;
  EXPECT_EQ(1, help->Topics()->currentRow());
  EXPECT_TRUE(help->windowTitle().contains(QStringLiteral("CMP09500")));

  help->Browser()->setSource(QUrl(QStringLiteral("sup00700.html")));
  EXPECT_EQ(QStringLiteral("SUP00700"), help->Topic());
  EXPECT_TRUE(QTest::qWaitFor([&] { return help->Topics()->currentRow() == 3; }, 2000))
      << "the list follows the page";
  help->Topics()->setCurrentRow(2);
  EXPECT_EQ(QStringLiteral("CMP09501"), help->Topic());
  ASSERT_TRUE(platform->ShowHelp("CMP09500"));
  EXPECT_EQ(help, HelpWindow::Current()) << "one help window";
  help->close();
}

// F1 on a screen opens its page: the key is the host's, not the screen's.
TEST_F(HelpTest, F1OnAScreen_OpensThatScreensPage) {
  auto* form = new TTestForm(fw::Application);
  auto* code = form->Create<fw::TLabel>("lblCodTela");
  code->SetParent(form->panTopo);
  code->SetCaption("CMP09501");
  QWidget owner;
  InstallHelpKey(*binding, *platform, &owner);
  form->Show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(binding->WindowOf(form)));
  QApplication::processEvents();
  QWidget* edit = binding->FocusWidgetOf(form->edtNome);
  ASSERT_NE(edit, nullptr);
  edit->setFocus();
  form->Log.clear();
  QTest::keyClick(edit, Qt::Key_F1);
  HelpWindow* help = HelpWindow::Current();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(QStringLiteral("CMP09501"), help->Topic());
  EXPECT_EQ(std::vector<std::string>{}, form->Log) << "the screen's handlers hear nothing of it";
  help->close();
}

// The connection's own failures, as a buyer reads them: what happened and what to do, with the
// technical text kept for support.
TEST(UserMessages, TheConnectionsFailures_WordedForTheUser_TheTextBehindDetails) {
  std::string refused, handshake;
  try {
    fw::TTcpAppServer(std::string("127.0.0.1"), RefusedPort(), std::string("CMP09500.rdmAcompSoli"))
        .Connect();
  } catch (const fw::ERemoteError& error) {
    refused = error.what();
  }
  {
    const StoppedServer silent;
    fw::TTcpAppServer::TOptions options;
    options.Tls = true;
    options.ConnectTimeoutMs = 300;
    try {
      fw::TTcpAppServer("127.0.0.1", silent.Port(), "CMP09500.rdmAcompSoli", options).Connect();
    } catch (const fw::ERemoteError& error) {
      handshake = error.what();
    }
  }
  ASSERT_NE(std::string::npos, handshake.find("tempo esgotado na negociação TLS")) << handshake;
  const TUserMessage late = UserMessage(handshake);
  EXPECT_EQ(QStringLiteral("O servidor não respondeu a tempo. Tente novamente; se persistir, "
                           "avise o suporte."),
            late.Text);
  EXPECT_EQ(QString::fromStdString(handshake), late.Detail);

  ASSERT_NE(std::string::npos, refused.find("conexão recusada")) << refused;
  const TUserMessage away = UserMessage(refused);
  EXPECT_TRUE(away.Text.startsWith(QStringLiteral("Não foi possível falar com o servidor")))
      << away.Text.toStdString();
  EXPECT_EQ(QString::fromStdString(refused), away.Detail);

  const TUserMessage own = UserMessage("Filial deve ser informada.");
  EXPECT_EQ(QStringLiteral("Filial deve ser informada."), own.Text);
  EXPECT_TRUE(own.Detail.isEmpty()) << "a message already the user's has no details";
}

TEST(UserMessages, TheBoxShowsTheDetailOnlyWhenAsked) {
  const TUserMessage message = UserMessage(
      "Não foi possível conectar com segurança ao servidor de aplicação em 10.0.0.5:7450 (tempo "
      "esgotado na negociação TLS após 5 s).");
  MessageBox box(true, message);
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  EXPECT_EQ(QStringLiteral("Atenção"), box.windowTitle());
  EXPECT_EQ(message.Text, box.text());
  ASSERT_NE(box.DetailsButton(), nullptr);
  EXPECT_EQ(QStringLiteral("&Detalhes"), box.DetailsButton()->text());
  auto* detail = box.findChild<QTextEdit*>();
  ASSERT_NE(detail, nullptr);
  EXPECT_FALSE(detail->isVisible());
  box.DetailsButton()->click();
  QApplication::processEvents();
  EXPECT_TRUE(detail->isVisible());
  EXPECT_TRUE(detail->toPlainText().contains(QStringLiteral("negociação TLS após 5 s")));
  EXPECT_EQ(QStringLiteral("Ocultar &detalhes"), box.DetailsButton()->text());
  box.close();

  MessageBox plain(false, UserMessage("Nenhum item de solicitação atende ao filtro."));
  EXPECT_EQ(nullptr, plain.DetailsButton());
  EXPECT_EQ(QStringLiteral("Informação"), plain.windowTitle());
}

using ErrorBoxTest = BoundTest;

TEST_F(ErrorBoxTest, TheErrorDisplay_SaysWhatToDo_AndKeepsTheDetail) {
  platform->Interactive = true;
  QString text, detail;
  OnNextModal([&](QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      text = box->text();
      detail = box->detailedText();
      for (QAbstractButton* button : box->buttons())
        if (button->text() == QStringLiteral("OK")) button->click();
    } else {
      modal->close();
    }
  });
  platform->ShowError(
      "O servidor de aplicação em 127.0.0.1:7450 não respondeu a "
      "CMP09500.rdmAcompSoli.GetItens em 60 s.");
  EXPECT_EQ(QStringLiteral("O servidor não respondeu a tempo. Tente novamente; se persistir, "
                           "avise o suporte."),
            text);
  EXPECT_TRUE(detail.contains(QStringLiteral("GetItens em 60 s")));
}

// "Verificando o acesso…" is work in progress, not a failure: only a failure is red, and a
// connection's failure says what to do, its own words behind "Detalhes".
TEST(LoginDialogColours, CheckingInTheUsualColour_AFailureInRedWithDetails) {
  std::atomic<bool> release{false};
  LoginDialog dialog(
      [&](const fw::TCredentials&) {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        throw fw::ERemoteError(
            "Não foi possível conectar com segurança ao servidor de aplicação em "
            "10.0.0.5:7450 (tempo esgotado na negociação TLS após 5 s).");
      },
      [&] { release = true; }, {"demo", "demo"});
  const QColor normal = dialog.palette().color(QPalette::WindowText);
  QColor checking, failed;
  QString shown;
  bool detailsOffered = false;
  QString detailText;
  QTimer::singleShot(0, &dialog, [&] {
    dialog.accept();
    QApplication::processEvents();
    checking = dialog.MessageLabel()->palette().color(QPalette::WindowText);
    EXPECT_EQ(QStringLiteral("Verificando o acesso…"), dialog.MessageLabel()->text());
    release = true;
    for (int i = 0; i < 300 && !dialog.UserEdit()->isEnabled(); ++i) QTest::qWait(10);
    failed = dialog.MessageLabel()->palette().color(QPalette::WindowText);
    shown = dialog.MessageLabel()->text();
    detailsOffered = dialog.DetailsButton()->isVisible();
    dialog.DetailsButton()->click();
    detailText = dialog.DetailsLabel()->isVisible() ? dialog.DetailsLabel()->text() : QString();
    dialog.done(QDialog::Rejected);
  });
  dialog.exec();
  EXPECT_EQ(normal, checking);
  EXPECT_NE(normal, failed);
  EXPECT_GT(failed.red(), failed.green() + 80) << "red";
  EXPECT_EQ(QStringLiteral("O servidor não respondeu a tempo. Tente novamente; se persistir, "
                           "avise o suporte."),
            shown);
  EXPECT_TRUE(detailsOffered);
  EXPECT_TRUE(detailText.contains(QStringLiteral("10.0.0.5:7450"))) << detailText.toStdString();
}

}  // namespace
}  // namespace hostapp::testing
