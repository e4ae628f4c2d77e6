#include "host_app/qt_binding.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QEventLoop>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "framework/host/host_controls.h"
#include "host_app/conversions.h"
#include "host_app/qt_widgets.h"

namespace hostapp {

namespace {

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

// Pictures of the host's buttons, by glyph name or, without one, by hint.

}  // namespace

namespace {
// Sees key presses before anything else in the application does.
class KeyFirst : public QObject {
 public:
  KeyFirst(QObject* parent, std::function<bool(QObject*, QEvent*)> filter)
      : QObject(parent), filter_(std::move(filter)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    return event->type() == QEvent::KeyPress && filter_(watched, event);
  }

 private:
  std::function<bool(QObject*, QEvent*)> filter_;
};
}  // namespace

QtBinding::QtBinding(QMdiArea* mdiArea, QObject* parent) : QObject(parent), mdiArea_(mdiArea) {
  fw::AddModelObserver(this);
  if (mdiArea_) {
    // The work area takes Ctrl+Tab for going from window to window before the focused widget
    // sees it; in a screen the key is the screen's (the model changes its tab). Installed after
    // the work area's, this filter runs before it.
    qApp->installEventFilter(new KeyFirst(this, [this](QObject* watched, QEvent* event) {
      auto* key = static_cast<QKeyEvent*>(event);
      const bool ctrlTab = (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
                           (key->modifiers() & Qt::ControlModifier);
      return ctrlTab && watched == QApplication::focusWidget() && focusParts_.contains(watched) &&
             KeyPressed(watched, key);
    }));
    connect(mdiArea_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
      if (syncing_ || !window) return;
      for (auto& [key, form] : forms_)
        if (form->Window == window) return WindowActivated(form->Form);
    });
  }
}

QtBinding::~QtBinding() {
  fw::RemoveModelObserver(this);
  for (auto& [key, form] : forms_) {
    if (form->ModalLoop) form->ModalLoop->quit();
    delete form->Window;
    delete form->Root;
  }
}

// ---- look-ups ----

QtBinding::ControlView* QtBinding::Find(const fw::TComponent* control) const {
  auto found = controls_.find(control);
  return found == controls_.end() ? nullptr : found->second.get();
}

QtBinding::FormView* QtBinding::FindForm(const fw::TComponent* form) const {
  auto found = forms_.find(form);
  return found == forms_.end() ? nullptr : found->second.get();
}

QtBinding::FormView* QtBinding::FormOwning(const fw::TComponent* component) const {
  for (; component; component = component->Owner())
    if (FormView* form = FindForm(component)) return form;
  return nullptr;
}

QWidget* QtBinding::WidgetOf(const fw::TComponent* control) const {
  ControlView* view = Find(control);
  return view ? view->Widget.data() : nullptr;
}

QWidget* QtBinding::FocusWidgetOf(const fw::TComponent* control) const {
  ControlView* view = Find(control);
  return view ? view->Focus.data() : nullptr;
}

QWidget* QtBinding::WindowOf(const fw::TForm* form) const {
  FormView* view = FindForm(form);
  return view ? view->Window.data() : nullptr;
}

FormRoot* QtBinding::RootOf(const fw::TForm* form) const {
  FormView* view = FindForm(form);
  return view ? view->Root.data() : nullptr;
}

QAction* QtBinding::ActionOf(const fw::TMenuItem* item) const {
  auto found = actions_.find(item);
  return found == actions_.end() ? nullptr : found->second.Action.data();
}

GridModel* QtBinding::GridModelOf(const fw::TDBGrid* grid) const {
  ControlView* view = Find(grid);
  return view ? view->Model.data() : nullptr;
}

QTabWidget* QtBinding::TabsOf(const fw::TPageControl* pageControl) const {
  ControlView* view = Find(pageControl);
  return view ? view->Tabs.data() : nullptr;
}

fw::TControl* QtBinding::ControlAt(const QObject* object) const {
  for (; object; object = object->parent())
    if (ControlView* view = parts_.value(object)) return view->Control;
  return nullptr;
}

// ---- building ----

QtBinding::FormView* QtBinding::Bind(fw::TForm* form) {
  if (FormView* existing = FindForm(form)) return existing;
  auto formView = std::make_unique<FormView>();
  formView->Form = form;
  formView->Root = new FormRoot();
  FormView* raw = formView.get();
  forms_[form] = std::move(formView);

  auto view = std::make_unique<ControlView>();
  view->Control = form;
  view->Kind = ControlKind::Form;
  view->Form = raw;
  view->Widget = raw->Root;
  view->Host = raw->Root->Client();
  view->Focus = raw->Root->Client();
  ControlView& formControl = *view;
  controls_[form] = std::move(view);
  Register(formControl);
  LoadFormLayout(*raw);
  BuildChildren(formControl);
  Refresh(formControl);
  return raw;
}

QtBinding::ControlView* QtBinding::Build(fw::TControl* control, FormView* form, QWidget* host) {
  auto view = std::make_unique<ControlView>();
  view->Control = control;
  view->Kind = KindOf(control);
  view->Form = form;
  view->Parent = control->Parent();
  const fw::TControl* key = control;

  switch (view->Kind) {
    case ControlKind::Form:
      return nullptr;  // a form inside a form is not something the screens do
    case ControlKind::Panel: {
      auto* panel = new PanelFrame(host);
      view->Widget = view->Host = view->Focus = panel;
      break;
    }
    case ControlKind::GroupBox: {
      auto* box = new QGroupBox(host);
      view->Widget = view->Host = view->Focus = box;
      break;
    }
    case ControlKind::ScrollBox: {
      auto* area = new QScrollArea(host);
      auto* inner = new QWidget();
      area->setWidget(inner);
      area->setWidgetResizable(true);
      area->setFocusPolicy(Qt::NoFocus);
      view->Widget = view->Focus = area;
      view->Host = inner;
      break;
    }
    case ControlKind::Splitter: {
      auto* handle = new SplitterHandle(host);
      handle->OnDrag = [this, key](int delta) {
        SplitterDragged(const_cast<fw::TControl*>(key), delta);
      };
      view->Widget = handle;
      break;
    }
    case ControlKind::Label:
    case ControlKind::DBText: {
      auto* label = new QLabel(host);
      label->setTextFormat(Qt::PlainText);
      view->Widget = label;
      break;
    }
    case ControlKind::Edit:
    case ControlKind::MaskEdit: {
      auto* edit = new QLineEdit(host);
      view->Widget = view->Focus = view->Edit = edit;
      connect(edit, &QLineEdit::textEdited, this,
              [this, key] { TextEdited(const_cast<fw::TControl*>(key)); });
      break;
    }
    case ControlKind::DateEdit: {
      auto* date = new DateEditWidget(host);
      date->Edit()->setInputMask(QtInputMask(kDateEditMask));
      date->OnDatePicked = [this, key](const QDate& picked) {
        DatePicked(const_cast<fw::TControl*>(key),
                   FromQt(picked.toString(QStringLiteral("dd/MM/yyyy"))));
      };
      view->Widget = date;
      view->Focus = view->Edit = date->Edit();
      connect(date->Edit(), &QLineEdit::textEdited, this,
              [this, key] { TextEdited(const_cast<fw::TControl*>(key)); });
      break;
    }
    case ControlKind::RadioButton: {
      auto* radio = new ModelRadioButton(host);
      radio->OnUserClick = [this, key] { RadioClicked(const_cast<fw::TControl*>(key)); };
      view->Widget = view->Focus = radio;
      break;
    }
    case ControlKind::Button: {
      auto* button = new QToolButton(host);
      button->setFocusPolicy(Qt::NoFocus);
      connect(button, &QToolButton::clicked, this,
              [this, key] { ButtonClicked(const_cast<fw::TControl*>(key)); });
      view->Widget = button;
      break;
    }
    case ControlKind::PageControl: {
      auto* tabs = new QTabWidget(host);
      tabs->setFocusPolicy(Qt::NoFocus);
      tabs->tabBar()->setFocusPolicy(Qt::NoFocus);
      connect(tabs, &QTabWidget::currentChanged, this,
              [this, key](int index) { TabChosen(const_cast<fw::TControl*>(key), index); });
      view->Widget = view->Focus = view->Tabs = tabs;
      view->Host = tabs;
      break;
    }
    case ControlKind::TabSheet: {
      auto* page = new QWidget();
      page->setAutoFillBackground(false);
      view->Widget = view->Host = view->Focus = page;
      break;
    }
    case ControlKind::Grid: {
      auto* grid = new GridView(host);
      auto* model = new GridModel(static_cast<fw::TDBGrid*>(control), grid);
      grid->setModel(model);
      grid->OnCellClick = [this, key](const QModelIndex& index, bool doubleClick) {
        CellClicked(const_cast<fw::TControl*>(key), index, doubleClick);
      };
      grid->OnContextMenu = [this, key](const QPoint& at, const QModelIndex& cell, bool byMouse) {
        GridMenuRequested(const_cast<fw::TControl*>(key), at, cell, byMouse);
      };
      QHeaderView* titles = grid->horizontalHeader();
      // A width the user drags is kept for the next query and reload of this grid (and, with a
      // layout store, for the next session).
      connect(titles, &QHeaderView::sectionResized, this,
              [this, key, titles](int column, int, int width) {
                ControlView* view = Find(key);
                auto* model = view ? static_cast<fw::TDBGrid*>(view->Control) : nullptr;
                if (syncing_ || !model || column < 0 || column >= model->ColumnCount() ||
                    width <= 0 || titles->isSectionHidden(column))
                  return;
                view->UserWidths[model->Columns[static_cast<size_t>(column)].FieldName] = width;
                SaveGridLayout(*view);
              });
      connect(titles, &QHeaderView::sectionMoved, this, [this, key](int, int, int) {
        if (ControlView* view = Find(key); view && !syncing_) ColumnsChanged(*view);
      });
      connect(titles, &QHeaderView::sectionClicked, this,
              [this, key](int column) { TitleClicked(const_cast<fw::TControl*>(key), column); });
      // A press on the titles gives Qt's focus to the grid; the model hears no move (below).
      titles->viewport()->installEventFilter(this);
      titles->setContextMenuPolicy(Qt::CustomContextMenu);
      connect(titles, &QHeaderView::customContextMenuRequested, this,
              [this, key, titles](const QPoint& at) {
                if (!Find(key) || InRemoteCall()) return;
                FlushPendingFocus();
                if (QMenu* menu = ColumnsMenu(const_cast<fw::TControl*>(key)))
                  menu->popup(titles->mapToGlobal(at));
              });
      view->Widget = view->Focus = view->View = grid;
      view->Model = model;
      break;
    }
    case ControlKind::Navigator: {
      auto* navigator = new NavigatorWidget(host);
      navigator->OnButton = [this, key](fw::TDBNavigator::TButton button) {
        NavigatorClicked(const_cast<fw::TControl*>(key), static_cast<int>(button));
      };
      view->Widget = navigator;
      break;
    }
    case ControlKind::Container: {
      auto* container = new QWidget(host);
      view->Widget = view->Host = view->Focus = container;
      break;
    }
    case ControlKind::Plain:
      view->Widget = new QWidget(host);
      break;
  }
  // Containers take the focus only when the model puts it there, never by a click.
  if (view->Focus && !view->Edit && !view->View && view->Kind != ControlKind::RadioButton)
    view->Focus->setFocusPolicy(Qt::NoFocus);

  ControlView& built = *view;
  controls_[control] = std::move(view);
  Register(built);
  if (built.Kind == ControlKind::Grid) {
    LoadGridLayout(built);
    RefreshGrid(built, true);
  }
  if (built.Kind == ControlKind::PageControl) {
    RefreshTabs(built);
  } else if (built.Host) {
    BuildChildren(built);
  }
  Refresh(built);
  return &built;
}

void QtBinding::BuildChildren(ControlView& view) {
  auto* container = dynamic_cast<fw::TWinControl*>(view.Control);
  if (!container || !view.Host) return;
  for (fw::TControl* child : container->Controls()) {
    if (Find(child) || dynamic_cast<fw::TTabSheet*>(child)) continue;
    Build(child, view.Form, view.Host);
  }
  Layout(view);
}

void QtBinding::Register(ControlView& view) {
  for (QWidget* part : {view.Widget.data(), view.Host.data(), view.Focus.data()})
    if (part) parts_.insert(part, &view);
  if (view.Focus) {
    focusParts_.insert(view.Focus, &view);
    view.Focus->installEventFilter(this);
  }
  if (view.Tabs) {
    // When the model puts the focus on a page control (the item screen opens so), Qt's focus
    // goes to the tab bar, the tab widget's focus proxy: its keys are the page control's (Esc,
    // Tab, Ctrl+Tab), or they would reach nothing.
    QWidget* bar = view.Tabs->tabBar();
    parts_.insert(bar, &view);
    focusParts_.insert(bar, &view);
    bar->installEventFilter(this);
  }
  if (view.Host) {
    hosts_.insert(view.Host, &view);
    view.Host->installEventFilter(this);
  }
  if (view.Kind == ControlKind::DateEdit) parts_.insert(view.Edit, &view);
}

void QtBinding::Reparent(ControlView& view) {
  fw::TWinControl* parent = view.Control->Parent();
  ControlView* parentView = parent ? Find(parent) : nullptr;
  ControlView* oldParentView = view.Parent ? Find(view.Parent) : nullptr;
  view.Parent = parent;
  if (!parentView || !parentView->Host || parentView->Kind == ControlKind::PageControl) {
    // Out of every bound container: not shown until it is parented again.
    view.Widget->hide();
    view.Widget->setParent(nullptr);
  } else {
    view.Widget->setParent(parentView->Host);
    view.Widget->setVisible(view.Control->Visible());
    Layout(*parentView);
  }
  if (oldParentView) Layout(*oldParentView);
}

void QtBinding::BuildLate() {
  const std::vector<fw::TControl*> pending = std::move(late_);
  late_.clear();
  for (fw::TControl* control : pending) {
    if (Find(control)) continue;
    fw::TWinControl* parent = control->Parent();
    ControlView* parentView = parent ? Find(parent) : nullptr;
    if (!parentView) continue;
    if (parentView->Kind == ControlKind::PageControl) {
      RefreshTabs(*parentView);
    } else if (parentView->Host) {
      if (ControlView* built = Build(control, parentView->Form, parentView->Host))
        built->Widget->show();
      Layout(*parentView);
    }
  }
}

void QtBinding::BuildMenu(FormView& form) {
  fw::TMainMenu* menu = form.Form->Menu;
  for (auto it = actions_.begin(); it != actions_.end();) {
    if (it->second.Form == &form) {
      delete it->second.Action;
      it = actions_.erase(it);
    } else {
      ++it;
    }
  }
  form.MenuBuilt = menu != nullptr;
  if (!menu) return;
  QMenuBar* bar = form.Root->MenuBar();
  bar->clear();
  for (fw::TMenuItem* item : menu->Items()->Items()) AddMenuItem(bar, item, form);
  actions_[menu->Items()] = ActionView{nullptr, &form, menu->Items()->Items().size()};
}

void QtBinding::AddMenuItem(QWidget* container, fw::TMenuItem* item, FormView& form) {
  QAction* action = nullptr;
  if (item->Caption() == "-") {
    action = new QAction(container);
    action->setSeparator(true);
    container->addAction(action);
  } else if (!item->Items().empty()) {
    auto* menu = new QMenu(container);
    action = menu->menuAction();
    container->addAction(action);
    for (fw::TMenuItem* child : item->Items()) AddMenuItem(menu, child, form);
  } else {
    action = new QAction(container);
    container->addAction(action);
    connect(action, &QAction::triggered, this, [this, item] {
      if (fw::Application && !InRemoteCall()) fw::Application->UserClickMenu(item);
    });
  }
  actions_[item] = ActionView{action, &form, item->Items().size()};
  RefreshAction(item);
}

// ---- reflecting the model ----

void QtBinding::ModelChanged(fw::TComponent* component, fw::TChange change) {
  switch (change) {
    case fw::TChange::Destroyed:
      Forget(component);
      break;
    case fw::TChange::Property:
      PropertyChanged(component);
      break;
    case fw::TChange::Rows:
    case fw::TChange::Cursor:
      DataChanged(component, change);
      break;
    case fw::TChange::Focus:
      FocusChanged(component);
      break;
    case fw::TChange::FormShown:
    case fw::TChange::FormClosed:
      // The platform's ShowForm, ShowModal and HideForm do the work.
      break;
  }
}

void QtBinding::PropertyChanged(fw::TComponent* component) {
  if (ControlView* view = Find(component)) {
    if (view->Kind != ControlKind::Form && view->Control->Parent() != view->Parent &&
        view->Kind != ControlKind::TabSheet)
      Reparent(*view);
    Refresh(*view);
    LayoutParentOf(*view);
    return;
  }
  if (auto* control = dynamic_cast<fw::TControl*>(component)) {
    // Parented after its form was built: built once the model is done with it, since a control
    // may parent itself while it is still being constructed.
    if (!control->Parent() || !Find(control->Parent())) return;
    if (std::find(late_.begin(), late_.end(), control) != late_.end()) return;
    late_.push_back(control);
    if (late_.size() == 1) QTimer::singleShot(0, this, [this] { BuildLate(); });
    return;
  }
  if (auto* item = dynamic_cast<fw::TMenuItem*>(component)) {
    FormView* form = FormOwning(item);
    if (!form || !form->MenuBuilt) return;
    auto found = actions_.find(item);
    if (found == actions_.end() || found->second.Children != item->Items().size()) {
      BuildMenu(*form);
    } else {
      RefreshAction(item);
    }
    return;
  }
  if (auto* field = dynamic_cast<fw::TField*>(component)) {
    // A field's mask or format changes what its cells show.
    for (auto& [key, view] : controls_)
      if (view->View && view->Model && view->Model->LoadedDataSet() == field->DataSet())
        view->View->viewport()->update();
    return;
  }
  if (dynamic_cast<fw::TDataSource*>(component)) {
    for (auto& [key, view] : controls_) {
      if (view->Kind == ControlKind::Grid) RefreshGrid(*view, false);
      if (view->Kind == ControlKind::DBText) Refresh(*view);
    }
  }
}

void QtBinding::DataChanged(fw::TComponent* dataSet, fw::TChange change) {
  for (auto& [key, view] : controls_) {
    if (view->Kind == ControlKind::Grid) {
      auto* grid = static_cast<fw::TDBGrid*>(view->Control);
      if (grid->DataSet() != dataSet && view->Model->LoadedDataSet() != dataSet) continue;
      if (change == fw::TChange::Rows) {
        RefreshGrid(*view, true);
      } else {
        SyncGridCursor(*view);
      }
    } else if (view->Kind == ControlKind::DBText) {
      auto* text = static_cast<fw::TDBText*>(view->Control);
      if (text->DataSource && text->DataSource->DataSet() == dataSet) Refresh(*view);
    }
  }
}

void QtBinding::FocusChanged(fw::TComponent* component) {
  FormView* form = FindForm(component);
  if (!form || !form->Window || !form->Window->isVisible()) return;
  if (fw::Application && fw::Application->ActiveForm() == form->Form) BringToFront(*form);
  SyncFocus(*form);
}

void QtBinding::Forget(const fw::TComponent* component) {
  if (pendingFocus_ == component) pendingFocus_ = nullptr;
  late_.erase(std::remove(late_.begin(), late_.end(), component), late_.end());
  if (FormView* form = FindForm(component)) return Unbind(*form);
  if (auto found = actions_.find(component); found != actions_.end()) {
    delete found->second.Action;
    actions_.erase(found);
    return;
  }
  ControlView* view = Find(component);
  if (!view) return;
  // Children the model keeps (they belong to the form, not to the parent) lose their place.
  for (auto& [key, other] : controls_) {
    if (other->Parent != component || !other->Widget) continue;
    other->Parent = nullptr;
    other->Widget->hide();
    other->Widget->setParent(nullptr);
  }
  if (view->Model) view->Model->Detach();
  for (auto* hash : {&parts_, &focusParts_, &hosts_}) {
    for (auto it = hash->begin(); it != hash->end();) {
      if (it.value() == view) {
        it = hash->erase(it);
      } else {
        ++it;
      }
    }
  }
  if (view->Widget) {
    view->Widget->hide();
    view->Widget->deleteLater();
  }
  if (view->Kind == ControlKind::TabSheet && view->Parent)
    if (ControlView* pageControl = Find(view->Parent)) RefreshTabs(*pageControl);
  userSizes_.erase(static_cast<const fw::TControl*>(view->Control));
  controls_.erase(component);
}

void QtBinding::Unbind(FormView& form) {
  if (form.ModalLoop) form.ModalLoop->quit();
  if (form.Window && form.Window->isVisible()) SaveFormWindow(form);
  for (auto it = actions_.begin(); it != actions_.end();) {
    it = it->second.Form == &form ? actions_.erase(it) : std::next(it);
  }
  for (auto* hash : {&parts_, &focusParts_, &hosts_}) {
    for (auto it = hash->begin(); it != hash->end();) {
      if (it.value()->Form == &form) {
        it = hash->erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto it = controls_.begin(); it != controls_.end();) {
    ControlView* view = it->second.get();
    if (view->Form != &form) {
      ++it;
      continue;
    }
    if (view->Model) view->Model->Detach();
    if (pendingFocus_ == view->Control) pendingFocus_ = nullptr;
    userSizes_.erase(view->Control);
    it = controls_.erase(it);
  }
  QPointer<QWidget> window = form.Window;
  QPointer<FormRoot> root = form.Root;
  forms_.erase(form.Form);
  ++syncing_;
  if (window) {
    window->hide();
    window->deleteLater();
  } else if (root) {
    root->hide();
    root->deleteLater();
  }
  --syncing_;
}

}  // namespace hostapp
