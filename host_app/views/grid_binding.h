// The view class of data-aware grids: a GridView over a GridModel of the grid's rows, the grid's
// options, colours and fonts, the current row and cell, and the sort arrow, from the model. The
// columns as the user arranges them are GridColumns'; the host's own commands (menus, copy,
// exports) GridCommands'.
//
// Raises to the model: UserSelectRow, UserSelectColumn, UserFocus and UserDblClick for a click
// into the cells, UserTitleClick for a click on a title (the screens sort by it).
#pragma once

#include "host_app/views/view_records.h"

class QModelIndex;

namespace hostapp {

class GridBinding : public KindBinding {
 public:
  using KindBinding::KindBinding;

  void Create(ControlView& view, QWidget* host);
  // After the record is kept: the columns as the user left them, the rows.
  void Built(ControlView& view);
  // Sets the grid's view from the model; `reload` reads the rows anew (else only when the data
  // set, the columns or the count of rows changed).
  void RefreshGrid(ControlView& view, bool reload);
  void SyncGridCursor(ControlView& view);
  void SyncSortIndicator(ControlView& view);
  // A field's mask or format changed: what the cells of its data set show.
  void FieldChanged(const fw::TField* field);

  // A click into the cells (or on the grid off them: an invalid index).
  void CellClicked(fw::TControl* grid, const QModelIndex& index, bool doubleClick);

 private:
  void TitleClicked(fw::TControl* grid, int column);
};

}  // namespace hostapp
