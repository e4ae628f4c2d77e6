// The application object: forms, the active form, the focus, the mouse cursor, keyboard dispatch
// and the one dispatcher through which every user event runs.
//
// Focus moves (FocusControl): moving from X to Y raises OnExit on X and on each container of X,
// innermost first, up to (not including) the first container that also holds Y; then OnEnter on
// each container of Y below it, outermost first, and last on Y. A handler that moves the focus
// while the chain runs abandons the rest of it: the focus stays where the handler put it and no
// further events of the abandoned move are raised (the move back is not a new entry). A container
// whose enter handler focuses the container itself while the focus is on its way into one of its
// controls is already satisfied: the move goes on to the chosen control without a second enter.
// A failure raised by an exit handler that did not move the focus (a remote call refused while
// leaving a panel) is shown through the error display and the move goes on to the target; one
// raised by a handler that moved the focus (a validation that put it on its control), or by an
// enter handler, abandons the chain and passes on to the caller.
//
// User events (Dispatch and the User* entry points): a failure escaping the handler is shown
// through the platform's error display; EAbort (raised after a message already shown) is not.
// While a form is shown modally the user reaches no other form: every User* entry refuses
// (returns false, runs nothing) input, activation and closing of any form but the modal one.
//
// Keys (UserKey), after the menu shortcuts and the control's key-down handler:
// - Tab and Shift+Tab go to the next (previous) tab stop; in a grid with dgTabs they first move
//   the selected column, leaving the grid only past its last (first) column.
// - Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PgDn and Ctrl+PgUp bring the next (previous) tab of the page
//   control holding the focus to the front (else of the form's first page control with more
//   than one tab), as the user's tab click does; a focus that was on the page going out of view
//   goes to the first tab stop of the new one. With no tab to change to, Ctrl+Tab leaves the
//   control as Tab does (so it always leaves a grid).
// - Esc on a modal form closes it (its close handler decides, as for its close button).
// - In a grid: Enter acts as a double-click on the selected cell; Up, Down, PgUp, PgDn,
//   Ctrl+Home and Ctrl+End move the cursor through the data set's order; Left, Right, Home and
//   End select another column (in the view's order, TDBGrid::ViewOrder).
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/ui/dbcontrols.h"
#include "framework/ui/forms.h"

namespace fw {

class IPlatform;

// The silent abort of a running handler, raised after its message has been shown.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operação interrompida."; }
};

class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  IPlatform* Platform() const { return platform_; }
  void SetPlatform(IPlatform* platform) { platform_ = platform; }

  // Two-step creation: construct the form owned by the application, store it in `reference`,
  // then (the platform having put back the user's arrangement) run its create handler.
  template <typename T>
  T* CreateForm(T*& reference) {
    reference = new T(this);
    FormCreating(reference);
    reference->DoCreate();
    return reference;
  }
  std::vector<TForm*> Forms() const;
  TForm* FindForm(const std::string& name) const;

  TForm* ActiveForm() const { return activeForm_; }
  // The form shown modally on top of the others; nullptr when none is.
  TForm* ModalForm() const { return modalForms_.empty() ? nullptr : modalForms_.back(); }
  // True when a modal form other than `form` is up: the user cannot reach `form` now.
  bool BlockedByModal(const TForm* form) const;
  // Makes the form the active one; raises its OnActivate when it was not already active.
  void ActivateForm(TForm* form);

  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor cursor);

  // The focused control of the active form.
  TControl* FocusedControl() const;
  // Moves the focus to `target` on its form (events above). Returns whether the focus is on the
  // target afterwards; a control that cannot take the focus is refused (false).
  bool FocusControl(TControl* target);
  // Focuses the next (or previous) tab stop of the form after the focused control.
  void SelectNext(TForm* form, bool forward);

  // Runs a user event: failures are shown, EAbort is silent; forms released meanwhile are freed
  // when the outermost event ends.
  void Dispatch(const std::function<void()>& action);
  void ShowException(const std::exception& error);

  // What the user does, as the screen driver and the Qt binding send it. Each runs through
  // Dispatch. Returns false when the control refused (disabled, invisible, not focusable).
  bool UserFocus(TControl* control);
  bool UserClick(TControl* control);
  bool UserClickMenu(TMenuItem* item);
  bool UserType(TEdit* edit, const std::string& text);
  bool UserKey(TControl* control, uint16_t key, TShiftState shift);
  bool UserSelectTab(TTabSheet* page);
  bool UserSelectRow(TDBGrid* grid, int row);
  bool UserSelectColumn(TDBGrid* grid, int column);
  bool UserDblClick(TDBGrid* grid);
  // A click on a column's title: sorts the grid's data set by the column's field, ascending; a
  // click on the column that sorts ascending sorts it descending, and one on the column that
  // sorts descending goes back to the service's order. No cursor move, no focus move.
  bool UserTitleClick(TDBGrid* grid, int column);
  // Sorts the grid's data set by `fields` (empty: the service's order), as the sort dialog and
  // the driver's `sort` do. False when a field is not one of the data set's.
  bool UserSort(TDBGrid* grid, std::vector<TIndexField> fields);
  bool UserNavigate(TDBNavigator* navigator, TDBNavigator::TButton button);
  bool UserActivate(TForm* form);
  bool UserClose(TForm* form);

  // Frees the form once no event is running and it is not shown modally (a form may be released
  // from its own handler).
  void ReleaseForm(TForm* form);
  void FreeReleasedOutsideEvents();

 private:
  friend class TForm;
  struct TFocusChain;
  void FreeReleased();
  void FormClosed(TForm* form);
  // Tells the platform (IPlatform::FormCreating); a failure there is shown, creation goes on.
  void FormCreating(TForm* form);
  // The tab change of Ctrl+Tab and Ctrl+PgDn (above); false when there is no other tab.
  bool SwitchPage(TForm* form, bool forward);

  IPlatform* platform_ = nullptr;
  TForm* activeForm_ = nullptr;
  TCursor cursor_ = TCursor::crDefault;
  int dispatchDepth_ = 0;
  std::vector<TForm*> released_;
  std::vector<TForm*> modalForms_;  // inside their ShowModal, the innermost last
  TFocusChain* chain_ = nullptr;
};

// The one application object of the process.
extern TApplication* Application;
// Creates the application object if there is none; returns it.
TApplication* InitApplication();
// Frees the application object and all its forms.
void DoneApplication();

}  // namespace fw
