#include "framework/ui/dbcontrols.h"

#include <algorithm>

#include "protocol/text.h"

namespace fw {

TDBGrid::TDBGrid(TComponent* owner, std::string name) : TWinControl(owner, std::move(name)) {
  TabStop = true;
}

TDBGrid::~TDBGrid() = default;

void TDBGrid::SetDataSource(TDataSource* source) {
  dataSource_ = source;
  NotifyChange();
}

TField* TDBGrid::ColumnField(int column) const {
  TDataSet* dataSet = DataSet();
  if (!dataSet || column < 0 || column >= ColumnCount()) return nullptr;
  return dataSet->FindField(Columns[column].FieldName);
}

std::string TDBGrid::ColumnTitle(int column) const {
  if (column < 0 || column >= ColumnCount()) return {};
  if (!Columns[column].Title.empty()) return Columns[column].Title;
  if (TField* field = ColumnField(column)) return field->DisplayLabel();
  return Columns[column].FieldName;
}

int TDBGrid::ColumnWidth(int column) const {
  if (column < 0 || column >= ColumnCount()) return 0;
  if (Columns[column].Width >= 0) return Columns[column].Width;
  TField* field = ColumnField(column);
  const int characters = std::max(field ? field->DisplayWidth() : 10,
                                  static_cast<int>(Utf8Count(ColumnTitle(column))));
  return characters * kAverageCharWidth + kColumnMargin;
}

int TDBGrid::ColumnIndex(std::string_view fieldName) const {
  for (int i = 0; i < ColumnCount(); ++i)
    if (Columns[i].FieldName == fieldName) return i;
  return -1;
}

void TDBGrid::SetSelectedIndex(int column) {
  if (column < -1 || column >= ColumnCount()) return;
  if (column == selectedIndex_) return;
  selectedIndex_ = column;
  NotifyChange();
}

TField* TDBGrid::SelectedField() const {
  return ColumnField(selectedIndex_);
}

std::vector<int> TDBGrid::NavigationOrder() const {
  std::vector<int> order;
  for (int column : ViewOrder)
    if (column >= 0 && column < ColumnCount() &&
        std::find(order.begin(), order.end(), column) == order.end())
      order.push_back(column);
  if (order.empty())
    for (int column = 0; column < ColumnCount(); ++column) order.push_back(column);
  return order;
}

int TDBGrid::NeighbourColumn(bool forward) const {
  const std::vector<int> order = NavigationOrder();
  if (order.empty()) return -1;
  const auto found = std::find(order.begin(), order.end(), selectedIndex_);
  if (found == order.end()) return forward ? order.front() : order.back();
  const long place = (found - order.begin()) + (forward ? 1 : -1);
  return place < 0 || place >= static_cast<long>(order.size()) ? -1
                                                               : order[static_cast<size_t>(place)];
}

int TDBGrid::SortColumn(bool* descending) const {
  TDataSet* dataSet = DataSet();
  if (!dataSet || dataSet->IndexFields().empty()) return -1;
  const TIndexField& first = dataSet->IndexFields().front();
  for (int column = 0; column < ColumnCount(); ++column) {
    const TField* field = ColumnField(column);
    if (field && field->FieldName() == first.FieldName) {
      if (descending) *descending = first.Descending;
      return column;
    }
  }
  return -1;
}

int TDBGrid::RowCount() const {
  TDataSet* dataSet = DataSet();
  return dataSet ? dataSet->RecordCount() : 0;
}

int TDBGrid::CurrentRow() const {
  TDataSet* dataSet = DataSet();
  return dataSet && !dataSet->IsEmpty() ? dataSet->RecNo() - 1 : -1;
}

std::string TDBGrid::CellText(int row, int column) const {
  TDataSet* dataSet = DataSet();
  TField* field = ColumnField(column);
  if (!dataSet || !field || row < 0 || row >= dataSet->RecordCount()) return {};
  TDataSet::TRowScope scope(dataSet, static_cast<size_t>(row));
  return field->DisplayText();
}

std::string TDBText::Text() const {
  TDataSet* dataSet = DataSource ? DataSource->DataSet() : nullptr;
  if (!dataSet || dataSet->IsEmpty()) return {};
  TField* field = dataSet->FindField(DataField);
  return field ? field->DisplayText() : std::string();
}

void TDBNavigator::BtnClick(TButton button) {
  TDataSet* dataSet = DataSource ? DataSource->DataSet() : nullptr;
  if (!dataSet || !dataSet->Active()) return;
  switch (button) {
    case TButton::nbFirst:
      dataSet->First();
      break;
    case TButton::nbPrior:
      dataSet->Prior();
      break;
    case TButton::nbNext:
      dataSet->Next();
      break;
    case TButton::nbLast:
      dataSet->Last();
      break;
  }
}

}  // namespace fw
