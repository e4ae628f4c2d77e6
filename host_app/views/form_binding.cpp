#include "host_app/views/form_binding.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "host_app/conversions.h"
#include "host_app/layout_store.h"
#include "host_app/qt_widgets.h"
#include "host_app/views/container_binding.h"
#include "host_app/views/input_router.h"
#include "host_app/views/menu_binding.h"
#include "host_app/views/widget_style.h"

namespace hostapp {

namespace {
// What the frame of a window adds around its client area, when a form stores no client size.
constexpr int kDefaultBorder = 16;
constexpr int kDefaultCaption = 23;
}  // namespace

FormBinding::FormBinding(QtBinding& binding, QMdiArea* mdiArea)
    : KindBinding(binding), mdiArea_(mdiArea) {}

FormView* FormBinding::Bind(fw::TForm* form) {
  if (FormView* existing = FindForm(form)) return existing;
  auto formView = std::make_unique<FormView>();
  formView->Form = form;
  formView->Root = new FormRoot();
  FormView& raw = Records().AddForm(std::move(formView));

  auto view = std::make_unique<ControlView>();
  view->Control = form;
  view->Kind = ControlKind::Form;
  view->Form = &raw;
  view->Widget = raw.Root;
  view->Host = raw.Root->Client();
  view->Focus = raw.Root->Client();
  ControlView& formControl = Records().Add(std::move(view), &Router());
  Containers().LoadSplitters(raw);
  BuildChildren(formControl);
  RefreshControl(formControl);
  return &raw;
}

void FormBinding::Refresh(ControlView& view, const QColor& background) {
  auto* form = static_cast<fw::TForm*>(view.Control);
  if (view.Form->Window) view.Form->Window->setWindowTitle(ToQt(form->Caption()));
  if (QWidget* client = view.Host) {
    ApplyFont(client, form->Font);
    SetRole(client, QPalette::Window, background);
  }
}

QWidget* FormBinding::EnsureWindow(FormView& form, bool modal) {
  if (form.Window) {
    if (modal && !form.Window->isVisible()) form.Window->setWindowModality(Qt::ApplicationModal);
    return form.Window;
  }
  fw::TForm* model = form.Form;
  if (!modal && mdiArea_ && model->FormStyle == fw::TFormStyle::fsMDIChild) {
    auto* sub = new FormSubWindow();
    sub->setWidget(form.Root);
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    sub->OnCloseRequest = [this, model] { CloseRequested(model); };
    sub->installEventFilter(&Router());  // its moves and sizes, kept for the next time
    mdiArea_->addSubWindow(sub);
    form.Window = sub;
  } else {
    QWidget* owner = mdiArea_ ? mdiArea_->window() : nullptr;
    auto* window = new FormWindow(owner);
    window->setWindowFlags(modal ? Qt::Dialog : Qt::Window);
    if (modal) window->setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(form.Root);
    window->OnCloseRequest = [this, model] { CloseRequested(model); };
    window->installEventFilter(&Router());
    form.Window = window;
  }
  RefreshControl(*Find(model));
  return form.Window;
}

void FormBinding::Place(FormView& form) {
  if (form.Placed) return;
  form.Placed = true;
  fw::TForm* model = form.Form;
  const int clientWidth =
      model->ClientWidth > 0 ? model->ClientWidth : model->Width() - kDefaultBorder;
  const int clientHeight = model->ClientHeight > 0
                               ? model->ClientHeight
                               : model->Height() - kDefaultBorder - kDefaultCaption;
  form.Root->SetDesignedClientSize(QSize(std::max(clientWidth, 50), std::max(clientHeight, 30)));
  QWidget* window = form.Window;
  window->resize(window->sizeHint().expandedTo(form.Root->sizeHint()));
  // Where the user left it last, kept on the screen (a smaller display, a work area resized).
  if (const auto kept = Layouts() ? Layouts()->FormWindow(ToQt(model->Name())) : std::nullopt) {
    const QRect room = qobject_cast<QMdiSubWindow*>(window) && mdiArea_
                           ? mdiArea_->viewport()->rect()
                       : window->screen() ? window->screen()->availableGeometry()
                                          : QRect();
    QRect geometry = kept->Geometry;
    if (room.isValid()) {
      geometry.setSize(geometry.size().boundedTo(room.size()).expandedTo(QSize(50, 30)));
      geometry.moveLeft(std::clamp(geometry.left(), room.left(),
                                   std::max(room.left(), room.right() + 1 - geometry.width())));
      geometry.moveTop(std::clamp(geometry.top(), room.top(),
                                  std::max(room.top(), room.bottom() + 1 - geometry.height())));
    }
    window->setGeometry(geometry);
    form.NormalGeometry = geometry;
    form.ShowMaximized = kept->Maximized;
    return;
  }
  QPoint position(model->Left(), model->Top());
  if (qobject_cast<QMdiSubWindow*>(window)) {
    window->move(position);
    return;
  }
  // A window of its own: the designed position is taken from the main window's work area.
  if (mdiArea_) position = mdiArea_->mapToGlobal(position);
  if (model->Position == fw::TPosition::poScreenCenter && window->screen())
    position = window->screen()->availableGeometry().center() - window->rect().center();
  if (window->screen()) {
    const QRect screen = window->screen()->availableGeometry();
    position.setX(std::clamp(position.x(), screen.left(),
                             std::max(screen.left(), screen.right() - window->width())));
    position.setY(std::clamp(position.y(), screen.top(),
                             std::max(screen.top(), screen.bottom() - window->height())));
  }
  window->move(position);
}

void FormBinding::BringToFront(FormView& form) {
  QWidget* window = form.Window;
  if (!window || !window->isVisible()) return;
  ++Syncing();
  if (auto* sub = qobject_cast<QMdiSubWindow*>(window)) {
    if (mdiArea_ && mdiArea_->activeSubWindow() != sub) mdiArea_->setActiveSubWindow(sub);
    // Back from a modal form the main window may not be active yet: the form's focus needs it.
    if (!sub->window()->isActiveWindow() && !QApplication::activeModalWidget())
      sub->window()->activateWindow();
  } else if (!window->isActiveWindow()) {
    window->raise();
    window->activateWindow();
  }
  --Syncing();
}

void FormBinding::SyncFocus(FormView& form) {
  fw::TControl* active = form.Form->ActiveControl();
  ControlView* view = active ? Find(active) : nullptr;
  QWidget* target = view && view->Focus ? view->Focus.data() : nullptr;
  if (!target) target = form.Root ? form.Root->Client() : nullptr;
  if (!target || target->hasFocus()) return;
  ++Syncing();
  target->setFocus(Qt::OtherFocusReason);
  // Tab, Shift+Tab and the program move the focus through the model: a masked edit reached that
  // way takes typing where its text stops, as a click into it does.
  if (view && view->Edit == target && !view->Edit->inputMask().isEmpty())
    view->Edit->setCursorPosition(
        FirstBlankPosition(view->Edit->inputMask(), view->Edit->displayText()));
  --Syncing();
}

void FormBinding::FocusChanged(fw::TComponent* component) {
  FormView* form = FindForm(component);
  if (!form || !form->Window || !form->Window->isVisible()) return;
  if (fw::Application && fw::Application->ActiveForm() == form->Form) BringToFront(*form);
  SyncFocus(*form);
}

// ---- the form side of the platform ----

// What showing a form and showing it modal share: its menu, its window placed and shown
// (maximized once when asked), without the model hearing of the window's own moves.
FormView* FormBinding::OpenWindow(fw::TForm* form, bool modal) {
  FormView* view = Bind(form);
  if (form->Menu && !view->MenuBuilt) Menus().BuildMenu(*view);
  QWidget* window = EnsureWindow(*view, modal);
  Place(*view);
  ++Syncing();
  if (view->ShowMaximized) {
    view->ShowMaximized = false;
    window->showMaximized();
  } else {
    window->show();
  }
  --Syncing();
  return view;
}

void FormBinding::ShowForm(fw::TForm* form) {
  FormView* view = OpenWindow(form, false);
  Containers().Layout(*Find(form));
  BringToFront(*view);
  SyncFocus(*view);
}

void FormBinding::ShowModal(fw::TForm* form) {
  FormView* view = OpenWindow(form, true);
  BringToFront(*view);
  SyncFocus(*view);
  if (!form->Visible()) return;  // closed by its own show handlers
  QEventLoop loop;
  view->ModalLoop = &loop;
  loop.exec(QEventLoop::DialogExec);
  if (FormView* still = FindForm(form)) {
    still->ModalLoop = nullptr;
    if (still->Window) {
      ++Syncing();
      still->Window->hide();
      --Syncing();
    }
  }
}

void FormBinding::HideForm(fw::TForm* form) {
  FormView* view = FindForm(form);
  if (!view) return;
  if (view->Window && view->Window->isVisible()) SaveFormWindow(*view);
  if (view->Window) {
    ++Syncing();
    view->Window->hide();
    --Syncing();
  }
  if (view->ModalLoop) view->ModalLoop->quit();
}

void FormBinding::Repaint(fw::TForm* form) {
  if (FormView* view = FindForm(form); view && view->Root) view->Root->repaint();
}

void FormBinding::SaveFormWindow(FormView& form) {
  if (!Layouts() || !form.Window || !form.Placed) return;
  QWidget* window = form.Window;
  LayoutStore::Window kept;
  kept.Maximized = window->isMaximized();
  kept.Geometry = form.NormalGeometry.isValid() ? form.NormalGeometry : window->geometry();
  Layouts()->SetFormWindow(ToQt(form.Form->Name()), kept);
}

// ---- what the user does with a window ----

void FormBinding::WindowMoved(const QObject* watched) {
  // A window's normal geometry, kept when it closes: a maximized window's own geometry is the
  // work area's.
  for (auto& [key, form] : Records().Forms) {
    QWidget* window = form->Window;
    if (window != watched || !form->Placed || !window->isVisible()) continue;
    if (!window->isMaximized() && !window->isMinimized()) form->NormalGeometry = window->geometry();
  }
}

void FormBinding::CloseRequested(fw::TForm* form) {
  if (!FindForm(form) || !fw::Application || Router().InRemoteCall()) return;
  Router().FlushPendingFocus();
  if (!FindForm(form)) return;
  Traced("UserClose", form, true);
  fw::Application->UserClose(form);
}

void FormBinding::WindowActivated(fw::TForm* form) {
  if (!fw::Application || !form->Visible() || Router().InRemoteCall()) return;
  if (fw::Application->ActiveForm() != form) {
    Traced("UserActivate", form, true);
    fw::Application->UserActivate(form);
  }
  if (FormView* view = FindForm(form)) SyncFocus(*view);
}

}  // namespace hostapp
