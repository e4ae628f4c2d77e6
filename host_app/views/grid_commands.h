// The host's own commands on every grid: its context menus (the cells' and the titles'), Ctrl+C
// and the exports to .xlsx and CSV (grid_export), and the sort dialog. They read the rows as the
// grid shows them and never reach the model: no cursor moves, no handler of the screens runs
// (the sort dialog is the framework's own, run through the dispatcher).
//
// Raises to the model only the click a right click on a cell is first (GridBinding::CellClicked).
#pragma once

#include <QString>

#include "host_app/views/view_records.h"

class QMenu;
class QModelIndex;
class QPoint;

namespace hostapp {

class GridCommands : public KindBinding {
 public:
  using KindBinding::KindBinding;

  // Copies to the clipboard (QtBinding::CopyGrid has the rules).
  void CopyGrid(const fw::TDBGrid* grid, bool allRows);
  // Writes the grid to `path` (.xlsx or .csv by the extension), with a progress box.
  bool ExportGrid(const fw::TDBGrid* grid, const QString& path);
  // The menu of a right click on a cell / on the titles (built anew each time).
  QMenu* GridMenu(fw::TControl* grid);
  QMenu* ColumnsMenu(fw::TControl* grid);
  // The user asked for the cells' menu (a right click, or the menu key).
  void GridMenuRequested(fw::TControl* grid, const QPoint& globalPos, const QModelIndex& cell,
                         bool byMouse);

 private:
  void SortDialogRequested(fw::TControl* grid);
  void ChooseAndExport(fw::TControl* grid, bool spreadsheet);
};

}  // namespace hostapp
