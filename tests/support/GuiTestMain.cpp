// The main() of GUI test executables: a QApplication on the offscreen platform
// (unless the environment names another), with QStandardPaths in test mode so
// that nothing a test does reaches the user's own settings, then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  // Tests open and close many windows; closing the last one must not end the
  // event loops of the tests that follow.
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
