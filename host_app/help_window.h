// The help of the screens and of the report: HTML pages in Portuguese, shipped with the host (the
// folder "ajuda" beside the executable; host_app/help in the sources), shown in a window of the
// host's own with the topics on the left and the page on the right. The help button of a screen,
// F1 anywhere on a screen, F1 or "Ajuda" in the report's dialog and the menu "Ajuda" open it on
// the page of what is in view; its links lead from page to page.
//
// There is one help window. Opened from a modal window (the item screen, the report's dialog) it
// belongs to that window, so that it takes the mouse and the keys while the modal one is up.
#pragma once

#include <QDialog>
#include <QString>

class QListWidget;
class QTextBrowser;

namespace fw {
class IPlatform;
class TForm;
}  // namespace fw

namespace hostapp {

class QtBinding;

// The code a screen's help goes by: its screen code label ("CMP09500"); empty for a form without
// one.
QString ScreenCode(const fw::TForm* form);

// F1 on a screen opens the help on that screen's page: an application-wide filter that takes F1
// pressed in a bound form's widgets (the index in the main window's own) and leaves it to every
// other window (the report's dialog answers it itself). It lives as long as `owner`.
void InstallHelpKey(QtBinding& binding, fw::IPlatform& platform, QObject* owner);

class HelpWindow : public QDialog {
 public:
  // Where the pages are: "ajuda" beside the executable, else share/acomp/ajuda beside its folder;
  // empty when neither holds the index.
  static QString Folder();
  // The page of a topic ("CMP09500" -> cmp09500.html); empty when it is not installed.
  static QString PageOf(const QString& topic);
  // Shows the one help window on `topic` (the index for an empty one), over `parent`; nullptr
  // when that page is not installed.
  static HelpWindow* ShowTopic(const QString& topic, QWidget* parent);
  // The window now open, if any.
  static HelpWindow* Current();

  QTextBrowser* Browser() const { return browser_; }
  QListWidget* Topics() const { return topics_; }
  // The topic of the page in view ("CMP09500"; "" for the index).
  QString Topic() const;

 private:
  explicit HelpWindow(const QString& folder, QWidget* parent);
  void Open(const QString& topic);
  void Follow();

  QString folder_;
  QListWidget* topics_;
  QTextBrowser* browser_;
};

}  // namespace hostapp
