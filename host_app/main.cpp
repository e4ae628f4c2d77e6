// host-app: the purchasing host application. Opens the tracking module from its menu.
//
//   host-app [--server HOST:PORT[,HOST:PORT...]] [--localdb FILE] [--screenshot DIR]
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstring>

#include "framework/db/local_query.h"
#include "framework/host/config.h"
#include "framework/ui/application.h"
#include "host_app/conversions.h"
#include "host_app/main_window.h"
#include "host_app/module_loader.h"
#include "host_app/qt_platform.h"
#include "host_app/remote_server.h"
#include "host_app/screenshot.h"

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
}  // namespace

int main(int argc, char* argv[]) {
  // Screenshots are taken without a display unless the caller chose a platform.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--screenshot") == 0 && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
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
  parser.addOptions({server, localDatabase, screenshot});
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
    // Calls run beside the window, which offers to cancel one that takes long.
    config.ServiceFactory =
        hostapp::CancellableServiceFactory(window.Platform(), fw::ConnectionOptions(config));
    if (parser.isSet(screenshot)) {
      status = hostapp::RunScreenshotSession(window, parser.value(screenshot));
    } else {
      window.ShowOnScreen();
      status = QApplication::exec();
    }
    // The forms go first, while the binding still watches them; then the modules unload.
    fw::DoneApplication();
    loader.FinalizeAll();
  }
  return status;
}
