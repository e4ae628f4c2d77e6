#include "host_app/views/view_records.h"

#include <QTabBar>
#include <QTabWidget>
#include <QWidget>

#include "framework/host/host_controls.h"
#include "host_app/conversions.h"
#include "host_app/qt_binding.h"
#include "host_app/views/view_builder.h"

namespace hostapp {

ControlKind KindOf(fw::TControl* control) {
  if (dynamic_cast<fw::TForm*>(control)) return ControlKind::Form;
  if (dynamic_cast<fw::TDBGrid*>(control)) return ControlKind::Grid;
  if (dynamic_cast<fw::TPageControl*>(control)) return ControlKind::PageControl;
  if (dynamic_cast<fw::TTabSheet*>(control)) return ControlKind::TabSheet;
  if (dynamic_cast<fw::TDateEditPlus*>(control)) return ControlKind::DateEdit;
  if (dynamic_cast<fw::TMaskEdit*>(control)) return ControlKind::MaskEdit;
  if (dynamic_cast<fw::TEdit*>(control)) return ControlKind::Edit;
  if (dynamic_cast<fw::TRadioButton*>(control)) return ControlKind::RadioButton;
  if (dynamic_cast<fw::TSpeedButton*>(control)) return ControlKind::Button;
  if (dynamic_cast<fw::TGroupBox*>(control)) return ControlKind::GroupBox;
  if (dynamic_cast<fw::TScrollBox*>(control)) return ControlKind::ScrollBox;
  if (dynamic_cast<fw::TPanel*>(control)) return ControlKind::Panel;
  if (dynamic_cast<fw::TSplitter*>(control)) return ControlKind::Splitter;
  if (dynamic_cast<fw::TLabel*>(control)) return ControlKind::Label;
  if (dynamic_cast<fw::TDBText*>(control)) return ControlKind::DBText;
  if (dynamic_cast<fw::TDBNavigator*>(control)) return ControlKind::Navigator;
  if (dynamic_cast<fw::TWinControl*>(control)) return ControlKind::Container;
  return ControlKind::Plain;
}

const fw::TForm* FormOf(const fw::TComponent* component) {
  for (; component; component = component->Owner())
    if (auto* form = dynamic_cast<const fw::TForm*>(component)) return form;
  return nullptr;
}

QString NameOf(const fw::TComponent* component) {
  return ToQt(component ? component->Name() : std::string());
}

// ---- the records ----

ControlView* ViewRecords::Find(const fw::TComponent* control) const {
  auto found = Controls.find(control);
  return found == Controls.end() ? nullptr : found->second.get();
}

FormView* ViewRecords::FindForm(const fw::TComponent* form) const {
  auto found = Forms.find(form);
  return found == Forms.end() ? nullptr : found->second.get();
}

FormView* ViewRecords::FormOwning(const fw::TComponent* component) const {
  for (; component; component = component->Owner())
    if (FormView* form = FindForm(component)) return form;
  return nullptr;
}

fw::TControl* ViewRecords::ControlAt(const QObject* object) const {
  for (; object; object = object->parent())
    if (ControlView* view = parts_.value(object)) return view->Control;
  return nullptr;
}

ControlView& ViewRecords::Add(std::unique_ptr<ControlView> record, QObject* filter) {
  ControlView& view = *record;
  Controls[view.Control] = std::move(record);
  for (QWidget* part : {view.Widget.data(), view.Host.data(), view.Focus.data()})
    if (part) parts_.insert(part, &view);
  if (view.Focus) {
    focusParts_.insert(view.Focus, &view);
    view.Focus->installEventFilter(filter);
  }
  if (view.Tabs) {
    // When the model puts the focus on a page control (the item screen opens so), Qt's focus
    // goes to the tab bar, the tab widget's focus proxy: its keys are the page control's (Esc,
    // Tab, Ctrl+Tab), or they would reach nothing.
    QWidget* bar = view.Tabs->tabBar();
    parts_.insert(bar, &view);
    focusParts_.insert(bar, &view);
    bar->installEventFilter(filter);
  }
  if (view.Host) {
    hosts_.insert(view.Host, &view);
    view.Host->installEventFilter(filter);
  }
  if (view.Kind == ControlKind::DateEdit) parts_.insert(view.Edit, &view);
  return view;
}

FormView& ViewRecords::AddForm(std::unique_ptr<FormView> record) {
  FormView& form = *record;
  Forms[form.Form] = std::move(record);
  return form;
}

void ViewRecords::Unregister(const ControlView& view) {
  for (auto* hash : {&parts_, &focusParts_, &hosts_}) {
    for (auto it = hash->begin(); it != hash->end();) {
      if (it.value() == &view) {
        it = hash->erase(it);
      } else {
        ++it;
      }
    }
  }
}

void ViewRecords::UnregisterForm(const FormView& form) {
  for (auto* hash : {&parts_, &focusParts_, &hosts_}) {
    for (auto it = hash->begin(); it != hash->end();) {
      if (it.value()->Form == &form) {
        it = hash->erase(it);
      } else {
        ++it;
      }
    }
  }
}

// ---- what every view class reaches through the binding ----

ViewRecords& KindBinding::Records() const {
  return *binding_.records_;
}
QObject* KindBinding::Context() const {
  return &binding_;
}
InputRouter& KindBinding::Router() const {
  return *binding_.router_;
}
FormBinding& KindBinding::Forms() const {
  return *binding_.forms_;
}
MenuBinding& KindBinding::Menus() const {
  return *binding_.menus_;
}
ContainerBinding& KindBinding::Containers() const {
  return *binding_.containers_;
}
EditBinding& KindBinding::Edits() const {
  return *binding_.edits_;
}
ButtonBinding& KindBinding::Buttons() const {
  return *binding_.buttons_;
}
PageBinding& KindBinding::Pages() const {
  return *binding_.pages_;
}
GridBinding& KindBinding::Grids() const {
  return *binding_.grids_;
}
GridColumns& KindBinding::Columns() const {
  return *binding_.columns_;
}
GridCommands& KindBinding::Commands() const {
  return *binding_.commands_;
}

ControlView* KindBinding::Build(fw::TControl* control, FormView* form, QWidget* host) const {
  return binding_.builder_->Build(control, form, host);
}
void KindBinding::BuildChildren(ControlView& view) const {
  binding_.builder_->BuildChildren(view);
}
void KindBinding::RefreshControl(ControlView& view) const {
  binding_.builder_->Refresh(view);
}

}  // namespace hostapp
