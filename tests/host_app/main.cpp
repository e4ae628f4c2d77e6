// The Qt binding's tests run on Qt's offscreen platform: no display is needed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

namespace {
// The offscreen platform says, for every window, that it cannot raise it or pass size hints on.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
  qt_message_output(type, context, message);
}
}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(QuietHandler);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // What the host and the report keep for a user (the report's last filter) goes to a folder of
  // the tests' own.
  const QTemporaryDir configuration;
  qputenv("XDG_CONFIG_HOME", configuration.path().toLocal8Bit());
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
