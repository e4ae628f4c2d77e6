#include "host_app/qt_platform.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>

#include "host_app/call_thread.h"
#include "host_app/conversions.h"
#include "host_app/dialogs.h"
#include "host_app/help_window.h"
#include "host_app/message_box.h"
#include "host_app/module_loader.h"
#include "host_app/picker_result.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_widgets.h"

namespace hostapp {

namespace {

// A call that ends within this time runs without the event loop: the common quick call costs no
// more than it did when calls blocked the window, and input typed meanwhile waits its turn.
constexpr std::chrono::milliseconds kQuickCall(30);

// Swallows every user input and every close request while a remote call is in flight, except
// what reaches the indicator's "Cancelar" button; Esc cancels once the offer is shown.
class RemoteCallGuard : public QObject {
 public:
  std::function<QPushButton*()> Button;  // the offered button, or nullptr
  std::function<void()> OnEscape;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove: {
        // The window system's mouse reaches a window first, which hands it to the widget under
        // the pointer: the widget is where it is judged. Stopped at the window, no click would
        // ever reach "Cancelar".
        if (!watched->isWidgetType()) return false;
        QPushButton* button = Button ? Button() : nullptr;
        if (button && watched == button) return false;
        return true;
      }
      case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && OnEscape) OnEscape();
        return true;
      case QEvent::Close:
        event->ignore();
        return true;
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::InputMethod:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
      case QEvent::TabletMove:
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
      case QEvent::NonClientAreaMouseButtonPress:
      case QEvent::NonClientAreaMouseButtonRelease:
      case QEvent::NonClientAreaMouseButtonDblClick:
      case QEvent::NonClientAreaMouseMove:
        return true;
      default:
        return false;
    }
  }
};

}  // namespace

QtPlatform::QtPlatform(QtBinding& binding, ModuleLoader* loader, QWidget* mainWindow)
    : binding_(binding),
      loader_(loader),
      mainWindow_(mainWindow),
      picks_(std::make_unique<PickerResults>(binding)),
      calls_(std::make_unique<CallThread>()) {}

QtPlatform::~QtPlatform() {
  HideBusy();
  SetCursor(fw::TCursor::crDefault);
  delete busy_;
}

BusyOverlay* QtPlatform::Busy() const {
  return busy_ && busy_->isVisible() ? busy_.data() : nullptr;
}

void QtPlatform::ShowForm(fw::TForm* form) {
  binding_.ShowForm(form);
}
void QtPlatform::ShowModal(fw::TForm* form) {
  binding_.ShowModal(form);
}
void QtPlatform::HideForm(fw::TForm* form) {
  binding_.HideForm(form);
}
void QtPlatform::Repaint(fw::TForm* form) {
  binding_.Repaint(form);
}

QWidget* QtPlatform::DialogParent() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  return mainWindow_;
}

void QtPlatform::Box(bool error, const std::string& text) {
  Messages.push_back(text);
  if (!Interactive) {
    std::fprintf(stderr, "%s: %s\n", error ? "Atenção" : "Informação", text.c_str());
    return;
  }
  // The busy veil must not cover the message that explains why the call stopped.
  const bool busyShown = busy_ && busy_->isVisible();
  if (busyShown) busy_->hide();
  // What happened and what to do; the technical text, when there is one, behind "Detalhes".
  MessageBox box(error, UserMessage(text), DialogParent());
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  QApplication::restoreOverrideCursor();
  if (busyShown && busy_) busy_->show();
}

void QtPlatform::ShowError(const std::string& text) {
  Box(true, text);
}

void QtPlatform::ShowMessage(const std::string& text) {
  Box(false, text);
}

void QtPlatform::ShowBusy(fw::TForm* owner, int /*animation*/, const std::string& caption) {
  // On the owning form when it is on screen; a form still being created has no window yet.
  QWidget* host = owner ? binding_.RootOf(owner) : nullptr;
  if (!host || !host->isVisible()) host = QApplication::activeWindow();
  if (!host) host = mainWindow_;
  if (!host) return;
  if (!busy_ || busy_->parentWidget() != host) {
    delete busy_;
    busy_ = new BusyOverlay(host);
  }
  busy_->SetCaption(ToQt(caption));
  if (!busyCursor_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    busyCursor_ = true;
  }
  busy_->show();
  busy_->raise();
  // Painted now: the remote call that follows blocks the event loop.
  busy_->repaint();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtPlatform::HideBusy() {
  if (busy_) busy_->hide();
  if (busyCursor_) {
    QApplication::restoreOverrideCursor();
    busyCursor_ = false;
  }
}

void QtPlatform::RunRemoteCall(const std::function<void()>& call,
                               const std::function<void()>& cancel) {
  struct TShared {
    std::mutex Mutex;
    std::condition_variable Done;
    bool Finished = false;
    std::exception_ptr Error;
  };
  auto shared = std::make_shared<TShared>();
  // Held for the whole call, whatever leaves it.
  struct THold {
    QtPlatform& Platform;
    explicit THold(QtPlatform& platform) : Platform(platform) {
      ++Platform.remoteCalls_;
      Platform.binding_.EnterRemoteCall();
    }
    ~THold() {
      Platform.binding_.LeaveRemoteCall();
      --Platform.remoteCalls_;
    }
  } hold(*this);
  // The call thread touches only what `call` touches, and nothing of Qt; this thread runs no
  // model code until it ends.
  calls_->Post([shared, &call] {
    try {
      call();
    } catch (...) {
      shared->Error = std::current_exception();
    }
    std::lock_guard lock(shared->Mutex);
    shared->Finished = true;
    shared->Done.notify_all();
  });
  // However this function is left, not before the call is over: it holds `call` by reference.
  struct TAwaitCall {
    TShared& Shared;
    explicit TAwaitCall(TShared& shared) : Shared(shared) {}
    void Wait() {
      std::unique_lock lock(Shared.Mutex);
      Shared.Done.wait(lock, [this] { return Shared.Finished; });
    }
    ~TAwaitCall() { Wait(); }
  } awaitCall(*shared);
  const auto finished = [&] {
    std::lock_guard lock(shared->Mutex);
    return shared->Finished;
  };

  std::unique_lock lock(shared->Mutex);
  const bool quick = shared->Done.wait_for(lock, kQuickCall, [&] { return shared->Finished; });
  lock.unlock();
  if (!quick) {
    QEventLoop loop;
    // The loop looks for the end of the call itself, a few milliseconds apart, so that the
    // worker never has to reach into Qt.
    QTimer ended;
    ended.setInterval(5);
    QObject::connect(&ended, &QTimer::timeout, [&] {
      if (finished()) loop.quit();
    });
    ended.start();

    QPointer<BusyOverlay> offer;  // where the offer stands
    bool ownOverlay = false;      // shown for this call only: no indicator was up
    bool arrowCursor = false;
    bool cancelled = false;
    auto doCancel = [&] {
      if (cancelled || !offer || !offer->CancelOffered()) return;
      cancelled = true;
      offer->MarkCancelling();
      cancel();
    };
    RemoteCallGuard guard;
    guard.Button = [&]() -> QPushButton* {
      return offer && offer->CancelOffered() ? offer->CancelButton() : nullptr;
    };
    guard.OnEscape = doCancel;
    qApp->installEventFilter(&guard);

    QTimer offerTimer;
    offerTimer.setSingleShot(true);
    QObject::connect(&offerTimer, &QTimer::timeout, [&] {
      offer = Busy();
      if (!offer) {
        QWidget* host = DialogParent();
        if (!host) return;
        offer = new BusyOverlay(host);
        ownOverlay = true;
        offer->show();
        offer->raise();
      }
      offer->OfferCancel(doCancel);
      // The pointer must be able to reach the button: the wait cursor is lifted meanwhile.
      QApplication::setOverrideCursor(Qt::ArrowCursor);
      arrowCursor = true;
    });
    offerTimer.start(std::max(CancelOfferDelayMs - static_cast<int>(kQuickCall.count()), 0));

    if (!finished()) loop.exec();

    ended.stop();
    offerTimer.stop();
    qApp->removeEventFilter(&guard);
    if (arrowCursor) QApplication::restoreOverrideCursor();
    if (offer) {
      offer->WithdrawCancel();
      if (ownOverlay) delete offer.data();
    }
  }
  awaitCall.Wait();
  if (shared->Error) std::rethrow_exception(shared->Error);
}

void QtPlatform::SetCursor(fw::TCursor cursor) {
  const bool wait = cursor == fw::TCursor::crHourGlass;
  if (wait == waitCursor_) return;
  waitCursor_ = wait;
  if (wait) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

bool QtPlatform::PickList(fw::TDataSet* rows, const std::string& keyField, const std::string& title,
                          std::vector<std::string>& marked) {
  if (!Interactive || !rows) return false;
  // The button clicked (or the key's control) the picker was opened from: its result shows there.
  const fw::TControl* anchor = binding_.ClickedButton();
  if (!anchor && fw::Application) anchor = fw::Application->FocusedControl();
  PickListDialog dialog(rows, keyField, title, marked, DialogParent());
  if (dialog.exec() != QDialog::Accepted) return false;
  marked = dialog.Marked();
  picks_->Picked(anchor, rows, keyField, marked);
  return true;
}

bool QtPlatform::SearchRecord(fw::TDataSet* dataSet, fw::TSearchRequest& request) {
  if (!Interactive || !dataSet || request.Columns.empty()) return false;
  const fw::TComponent* owner = dataSet->Owner();
  const std::string key = (owner ? owner->Name() + "." : std::string()) + dataSet->Name();
  fw::TSearchRequest offered = request;
  if (auto last = lastSearch_.find(key); last != lastSearch_.end()) {
    offered.Value = last->second.Value;
    offered.Match = last->second.Match;
    for (const fw::TSearchColumn& column : offered.Columns)
      if (column.FieldName == last->second.FieldName) offered.FieldName = column.FieldName;
  }
  SearchDialog dialog(offered, DialogParent());
  if (dialog.exec() != QDialog::Accepted) return false;
  request = dialog.Request();
  lastSearch_[key] = request;
  return !request.FieldName.empty();
}

bool QtPlatform::LookupProduct(fw::TDataSet* rows, const std::string& codeField,
                               const std::string& nameField, int& row) {
  if (!Interactive || !rows) return false;
  ProductLookupDialog dialog(rows, codeField, nameField, DialogParent());
  if (dialog.exec() != QDialog::Accepted) return false;
  row = dialog.ChosenRow();
  return row >= 0;
}

bool QtPlatform::ChooseSort(fw::TSortRequest& request) {
  if (!Interactive || request.Columns.empty()) return false;
  SortDialog dialog(request, DialogParent());
  if (dialog.exec() != QDialog::Accepted) return false;
  request.Fields = dialog.Fields();
  return true;
}

void QtPlatform::FormCreating(fw::TForm* form) {
  binding_.RestoreSorts(form);
}

bool QtPlatform::ShowHelp(const std::string& topic) {
  return HelpWindow::ShowTopic(ToQt(topic), DialogParent()) != nullptr;
}

bool QtPlatform::LoadModule(const std::string& name) {
  if (!loader_) return false;
  const ModuleLoader::Result result = loader_->StartModule(name);
  switch (result.Outcome) {
    case ModuleLoader::Status::Started:
      return true;
    case ModuleLoader::Status::NotInstalled:
      // The framework says plainly that the module is not installed.
      return false;
    case ModuleLoader::Status::Broken:
      ShowError(result.Message);
      return true;
  }
  return false;
}

}  // namespace hostapp
