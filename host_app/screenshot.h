// Pictures of the screens: any widget to a PNG file, and the unattended --screenshot session.
#pragma once

#include <QString>

class QWidget;

namespace hostapp {

class MainWindow;

// Renders the widget (and its children) into a PNG file; false when it cannot be written.
bool SaveWidgetPng(QWidget* widget, const QString& path);

// Saves the login dialog (after a refusal), then opens the request screen, runs a query, and
// saves into `directory` the request screen on both
// tabs, the item screen at its designed and at a maximized size, the whole main window, the
// search dialog, the busy indicator offering to cancel a call to a server that does not answer,
// and the request screen maximized. Returns the process exit status: 0 when every picture was
// written.
int RunScreenshotSession(MainWindow& window, const QString& directory);

}  // namespace hostapp
