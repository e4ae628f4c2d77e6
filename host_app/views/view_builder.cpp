#include "host_app/views/view_builder.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>

#include "framework/host/host_controls.h"
#include "host_app/conversions.h"
#include "host_app/views/button_binding.h"
#include "host_app/views/container_binding.h"
#include "host_app/views/edit_binding.h"
#include "host_app/views/form_binding.h"
#include "host_app/views/grid_binding.h"
#include "host_app/views/input_router.h"
#include "host_app/views/menu_binding.h"
#include "host_app/views/page_binding.h"
#include "host_app/views/widget_style.h"

namespace hostapp {

// ---- building, by kind ----

ControlView* ViewBuilder::Build(fw::TControl* control, FormView* form, QWidget* host) {
  auto record = std::make_unique<ControlView>();
  record->Control = control;
  record->Kind = KindOf(control);
  record->Form = form;
  record->Parent = control->Parent();
  ControlView& view = *record;
  switch (view.Kind) {
    case ControlKind::Form:
      return nullptr;  // a form inside a form is not something the screens do
    case ControlKind::Edit:
    case ControlKind::MaskEdit:
    case ControlKind::DateEdit:
      Edits().Create(view, host);
      break;
    case ControlKind::RadioButton:
    case ControlKind::Button:
    case ControlKind::Navigator:
      Buttons().Create(view, host);
      break;
    case ControlKind::PageControl:
    case ControlKind::TabSheet:
      Pages().Create(view, host);
      break;
    case ControlKind::Grid:
      Grids().Create(view, host);
      break;
    default:
      Containers().Create(view, host);
      break;
  }
  // Containers take the focus only when the model puts it there, never by a click.
  if (view.Focus && !view.Edit && !view.View && view.Kind != ControlKind::RadioButton)
    view.Focus->setFocusPolicy(Qt::NoFocus);

  ControlView& built = Records().Add(std::move(record), &Router());
  if (built.Kind == ControlKind::Grid) Grids().Built(built);
  if (built.Kind == ControlKind::PageControl) {
    Pages().RefreshTabs(built);
  } else if (built.Host) {
    BuildChildren(built);
  }
  Refresh(built);
  return &built;
}

void ViewBuilder::BuildChildren(ControlView& view) {
  auto* container = dynamic_cast<fw::TWinControl*>(view.Control);
  if (!container || !view.Host) return;
  for (fw::TControl* child : container->Controls()) {
    if (Records().Find(child) || dynamic_cast<fw::TTabSheet*>(child)) continue;
    Build(child, view.Form, view.Host);
  }
  Containers().Layout(view);
}

void ViewBuilder::Reparent(ControlView& view) {
  fw::TWinControl* parent = view.Control->Parent();
  ControlView* parentView = parent ? Records().Find(parent) : nullptr;
  ControlView* oldParentView = view.Parent ? Records().Find(view.Parent) : nullptr;
  view.Parent = parent;
  if (!parentView || !parentView->Host || parentView->Kind == ControlKind::PageControl) {
    // Out of every bound container: not shown until it is parented again.
    view.Widget->hide();
    view.Widget->setParent(nullptr);
  } else {
    view.Widget->setParent(parentView->Host);
    view.Widget->setVisible(view.Control->Visible());
    Containers().Layout(*parentView);
  }
  if (oldParentView) Containers().Layout(*oldParentView);
}

void ViewBuilder::BuildLate() {
  const std::vector<fw::TControl*> pending = std::move(late_);
  late_.clear();
  for (fw::TControl* control : pending) {
    if (Records().Find(control)) continue;
    fw::TWinControl* parent = control->Parent();
    ControlView* parentView = parent ? Records().Find(parent) : nullptr;
    if (!parentView) continue;
    if (parentView->Kind == ControlKind::PageControl) {
      Pages().RefreshTabs(*parentView);
    } else if (parentView->Host) {
      if (ControlView* built = Build(control, parentView->Form, parentView->Host))
        built->Widget->show();
      Containers().Layout(*parentView);
    }
  }
}

void ViewBuilder::Refresh(ControlView& view) {
  fw::TControl* control = view.Control;
  QWidget* widget = view.Widget;
  if (!widget) return;
  ++Records().Syncing;
  if (view.Kind != ControlKind::Form && view.Kind != ControlKind::TabSheet)
    widget->setVisible(control->Visible());
  widget->setEnabled(control->Enabled());
  widget->setToolTip(ToQt(control->Hint()));
  // A grid takes the host's grid face (GridBinding::RefreshGrid).
  if (view.Kind != ControlKind::Form && view.Kind != ControlKind::Grid)
    ApplyFont(widget, control->Font);
  if (control->Cursor == fw::TCursor::crDefault && view.Kind != ControlKind::Splitter) {
    widget->unsetCursor();
  } else {
    widget->setCursor(CursorShapeOf(control->Cursor));
  }
  if (control->Font.Color != fw::clWindowText) {
    const QColor text = ColorOf(control->Font.Color, widget->palette());
    SetRole(widget, QPalette::WindowText, text);
    SetRole(widget, QPalette::Text, text);
  }
  const QColor background = ColorOf(control->Color(), widget->palette());

  switch (view.Kind) {
    case ControlKind::Form:
      Forms().Refresh(view, background);
      break;
    case ControlKind::Edit:
    case ControlKind::MaskEdit:
    case ControlKind::DateEdit:
      Edits().Refresh(view, background);
      break;
    case ControlKind::RadioButton:
    case ControlKind::Button:
      Buttons().Refresh(view);
      break;
    case ControlKind::PageControl:
    case ControlKind::TabSheet:
      Pages().Refresh(view);
      break;
    case ControlKind::Grid:
      Grids().RefreshGrid(view, false);
      break;
    case ControlKind::Navigator:
    case ControlKind::Container:
    case ControlKind::Plain:
      break;
    default:
      Containers().Refresh(view, background);
      break;
  }
  --Records().Syncing;
}

void ViewBuilder::PropertyChanged(fw::TComponent* component) {
  if (ControlView* view = Records().Find(component)) {
    if (view->Kind != ControlKind::Form && view->Control->Parent() != view->Parent &&
        view->Kind != ControlKind::TabSheet)
      Reparent(*view);
    Refresh(*view);
    Containers().LayoutParentOf(*view);
    return;
  }
  if (auto* control = dynamic_cast<fw::TControl*>(component)) {
    // Parented after its form was built: built once the model is done with it, since a control
    // may parent itself while it is still being constructed.
    if (!control->Parent() || !Records().Find(control->Parent())) return;
    if (std::find(late_.begin(), late_.end(), control) != late_.end()) return;
    late_.push_back(control);
    if (late_.size() == 1) QTimer::singleShot(0, Context(), [this] { BuildLate(); });
    return;
  }
  if (auto* item = dynamic_cast<fw::TMenuItem*>(component)) return Menus().ItemChanged(item);
  if (auto* field = dynamic_cast<fw::TField*>(component)) return Grids().FieldChanged(field);
  if (dynamic_cast<fw::TDataSource*>(component)) {
    for (auto& [key, view] : Records().Controls) {
      if (view->Kind == ControlKind::Grid) Grids().RefreshGrid(*view, false);
      if (view->Kind == ControlKind::DBText) Refresh(*view);
    }
  }
}

void ViewBuilder::DataChanged(fw::TComponent* dataSet, fw::TChange change) {
  for (auto& [key, view] : Records().Controls) {
    if (view->Kind == ControlKind::Grid) {
      auto* grid = static_cast<fw::TDBGrid*>(view->Control);
      if (grid->DataSet() != dataSet && view->Model->LoadedDataSet() != dataSet) continue;
      if (change == fw::TChange::Rows) {
        Grids().RefreshGrid(*view, true);
      } else {
        Grids().SyncGridCursor(*view);
      }
    } else if (view->Kind == ControlKind::DBText) {
      auto* text = static_cast<fw::TDBText*>(view->Control);
      if (text->DataSource && text->DataSource->DataSet() == dataSet) Refresh(*view);
    }
  }
}

// ---- forgetting what the model frees ----

void ViewBuilder::Forget(const fw::TComponent* component) {
  Router().Forget(component);
  late_.erase(std::remove(late_.begin(), late_.end(), component), late_.end());
  if (FormView* form = Records().FindForm(component)) return Unbind(*form);
  if (Menus().Forget(component)) return;
  ControlView* view = Records().Find(component);
  if (!view) return;
  // Children the model keeps (they belong to the form, not to the parent) lose their place.
  for (auto& [key, other] : Records().Controls) {
    if (other->Parent != component || !other->Widget) continue;
    other->Parent = nullptr;
    other->Widget->hide();
    other->Widget->setParent(nullptr);
  }
  if (view->Model) view->Model->Detach();
  Records().Unregister(*view);
  if (view->Widget) {
    view->Widget->hide();
    view->Widget->deleteLater();
  }
  if (view->Kind == ControlKind::TabSheet && view->Parent)
    if (ControlView* pageControl = Records().Find(view->Parent)) Pages().RefreshTabs(*pageControl);
  Containers().Forget(view->Control);
  Records().Controls.erase(component);
}

void ViewBuilder::Unbind(FormView& form) {
  if (form.ModalLoop) form.ModalLoop->quit();
  if (form.Window && form.Window->isVisible()) Forms().SaveFormWindow(form);
  Menus().ForgetForm(form);
  Records().UnregisterForm(form);
  for (auto it = Records().Controls.begin(); it != Records().Controls.end();) {
    ControlView* view = it->second.get();
    if (view->Form != &form) {
      ++it;
      continue;
    }
    if (view->Model) view->Model->Detach();
    Router().Forget(view->Control);
    Containers().Forget(view->Control);
    it = Records().Controls.erase(it);
  }
  QPointer<QWidget> window = form.Window;
  QPointer<FormRoot> root = form.Root;
  Records().Forms.erase(form.Form);
  ++Records().Syncing;
  if (window) {
    window->hide();
    window->deleteLater();
  } else if (root) {
    root->hide();
    root->deleteLater();
  }
  --Records().Syncing;
}

}  // namespace hostapp
