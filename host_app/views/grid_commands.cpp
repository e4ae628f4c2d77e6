#include "host_app/views/grid_commands.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QProgressDialog>

#include "framework/host/services.h"
#include "framework/platform.h"
#include "framework/ui/application.h"
#include "framework/ui/dbcontrols.h"
#include "framework/ui/forms.h"
#include "grid_export/grid_export.h"
#include "host_app/conversions.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_widgets.h"
#include "host_app/views/grid_binding.h"
#include "host_app/views/grid_columns.h"
#include "host_app/views/input_router.h"

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

// A grid's rows with the columns its view shows, in the view's order: what the user sees is
// what a copy or an export writes.
class ViewSource : public gridexport::TExportSource {
 public:
  ViewSource(const gridexport::TGridSource& grid, std::vector<int> shown)
      : grid_(grid), shown_(std::move(shown)) {
    for (int column : shown_) columns_.push_back(grid_.Columns()[static_cast<size_t>(column)]);
  }
  const std::vector<gridexport::TExportColumn>& Columns() const override { return columns_; }
  int RowCount() const override { return grid_.RowCount(); }
  void Row(int index, std::vector<gridexport::TExportCell>& cells) const override {
    grid_.Row(index, all_);
    cells.resize(shown_.size());
    for (size_t i = 0; i < shown_.size(); ++i) cells[i] = all_[static_cast<size_t>(shown_[i])];
  }
  std::string SheetName() const override { return grid_.SheetName(); }

 private:
  const gridexport::TGridSource& grid_;
  std::vector<int> shown_;
  std::vector<gridexport::TExportColumn> columns_;
  mutable std::vector<gridexport::TExportCell> all_;
};

}  // namespace

QMenu* GridCommands::GridMenu(fw::TControl* control) {
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
  QObject::connect(copy, &QAction::triggered, Context(), [this, key] {
    if (ControlView* still = Find(key)) CopyGrid(static_cast<fw::TDBGrid*>(still->Control), false);
  });
  QObject::connect(copyAll, &QAction::triggered, Context(), [this, key] {
    if (ControlView* still = Find(key)) CopyGrid(static_cast<fw::TDBGrid*>(still->Control), true);
  });
  // The export runs once the menu has closed and its handler has returned: its dialog and its
  // progress box process events, and the menu (deleted on close) must not be in use then.
  QObject::connect(
      excel, &QAction::triggered, Context(),
      [this, key] { ChooseAndExport(const_cast<fw::TControl*>(key), true); }, Qt::QueuedConnection);
  QObject::connect(
      csv, &QAction::triggered, Context(),
      [this, key] { ChooseAndExport(const_cast<fw::TControl*>(key), false); },
      Qt::QueuedConnection);
  return menu;
}

QMenu* GridCommands::ColumnsMenu(fw::TControl* control) {
  auto* grid = dynamic_cast<fw::TDBGrid*>(control);
  ControlView* view = Find(control);
  if (!grid || !view || !view->View) return nullptr;
  QHeaderView* header = view->View->horizontalHeader();
  auto* menu = new QMenu(view->View);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  const fw::TControl* key = control;
  const int shownCount = static_cast<int>(Columns().ShownColumns(*view).size());
  for (int place = 0; place < header->count(); ++place) {
    const int column = header->logicalIndex(place);
    if (column < 0 || column >= grid->ColumnCount()) continue;
    QAction* entry = menu->addAction(ToQt(grid->ColumnTitle(column)));
    entry->setCheckable(true);
    const bool shown = !header->isSectionHidden(column);
    entry->setChecked(shown);
    // The last column shown stays: a grid without columns shows nothing to bring them back.
    entry->setEnabled(!shown || shownCount > 1);
    QObject::connect(entry, &QAction::toggled, Context(), [this, key, column](bool checked) {
      Columns().SetColumnHidden(const_cast<fw::TControl*>(key), column, !checked);
    });
  }
  menu->addSeparator();
  QAction* restore = menu->addAction(QStringLiteral("&Restaurar colunas"));
  QObject::connect(restore, &QAction::triggered, Context(),
                   [this, key] { Columns().RestoreColumns(const_cast<fw::TControl*>(key)); });
  QAction* sort = menu->addAction(QStringLiteral("&Ordenar…"));
  sort->setEnabled(grid->DataSet() != nullptr);
  // A dialog: opened once the menu is done with (as the exports of the cells' menu).
  QObject::connect(
      sort, &QAction::triggered, Context(),
      [this, key] { SortDialogRequested(const_cast<fw::TControl*>(key)); }, Qt::QueuedConnection);
  return menu;
}

void GridCommands::SortDialogRequested(fw::TControl* control) {
  auto* grid = dynamic_cast<fw::TDBGrid*>(control);
  if (!grid || !Find(control) || !fw::Application || Router().InRemoteCall() ||
      fw::Application->BlockedByModal(grid->Form()))
    return;
  Router().FlushPendingFocus();
  if (!Find(control)) return;
  fw::Application->Dispatch([grid] { fw::Ordena(grid); });
  if (ControlView* view = Find(control)) {
    Columns().SaveGridSort(*view);
    Grids().SyncSortIndicator(*view);
  }
}

void GridCommands::GridMenuRequested(fw::TControl* control, const QPoint& globalPos,
                                     const QModelIndex& cell, bool byMouse) {
  if (!Find(control) || Router().InRemoteCall()) return;
  auto* grid = static_cast<fw::TDBGrid*>(control);
  if (byMouse) {
    // A right click is a click first: the cell under it becomes current through the model (the
    // screen's after-scroll runs as for a click), so the menu's commands act on that cell. A
    // click the model refused (a check kept the focus elsewhere) opens no menu.
    Grids().CellClicked(control, cell, false);
    if (!Find(control) || grid->Form()->ActiveControl() != grid) return;
    if (cell.isValid() && grid->CurrentRow() != cell.row()) return;
  } else {
    // A focus move made just before reaches the model first, as with every user event: the
    // menu then offers the rows as they are after it.
    Router().FlushPendingFocus();
  }
  if (!Find(control)) return;
  if (QMenu* menu = GridMenu(control)) menu->popup(globalPos);
}

void GridCommands::CopyGrid(const fw::TDBGrid* grid, bool allRows) {
  ControlView* view = grid ? Find(grid) : nullptr;
  if (!view || grid->RowCount() == 0) return;
  const std::vector<int> shown = Columns().ShownColumns(*view);
  QString text;
  if (allRows) {
    const gridexport::TGridSource rows(*grid);
    text = ToQt(gridexport::TabSeparated(ViewSource(rows, shown), true));
  } else if (grid->CurrentRow() < 0) {
    return;
  } else if (grid->Options & fw::dgRowSelect) {
    const gridexport::TGridSource row(*grid, {grid->CurrentRow()});
    text = ToQt(gridexport::TabSeparated(ViewSource(row, shown), true));
  } else {
    text = ToQt(grid->CellText(grid->CurrentRow(), std::max(grid->SelectedIndex(), 0)));
  }
  QApplication::clipboard()->setText(text);
}

void GridCommands::ChooseAndExport(fw::TControl* control, bool spreadsheet) {
  auto* grid = dynamic_cast<fw::TDBGrid*>(control);
  if (!grid || !Find(grid) || Router().InRemoteCall()) return;
  const QString suggested =
      SuggestedName(grid) + (spreadsheet ? QStringLiteral(".xlsx") : QStringLiteral(".csv"));
  const QString filter = spreadsheet ? QStringLiteral("Planilha do Excel (*.xlsx)")
                                     : QStringLiteral("CSV separado por ponto e vírgula (*.csv)");
  QString path;
  if (binding_.ChooseExportPath) {
    path = binding_.ChooseExportPath(suggested, filter);
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

bool GridCommands::ExportGrid(const fw::TDBGrid* grid, const QString& path) {
  ControlView* view = grid ? Find(grid) : nullptr;
  if (!view) return false;
  gridexport::TGridSource all(*grid);
  // The widths as the view shows them, a width the user dragged included; the columns it shows,
  // in its order.
  if (view->View)
    for (int column = 0; column < grid->ColumnCount(); ++column)
      all.SetWidth(column, view->View->horizontalHeader()->sectionSize(column));
  const ViewSource source(all, Columns().ShownColumns(*view));

  // The box shows itself once the work looks like taking over half a second; while it is up,
  // input goes to it alone, so the rows cannot change underneath.
  QProgressDialog progress(QStringLiteral("Exportando %1…").arg(QFileInfo(path).fileName()),
                           QStringLiteral("Cancelar"), 0, std::max(source.RowCount(), 1),
                           view->View ? view->View->window() : nullptr);
  progress.setWindowTitle(QStringLiteral("Exportar"));
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setMinimumDuration(binding_.ExportProgressDelayMs);
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
