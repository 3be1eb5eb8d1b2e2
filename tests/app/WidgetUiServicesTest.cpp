// The program's message boxes and file dialogs: each leaves its window active
// when it closes, also where no window manager hands the activation back.

#include "app/WidgetUiServices.h"

#include <QApplication>
#include <QDir>
#include <QDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Closes the modal box or dialog that the next call opens, once it is up.
void CloseTheBoxWhenShown() {
  auto *Closer = new QTimer;
  Closer->setInterval(20);
  QObject::connect(Closer, &QTimer::timeout, Closer, [Closer] {
    if (auto *Box = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
      Box->reject();
      Closer->deleteLater();
    }
  });
  Closer->start();
}

TEST(WidgetUiServices, EveryBoxGivesItsWindowTheActivationBack) {
  QWidget Window;
  auto *Field = new QLineEdit(&Window);
  Window.show();
  QApplication::setActiveWindow(&Window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
  Field->setFocus();

  TWidgetUiServices Ui;
  Ui.parent = &Window;
  const std::pair<const char *, std::function<void()>> Boxes[] = {
      {"message", [&] { Ui.ShowMessage("A message"); }},
      {"error", [&] { Ui.ShowError("Value exceeds the range"); }},
      {"question", [&] { Ui.AskWarningYesNo("Caption", "Go on?"); }},
      {"exception", [&] { Ui.ShowException("Failed"); }},
      {"open dialog", [&] { Ui.OpenFile("Map", "Pictures (*.bmp)", QDir::tempPath()); }},
      {"save dialog", [&] { Ui.SaveFile("Text (*.txt)", "txt", QDir::tempPath()); }},
  };
  for (const auto &[Name, Show] : Boxes) {
    SCOPED_TRACE(Name);
    CloseTheBoxWhenShown();
    Show();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&Window, 2000));
    EXPECT_EQ(QApplication::focusWidget(), Field);
  }
}

} // namespace
