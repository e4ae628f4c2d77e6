// The generic Qt binding of the form model.
//
// QtBinding observes the model (fw::IModelObserver) and renders any form with one widget kind per
// model control kind: geometry, alignment, captions, texts, states, colours, grids, menus and the
// focus all come from the model, and every model change it is told about is reflected. What the
// user does reaches the model only through fw::Application's User* entry points, the same events
// the screen driver sends; the widgets never change the model themselves, and after each event
// the view is brought back to what the model says (a refused click leaves a radio unchecked, a
// validation that keeps the focus puts it back).
//
// Widgets exist from the first time a form is shown until the form is freed. Forms that are MDI
// children go into the MDI area when there is one; other forms, and modal ones, get a window of
// their own. A modal form runs a nested event loop until the model hides it.
#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "framework/ui/application.h"

class QAction;
class QEventLoop;
class QMenu;
class QFocusEvent;
class QKeyEvent;
class QLineEdit;
class QMdiArea;
class QMenuBar;
class QTabWidget;
class QModelIndex;

namespace hostapp {

class FormRoot;
class GridModel;
class LayoutStore;
class GridView;

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

class QtBinding : public QObject, public fw::IModelObserver {
 public:
  // Without an MDI area every form gets a window of its own (the tests use that).
  explicit QtBinding(QMdiArea* mdiArea = nullptr, QObject* parent = nullptr);
  ~QtBinding() override;

  void ModelChanged(fw::TComponent* component, fw::TChange change) override;

  // The form side of the platform interface.
  void ShowForm(fw::TForm* form);
  void ShowModal(fw::TForm* form);
  void HideForm(fw::TForm* form);
  void Repaint(fw::TForm* form);

  // What renders a model object; nullptr when it has no widget (yet).
  QWidget* WidgetOf(const fw::TComponent* control) const;
  // The widget that takes the Qt focus for a control (the line edit of a date edit...).
  QWidget* FocusWidgetOf(const fw::TComponent* control) const;
  QWidget* WindowOf(const fw::TForm* form) const;  // MDI subwindow or window
  FormRoot* RootOf(const fw::TForm* form) const;   // menu bar and client area
  QAction* ActionOf(const fw::TMenuItem* item) const;
  GridModel* GridModelOf(const fw::TDBGrid* grid) const;
  QTabWidget* TabsOf(const fw::TPageControl* pageControl) const;
  // The control a widget (or one of its parts) renders; nullptr for none.
  fw::TControl* ControlAt(const QObject* object) const;
  // The button whose click the model is running now (what a dialog opened by the click belongs
  // to); nullptr outside a click.
  fw::TControl* ClickedButton() const { return clicked_; }

  // While a remote call is in flight (the platform's RunRemoteCall) the model is in the middle
  // of a handler: nothing is sent to it. A focus move the user made just before is sent after.
  void EnterRemoteCall() { ++remoteCalls_; }
  void LeaveRemoteCall();
  bool InRemoteCall() const { return remoteCalls_ > 0; }

  // The host's own commands on every grid (binding_grids.cpp): its context menu, Ctrl+C and the
  // exports. They read the rows as the grid shows them and never reach the model: no cursor
  // moves, no handler of the screens runs.
  //
  // Copies to the clipboard, as tab-separated shown texts: the current row with the titles
  // (a grid that selects rows), or the current cell's text (one that selects cells); with
  // `allRows`, every row with the titles.
  void CopyGrid(const fw::TDBGrid* grid, bool allRows);
  // Writes the grid to `path` (.xlsx or .csv by the extension), with the column widths the
  // view shows, and a progress box with "Cancelar" once it takes over half a second. Reports a
  // failure in the error box; false when it failed or was cancelled.
  bool ExportGrid(const fw::TDBGrid* grid, const QString& path);
  // How long an export runs before its progress box shows. A test shortens it: how fast a
  // build exports is not what it checks.
  int ExportProgressDelayMs = 500;
  // Where an export goes: by default the save dialog; the tests answer it themselves. Given the
  // suggested file name and the dialog's filter; an empty answer cancels.
  std::function<QString(const QString& suggested, const QString& filter)> ChooseExportPath;
  // The menu a right click on a grid's cell opens (built anew each time).
  QMenu* GridMenu(fw::TControl* grid);
  // The menu a right click on a grid's titles opens: a check per column (in the view's order) to
  // show or hide it, "Restaurar colunas" (the designed order, widths and columns) and
  // "Ordenar…". Moving, hiding and resizing columns change the view only: the grid's columns,
  // its data set and what the screens read stay as designed (the keys that go from column to
  // column follow the view, fw::TDBGrid::ViewOrder).
  QMenu* ColumnsMenu(fw::TControl* grid);
  // Shows or hides a column of the view (the last one shown stays); puts back the designed
  // columns.
  void SetColumnHidden(fw::TControl* grid, int column, bool hidden);
  void RestoreColumns(fw::TControl* grid);

  // Where what the user arranges is kept (per login and screen, layout_store.h); none by
  // default, as in the tests and the unattended sessions. With one, a screen opens as the user
  // left it (its grids' columns and sort, splitters, window) and each change is kept at once.
  void SetLayoutStore(std::shared_ptr<LayoutStore> store) { layouts_ = std::move(store); }
  LayoutStore* Layouts() const { return layouts_.get(); }
  // The grids' sort kept for a form, put back before its create handler runs
  // (IPlatform::FormCreating).
  void RestoreSorts(fw::TForm* form);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct FormView;
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
  struct ActionView {
    QPointer<QAction> Action;
    FormView* Form = nullptr;
    size_t Children = 0;
  };

  // Building (qt_binding.cpp).
  FormView* Bind(fw::TForm* form);
  ControlView* Build(fw::TControl* control, FormView* form, QWidget* host);
  void BuildChildren(ControlView& view);
  void Register(ControlView& view);
  void BuildMenu(FormView& form);
  void AddMenuItem(QWidget* container, fw::TMenuItem* item, FormView& form);
  void Reparent(ControlView& view);
  void BuildLate();

  // Reflecting the model.
  void PropertyChanged(fw::TComponent* component);
  void DataChanged(fw::TComponent* dataSet, fw::TChange change);
  void FocusChanged(fw::TComponent* form);
  void Forget(const fw::TComponent* component);
  void Unbind(FormView& form);
  void Refresh(ControlView& view);
  void RefreshEditText(ControlView& view);
  void RefreshTabs(ControlView& view);
  void RefreshTabTitles(ControlView& view);
  void RefreshGrid(ControlView& view, bool reload);
  void SyncGridCursor(ControlView& view);
  void SyncSortIndicator(ControlView& view);
  // Puts the view's columns as the user arranged them (ColumnOrder, HiddenColumns, UserWidths),
  // and tells the grid the order the keys follow.
  void ApplyColumns(ControlView& view);
  // Reads the arrangement back from the view after the user changed it, and keeps it.
  void ColumnsChanged(ControlView& view);
  // The columns the view shows, in its order (what an export and a copy write).
  std::vector<int> ShownColumns(const ControlView& view) const;

  // Keeping what the user arranged (binding_layout.cpp).
  void LoadGridLayout(ControlView& view);
  void SaveGridLayout(const ControlView& view);
  void SaveGridSort(const ControlView& view);
  void LoadFormLayout(FormView& form);
  void SaveFormWindow(FormView& form);
  void SaveSplitter(const fw::TControl* neighbour);
  void RefreshAction(fw::TMenuItem* item);
  void Layout(ControlView& view);
  // How much larger than designed the view of a container is (zero where it has no design).
  QSize Growth(const ControlView& view) const;
  void LayoutParentOf(ControlView& view);
  void Place(FormView& form);
  void BringToFront(FormView& form);
  void SyncFocus(FormView& form);
  QWidget* EnsureWindow(FormView& form, bool modal);

  // What the user does (binding_input.cpp).
  bool KeyPressed(QObject* watched, QKeyEvent* event);
  void FocusedIn(QObject* watched, QFocusEvent* event);
  // Sends a focus move the user made in Qt to the model; false when the model refused it.
  bool FlushPendingFocus();
  void TextEdited(fw::TControl* control);
  void RadioClicked(fw::TControl* control);
  void ButtonClicked(fw::TControl* control);
  void TabChosen(fw::TControl* pageControl, int index);
  void CellClicked(fw::TControl* grid, const QModelIndex& index, bool doubleClick);
  void NavigatorClicked(fw::TControl* navigator, int button);
  void DatePicked(fw::TControl* edit, const std::string& text);
  void SplitterDragged(fw::TControl* splitter, int delta);
  void CloseRequested(fw::TForm* form);
  void WindowActivated(fw::TForm* form);
  void GridMenuRequested(fw::TControl* grid, const QPoint& globalPos, const QModelIndex& cell,
                         bool byMouse);
  void TitleClicked(fw::TControl* grid, int column);
  void SortDialogRequested(fw::TControl* grid);
  void ChooseAndExport(fw::TControl* grid, bool spreadsheet);
  std::string WidgetText(const ControlView& view) const;
  void AfterUserEvent(fw::TForm* form);

  ControlView* Find(const fw::TComponent* control) const;
  FormView* FindForm(const fw::TComponent* form) const;
  FormView* FormOwning(const fw::TComponent* component) const;

  QPointer<QMdiArea> mdiArea_;
  std::unordered_map<const fw::TComponent*, std::unique_ptr<ControlView>> controls_;
  std::unordered_map<const fw::TComponent*, std::unique_ptr<FormView>> forms_;
  std::unordered_map<const fw::TComponent*, ActionView> actions_;
  QHash<const QObject*, ControlView*> parts_;       // every widget of a control
  QHash<const QObject*, ControlView*> focusParts_;  // the widgets that take the focus
  QHash<const QObject*, ControlView*> hosts_;       // the widgets that hold children
  // How far the user moved a control's edge by dragging a splitter: added to its designed size.
  std::unordered_map<const fw::TControl*, int> userSizes_;
  std::vector<fw::TControl*> late_;       // controls parented after their form was built
  int syncing_ = 0;                       // > 0 while the view is being set from the model
  fw::TControl* pendingFocus_ = nullptr;  // a focus move the model has not heard of yet
  int remoteCalls_ = 0;                   // > 0 while a remote call is in flight
  std::shared_ptr<LayoutStore> layouts_;
  fw::TControl* clicked_ = nullptr;       // the button whose click runs now
};

}  // namespace hostapp
