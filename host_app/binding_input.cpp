// What the user does with the widgets, sent to the model through fw::Application's User* entry
// points, and the view brought back to what the model says afterwards.
#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

#include "framework/host/host_controls.h"
#include "host_app/conversions.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_widgets.h"

namespace hostapp {

namespace {
// With HOST_APP_TRACE set, every user event sent to the model is written to standard error:
// what a support engineer needs to replay a report with the screen driver.
bool Traced(const char* event, const fw::TComponent* component, bool accepted, int detail = -1) {
  static const bool enabled = qEnvironmentVariableIsSet("HOST_APP_TRACE");
  if (enabled) {
    std::fprintf(stderr, "host-app: %s %s", event, component ? component->Name().c_str() : "-");
    if (detail >= 0) std::fprintf(stderr, " %d", detail);
    std::fprintf(stderr, "%s\n", accepted ? "" : " (recusado)");
  }
  return accepted;
}

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
}  // namespace

bool QtBinding::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
      // A click on a grid's titles sorts it or opens the columns' menu: it is not a click into
      // the grid, so the focus stays where the model has it (leaving the filter panel would run
      // the query). Qt gave its focus to the grid just before this press reached the titles.
      for (auto& [key, view] : controls_) {
        if (!view->View || view->View->horizontalHeader()->viewport() != watched) continue;
        if (pendingFocus_ == view->Control) {
          pendingFocus_ = nullptr;
          if (FormView* form = FindForm(view->Control->Form())) SyncFocus(*form);
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
      if (ControlView* view = hosts_.value(watched); view && event->type() == QEvent::Resize)
        Layout(*view);
      // A window's normal geometry, kept when it closes: a maximized window's own geometry is
      // the work area's.
      for (auto& [key, form] : forms_) {
        QWidget* window = form->Window;
        if (window != watched || !form->Placed || !window->isVisible()) continue;
        if (!window->isMaximized() && !window->isMinimized())
          form->NormalGeometry = window->geometry();
      }
      break;
    case QEvent::WindowActivate:
      // An MDI child's activation comes through the work area's signal (qt_binding.cpp).
      if (syncing_ || qobject_cast<QMdiSubWindow*>(watched)) break;
      for (auto& [key, form] : forms_)
        if (form->Window == watched) {
          WindowActivated(form->Form);
          break;
        }
      break;
    default:
      break;
  }
  return false;
}

std::string QtBinding::WidgetText(const ControlView& view) const {
  if (!view.Edit) return {};
  switch (view.Kind) {
    case ControlKind::MaskEdit:
      return StoredValueOfDisplay(view.Mask, view.Edit->displayText());
    case ControlKind::DateEdit:
      return StoredValueOfDisplay(kDateEditMask, view.Edit->displayText());
    default:
      return FromQt(view.Edit->text());
  }
}

void QtBinding::AfterUserEvent(fw::TForm* form) {
  // The model may have refused or redirected what the user did: show what it says now.
  if (FormView* view = form ? FindForm(form) : nullptr) SyncFocus(*view);
}

bool QtBinding::KeyPressed(QObject* watched, QKeyEvent* event) {
  // A key the focused widget did not take travels up to its parents: it was handled already.
  if (watched != QApplication::focusWidget() || !fw::Application) return false;
  if (InRemoteCall()) return true;
  ControlView* view = focusParts_.value(watched);
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
    CopyGrid(static_cast<fw::TDBGrid*>(control), false);
    return true;
  }
  Traced("UserKey", control, fw::Application->UserKey(control, key, shift), key);
  AfterUserEvent(form);
  return true;
}

void QtBinding::FocusedIn(QObject* watched, QFocusEvent* event) {
  if (syncing_ || !fw::Application || InRemoteCall()) return;
  // Only the user's own moves go to the model: a click, or an access key. The Tab key goes to the
  // model as a key, so a tab-reason move is Qt's own (it moves the focus off a widget being
  // hidden, a page going out of view), as are the moves that follow the model or a window
  // being activated.
  if (event->reason() != Qt::MouseFocusReason && event->reason() != Qt::ShortcutFocusReason) return;
  ControlView* view = focusParts_.value(watched);
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

bool QtBinding::FlushPendingFocus() {
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

void QtBinding::TextEdited(fw::TControl* control) {
  ControlView* view = Find(control);
  if (!view || syncing_ || !fw::Application) return;
  if (InRemoteCall()) {
    ++syncing_;
    RefreshEditText(*view);
    --syncing_;
    return;
  }
  auto* edit = static_cast<fw::TEdit*>(control);
  // Typed into an edit the model would not let the focus reach: the text is undone below.
  if (FlushPendingFocus() && (view = Find(control))) {
    const std::string text = WidgetText(*view);
    if (text != edit->Text()) Traced("UserType", edit, fw::Application->UserType(edit, text));
  }
  if (ControlView* still = Find(control)) {
    ++syncing_;
    RefreshEditText(*still);
    --syncing_;
    AfterUserEvent(control->Form());
  }
}

void QtBinding::DatePicked(fw::TControl* control, const std::string& text) {
  if (!Find(control) || !fw::Application || InRemoteCall()) return;
  FlushPendingFocus();
  if (!Find(control)) return;
  Traced("UserType", control, fw::Application->UserType(static_cast<fw::TEdit*>(control), text));
  if (ControlView* still = Find(control)) {
    Refresh(*still);
    AfterUserEvent(control->Form());
  }
}

void QtBinding::RadioClicked(fw::TControl* control) {
  ControlView* view = Find(control);
  if (!view || syncing_ || !fw::Application) return;
  if (InRemoteCall()) return Refresh(*view);
  fw::TForm* form = control->Form();
  // The press moved the focus first; a move the model refused (a validation kept the focus
  // elsewhere) takes the click with it. Without a move (a click into a window that was not
  // active) the model's click takes the focus itself.
  const bool focusAccepted = FlushPendingFocus();
  if (!Find(control)) return;
  Traced("UserClick", control, focusAccepted && fw::Application->UserClick(control));
  if (ControlView* still = Find(control)) Refresh(*still);
  AfterUserEvent(form);
}

void QtBinding::ButtonClicked(fw::TControl* control) {
  if (!Find(control) || !fw::Application || InRemoteCall()) return;
  FlushPendingFocus();
  if (!Find(control)) return;
  fw::TForm* form = control->Form();
  fw::TControl* const outer = clicked_;
  clicked_ = control;
  Traced("UserClick", control, fw::Application->UserClick(control));
  clicked_ = outer;
  AfterUserEvent(form);
}

void QtBinding::TabChosen(fw::TControl* pageControl, int index) {
  ControlView* view = Find(pageControl);
  if (!view || syncing_ || !fw::Application) return;
  if (InRemoteCall()) return RefreshTabTitles(*view);
  FlushPendingFocus();
  if (!(view = Find(pageControl))) return;
  if (index >= 0 && index < static_cast<int>(view->Pages.size()))
    Traced("UserSelectTab", view->Pages[static_cast<size_t>(index)],
           fw::Application->UserSelectTab(view->Pages[static_cast<size_t>(index)]));
  if (ControlView* still = Find(pageControl)) RefreshTabTitles(*still);
  AfterUserEvent(pageControl->Form());
}

void QtBinding::CellClicked(fw::TControl* control, const QModelIndex& index, bool doubleClick) {
  if (!Find(control) || !fw::Application || InRemoteCall()) return;
  auto* grid = static_cast<fw::TDBGrid*>(control);
  fw::TForm* form = grid->Form();
  auto focused = [&] { return Find(control) && form->ActiveControl() == grid; };
  // The press gave the grid the focus in Qt; a move the model refused takes the click with it.
  if (!FlushPendingFocus()) {
    if (ControlView* still = Find(control)) SyncGridCursor(*still);
    return;
  }
  if (!index.isValid()) {
    Traced("UserFocus", grid, fw::Application->UserFocus(grid));
  } else {
    if (index.row() != grid->CurrentRow()) {
      Traced("UserSelectRow", grid, fw::Application->UserSelectRow(grid, index.row()), index.row());
    } else {
      Traced("UserFocus", grid, fw::Application->UserFocus(grid));
    }
    if (focused() && index.column() != grid->SelectedIndex())
      Traced("UserSelectColumn", grid, fw::Application->UserSelectColumn(grid, index.column()),
             index.column());
    if (doubleClick && focused()) Traced("UserDblClick", grid, fw::Application->UserDblClick(grid));
  }
  if (ControlView* still = Find(control)) SyncGridCursor(*still);
  AfterUserEvent(form);
}

void QtBinding::TitleClicked(fw::TControl* control, int column) {
  if (!Find(control) || !fw::Application) return;
  if (!InRemoteCall()) {
    FlushPendingFocus();
    if (ControlView* view = Find(control)) {
      auto* grid = static_cast<fw::TDBGrid*>(control);
      Traced("UserTitleClick", grid, fw::Application->UserTitleClick(grid, column), column);
      if ((view = Find(control))) SaveGridSort(*view);
    }
  }
  // The arrow shows the model's order, whatever the header did with the click.
  if (ControlView* still = Find(control)) SyncSortIndicator(*still);
}

void QtBinding::NavigatorClicked(fw::TControl* control, int button) {
  if (!Find(control) || !fw::Application || !control->IsEnabledUp() || InRemoteCall()) return;
  FlushPendingFocus();
  if (!Find(control)) return;
  auto* navigator = static_cast<fw::TDBNavigator*>(control);
  fw::Application->UserNavigate(navigator, static_cast<fw::TDBNavigator::TButton>(button));
  AfterUserEvent(control->Form());
}

void QtBinding::LeaveRemoteCall() {
  if (--remoteCalls_ > 0 || !pendingFocus_) return;
  QMetaObject::invokeMethod(
      this, [this] { FlushPendingFocus(); }, Qt::QueuedConnection);
}

void QtBinding::SplitterDragged(fw::TControl* splitter, int delta) {
  ControlView* view = Find(splitter);
  if (!view || !view->Parent || !view->Widget) return;
  const fw::TAlign align = splitter->Align();
  const QRect handle = view->Placed;
  // The control the splitter resizes is the one aligned the same way right before it; the one
  // that fills the rest gives or takes the room.
  ControlView* neighbour = nullptr;
  ControlView* rest = nullptr;
  for (fw::TControl* sibling : view->Parent->Controls()) {
    ControlView* other = Find(sibling);
    if (!other || sibling == splitter || !other->Widget || !sibling->Visible()) continue;
    if (sibling->Align() == fw::TAlign::alClient) rest = other;
    if (sibling->Align() != align) continue;
    const QRect rect = other->Placed;
    const bool adjacent = (align == fw::TAlign::alTop && rect.bottom() + 1 == handle.top()) ||
                          (align == fw::TAlign::alBottom && rect.top() == handle.bottom() + 1) ||
                          (align == fw::TAlign::alLeft && rect.right() + 1 == handle.left()) ||
                          (align == fw::TAlign::alRight && rect.left() == handle.right() + 1);
    if (adjacent) neighbour = other;
  }
  if (!neighbour) return;
  const bool vertical = align == fw::TAlign::alTop || align == fw::TAlign::alBottom;
  const auto size = [vertical](const QRect& rect) {
    return vertical ? rect.height() : rect.width();
  };
  int grow = (align == fw::TAlign::alTop || align == fw::TAlign::alLeft) ? delta : -delta;
  // Neither side is dragged out of sight.
  constexpr int kLeast = 20;
  grow = std::max(grow, std::min(kLeast - size(neighbour->Placed), 0));
  if (rest) grow = std::min(grow, std::max(size(rest->Placed) - kLeast, 0));
  if (grow == 0) return;
  // Only the view changes: a splitter is the user arranging the window, not data.
  userSizes_[neighbour->Control] += grow;
  SaveSplitter(neighbour->Control);
  if (ControlView* parent = Find(view->Parent)) Layout(*parent);
}

void QtBinding::CloseRequested(fw::TForm* form) {
  if (!FindForm(form) || !fw::Application || InRemoteCall()) return;
  FlushPendingFocus();
  if (!FindForm(form)) return;
  Traced("UserClose", form, true);
  fw::Application->UserClose(form);
}

void QtBinding::WindowActivated(fw::TForm* form) {
  if (!fw::Application || !form->Visible() || InRemoteCall()) return;
  if (fw::Application->ActiveForm() != form) {
    Traced("UserActivate", form, true);
    fw::Application->UserActivate(form);
  }
  if (FormView* view = FindForm(form)) SyncFocus(*view);
}

}  // namespace hostapp
