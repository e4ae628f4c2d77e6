// The report's tests run on Qt's offscreen platform: no display is needed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>

namespace {
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
  qt_message_output(type, context, message);
}
}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(QuietHandler);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The dialog keeps each user's last filter in the user's configuration folder: one of the
  // tests' own, so that no run sees another's (or a real user's).
  const QTemporaryDir configuration;
  qputenv("XDG_CONFIG_HOME", configuration.path().toLocal8Bit());
  QApplication app(argc, argv);
  QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
