// The host's own commands on every grid: the context menu, Ctrl+C and the exports to .xlsx and
// CSV (grid_export). They read the rows as the grid shows them and send the model nothing.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QProgressDialog>

#include "framework/platform.h"
#include "framework/ui/application.h"
#include "framework/ui/dbcontrols.h"
#include "framework/ui/forms.h"
#include "grid_export/grid_export.h"
#include "host_app/conversions.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_widgets.h"

namespace hostapp {

namespace {

void ShowError(const std::string& text) {
  if (fw::Application && fw::Application->Platform()) fw::Application->Platform()->ShowError(text);
}

// What the grid shows: the tab it sits on ("Itens"), else its form's caption.
QString SuggestedName(const fw::TDBGrid* grid) {
  std::string name;
  for (const fw::TWinControl* parent = grid->Parent(); parent; parent = parent->Parent())
    if (const auto* page = dynamic_cast<const fw::TTabSheet*>(parent)) {
      name = page->Caption();
      break;
    }
  const fw::TForm* form = grid->Form();
  if (form && !form->Caption().empty())
    name = name.empty() ? form->Caption() : form->Caption() + " - " + name;
  QString shown = ToQt(name.empty() ? grid->Name() : name).remove(QLatin1Char('&'));
  shown.replace(QLatin1Char('/'), QLatin1Char('-'));
  return shown.isEmpty() ? QStringLiteral("grade") : shown;
}

QString& LastFolder() {
  static QString folder = QDir::homePath();
  return folder;
}

}  // namespace

QMenu* QtBinding::GridMenu(fw::TControl* control) {
  auto* grid = dynamic_cast<fw::TDBGrid*>(control);
  ControlView* view = Find(control);
  if (!grid || !view || !view->View) return nullptr;
  auto* menu = new QMenu(view->View);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  const bool rows = grid->RowCount() > 0;
  const bool rowSelect = (grid->Options & fw::dgRowSelect) != 0;
  QAction* copy = menu->addAction(rowSelect ? QStringLiteral("&Copiar linha")
                                            : QStringLiteral("&Copiar célula"));
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(rows && grid->CurrentRow() >= 0);
  QAction* copyAll = menu->addAction(QStringLiteral("Copiar &todas as linhas"));
  copyAll->setEnabled(rows);
  menu->addSeparator();
  QAction* excel = menu->addAction(QStringLiteral("Exportar para &Excel…"));
  QAction* csv = menu->addAction(QStringLiteral("Exportar C&SV…"));
  excel->setEnabled(rows);
  csv->setEnabled(rows);
  const fw::TControl* key = control;
  connect(copy, &QAction::triggered, this, [this, key] {
    if (ControlView* still = Find(key)) CopyGrid(static_cast<fw::TDBGrid*>(still->Control), false);
  });
  connect(copyAll, &QAction::triggered, this, [this, key] {
    if (ControlView* still = Find(key)) CopyGrid(static_cast<fw::TDBGrid*>(still->Control), true);
  });
  connect(excel, &QAction::triggered, this,
          [this, key] { ChooseAndExport(const_cast<fw::TControl*>(key), true); });
  connect(csv, &QAction::triggered, this,
          [this, key] { ChooseAndExport(const_cast<fw::TControl*>(key), false); });
  return menu;
}

void QtBinding::GridMenuRequested(fw::TControl* control, const QPoint& globalPos) {
  if (!Find(control) || InRemoteCall()) return;
  // A focus move made just before reaches the model first, as with every user event: the menu
  // then offers the rows as they are after it.
  FlushPendingFocus();
  if (QMenu* menu = GridMenu(control)) menu->popup(globalPos);
}

void QtBinding::CopyGrid(const fw::TDBGrid* grid, bool allRows) {
  if (!grid || !Find(grid) || grid->RowCount() == 0) return;
  QString text;
  if (allRows) {
    text = ToQt(gridexport::TabSeparated(gridexport::TGridSource(*grid), true));
  } else if (grid->CurrentRow() < 0) {
    return;
  } else if (grid->Options & fw::dgRowSelect) {
    text =
        ToQt(gridexport::TabSeparated(gridexport::TGridSource(*grid, {grid->CurrentRow()}), true));
  } else {
    text = ToQt(grid->CellText(grid->CurrentRow(), std::max(grid->SelectedIndex(), 0)));
  }
  QApplication::clipboard()->setText(text);
}

void QtBinding::ChooseAndExport(fw::TControl* control, bool spreadsheet) {
  auto* grid = dynamic_cast<fw::TDBGrid*>(control);
  if (!grid || !Find(grid) || InRemoteCall()) return;
  const QString suggested =
      SuggestedName(grid) + (spreadsheet ? QStringLiteral(".xlsx") : QStringLiteral(".csv"));
  const QString filter = spreadsheet ? QStringLiteral("Planilha do Excel (*.xlsx)")
                                     : QStringLiteral("CSV separado por ponto e vírgula (*.csv)");
  QString path;
  if (ChooseExportPath) {
    path = ChooseExportPath(suggested, filter);
  } else {
    path = QFileDialog::getSaveFileName(
        QApplication::activeWindow(),
        spreadsheet ? QStringLiteral("Exportar para Excel") : QStringLiteral("Exportar CSV"),
        QDir(LastFolder()).filePath(suggested), filter);
  }
  if (path.isEmpty() || !Find(grid)) return;
  const QString extension = spreadsheet ? QStringLiteral(".xlsx") : QStringLiteral(".csv");
  if (!path.endsWith(extension, Qt::CaseInsensitive)) path += extension;
  LastFolder() = QFileInfo(path).absolutePath();
  ExportGrid(grid, path);
}

bool QtBinding::ExportGrid(const fw::TDBGrid* grid, const QString& path) {
  ControlView* view = grid ? Find(grid) : nullptr;
  if (!view) return false;
  gridexport::TGridSource source(*grid);
  // The widths as the view shows them, a width the user dragged included.
  if (view->View)
    for (int column = 0; column < grid->ColumnCount(); ++column)
      source.SetWidth(column, view->View->horizontalHeader()->sectionSize(column));

  // The box shows itself once the work looks like taking over half a second; while it is up,
  // input goes to it alone, so the rows cannot change underneath.
  QProgressDialog progress(QStringLiteral("Exportando %1…").arg(QFileInfo(path).fileName()),
                           QStringLiteral("Cancelar"), 0, std::max(source.RowCount(), 1),
                           view->View ? view->View->window() : nullptr);
  progress.setWindowTitle(QStringLiteral("Exportar"));
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setMinimumDuration(ExportProgressDelayMs);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  progress.setValue(0);
  try {
    const gridexport::TOutcome outcome =
        gridexport::Export(source, path.toStdString(), [&](int done, int) {
          progress.setValue(done);
          QCoreApplication::processEvents();
          return !progress.wasCanceled();
        });
    return outcome == gridexport::TOutcome::Written;
  } catch (const gridexport::EExportError& failure) {
    progress.hide();
    ShowError(failure.what());
    return false;
  }
}

}  // namespace hostapp
