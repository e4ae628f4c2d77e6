#include "host_app/screenshot.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTableView>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>

#include "framework/host/config.h"
#include "framework/host/services.h"
#include "framework/ui/application.h"
#include "host_app/dialogs.h"
#include "host_app/help_window.h"
#include "host_app/login_dialog.h"
#include "host_app/main_window.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_platform.h"
#include "host_app/qt_widgets.h"
#include "host_app/remote_server.h"
#include "host_app/status_bar.h"

namespace hostapp {

namespace {
// Lets layouts, deferred builds and paints finish.
void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

template <typename T>
T* Named(fw::TForm* form, const char* name) {
  return form ? dynamic_cast<T*>(form->FindComponent(name)) : nullptr;
}

// A port on the loopback address that takes connections and never answers, as a stopped server
// does; -1 when none can be had.
int ListenSilently(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}
}  // namespace

bool SaveWidgetPng(QWidget* widget, const QString& path) {
  if (!widget) return false;
  const QPixmap picture = widget->grab();
  return !picture.isNull() && picture.save(path, "PNG");
}

int RunScreenshotSession(MainWindow& window, const QString& directory) {
  if (!QDir().mkpath(directory)) {
    std::fprintf(stderr, "Não foi possível criar o diretório %s.\n", qPrintable(directory));
    return 1;
  }
  window.Platform().Interactive = false;

  int failures = 0;
  auto save = [&](QWidget* widget, const char* name) {
    Settle();
    const QString path = QDir(directory).filePath(QString::fromUtf8(name));
    if (SaveWidgetPng(widget, path)) {
      std::printf("%s\n", qPrintable(path));
    } else {
      std::fprintf(stderr, "Não foi possível gravar %s.\n", qPrintable(path));
      ++failures;
    }
  };
  // The login dialog as a refused try leaves it.
  {
    LoginDialog login({}, {}, {"demo", "errada"});
    login.show();
    login.ShowFailure(QStringLiteral("Usuário ou senha inválidos."));
    save(&login, "entrar.png");
    login.hide();
  }

  window.Status().SetUser(QString::fromStdString(fw::HostConfig().Credentials.Login));
  window.show();
  Settle();
  if (!window.OpenRequestTracking()) return 1;
  Settle();
  fw::TForm* request = fw::Application ? fw::Application->ActiveForm() : nullptr;
  if (!request) {
    std::fprintf(stderr, "A tela de acompanhamento não foi aberta.\n");
    return 1;
  }

  save(window.Binding().WindowOf(request), "cmp09500-filtro.png");

  // Leaving the filter panel for the branch grid runs the query, level by level.
  if (auto* branches = Named<fw::TDBGrid>(request, "dbgPadrao"))
    fw::Application->UserFocus(branches);
  save(window.Binding().WindowOf(request), "cmp09500-filial.png");

  if (auto* itemsTab = Named<fw::TTabSheet>(request, "tshItens"))
    fw::Application->UserSelectTab(itemsTab);
  save(window.Binding().WindowOf(request), "cmp09500-itens.png");

  auto* items = Named<fw::TDBGrid>(request, "dbgItens");
  if (items && items->RowCount() > 0) {
    // The item screen is modal: it is photographed and closed from inside its own event loop,
    // once its loading is over and it is the active form.
    int attempts = 0;
    std::function<void()> photograph = [&] {
      fw::TForm* item = fw::Application->ActiveForm();
      QWidget* itemWindow = item && item != request ? window.Binding().WindowOf(item) : nullptr;
      if (!item || !item->Modal() || !itemWindow || !itemWindow->isVisible()) {
        if (++attempts < 100) QTimer::singleShot(50, photograph);
        return;
      }
      save(itemWindow, "cmp09501.png");
      // Maximized on the 1280 x 800 display that scripts/run serves.
      const QSize designed = itemWindow->size();
      itemWindow->resize(MainWindow::SizeFor(QSize(1280, 800)));
      save(itemWindow, "cmp09501-maximizada.png");
      itemWindow->resize(designed);
      fw::Application->UserClose(item);
    };
    QTimer::singleShot(0, photograph);
    fw::Application->UserSelectColumn(items, items->ColumnIndex("NRSOLICMP"));
    fw::Application->UserDblClick(items);
    if (attempts >= 100) {
      std::fprintf(stderr, "A tela de itens não foi aberta.\n");
      ++failures;
    }
  } else {
    std::fprintf(stderr, "A consulta não trouxe itens: a tela de itens não foi aberta.\n");
    ++failures;
  }
  save(&window, "host-app.png");

  // The status bar after the query: the records of the grid in view, the user, the server.
  if (auto* branches = Named<fw::TDBGrid>(request, "dbgPadrao")) {
    if (auto* branchesTab = Named<fw::TTabSheet>(request, "tshPadrao"))
      fw::Application->UserSelectTab(branchesTab);
    fw::Application->UserFocus(branches);
  }
  Settle();
  {
    const QRect bar = window.statusBar()->geometry();
    const QRect strip(0, bar.top() - 36, window.width(), window.height() - bar.top() + 36);
    const QString path = QDir(directory).filePath(QStringLiteral("barra-de-status.png"));
    if (window.grab(strip).save(path, "PNG")) {
      std::printf("%s\n", qPrintable(path));
    } else {
      ++failures;
    }
  }

  // The help of the screen, as its help button opens it.
  if (window.Platform().ShowHelp("CMP09500")) {
    save(HelpWindow::Current(), "ajuda.png");
    HelpWindow::Current()->close();
  } else {
    std::fprintf(stderr, "A ajuda não está instalada.\n");
    ++failures;
  }

  // The report's dialog from the print button, with the screen's filter taken.
  if (auto* print = Named<fw::TSpeedButton>(request, "sbtImprimir"); print && print->Enabled()) {
    bool seen = false;
    int tries = 0;
    std::function<void()> photograph = [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || !modal->isVisible()) {
        if (++tries < 100) QTimer::singleShot(50, photograph);
        return;
      }
      for (QPushButton* button : modal->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("Usar o &filtro da tela")) button->click();
      save(modal, "sup00700-dialogo.png");
      seen = true;
      modal->close();
    };
    QTimer::singleShot(0, photograph);
    fw::Application->UserClick(print);
    if (!seen) {
      std::fprintf(stderr, "O diálogo do relatório não foi aberto.\n");
      ++failures;
    }
  }

  // "Procurar" over the items, as F5 opens it (the unattended platform answers no dialog).
  if (auto* rows = Named<fw::TClientDataSet>(request, "cdsItensGrid")) {
    fw::TSearchRequest search;
    search.Columns = fw::SearchColumns(rows, &search.FieldName);
    search.FieldName = "NMDESTSOLI";
    search.Value = "manutencao";
    SearchDialog dialog(search, window.Binding().WindowOf(request));
    dialog.show();
    save(&dialog, "procurar.png");
    dialog.hide();
  }

  // A call to a server that does not answer, until the indicator offers to cancel it.
  int port = 0;
  const int silent = ListenSilently(port);
  if (silent >= 0) {
    QtPlatform& platform = window.Platform();
    auto connect = CancellableServiceFactory(platform);
    // The indicator is up before the connection: a server that takes the connection and never
    // answers hangs its login already, and that is where the offer shows.
    fw::ActiveShowAvi(request, 6);
    bool offered = false;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      BusyOverlay* busy = platform.Busy();
      if (!busy || !busy->CancelOffered()) return;
      poll.stop();
      offered = true;
      save(window.Binding().WindowOf(request), "cancelar.png");
      busy->CancelButton()->click();
    });
    poll.start();
    try {
      std::unique_ptr<fw::IAppServer> server = connect("127.0.0.1", port, "CMP09500.rdmAcompSoli");
      std::vector<fw::TRemoteArg> args;
      server->Invoke("GetFilSoli", args);
    } catch (const std::exception& error) {
      std::printf("%s\n", error.what());
    }
    fw::DeactiveShowAvi();
    if (!offered) ++failures;
    ::close(silent);
  }

  // The items sorted by their delivery date (the arrow on its title), and the titles' menu of
  // the columns over them; then the service's order again.
  if (items && items->DataSet()) {
    if (auto* itemsTab = Named<fw::TTabSheet>(request, "tshItens"))
      fw::Application->UserSelectTab(itemsTab);
    fw::Application->UserTitleClick(items, items->ColumnIndex("DTPROGENTR"));
    save(window.Binding().WindowOf(request), "cmp09500-ordenada.png");
    auto* view = qobject_cast<QTableView*>(window.Binding().WidgetOf(items));
    if (QMenu* menu = view ? window.Binding().ColumnsMenu(items) : nullptr) {
      QHeaderView* titles = view->horizontalHeader();
      const int column = items->ColumnIndex("NMDESTSOLI");
      menu->popup(titles->mapToGlobal(
          QPoint(titles->sectionViewportPosition(column) + 10, titles->height() / 2)));
      Settle();
      // The menu is a window of its own: drawn over the main window's picture (room for the
      // whole menu) where it stands.
      QWidget* screen = &window;
      QPixmap picture = screen->grab();
      QPainter painter(&picture);
      painter.drawPixmap(screen->mapFromGlobal(menu->pos()), menu->grab());
      painter.end();
      const QString path = QDir(directory).filePath(QStringLiteral("colunas.png"));
      if (picture.save(path, "PNG")) {
        std::printf("%s\n", qPrintable(path));
      } else {
        std::fprintf(stderr, "Não foi possível gravar %s.\n", qPrintable(path));
        ++failures;
      }
      menu->close();
    } else {
      ++failures;
    }
    items->DataSet()->SetIndexFields({});
    Settle();
  }

  // The request screen maximized in the main window: the bars at the edges, the grids larger.
  if (auto* sub = qobject_cast<QMdiSubWindow*>(window.Binding().WindowOf(request))) {
    sub->showMaximized();
    save(&window, "cmp09500-maximizada.png");
    sub->showNormal();
  }
  return failures ? 1 : 0;
}

}  // namespace hostapp
