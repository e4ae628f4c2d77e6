#include "host_app/views/input_router.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
#include <cstdio>

#include "framework/host/host_controls.h"
#include "host_app/conversions.h"
#include "host_app/qt_widgets.h"
#include "host_app/views/container_binding.h"
#include "host_app/views/form_binding.h"
#include "host_app/views/grid_commands.h"

namespace hostapp {

// What a support engineer needs to replay a report with the screen driver.
bool Traced(const char* event, const fw::TComponent* component, bool accepted, int detail) {
  static const bool enabled = qEnvironmentVariableIsSet("HOST_APP_TRACE");
  if (enabled) {
    std::fprintf(stderr, "host-app: %s %s", event, component ? component->Name().c_str() : "-");
    if (detail >= 0) std::fprintf(stderr, " %d", detail);
    std::fprintf(stderr, "%s\n", accepted ? "" : " (recusado)");
  }
  return accepted;
}

namespace {

bool IsEditingKey(uint16_t key) {
  switch (key) {
    case fw::vk::Left:
    case fw::vk::Right:
    case fw::vk::Home:
    case fw::vk::End:
    case 8:   // backspace
    case 45:  // insert
    case 46:  // delete
      return true;
    default:
      return false;
  }
}

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

InputRouter::InputRouter(QtBinding& binding, QMdiArea* mdiArea) : KindBinding(binding) {
  if (!mdiArea) return;
  // The work area takes Ctrl+Tab for going from window to window before the focused widget
  // sees it; in a screen the key is the screen's (the model changes its tab). Installed after
  // the work area's, this filter runs before it.
  qApp->installEventFilter(new KeyFirst(this, [this](QObject* watched, QEvent* event) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool ctrlTab = (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
                         (key->modifiers() & Qt::ControlModifier);
    return ctrlTab && watched == QApplication::focusWidget() && Records().FocusPart(watched) &&
           KeyPressed(watched, key);
  }));
  connect(mdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
    if (Syncing() || !window) return;
    for (auto& [key, form] : Records().Forms)
      if (form->Window == window) return Forms().WindowActivated(form->Form);
  });
}

bool InputRouter::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
      // A click on a grid's titles sorts it or opens the columns' menu: it is not a click into
      // the grid, so the focus stays where the model has it (leaving the filter panel would run
      // the query). Qt gave its focus to the grid just before this press reached the titles.
      for (auto& [key, view] : Records().Controls) {
        if (!view->View || view->View->horizontalHeader()->viewport() != watched) continue;
        if (pendingFocus_ == view->Control) {
          pendingFocus_ = nullptr;
          if (FormView* form = FindForm(view->Control->Form())) Forms().SyncFocus(*form);
        }
        break;
      }
      break;
    case QEvent::KeyPress:
      return KeyPressed(watched, static_cast<QKeyEvent*>(event));
    case QEvent::FocusIn:
      FocusedIn(watched, static_cast<QFocusEvent*>(event));
      break;
    case QEvent::Resize:
    case QEvent::Move:
      if (ControlView* view = Records().HostPart(watched); view && event->type() == QEvent::Resize)
        Containers().Layout(*view);
      Forms().WindowMoved(watched);
      break;
    case QEvent::WindowActivate:
      // An MDI child's activation comes through the work area's signal (the constructor).
      if (Syncing() || qobject_cast<QMdiSubWindow*>(watched)) break;
      for (auto& [key, form] : Records().Forms)
        if (form->Window == watched) {
          Forms().WindowActivated(form->Form);
          break;
        }
      break;
    default:
      break;
  }
  return false;
}

void InputRouter::AfterUserEvent(fw::TForm* form) {
  if (FormView* view = form ? FindForm(form) : nullptr) Forms().SyncFocus(*view);
}

void InputRouter::Forget(const fw::TComponent* control) {
  if (pendingFocus_ == control) pendingFocus_ = nullptr;
}

bool InputRouter::KeyPressed(QObject* watched, QKeyEvent* event) {
  // A key the focused widget did not take travels up to its parents: it was handled already.
  if (watched != QApplication::focusWidget() || !fw::Application) return false;
  if (InRemoteCall()) return true;
  ControlView* view = Records().FocusPart(watched);
  if (!view) return false;
  const uint16_t key = VirtualKey(event->key());
  if (!key) return false;
  fw::TShiftState shift = ShiftStateOf(event->modifiers());
  if (event->key() == Qt::Key_Backtab) shift |= fw::ssShift;
  fw::TControl* control = view->Control;
  fw::TForm* form = control->Form();
  if (!form) return false;
  // A key that follows a click goes where the model let the focus go.
  if (pendingFocus_ && !FlushPendingFocus()) return true;
  if (!Find(control)) return true;
  fw::TMenuItem* shortcut =
      form->Menu ? form->Menu->FindShortCut(fw::ShortCut(key, shift)) : nullptr;

  if (view->Kind == ControlKind::Form) {
    // Nothing of the form has the focus: its menu hears the keys, and Esc closes a modal form.
    if (!shortcut && key == fw::vk::Escape && form->Modal() && !shift) {
      Traced("UserClose", form, fw::Application->UserClose(form));
      return true;
    }
    if (!shortcut) return false;
    Traced("UserClickMenu", shortcut, fw::Application->UserClickMenu(shortcut));
    AfterUserEvent(form);
    return true;
  }
  if (view->Edit && !shortcut) {
    const bool plain = !(shift & (fw::ssCtrl | fw::ssAlt));
    // Characters are typed by the line edit; the model hears the text it then holds.
    if (plain && !event->text().isEmpty() && event->text().at(0).isPrint()) return false;
    // Editing keys (and Ctrl+C, Ctrl+V...) reach the model's key handlers and still edit.
    if (IsEditingKey(key) || ((shift & fw::ssCtrl) && key >= 'A' && key <= 'Z')) {
      Traced("UserKey", control, fw::Application->UserKey(control, key, shift), key);
      AfterUserEvent(form);
      return false;
    }
  }
  if (view->Kind == ControlKind::RadioButton && key == 32 && !shortcut) return false;
  // Copying from a grid is the host's own command (unless the screen's menu claims the key).
  if (view->Kind == ControlKind::Grid && !shortcut && shift == fw::ssCtrl &&
      (key == 'C' || key == 45)) {
    Commands().CopyGrid(static_cast<fw::TDBGrid*>(control), false);
    return true;
  }
  Traced("UserKey", control, fw::Application->UserKey(control, key, shift), key);
  AfterUserEvent(form);
  return true;
}

void InputRouter::FocusedIn(QObject* watched, QFocusEvent* event) {
  if (Syncing() || !fw::Application || InRemoteCall()) return;
  // Only the user's own moves go to the model: a click, or an access key. The Tab key goes to the
  // model as a key, so a tab-reason move is Qt's own (it moves the focus off a widget being
  // hidden, a page going out of view), as are the moves that follow the model or a window
  // being activated.
  if (event->reason() != Qt::MouseFocusReason && event->reason() != Qt::ShortcutFocusReason) return;
  ControlView* view = Records().FocusPart(watched);
  if (!view || view->Kind == ControlKind::Form) return;
  // Reported after Qt's own focus change is over: the model's handlers may show messages (a
  // nested event loop) or move the focus again, neither of which Qt's focus machinery survives
  // well from inside a focus event. Every other user event first delivers a pending move.
  Traced("focus-in", view->Control, true, event->reason());
  pendingFocus_ = view->Control;
  QMetaObject::invokeMethod(
      this, [this] { FlushPendingFocus(); }, Qt::QueuedConnection);
  // A click past what a masked edit holds starts typing where the typing stopped (the click puts
  // the caret after this focus event, hence later).
  if (event->reason() == Qt::MouseFocusReason && view->Edit && !view->Edit->inputMask().isEmpty()) {
    QPointer<QLineEdit> edit = view->Edit;
    QTimer::singleShot(0, this, [edit] {
      if (!edit) return;
      const int blank = FirstBlankPosition(edit->inputMask(), edit->displayText());
      if (edit->cursorPosition() > blank) edit->setCursorPosition(blank);
    });
  }
}

bool InputRouter::FlushPendingFocus() {
  // Kept for after the call (LeaveRemoteCall); what the caller wanted to send waits too.
  if (InRemoteCall()) return false;
  fw::TControl* control = pendingFocus_;
  pendingFocus_ = nullptr;
  if (!control || !Find(control) || !fw::Application) return true;
  fw::TForm* form = control->Form();
  if (!form) return false;
  if (form->ActiveControl() != control)
    Traced("UserFocus", control, fw::Application->UserFocus(control));
  const bool moved = Find(control) && form->ActiveControl() == control;
  AfterUserEvent(form);
  return moved;
}

void InputRouter::LeaveRemoteCall() {
  if (--remoteCalls_ > 0 || !pendingFocus_) return;
  QMetaObject::invokeMethod(
      this, [this] { FlushPendingFocus(); }, Qt::QueuedConnection);
}

}  // namespace hostapp
