// The Qt host's side of the platform interface: forms through the binding, and the framework's
// dialogs for real (message boxes, busy indicator, list picker, record search, product look-up),
// the mouse cursor and the loading of other host modules.
//
// Unattended runs (the --screenshot session) set Interactive off: messages then go to the
// standard error stream and every dialog is cancelled, so nothing waits for a user.
//
// Remote calls: RunRemoteCall runs a blocking call on the call thread (one for the platform's
// life, call_thread.h) while this (the user interface) thread keeps the windows painted. No user
// input reaches the model meanwhile: an application-wide filter swallows mouse, keyboard and close
// events, and the binding sends the model nothing. After CancelOfferDelayMs the busy indicator
// offers "Cancelar" (and Esc), which abandons the call; the call then fails as any other remote
// failure does.
#pragma once

#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/platform.h"

class QWidget;

namespace hostapp {

class BusyOverlay;
class CallThread;
class ModuleLoader;
class PickerResults;
class QtBinding;

class QtPlatform : public fw::IPlatform {
 public:
  // `loader` may be null: then no module is installed.
  QtPlatform(QtBinding& binding, ModuleLoader* loader, QWidget* mainWindow = nullptr);
  ~QtPlatform() override;

  bool Interactive = true;
  // Every message shown, errors and information alike, in order.
  std::vector<std::string> Messages;
  // The busy indicator now: its widget while shown, else nullptr.
  BusyOverlay* Busy() const;
  // What each list picker left chosen, beside the control it was opened from.
  PickerResults& Picks() const { return *picks_; }

  // How long a remote call runs before the indicator offers to cancel it.
  int CancelOfferDelayMs = 2000;
  // Runs `call` (which blocks) to its end and rethrows what it raised. `cancel` is run, on this
  // thread, when the user cancels; it must make `call` end soon (the TCP client's Cancel).
  void RunRemoteCall(const std::function<void()>& call, const std::function<void()>& cancel);
  bool InRemoteCall() const { return remoteCalls_ > 0; }

  void ShowForm(fw::TForm* form) override;
  void ShowModal(fw::TForm* form) override;
  void HideForm(fw::TForm* form) override;
  void Repaint(fw::TForm* form) override;
  void ShowError(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void ShowBusy(fw::TForm* owner, int animation, const std::string& caption) override;
  void HideBusy() override;
  void SetCursor(fw::TCursor cursor) override;
  bool PickList(fw::TDataSet* rows, const std::string& keyField, const std::string& title,
                std::vector<std::string>& marked) override;
  bool SearchRecord(fw::TDataSet* dataSet, fw::TSearchRequest& request) override;
  bool LookupProduct(fw::TDataSet* rows, const std::string& codeField, const std::string& nameField,
                     int& row) override;
  bool LoadModule(const std::string& name) override;
  bool ChooseSort(fw::TSortRequest& request) override;
  void FormCreating(fw::TForm* form) override;
  // The help window on that page (help_window.h); false when the page is not installed.
  bool ShowHelp(const std::string& topic) override;

 private:
  QWidget* DialogParent() const;
  void Box(bool error, const std::string& text);

  QtBinding& binding_;
  ModuleLoader* loader_;
  QPointer<QWidget> mainWindow_;
  QPointer<BusyOverlay> busy_;
  std::unique_ptr<PickerResults> picks_;
  bool busyCursor_ = false;
  bool waitCursor_ = false;
  int remoteCalls_ = 0;
  std::unique_ptr<CallThread> calls_;  // where RunRemoteCall runs the calls
  // The last search of each data set (by name and form): the dialog opens with it, so that
  // searching again goes on to the next match.
  std::map<std::string, fw::TSearchRequest> lastSearch_;
};

}  // namespace hostapp
