#include "host_app/screenshot.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "framework/ui/application.h"
#include "host_app/main_window.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_platform.h"

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
  window.show();
  Settle();
  if (!window.OpenRequestTracking()) return 1;
  Settle();
  fw::TForm* request = fw::Application ? fw::Application->ActiveForm() : nullptr;
  if (!request) {
    std::fprintf(stderr, "A tela de acompanhamento não foi aberta.\n");
    return 1;
  }

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
  return failures ? 1 : 0;
}

}  // namespace hostapp
