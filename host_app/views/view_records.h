// What the binding keeps of every bound control and form, shared by the view classes of each
// control kind (host_app/views): the records, the look-ups from a model object to its widgets and
// back, and KindBinding, the base of every view class.
//
// Only QtBinding and the view classes include this header; the rest of the host and the tests go
// through QtBinding's public interface.
#pragma once

#include <QHash>
#include <QLineEdit>
#include <QPointer>
#include <QRect>
#include <QTabWidget>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "framework/ui/application.h"
#include "host_app/qt_widgets.h"  // the record's widgets, complete where a record is destroyed

class QEventLoop;

namespace hostapp {

class LayoutStore;
class QtBinding;

enum class ControlKind {
  Form,
  Panel,
  GroupBox,
  ScrollBox,
  Splitter,
  Label,
  Edit,
  MaskEdit,
  DateEdit,
  RadioButton,
  Button,
  PageControl,
  TabSheet,
  Grid,
  DBText,
  Navigator,
  Container,  // any other windowed control: holds its children
  Plain,      // any other control: an empty widget at its bounds
};

ControlKind KindOf(fw::TControl* control);

// The form a component stands on (a grid's, a data set's), and a component's name as the layout
// store keys it (empty for none).
const fw::TForm* FormOf(const fw::TComponent* component);
QString NameOf(const fw::TComponent* component);

struct FormView;

// One bound control: its widgets and what its view class keeps of it.
struct ControlView {
  fw::TControl* Control = nullptr;
  ControlKind Kind = ControlKind::Plain;
  FormView* Form = nullptr;
  fw::TWinControl* Parent = nullptr;  // the model parent whose host holds the widget
  QPointer<QWidget> Widget;           // placed in the parent's host
  QPointer<QWidget> Host;             // where the children's widgets go
  QPointer<QWidget> Focus;            // takes the Qt focus and the keys
  QPointer<QLineEdit> Edit;
  QPointer<GridView> View;
  QPointer<GridModel> Model;
  QPointer<QTabWidget> Tabs;
  std::vector<fw::TTabSheet*> Pages;  // as the tabs show them
  std::string Mask;                   // the edit mask the line edit was given
  int CurrentRow = -1;                // the grid row the indicator marks
  // A grid's columns as the user arranged them in the view, by field: the order of every
  // column (empty: as designed), the hidden ones, the widths dragged.
  std::vector<std::string> ColumnOrder;
  std::vector<std::string> HiddenColumns;
  std::unordered_map<std::string, int> UserWidths;
  QRect Placed;  // where the alignment put it (a splitter's handle may
                 // reach further, kSplitterGrab)
};

// One bound form: its window and what is kept of it.
struct FormView {
  fw::TForm* Form = nullptr;
  QPointer<QWidget> Window;
  QPointer<FormRoot> Root;
  QEventLoop* ModalLoop = nullptr;
  bool Placed = false;
  bool MenuBuilt = false;
  QRect NormalGeometry;        // the window's last geometry while neither maximized nor minimized
  bool ShowMaximized = false;  // the user left it maximized: shown so again
};

// The records of every bound control and form, and which widget belongs to which control.
class ViewRecords {
 public:
  ControlView* Find(const fw::TComponent* control) const;
  FormView* FindForm(const fw::TComponent* form) const;
  FormView* FormOwning(const fw::TComponent* component) const;
  // The control a widget (or one of its parts) renders; nullptr for none.
  fw::TControl* ControlAt(const QObject* object) const;
  // The control whose widget takes the focus and the keys / holds the children.
  ControlView* FocusPart(const QObject* widget) const { return focusParts_.value(widget); }
  ControlView* HostPart(const QObject* widget) const { return hosts_.value(widget); }

  // Keeps a control's record; its widgets lead back to it from then on, and `filter` (the input
  // router) sees their events.
  ControlView& Add(std::unique_ptr<ControlView> record, QObject* filter);
  FormView& AddForm(std::unique_ptr<FormView> record);
  // Its widgets no longer lead back to the control (the record itself stays in Controls).
  void Unregister(const ControlView& view);
  // Neither do the widgets of any control of the form.
  void UnregisterForm(const FormView& form);

  std::unordered_map<const fw::TComponent*, std::unique_ptr<ControlView>> Controls;
  std::unordered_map<const fw::TComponent*, std::unique_ptr<FormView>> Forms;
  std::shared_ptr<LayoutStore> Layouts;
  int Syncing = 0;  // > 0 while the view is being set from the model

 private:
  QHash<const QObject*, ControlView*> parts_;       // every widget of a control
  QHash<const QObject*, ControlView*> focusParts_;  // the widgets that take the focus
  QHash<const QObject*, ControlView*> hosts_;       // the widgets that hold children
};

class ButtonBinding;
class ContainerBinding;
class EditBinding;
class FormBinding;
class GridBinding;
class GridColumns;
class GridCommands;
class InputRouter;
class MenuBinding;
class PageBinding;

// The base of every view class: how it reaches the records and the other view classes (through
// the binding, which owns them all) and the builder's building and refreshing by kind.
class KindBinding {
 public:
  explicit KindBinding(QtBinding& binding) : binding_(binding) {}
  virtual ~KindBinding() = default;
  KindBinding(const KindBinding&) = delete;
  KindBinding& operator=(const KindBinding&) = delete;

 protected:
  ViewRecords& Records() const;
  ControlView* Find(const fw::TComponent* control) const { return Records().Find(control); }
  FormView* FindForm(const fw::TComponent* form) const { return Records().FindForm(form); }
  LayoutStore* Layouts() const { return Records().Layouts.get(); }
  int& Syncing() const { return Records().Syncing; }
  // The object the widgets' signals are connected through: they end with the binding.
  QObject* Context() const;

  InputRouter& Router() const;
  FormBinding& Forms() const;
  MenuBinding& Menus() const;
  ContainerBinding& Containers() const;
  EditBinding& Edits() const;
  ButtonBinding& Buttons() const;
  PageBinding& Pages() const;
  GridBinding& Grids() const;
  GridColumns& Columns() const;
  GridCommands& Commands() const;

  // Builds a control's widgets (and its children's) into `host`, by its kind.
  ControlView* Build(fw::TControl* control, FormView* form, QWidget* host) const;
  void BuildChildren(ControlView& view) const;
  // Sets every property a control's widget shows from the model.
  void RefreshControl(ControlView& view) const;

  QtBinding& binding_;
};

}  // namespace hostapp
