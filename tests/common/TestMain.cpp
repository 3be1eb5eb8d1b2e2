// Test main: a Qt application object lives for the whole run, so that timers,
// serial ports and widgets work inside the tests. Widget test programs are
// built with ORBALT_TEST_WIDGETS and get a QApplication (offscreen platform).

#include <gtest/gtest.h>

#ifdef ORBALT_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char **argv) {
#ifdef ORBALT_TEST_WIDGETS
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  ::testing::InitGoogleTest(&argc, argv);
  TestApplication App(argc, argv);
  return RUN_ALL_TESTS();
}
