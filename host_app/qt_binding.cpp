#include "host_app/qt_binding.h"

#include <QEventLoop>
#include <QMdiArea>
#include <QTabWidget>

#include "host_app/layout_store.h"
#include "host_app/qt_widgets.h"
#include "host_app/views/button_binding.h"
#include "host_app/views/container_binding.h"
#include "host_app/views/edit_binding.h"
#include "host_app/views/form_binding.h"
#include "host_app/views/grid_binding.h"
#include "host_app/views/grid_columns.h"
#include "host_app/views/grid_commands.h"
#include "host_app/views/input_router.h"
#include "host_app/views/menu_binding.h"
#include "host_app/views/page_binding.h"
#include "host_app/views/view_builder.h"
#include "host_app/views/view_records.h"

namespace hostapp {

QtBinding::QtBinding(QMdiArea* mdiArea, QObject* parent)
    : QObject(parent), records_(std::make_unique<ViewRecords>()) {
  fw::AddModelObserver(this);
  builder_ = std::make_unique<ViewBuilder>(*this);
  router_ = std::make_unique<InputRouter>(*this, mdiArea);
  forms_ = std::make_unique<FormBinding>(*this, mdiArea);
  menus_ = std::make_unique<MenuBinding>(*this);
  containers_ = std::make_unique<ContainerBinding>(*this);
  edits_ = std::make_unique<EditBinding>(*this);
  buttons_ = std::make_unique<ButtonBinding>(*this);
  pages_ = std::make_unique<PageBinding>(*this);
  grids_ = std::make_unique<GridBinding>(*this);
  columns_ = std::make_unique<GridColumns>(*this);
  commands_ = std::make_unique<GridCommands>(*this);
}

QtBinding::~QtBinding() {
  fw::RemoveModelObserver(this);
  for (auto& [key, form] : records_->Forms) {
    if (form->ModalLoop) form->ModalLoop->quit();
    delete form->Window;
    delete form->Root;
  }
}

// ---- the public interface, answered by the records and the view classes ----

void QtBinding::ShowForm(fw::TForm* form) {
  forms_->ShowForm(form);
}
void QtBinding::ShowModal(fw::TForm* form) {
  forms_->ShowModal(form);
}
void QtBinding::HideForm(fw::TForm* form) {
  forms_->HideForm(form);
}
void QtBinding::Repaint(fw::TForm* form) {
  forms_->Repaint(form);
}

QWidget* QtBinding::WidgetOf(const fw::TComponent* control) const {
  ControlView* view = records_->Find(control);
  return view ? view->Widget.data() : nullptr;
}

QWidget* QtBinding::FocusWidgetOf(const fw::TComponent* control) const {
  ControlView* view = records_->Find(control);
  return view ? view->Focus.data() : nullptr;
}

QWidget* QtBinding::WindowOf(const fw::TForm* form) const {
  FormView* view = records_->FindForm(form);
  return view ? view->Window.data() : nullptr;
}

FormRoot* QtBinding::RootOf(const fw::TForm* form) const {
  FormView* view = records_->FindForm(form);
  return view ? view->Root.data() : nullptr;
}

QAction* QtBinding::ActionOf(const fw::TMenuItem* item) const {
  return menus_->ActionOf(item);
}

GridModel* QtBinding::GridModelOf(const fw::TDBGrid* grid) const {
  ControlView* view = records_->Find(grid);
  return view ? view->Model.data() : nullptr;
}

QTabWidget* QtBinding::TabsOf(const fw::TPageControl* pageControl) const {
  ControlView* view = records_->Find(pageControl);
  return view ? view->Tabs.data() : nullptr;
}

fw::TControl* QtBinding::ControlAt(const QObject* object) const {
  return records_->ControlAt(object);
}

fw::TControl* QtBinding::ClickedButton() const {
  return buttons_->ClickedButton();
}

void QtBinding::EnterRemoteCall() {
  router_->EnterRemoteCall();
}
void QtBinding::LeaveRemoteCall() {
  router_->LeaveRemoteCall();
}
bool QtBinding::InRemoteCall() const {
  return router_->InRemoteCall();
}

void QtBinding::CopyGrid(const fw::TDBGrid* grid, bool allRows) {
  commands_->CopyGrid(grid, allRows);
}
bool QtBinding::ExportGrid(const fw::TDBGrid* grid, const QString& path) {
  return commands_->ExportGrid(grid, path);
}
QMenu* QtBinding::GridMenu(fw::TControl* grid) {
  return commands_->GridMenu(grid);
}
QMenu* QtBinding::ColumnsMenu(fw::TControl* grid) {
  return commands_->ColumnsMenu(grid);
}
void QtBinding::SetColumnHidden(fw::TControl* grid, int column, bool hidden) {
  columns_->SetColumnHidden(grid, column, hidden);
}
void QtBinding::RestoreColumns(fw::TControl* grid) {
  columns_->RestoreColumns(grid);
}

void QtBinding::SetLayoutStore(std::shared_ptr<LayoutStore> store) {
  records_->Layouts = std::move(store);
}
LayoutStore* QtBinding::Layouts() const {
  return records_->Layouts.get();
}
void QtBinding::RestoreSorts(fw::TForm* form) {
  columns_->RestoreSorts(form);
}

void QtBinding::ModelChanged(fw::TComponent* component, fw::TChange change) {
  switch (change) {
    case fw::TChange::Destroyed:
      builder_->Forget(component);
      break;
    case fw::TChange::Property:
      builder_->PropertyChanged(component);
      break;
    case fw::TChange::Rows:
    case fw::TChange::Cursor:
      builder_->DataChanged(component, change);
      break;
    case fw::TChange::Focus:
      forms_->FocusChanged(component);
      break;
    case fw::TChange::FormShown:
    case fw::TChange::FormClosed:
      // The platform's ShowForm, ShowModal and HideForm do the work.
      break;
  }
}

}  // namespace hostapp
