// The input router: where the user's keys, clicks into widgets, focus moves and window
// activations reach the binding, and the rules that keep them in the order the model expects.
//
// It is the event filter of every bound widget (and, with a work area, a filter of the whole
// application that sees Ctrl+Tab before the work area does). A key goes to the model as the
// control's key event (fw::Application::UserKey), or to the form's menu as a shortcut, unless the
// widget types it itself (characters, editing keys). A focus move the user makes with the mouse
// or an access key is held back and sent (UserFocus) once Qt's own focus change is over; every
// other user event first delivers a held move (FlushPendingFocus), so the model always hears the
// move before the click or key that followed it. While a remote call is in flight nothing is
// sent; a held move is sent after it. After each event the focus is put back where the model says
// (AfterUserEvent).
#pragma once

#include <QObject>

#include "host_app/views/view_records.h"

class QFocusEvent;
class QKeyEvent;
class QMdiArea;

namespace hostapp {

// With HOST_APP_TRACE set, writes a user event sent to the model to standard error; returns
// `accepted`.
bool Traced(const char* event, const fw::TComponent* component, bool accepted, int detail = -1);

class InputRouter : public QObject, public KindBinding {
 public:
  InputRouter(QtBinding& binding, QMdiArea* mdiArea);

  // While a remote call is in flight (the platform's RunRemoteCall) the model is in the middle
  // of a handler: nothing is sent to it. A focus move the user made just before is sent after.
  void EnterRemoteCall() { ++remoteCalls_; }
  void LeaveRemoteCall();
  bool InRemoteCall() const { return remoteCalls_ > 0; }

  // Sends a focus move the user made in Qt to the model; false when the model refused it.
  bool FlushPendingFocus();
  // The model may have refused or redirected what the user did: shows the focus it has now.
  void AfterUserEvent(fw::TForm* form);
  // A control going away takes a held focus move with it.
  void Forget(const fw::TComponent* control);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool KeyPressed(QObject* watched, QKeyEvent* event);
  void FocusedIn(QObject* watched, QFocusEvent* event);

  fw::TControl* pendingFocus_ = nullptr;  // a focus move the model has not heard of yet
  int remoteCalls_ = 0;                   // > 0 while a remote call is in flight
};

}  // namespace hostapp
