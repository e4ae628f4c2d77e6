// Keeping what the user arranged on each screen (LayoutStore): the grids' columns and sort, the
// splitters, the window. Read when a screen is built, written as each change is made, so that
// nothing is lost to a crash or a killed session.
#include <QHeaderView>
#include <QMdiSubWindow>

#include "framework/ui/application.h"
#include "host_app/conversions.h"
#include "host_app/layout_store.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_widgets.h"

namespace hostapp {

namespace {
QString NameOf(const fw::TComponent* component) {
  return ToQt(component ? component->Name() : std::string());
}

// The form a component stands on (a grid's, a data set's).
const fw::TForm* FormOf(const fw::TComponent* component) {
  for (; component; component = component->Owner())
    if (auto* form = dynamic_cast<const fw::TForm*>(component)) return form;
  return nullptr;
}

void CollectGrids(fw::TComponent* component, std::vector<fw::TDBGrid*>& grids) {
  for (fw::TComponent* owned : component->Components()) {
    if (auto* grid = dynamic_cast<fw::TDBGrid*>(owned)) grids.push_back(grid);
    CollectGrids(owned, grids);
  }
}
}  // namespace

void QtBinding::LoadGridLayout(ControlView& view) {
  if (!layouts_) return;
  const LayoutStore::Columns stored =
      layouts_->GridColumns(NameOf(FormOf(view.Control)), NameOf(view.Control));
  // Names the grid no longer has are dropped as the columns are put in place (ApplyColumns).
  view.ColumnOrder.clear();
  for (const QString& field : stored.Order) view.ColumnOrder.push_back(FromQt(field));
  view.HiddenColumns.clear();
  for (const QString& field : stored.Hidden) view.HiddenColumns.push_back(FromQt(field));
  for (auto width = stored.Widths.begin(); width != stored.Widths.end(); ++width)
    view.UserWidths[FromQt(width.key())] = width.value();
}

void QtBinding::SaveGridLayout(const ControlView& view) {
  if (!layouts_) return;
  LayoutStore::Columns columns;
  for (const std::string& field : view.ColumnOrder) columns.Order << ToQt(field);
  for (const std::string& field : view.HiddenColumns) columns.Hidden << ToQt(field);
  for (const auto& [field, width] : view.UserWidths) columns.Widths.insert(ToQt(field), width);
  layouts_->SetGridColumns(NameOf(FormOf(view.Control)), NameOf(view.Control), columns);
}

void QtBinding::SaveGridSort(const ControlView& view) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  if (!layouts_ || !grid->DataSet()) return;
  layouts_->SetGridSort(NameOf(FormOf(grid)), NameOf(grid), grid->DataSet()->IndexFields());
}

void QtBinding::RestoreSorts(fw::TForm* form) {
  if (!layouts_ || !form) return;
  std::vector<fw::TDBGrid*> grids;
  CollectGrids(form, grids);
  for (fw::TDBGrid* grid : grids) {
    fw::TDataSet* dataSet = grid->DataSet();
    if (!dataSet) continue;
    const auto stored = layouts_->GridSort(NameOf(form), NameOf(grid));
    if (!stored) continue;
    // A field the data set no longer has is left out; the rest keep their places.
    std::vector<fw::TIndexField> fields;
    for (const fw::TIndexField& field : *stored)
      if (dataSet->FindField(field.FieldName)) fields.push_back(field);
    dataSet->SetIndexFields(std::move(fields));
  }
}

void QtBinding::LoadFormLayout(FormView& form) {
  if (!layouts_) return;
  const QString name = NameOf(form.Form);
  const QMap<QString, int> splitters = layouts_->Splitters(name);
  for (auto entry = splitters.begin(); entry != splitters.end(); ++entry)
    if (auto* control = dynamic_cast<fw::TControl*>(form.Form->FindComponent(FromQt(entry.key()))))
      userSizes_[control] = entry.value();
}

void QtBinding::SaveFormWindow(FormView& form) {
  if (!layouts_ || !form.Window || !form.Placed) return;
  QWidget* window = form.Window;
  LayoutStore::Window kept;
  kept.Maximized = window->isMaximized();
  kept.Geometry = form.NormalGeometry.isValid() ? form.NormalGeometry : window->geometry();
  layouts_->SetFormWindow(NameOf(form.Form), kept);
}

void QtBinding::SaveSplitter(const fw::TControl* neighbour) {
  auto found = userSizes_.find(neighbour);
  if (!layouts_ || found == userSizes_.end()) return;
  layouts_->SetSplitter(NameOf(FormOf(neighbour)), NameOf(neighbour), found->second);
}

}  // namespace hostapp
