// Geometry and windows: alignment inside containers, placing and showing forms, the focus.
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
#include "host_app/qt_binding.h"
#include "host_app/qt_widgets.h"

namespace hostapp {

namespace {
// What the frame of a window adds around its client area, when a form stores no client size.
constexpr int kDefaultBorder = 16;
constexpr int kDefaultCaption = 23;
}  // namespace

// ---- geometry ----

QSize QtBinding::Growth(const ControlView& view) const {
  QSize designed;
  QSize actual;
  if (view.Kind == ControlKind::Form) {
    designed = view.Form->Root ? view.Form->Root->DesignedClientSize() : QSize();
    actual = view.Host ? view.Host->size() : QSize();
  } else if (view.Kind == ControlKind::TabSheet) {
    // A page is as much larger than designed as its page control is.
    const ControlView* pages = view.Parent ? Find(view.Parent) : nullptr;
    if (!pages || !pages->Widget) return {0, 0};
    designed = QSize(pages->Control->Width(), pages->Control->Height());
    actual = pages->Widget->size();
  } else {
    designed = QSize(view.Control->Width(), view.Control->Height());
    actual = view.Widget ? view.Widget->size() : QSize();
  }
  return {designed.width() > 0 ? actual.width() - designed.width() : 0,
          designed.height() > 0 ? actual.height() - designed.height() : 0};
}

void QtBinding::Layout(ControlView& view) {
  auto* container = dynamic_cast<fw::TWinControl*>(view.Control);
  QWidget* host = view.Host;
  if (!container || !host || view.Kind == ControlKind::PageControl) return;
  std::vector<ControlView*> children;
  std::vector<AlignItem> items;
  for (fw::TControl* child : container->Controls()) {
    ControlView* childView = Find(child);
    if (!childView || !childView->Widget || childView->Parent != container ||
        childView->Kind == ControlKind::TabSheet)
      continue;
    AlignItem item{child->Align(),
                   QRect(child->Left(), child->Top(), child->Width(), child->Height()),
                   child->Visible(), child->Anchors};
    if (auto moved = userSizes_.find(child); moved != userSizes_.end()) {
      if (child->Align() == fw::TAlign::alTop || child->Align() == fw::TAlign::alBottom) {
        item.Designed.setHeight(std::max(item.Designed.height() + moved->second, 0));
      } else {
        item.Designed.setWidth(std::max(item.Designed.width() + moved->second, 0));
      }
    }
    children.push_back(childView);
    items.push_back(item);
  }
  QRect client = host->rect();
  if (view.Kind == ControlKind::GroupBox) client = host->contentsRect();
  if (view.Kind == ControlKind::Panel) {
    auto* panel = static_cast<fw::TPanel*>(view.Control);
    const int inset = panel->BorderWidth + (panel->BevelOuter != fw::TBevel::bvNone) +
                      (panel->BevelInner != fw::TBevel::bvNone);
    client.adjust(inset, inset, -inset, -inset);
  }
  const std::vector<QRect> rects = AlignRects(client, items, Growth(view));
  QRect extent;
  for (size_t i = 0; i < children.size(); ++i) {
    QRect rect = rects[i];
    // Labels size themselves to their text, as the form framework's labels do.
    if (children[i]->Kind == ControlKind::Label && items[i].Align == fw::TAlign::alNone)
      rect.setWidth(std::max(rect.width(), children[i]->Widget->sizeHint().width()));
    children[i]->Placed = rect;
    if (children[i]->Kind == ControlKind::Splitter) {
      // A thin splitter's handle reaches over its neighbours' edges, above them.
      const bool vertical = static_cast<SplitterHandle*>(children[i]->Widget.data())->Vertical;
      const int across = vertical ? rect.height() : rect.width();
      if (across < kSplitterGrab) {
        const int before = (kSplitterGrab - across) / 2;
        rect = vertical ? rect.adjusted(0, -before, 0, kSplitterGrab - across - before)
                        : rect.adjusted(-before, 0, kSplitterGrab - across - before, 0);
      }
      children[i]->Widget->raise();
    }
    children[i]->Widget->setGeometry(rect);
    if (items[i].Align == fw::TAlign::alNone && items[i].Visible) extent |= rect;
  }
  // A scroll box scrolls when its unaligned children reach past it.
  if (view.Kind == ControlKind::ScrollBox)
    host->setMinimumSize(QSize(std::max(extent.right() + 1, 0), std::max(extent.bottom() + 1, 0)));
}

void QtBinding::LayoutParentOf(ControlView& view) {
  if (!view.Parent) return;
  if (ControlView* parent = Find(view.Parent)) Layout(*parent);
}

QWidget* QtBinding::EnsureWindow(FormView& form, bool modal) {
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
    sub->installEventFilter(this);  // its moves and sizes, kept for the next time
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
    window->installEventFilter(this);
    form.Window = window;
  }
  Refresh(*Find(model));
  return form.Window;
}

void QtBinding::Place(FormView& form) {
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
  if (const auto kept = layouts_ ? layouts_->FormWindow(ToQt(model->Name())) : std::nullopt) {
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

void QtBinding::BringToFront(FormView& form) {
  QWidget* window = form.Window;
  if (!window || !window->isVisible()) return;
  ++syncing_;
  if (auto* sub = qobject_cast<QMdiSubWindow*>(window)) {
    if (mdiArea_ && mdiArea_->activeSubWindow() != sub) mdiArea_->setActiveSubWindow(sub);
    // Back from a modal form the main window may not be active yet: the form's focus needs it.
    if (!sub->window()->isActiveWindow() && !QApplication::activeModalWidget())
      sub->window()->activateWindow();
  } else if (!window->isActiveWindow()) {
    window->raise();
    window->activateWindow();
  }
  --syncing_;
}

void QtBinding::SyncFocus(FormView& form) {
  fw::TControl* active = form.Form->ActiveControl();
  ControlView* view = active ? Find(active) : nullptr;
  QWidget* target = view && view->Focus ? view->Focus.data() : nullptr;
  if (!target) target = form.Root ? form.Root->Client() : nullptr;
  if (!target || target->hasFocus()) return;
  ++syncing_;
  target->setFocus(Qt::OtherFocusReason);
  // Tab, Shift+Tab and the program move the focus through the model: a masked edit reached that
  // way takes typing where its text stops, as a click into it does.
  if (view && view->Edit == target && !view->Edit->inputMask().isEmpty())
    view->Edit->setCursorPosition(
        FirstBlankPosition(view->Edit->inputMask(), view->Edit->displayText()));
  --syncing_;
}

// ---- the form side of the platform ----

void QtBinding::ShowForm(fw::TForm* form) {
  FormView* view = Bind(form);
  if (form->Menu && !view->MenuBuilt) BuildMenu(*view);
  QWidget* window = EnsureWindow(*view, false);
  Place(*view);
  ++syncing_;
  if (view->ShowMaximized) {
    view->ShowMaximized = false;
    window->showMaximized();
  } else {
    window->show();
  }
  --syncing_;
  Layout(*Find(form));
  BringToFront(*view);
  SyncFocus(*view);
}

void QtBinding::ShowModal(fw::TForm* form) {
  FormView* view = Bind(form);
  if (form->Menu && !view->MenuBuilt) BuildMenu(*view);
  QWidget* window = EnsureWindow(*view, true);
  Place(*view);
  ++syncing_;
  if (view->ShowMaximized) {
    view->ShowMaximized = false;
    window->showMaximized();
  } else {
    window->show();
  }
  --syncing_;
  BringToFront(*view);
  SyncFocus(*view);
  if (!form->Visible()) return;  // closed by its own show handlers
  QEventLoop loop;
  view->ModalLoop = &loop;
  loop.exec(QEventLoop::DialogExec);
  if (FormView* still = FindForm(form)) {
    still->ModalLoop = nullptr;
    if (still->Window) {
      ++syncing_;
      still->Window->hide();
      --syncing_;
    }
  }
}

void QtBinding::HideForm(fw::TForm* form) {
  FormView* view = FindForm(form);
  if (!view) return;
  if (view->Window && view->Window->isVisible()) SaveFormWindow(*view);
  if (view->Window) {
    ++syncing_;
    view->Window->hide();
    --syncing_;
  }
  if (view->ModalLoop) view->ModalLoop->quit();
}

void QtBinding::Repaint(fw::TForm* form) {
  if (FormView* view = FindForm(form); view && view->Root) view->Root->repaint();
}

}  // namespace hostapp
