// The columns of every grid as the user arranges them in the view: their order, the hidden ones,
// the widths dragged, and the sort, kept per login and screen (layout_store.h) and put back when
// the screen opens. They change the view only: the grid's columns, its data set and what the
// screens read stay as designed (the keys that go from column to column follow the view,
// fw::TDBGrid::ViewOrder).
//
// Raises nothing to the model.
#pragma once

#include <vector>

#include "host_app/views/view_records.h"

namespace hostapp {

class GridColumns : public KindBinding {
 public:
  using KindBinding::KindBinding;

  // Puts the view's columns as the user arranged them (ColumnOrder, HiddenColumns, UserWidths),
  // and tells the grid the order the keys follow.
  void ApplyColumns(ControlView& view);
  // Reads the arrangement back from the view after the user changed it, and keeps it.
  void ColumnsChanged(ControlView& view);
  // The columns the view shows, in its order (what an export and a copy write).
  std::vector<int> ShownColumns(const ControlView& view) const;
  // The user dragged a column's width (`hidden`: the header hid the column).
  void WidthDragged(const fw::TControl* grid, int column, int width, bool hidden);
  // Shows or hides a column of the view (the last one shown stays); puts back the designed
  // columns.
  void SetColumnHidden(fw::TControl* grid, int column, bool hidden);
  void RestoreColumns(fw::TControl* grid);

  // Kept per screen.
  void LoadGridLayout(ControlView& view);
  void SaveGridSort(const ControlView& view);
  // The grids' sort kept for a form, put back before its create handler runs.
  void RestoreSorts(fw::TForm* form);

 private:
  void SaveGridLayout(const ControlView& view);
};

}  // namespace hostapp
