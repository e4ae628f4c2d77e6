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
// The work is done by one view class per control kind (host_app/views: forms, menus, containers,
// edits, buttons, pages, grids, and the grids' columns and commands), each owning its kind's
// widgets, its refresh from the model and its widgets' signals, and by the input router
// (views/input_router.h), which turns Qt's key, mouse and focus events into the model's events
// in the order it expects. QtBinding owns them, keeps the records they share
// (views/view_records.h) and the builder (views/view_builder.h), which builds each control by its
// kind, dispatches the model's changes to the kinds and forgets what the model frees.
//
// Widgets exist from the first time a form is shown until the form is freed. Forms that are MDI
// children go into the MDI area when there is one; other forms, and modal ones, get a window of
// their own. A modal form runs a nested event loop until the model hides it.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "framework/ui/application.h"

class QAction;
class QMdiArea;
class QMenu;
class QTabWidget;

namespace hostapp {

class FormRoot;
class GridModel;
class LayoutStore;
class ViewRecords;
class ViewBuilder;
class KindBinding;
class InputRouter;
class FormBinding;
class MenuBinding;
class ContainerBinding;
class EditBinding;
class ButtonBinding;
class PageBinding;
class GridBinding;
class GridColumns;
class GridCommands;

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
  fw::TControl* ClickedButton() const;

  // While a remote call is in flight (the platform's RunRemoteCall) the model is in the middle
  // of a handler: nothing is sent to it. A focus move the user made just before is sent after.
  void EnterRemoteCall();
  void LeaveRemoteCall();
  bool InRemoteCall() const;

  // The host's own commands on every grid (views/grid_commands.h): its context menu, Ctrl+C and
  // the exports. They read the rows as the grid shows them and never reach the model: no cursor
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
  void SetLayoutStore(std::shared_ptr<LayoutStore> store);
  LayoutStore* Layouts() const;
  // The grids' sort kept for a form, put back before its create handler runs
  // (IPlatform::FormCreating).
  void RestoreSorts(fw::TForm* form);

 private:
  // The view classes reach the records and each other through their base.
  friend class KindBinding;

  // Declared first: the records outlive every view class.
  std::unique_ptr<ViewRecords> records_;
  std::unique_ptr<ViewBuilder> builder_;
  std::unique_ptr<InputRouter> router_;
  std::unique_ptr<FormBinding> forms_;
  std::unique_ptr<MenuBinding> menus_;
  std::unique_ptr<ContainerBinding> containers_;
  std::unique_ptr<EditBinding> edits_;
  std::unique_ptr<ButtonBinding> buttons_;
  std::unique_ptr<PageBinding> pages_;
  std::unique_ptr<GridBinding> grids_;
  std::unique_ptr<GridColumns> columns_;
  std::unique_ptr<GridCommands> commands_;
};

}  // namespace hostapp
