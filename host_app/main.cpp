// host-app: the purchasing host application. Opens the tracking module from its menu.
//
//   host-app [--server HOST:PORT[,HOST:PORT...]] [--localdb FILE] [--user LOGIN]
//            [--password PASSWORD] [--screenshot DIR]
//   host-app --relatorio SUP00700 --de dd/mm/aaaa --ate dd/mm/aaaa --pdf FILE
//            [--filiais 0001,0003] [--situacoes A,D] [--data-base dd/mm/aaaa] [--previa PNG]
//
// At start the login dialog asks for the user and password (--user and --password only fill it
// in, as scripts/run does for the demo), unless $ACOMP_USUARIO and $ACOMP_SENHA are both set:
// then nothing is asked and every connection logs in with them.
//
// The second form writes a report without a window (a scheduled report) and exits: 0 when the
// file was written, 1 when it was not (the reason on stderr), 2 for a bad command line. It logs
// in with $ACOMP_USUARIO and $ACOMP_SENHA.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "framework/db/local_query.h"
#include "framework/host/config.h"
#include "framework/net/failover_app_server.h"
#include "framework/ui/application.h"
#include "host_app/conversions.h"
#include "host_app/layout_store.h"
#include "host_app/login_dialog.h"
#include "host_app/main_window.h"
#include "host_app/module_loader.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_platform.h"
#include "host_app/remote_server.h"
#include "host_app/screenshot.h"
#include "host_app/status_bar.h"

namespace {
// "HOST:PORT" or a list "host1:7450,host2:7450", each entry with its port.
bool ParseServer(const QString& text, std::string& host, int& port) {
  try {
    const auto servers = fw::ParseServerList(text.toStdString(), 0);
    host = text.toStdString();
    port = servers.front().Port;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// The login dialog, checking each try against the configured servers, over the same transport
// (TLS or not) as the screens' connections; `scope` gets what the account reads. False when the
// user cancels.
bool AskLogin(const fw::TCredentials& prefill, fw::TAccountScope& scope) {
  fw::THostConfig& config = fw::HostConfig();
  std::unique_ptr<fw::TFailoverAppServer> probe;
  try {
    probe = std::make_unique<fw::TFailoverAppServer>(
        fw::ParseServerList(config.ServerHost, config.ServerPort), std::string(),
        fw::ConnectionOptions(config));
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "host-app: %s\n", failure.what());
    return false;
  }
  fw::TFailoverAppServer* client = probe.get();
  hostapp::LoginDialog dialog(
      [client](const fw::TCredentials& credentials) {
        client->SetCredentials(credentials);
        client->Connect();
      },
      [client] { client->Cancel(); }, prefill);
  if (dialog.exec() != QDialog::Accepted) return false;
  config.Credentials = dialog.Credentials();
  scope = client->Scope();
  return true;
}
}  // namespace

int main(int argc, char* argv[]) {
  // Screenshots and reports are made without a display unless the caller chose a platform.
  for (int i = 1; i < argc; ++i)
    if ((std::strcmp(argv[i], "--screenshot") == 0 || std::strcmp(argv[i], "--relatorio") == 0) &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
      qputenv("QT_QPA_PLATFORM", "offscreen");

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("host-app"));
  hostapp::InstallPortugueseTexts();
  // The screens were laid out for a narrow 8-point face; a condensed face keeps their designed
  // widths readable where it is installed (the grids take a size of their own, GridFont).
  QFont font(hostapp::HostFaceFamily(QApplication::font()));
  font.setPixelSize(11);
  QApplication::setFont(font);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Compras: aplicação hospedeira dos módulos."));
  parser.addHelpOption();
  const QCommandLineOption server(
      QStringLiteral("server"),
      QStringLiteral("Servidores de aplicação, HOST:PORTA[,HOST:PORTA...]."),
      QStringLiteral("HOST:PORT"));
  const QCommandLineOption localDatabase(QStringLiteral("localdb"),
                                         QStringLiteral("Banco de dados local (SQLite)."),
                                         QStringLiteral("FILE"));
  const QCommandLineOption screenshot(
      QStringLiteral("screenshot"),
      QStringLiteral(
          "Abre a tela, faz uma consulta, grava as telas em PNG no diretório e termina."),
      QStringLiteral("DIR"));
  const QCommandLineOption user(QStringLiteral("user"),
                                QStringLiteral("Usuário sugerido no diálogo de entrada."),
                                QStringLiteral("LOGIN"));
  const QCommandLineOption password(
      QStringLiteral("password"),
      QStringLiteral("Senha sugerida no diálogo de entrada (só para a demonstração: outros "
                     "usuários da máquina podem ler a linha de comando)."),
      QStringLiteral("SENHA"));
  parser.addOptions({server, localDatabase, user, password, screenshot});
  const QCommandLineOption report(
      QStringLiteral("relatorio"),
      QStringLiteral("Gera o relatório do módulo sem janela (SUP00700) e termina."),
      QStringLiteral("MODULO"));
  // The report's own options, passed to the module as they are.
  const std::vector<std::pair<QString, QString>> reportOptions = {
      {QStringLiteral("de"), QStringLiteral("Primeiro dia do período (dd/mm/aaaa).")},
      {QStringLiteral("ate"), QStringLiteral("Último dia do período (dd/mm/aaaa).")},
      {QStringLiteral("pdf"), QStringLiteral("Arquivo PDF a gravar.")},
      {QStringLiteral("filiais"), QStringLiteral("Filiais solicitantes (0001,0003); todas.")},
      {QStringLiteral("situacoes"), QStringLiteral("Situações dos itens (A,D,2); todas.")},
      {QStringLiteral("data-base"), QStringLiteral("Dia dos dias parados e atrasos; hoje.")},
      {QStringLiteral("previa"), QStringLiteral("Imagem PNG da visualização do relatório.")},
  };
  parser.addOption(report);
  for (const auto& [name, description] : reportOptions)
    parser.addOption(QCommandLineOption(name, description, QStringLiteral("VALOR")));
  parser.process(app);

  fw::LoadHostConfig();
  fw::THostConfig& config = fw::HostConfig();
  if (parser.isSet(server) &&
      !ParseServer(parser.value(server), config.ServerHost, config.ServerPort)) {
    std::fprintf(stderr, "host-app: --server espera HOST:PORTA[,HOST:PORTA...], recebeu '%s'.\n",
                 qPrintable(parser.value(server)));
    return 2;
  }
  if (parser.isSet(localDatabase)) {
    config.LocalDatabase = parser.value(localDatabase).toStdString();
    fw::TLocalDatabase::Instance().SetPath(config.LocalDatabase);
  }

  int status = 0;
  {
    hostapp::ModuleLoader loader(hostapp::ModuleLoader::DefaultLibraryDirectory());
    hostapp::MainWindow window(loader);
    // Calls run beside the window, which offers to cancel one that takes long. Every login
    // tells the status bar what the account reads; every connection, which server it reached.
    hostapp::WindowStatus& bar = window.Status();
    config.ServiceFactory = hostapp::CancellableServiceFactory(
        window.Platform(), fw::ConnectionOptions(config),
        [&window](const fw::TAccountScope& scope) {
          window.SetAccount(fw::HostConfig().Credentials.Login, scope);
        },
        [&bar, secure = config.Tls](const std::string& address) {
          bar.SetServer(QString::fromStdString(address), secure);
        });
    try {
      bar.SetServer(QString::fromStdString(hostapp::ServerText(
                        fw::ParseServerList(config.ServerHost, config.ServerPort).front())),
                    config.Tls);
    } catch (const std::exception&) {
      // A list that does not read is said at the first connection.
    }
    fw::TAccountScope scope;
    if (parser.isSet(report)) {
      // No window: messages go to stderr and nothing waits for a user.
      window.Platform().Interactive = false;
      std::vector<std::pair<std::string, std::string>> options;
      for (const auto& [name, description] : reportOptions)
        if (parser.isSet(name))
          options.emplace_back(name.toStdString(), parser.value(name).toStdString());
      const hostapp::ModuleLoader::Result result =
          loader.RunReport(parser.value(report).toStdString(), options);
      const bool written = result.Outcome == hostapp::ModuleLoader::Status::Started;
      std::fprintf(written ? stdout : stderr, "host-app: %s\n", result.Message.c_str());
      status = written ? 0 : 1;
    } else if (parser.isSet(screenshot)) {
      status = hostapp::RunScreenshotSession(window, parser.value(screenshot));
    } else if (!config.HasCredentials() && !AskLogin({hostapp::FromQt(parser.value(user)),
                                                      hostapp::FromQt(parser.value(password))},
                                                     scope)) {
      status = 0;  // the user cancelled: nothing opened
    } else {
      window.SetAccount(config.Credentials.Login, scope);
      // What the user arranges on the screens is kept for the next time, per login
      // (~/.config/acomp/telas.ini); the unattended sessions above keep to the design.
      window.Binding().SetLayoutStore(std::make_shared<hostapp::LayoutStore>());
      window.ShowOnScreen();
      if (scope.ReadsNothing()) window.Platform().ShowMessage(fw::kNoBranchAccess);
      status = QApplication::exec();
    }
    // The forms go first, while the binding still watches them; then the modules unload.
    fw::DoneApplication();
    loader.FinalizeAll();
  }
  return status;
}
