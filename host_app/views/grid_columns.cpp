#include "host_app/views/grid_columns.h"

#include <QHeaderView>
#include <algorithm>

#include "host_app/conversions.h"
#include "host_app/layout_store.h"
#include "host_app/qt_widgets.h"

namespace hostapp {

namespace {
void CollectGrids(fw::TComponent* component, std::vector<fw::TDBGrid*>& grids) {
  for (fw::TComponent* owned : component->Components()) {
    if (auto* grid = dynamic_cast<fw::TDBGrid*>(owned)) grids.push_back(grid);
    CollectGrids(owned, grids);
  }
}
}  // namespace

void GridColumns::ApplyColumns(ControlView& view) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  QHeaderView* header = view.View->horizontalHeader();
  const int count = std::min(grid->ColumnCount(), header->count());
  const auto field = [grid](int column) {
    return grid->Columns[static_cast<size_t>(column)].FieldName;
  };
  // The order kept, names the grid no longer has left out; columns it does not name (new ones)
  // after it, in the designed order.
  std::vector<int> order;
  for (const std::string& name : view.ColumnOrder) {
    const int column = grid->ColumnIndex(name);
    if (column >= 0 && column < count &&
        std::find(order.begin(), order.end(), column) == order.end())
      order.push_back(column);
  }
  for (int column = 0; column < count; ++column)
    if (std::find(order.begin(), order.end(), column) == order.end()) order.push_back(column);
  const auto hidden = [&](int column) {
    return std::find(view.HiddenColumns.begin(), view.HiddenColumns.end(), field(column)) !=
           view.HiddenColumns.end();
  };
  bool anyShown = false;
  for (int column = 0; column < count; ++column) anyShown = anyShown || !hidden(column);
  ++Syncing();
  for (int place = 0; place < count; ++place) {
    const int from = header->visualIndex(order[static_cast<size_t>(place)]);
    if (from != place) header->moveSection(from, place);
  }
  for (int column = 0; column < count; ++column) {
    // The designed width, unless the user has dragged the column wider or narrower.
    const auto dragged = view.UserWidths.find(field(column));
    const bool hide = anyShown && hidden(column);
    if (!hide)
      header->resizeSection(
          column, dragged != view.UserWidths.end() ? dragged->second : grid->ColumnWidth(column));
    header->setSectionHidden(column, hide);
  }
  --Syncing();
  const std::vector<int> shown = ShownColumns(view);
  bool designed = static_cast<int>(shown.size()) == count;
  for (int place = 0; designed && place < count; ++place)
    designed = shown[static_cast<size_t>(place)] == place;
  grid->ViewOrder = designed ? std::vector<int>() : shown;
}

std::vector<int> GridColumns::ShownColumns(const ControlView& view) const {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  std::vector<int> shown;
  if (!view.View) return shown;
  QHeaderView* header = view.View->horizontalHeader();
  for (int place = 0; place < header->count(); ++place) {
    const int column = header->logicalIndex(place);
    if (column >= 0 && column < grid->ColumnCount() && !header->isSectionHidden(column))
      shown.push_back(column);
  }
  return shown;
}

void GridColumns::ColumnsChanged(ControlView& view) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  QHeaderView* header = view.View->horizontalHeader();
  view.ColumnOrder.clear();
  view.HiddenColumns.clear();
  bool moved = false;
  for (int place = 0; place < header->count(); ++place) {
    const int column = header->logicalIndex(place);
    if (column < 0 || column >= grid->ColumnCount()) continue;
    const std::string& name = grid->Columns[static_cast<size_t>(column)].FieldName;
    view.ColumnOrder.push_back(name);
    moved = moved || column != place;
    if (header->isSectionHidden(column)) view.HiddenColumns.push_back(name);
  }
  if (!moved) view.ColumnOrder.clear();
  const std::vector<int> shown = ShownColumns(view);
  grid->ViewOrder = moved || !view.HiddenColumns.empty() ? shown : std::vector<int>();
  SaveGridLayout(view);
}

void GridColumns::WidthDragged(const fw::TControl* key, int column, int width, bool hidden) {
  ControlView* view = Find(key);
  auto* model = view ? static_cast<fw::TDBGrid*>(view->Control) : nullptr;
  if (Syncing() || !model || column < 0 || column >= model->ColumnCount() || width <= 0 || hidden)
    return;
  view->UserWidths[model->Columns[static_cast<size_t>(column)].FieldName] = width;
  SaveGridLayout(*view);
}

void GridColumns::SetColumnHidden(fw::TControl* control, int column, bool hidden) {
  ControlView* view = Find(control);
  auto* grid = dynamic_cast<fw::TDBGrid*>(control);
  if (!view || !view->View || !grid || column < 0 || column >= grid->ColumnCount()) return;
  QHeaderView* header = view->View->horizontalHeader();
  if (header->isSectionHidden(column) == hidden) return;
  if (hidden && ShownColumns(*view).size() <= 1) return;
  ++Syncing();
  header->setSectionHidden(column, hidden);
  if (!hidden) {
    const auto dragged =
        view->UserWidths.find(grid->Columns[static_cast<size_t>(column)].FieldName);
    header->resizeSection(
        column, dragged != view->UserWidths.end() ? dragged->second : grid->ColumnWidth(column));
  }
  --Syncing();
  ColumnsChanged(*view);
}

void GridColumns::RestoreColumns(fw::TControl* control) {
  ControlView* view = Find(control);
  if (!view || !view->View) return;
  view->ColumnOrder.clear();
  view->HiddenColumns.clear();
  view->UserWidths.clear();
  ApplyColumns(*view);
  if (Layouts()) {
    const fw::TForm* form = control->Form();
    Layouts()->ForgetGridColumns(ToQt(form ? form->Name() : std::string()), ToQt(control->Name()));
  }
}

// ---- kept per screen ----

void GridColumns::LoadGridLayout(ControlView& view) {
  if (!Layouts()) return;
  const LayoutStore::Columns stored =
      Layouts()->GridColumns(NameOf(FormOf(view.Control)), NameOf(view.Control));
  // Names the grid no longer has are dropped as the columns are put in place (ApplyColumns).
  view.ColumnOrder.clear();
  for (const QString& field : stored.Order) view.ColumnOrder.push_back(FromQt(field));
  view.HiddenColumns.clear();
  for (const QString& field : stored.Hidden) view.HiddenColumns.push_back(FromQt(field));
  for (auto width = stored.Widths.begin(); width != stored.Widths.end(); ++width)
    view.UserWidths[FromQt(width.key())] = width.value();
}

void GridColumns::SaveGridLayout(const ControlView& view) {
  if (!Layouts()) return;
  LayoutStore::Columns columns;
  for (const std::string& field : view.ColumnOrder) columns.Order << ToQt(field);
  for (const std::string& field : view.HiddenColumns) columns.Hidden << ToQt(field);
  for (const auto& [field, width] : view.UserWidths) columns.Widths.insert(ToQt(field), width);
  Layouts()->SetGridColumns(NameOf(FormOf(view.Control)), NameOf(view.Control), columns);
}

void GridColumns::SaveGridSort(const ControlView& view) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  if (!Layouts() || !grid->DataSet()) return;
  Layouts()->SetGridSort(NameOf(FormOf(grid)), NameOf(grid), grid->DataSet()->IndexFields());
}

void GridColumns::RestoreSorts(fw::TForm* form) {
  if (!Layouts() || !form) return;
  std::vector<fw::TDBGrid*> grids;
  CollectGrids(form, grids);
  for (fw::TDBGrid* grid : grids) {
    fw::TDataSet* dataSet = grid->DataSet();
    if (!dataSet) continue;
    const auto stored = Layouts()->GridSort(NameOf(form), NameOf(grid));
    if (!stored) continue;
    // A field the data set no longer has is left out; the rest keep their places.
    std::vector<fw::TIndexField> fields;
    for (const fw::TIndexField& field : *stored)
      if (dataSet->FindField(field.FieldName)) fields.push_back(field);
    dataSet->SetIndexFields(std::move(fields));
  }
}

}  // namespace hostapp
