// The view class of forms: each form's root widget (menu bar and client area) and its window (an
// MDI subwindow, a window of its own, a modal dialog with its nested event loop), where it is
// placed and kept, the caption and face of its client area, and the Qt focus, which follows the
// form's active control.
//
// Raises to the model: UserClose when the user closes the window, UserActivate when the user
// activates one that is not the active form.
#pragma once

#include <QColor>
#include <QPointer>

#include "host_app/views/view_records.h"

class QMdiArea;

namespace hostapp {

class FormBinding : public KindBinding {
 public:
  FormBinding(QtBinding& binding, QMdiArea* mdiArea);

  // The form's record and widgets, built with its controls the first time it is asked for.
  FormView* Bind(fw::TForm* form);

  // The form side of the platform interface.
  void ShowForm(fw::TForm* form);
  void ShowModal(fw::TForm* form);
  void HideForm(fw::TForm* form);
  void Repaint(fw::TForm* form);

  void Refresh(ControlView& view, const QColor& background);
  // The model moved the focus in a form.
  void FocusChanged(fw::TComponent* form);
  // Puts the Qt focus where the model has it.
  void SyncFocus(FormView& form);
  // Keeps where the user left a window (layout_store.h).
  void SaveFormWindow(FormView& form);

  // What the user does with a window.
  void WindowMoved(const QObject* window);
  void WindowActivated(fw::TForm* form);
  void CloseRequested(fw::TForm* form);

 private:
  QWidget* EnsureWindow(FormView& form, bool modal);
  void Place(FormView& form);
  FormView* OpenWindow(fw::TForm* form, bool modal);
  void BringToFront(FormView& form);

  QPointer<QMdiArea> mdiArea_;
};

}  // namespace hostapp
