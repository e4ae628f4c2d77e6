// Data-bound controls: the grid, the data-bound text and the navigator.
//
// A grid lists its own columns and shows every listed column whatever the field's visible flag
// says. Its rows are the data set's, in the data set's order (TDataSet::SetIndexFields). A column's
// title is its own where set, else its field's label; a column without a width takes the default
// width of its field: the field's display width (or the title's length, if longer) times the
// average character width, plus a margin. Cells show the field's display text, read through a row
// scope, so painting never moves the cursor.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "framework/data/dataset.h"
#include "framework/ui/controls.h"

namespace fw {

enum TGridOption : unsigned {
  dgEditing = 1u << 0,
  dgAlwaysShowEditor = 1u << 1,
  dgTitles = 1u << 2,
  dgIndicator = 1u << 3,
  dgColumnResize = 1u << 4,
  dgColLines = 1u << 5,
  dgRowLines = 1u << 6,
  dgTabs = 1u << 7,
  dgRowSelect = 1u << 8,
  dgAlwaysShowSelection = 1u << 9,
  dgConfirmDelete = 1u << 10,
  dgCancelOnExit = 1u << 11,
};

struct TColumnDef {
  std::string FieldName;
  std::string Title;  // empty: the field's label
  int Width = -1;     // -1: the field's default width
};

class TDBGrid : public TWinControl {
 public:
  static constexpr int kAverageCharWidth = 7;
  static constexpr int kColumnMargin = 4;

  TDBGrid(TComponent* owner, std::string name);
  ~TDBGrid() override;

  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }

  unsigned Options = dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs |
                     dgConfirmDelete | dgCancelOnExit;
  TBorderStyle BorderStyle = TBorderStyle::bsSingle;
  TFont TitleFont;

  std::vector<TColumnDef> Columns;
  int ColumnCount() const { return static_cast<int>(Columns.size()); }
  // The field of a column; nullptr when the data set lacks it.
  TField* ColumnField(int column) const;
  std::string ColumnTitle(int column) const;
  int ColumnWidth(int column) const;
  int ColumnIndex(std::string_view fieldName) const;  // -1 when not listed

  // The selected column; -1 when none. SelectedField is nullptr when no column is selected.
  int SelectedIndex() const { return selectedIndex_; }
  void SetSelectedIndex(int column);
  TField* SelectedField() const;

  // The columns in the order a view shows them, those it hides left out, when the user moved or
  // hid columns there; empty: every column as designed. Only the keys that go from column to
  // column (Tab, Left, Right, Home, End) follow it: Columns, the selected column and what the
  // screens read stay as designed.
  std::vector<int> ViewOrder;
  // The columns those keys go through: ViewOrder's valid entries, else every column in order.
  std::vector<int> NavigationOrder() const;
  // The next (or previous) column of NavigationOrder after the selected one; -1 past the end.
  // A selected column the view hides counts as being before the first (after the last).
  int NeighbourColumn(bool forward) const;

  // The column whose field orders the data set first (where a view draws the sort arrow); -1
  // when the data set keeps the service's order or its first index field has no column here.
  int SortColumn(bool* descending = nullptr) const;

  // Rows as shown: 0 while the data set is closed.
  int RowCount() const;
  // 0-based current row, -1 when none.
  int CurrentRow() const;
  std::string CellText(int row, int column) const;

 private:
  TDataSource* dataSource_ = nullptr;
  int selectedIndex_ = 0;
};

// Shows one field of the current row.
class TDBText : public TControl {
 public:
  using TControl::TControl;
  TDataSource* DataSource = nullptr;
  std::string DataField;
  bool CanFocus() const override { return false; }
  // The field's display text in the current row; empty while the data set is closed or empty.
  std::string Text() const;
};

// First, prior, next and last buttons over a data source.
class TDBNavigator : public TWinControl {
 public:
  enum class TButton { nbFirst, nbPrior, nbNext, nbLast };
  using TWinControl::TWinControl;
  TDataSource* DataSource = nullptr;
  void BtnClick(TButton button);
};

}  // namespace fw
