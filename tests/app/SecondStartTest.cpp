// A second start: the running instance's "Orbalt.IProgram" interface brings
// its window to the front whatever state the window is in, and answers false
// without a window.

#include "app/SecondStart.h"
#include "remote/AutomationBusSupport.h"

#include <QDBusPendingCall>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

using automation_test::PrivateBusTest;
using automation_test::TConnection;

class SecondStartTest : public PrivateBusTest {
protected:
  void SetUp() override {
    PrivateBusTest::SetUp();
    if (HasFatalFailure())
      return;
    new TProgramDBusAdaptor(&Served, [this] { return Window; });
    ASSERT_TRUE(Server->registerObject(OrbaltObjectPath, &Served, QDBusConnection::ExportAdaptors));
    ASSERT_TRUE(Server->registerService(OrbaltServiceName));
  }

  // Activate called by a client; the answer, or an invalid value for an
  // error.
  QVariant Activate() {
    QDBusMessage Message = QDBusMessage::createMethodCall(
        OrbaltServiceName, OrbaltObjectPath, ProgramInterfaceName, QStringLiteral("Activate"));
    Message.setArguments({QString()});
    QDBusPendingCall Pending = Client->asyncCall(Message, automation_test::WaitMs);
    automation_test::WaitFor([&] { return Pending.isFinished(); });
    const QDBusMessage Reply = Pending.reply();
    return Reply.type() == QDBusMessage::ReplyMessage && Reply.arguments().size() == 1
               ? Reply.arguments().constFirst()
               : QVariant();
  }

  QObject Served;
  QWidget *Window = nullptr;
  TConnection Server{Bus->Address};
  TConnection Client{Bus->Address};
};

} // namespace

TEST_F(SecondStartTest, TheWindowComesToTheFrontFromEveryState) {
  // Another window of the desktop, active while the call comes.
  QWidget Other;
  const struct {
    const char *Name;
    std::function<void(QWidget &)> Leave; // how the operator left the window
    Qt::WindowStates Kept;                // what stays of its state
  } Cases[] = {
      {"minimised", [](QWidget &W) { W.showMinimized(); }, {}},
      {"hidden", [](QWidget &W) { W.hide(); }, {}},
      {"maximised, then minimised",
       [](QWidget &W) { W.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized); },
       Qt::WindowMaximized},
      {"behind another window",
       [&Other](QWidget &) {
         Other.show();
         Other.activateWindow();
         automation_test::WaitFor([&] { return Other.isActiveWindow(); }, 20000);
       },
       {}},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    QWidget Shown;
    Shown.show();
    C.Leave(Shown);
    Window = &Shown;
    EXPECT_EQ(Activate(), QVariant(true));
    EXPECT_TRUE(Shown.isVisible());
    EXPECT_FALSE(Shown.isMinimized());
    EXPECT_EQ(Shown.windowState() & ~Qt::WindowActive, C.Kept);
    EXPECT_TRUE(automation_test::WaitFor([&] { return Shown.isActiveWindow(); }, 20000));
    Window = nullptr;
    Other.hide();
  }
}

TEST_F(SecondStartTest, WithoutAWindowTheCallOnlyAnswers) {
  EXPECT_EQ(Activate(), QVariant(false));
}
