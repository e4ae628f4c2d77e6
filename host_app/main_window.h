// The host's main window: an MDI area for the module's screens, the menu that opens the request
// tracking module, and the "Sobre" box. It owns the Qt binding and the platform it hands to the
// framework's application object.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>

#include "protocol/account.h"

class QLabel;
class QMdiArea;

namespace hostapp {

class ModuleLoader;
class QtBinding;
class QtPlatform;
class WindowStatus;

// Qt's own texts in Brazilian Portuguese (an edit's context menu, standard buttons), from the
// translations installed with Qt; the locale for numbers and dates too. False when Qt's
// translations are not installed: those texts then stay in English.
bool InstallPortugueseTexts();

// The package of the tracking module and its start entry.
inline constexpr const char* kTrackingPackage = "libpkg_cmp09500.so";
inline constexpr const char* kTrackingEntry = "IniProc";

class MainWindow : public QMainWindow {
 public:
  explicit MainWindow(ModuleLoader& loader, QWidget* parent = nullptr);
  ~MainWindow() override;

  QMdiArea* Area() const { return area_; }
  QtBinding& Binding() const { return *binding_; }
  QtPlatform& Platform() const { return *platform_; }
  // The status bar's user, server and record count (status_bar.h).
  WindowStatus& Status() const { return *status_; }

  // "Compras > Acompanhamento da Solicitação": loads the package and calls IniProc. Returns
  // whether the module started; a missing or broken package is reported to the user, and so is
  // an account that reads no branch ("Sua conta não tem acesso a nenhuma filial."), for which
  // nothing is loaded and nothing queried.
  bool OpenRequestTracking();
  // The account logged in and what it reads, in the status bar ("demo · todas as filiais",
  // "filial02 · filiais 0002, 0003", "MSILVA · minhas solicitações"; the login alone when the
  // server does not say).
  void SetAccount(const std::string& login, const fw::TAccountScope& scope);
  QString AccountText() const;
  void ShowAbout();

  // The designed size (1300 x 820), made smaller where the screen's free area cannot hold it with
  // a window manager's frame: a 1280 x 800 display keeps the status bar in view.
  static QSize SizeFor(const QSize& available);
  // Shows the window at SizeFor the screen it is on, at the top left of its free area.
  void ShowOnScreen();
  static constexpr QSize kDesignedSize{1300, 820};
  static constexpr QSize kFrameAllowance{16, 48};  // borders and a title bar

 private:
  ModuleLoader& loader_;
  QMdiArea* area_;
  fw::TAccountScope scope_;
  std::unique_ptr<QtBinding> binding_;
  std::unique_ptr<QtPlatform> platform_;
  WindowStatus* status_;
};

}  // namespace hostapp
