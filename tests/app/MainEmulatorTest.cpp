// The main window with rotators on emulated controllers: opening and closing,
// the needle and status bar following the rotator, turning, presets, start
// and close of rotators, and the console's target.

#include "app/CommandConsole.h"
#include "tools/Gs232Emulator.h"
#include "MainTestFixture.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;

namespace {

QStringList Commands(const Gs232Emulator &Emulator) {
  QStringList List;
  for (const auto &Received : Emulator.commands())
    List << QString::fromLatin1(Received.command);
  return List;
}

// The commands received, without the position queries of the poll.
QStringList Sent(const Gs232Emulator &Emulator) {
  QStringList List = Commands(Emulator);
  List.removeAll(QStringLiteral("C"));
  return List;
}

bool Has(const Gs232Emulator &Emulator, const QString &Command) {
  return Commands(Emulator).contains(Command);
}

class MainEmulatorTest : public MainTest {
protected:
  void SetUp() override {
    MainTest::SetUp();
    Gs232Emulator::Options Options;
    Options.timeScale = 10;
    Emulator = std::make_unique<Gs232Emulator>(Options);
    ASSERT_TRUE(Emulator->start());
  }

  QString Device() const { return Emulator->devicePath(); }

  static void Focus(QWidget *Widget, QEvent::Type Type) {
    QFocusEvent Event(Type, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(Widget, &Event);
  }

  std::unique_ptr<Gs232Emulator> Emulator;
};

} // namespace

TEST_F(MainEmulatorTest, NeedleAndStatusBarFollowTheRotator) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())}});
  auto M = Start();
  M->show();
  EXPECT_EQ(M->btnOpenClose->text(), "Open");
  EXPECT_FALSE(M->btnCW->isEnabled());
  EXPECT_FALSE(M->edtPresetD->isEnabled());

  M->btnOpenClose->click();
  ASSERT_TRUE(M->Gs232->Active()) << Ui->shown().join('|').toStdString();
  EXPECT_EQ(M->btnOpenClose->text(), "Close");
  for (QWidget *Control : {static_cast<QWidget *>(M->btnPreset), static_cast<QWidget *>(M->btnCW),
                           static_cast<QWidget *>(M->btnCCW), static_cast<QWidget *>(M->btnStop),
                           static_cast<QWidget *>(M->edtPresetD)})
    EXPECT_TRUE(Control->isEnabled()) << Control->objectName().toStdString();
  ASSERT_TRUE(Emulator->waitForCommands(3, 5s));
  EXPECT_EQ(Commands(*Emulator).mid(0, 3), (QStringList{"K0", "S", "I0"}));

  Emulator->setAzimuth(90);
  EXPECT_TRUE(WaitFor([&] { return Status(*M)[0] == "AZ=90°"; })) << Status(*M)[0].toStdString();
  EXPECT_TRUE(WaitFor([&] { return PixelIs(M->Display->imgDirection, 200, 125, clBlack); }));
  EXPECT_TRUE(PixelIs(M->Display->imgDirection, 125, 50, clWhite));

  Emulator->setAzimuth(180);
  EXPECT_TRUE(WaitFor([&] { return Status(*M)[0] == "AZ=180°"; })) << Status(*M)[0].toStdString();
  EXPECT_TRUE(WaitFor([&] { return PixelIs(M->Display->imgDirection, 125, 200, clBlack); }));
  EXPECT_TRUE(PixelIs(M->Display->imgDirection, 200, 125, clWhite));

  M->btnOpenClose->click();
  EXPECT_FALSE(M->Gs232->Active());
  EXPECT_EQ(M->btnOpenClose->text(), "Open");
  EXPECT_FALSE(M->btnCW->isEnabled());
  EXPECT_FALSE(M->edtPresetD->isEnabled());
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

TEST_F(MainEmulatorTest, TurnButtonsSendTurnAndStopCommands) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())}});
  auto M = Start();
  M->btnOpenClose->click();
  ASSERT_TRUE(M->Gs232->Active());

  M->btnCW->click();  // on: clockwise
  M->btnCW->click();  // off: stop
  M->btnCCW->click(); // on: counter-clockwise
  M->btnStop->click();
  EXPECT_TRUE(WaitFor([&] { return Sent(*Emulator).size() >= 7; }));
  EXPECT_EQ(Sent(*Emulator), (QStringList{"K0", "S", "I0", "R", "S", "L", "S"}));

  // A picture that can't be read ends the press before the command.
  ASSERT_TRUE(QFile::remove(Dir.filePath("CW_On.bmp")));
  Emulator->clearLog();
  M->btnCW->click();
  M->btnStop->click();
  EXPECT_TRUE(WaitFor([&] { return Has(*Emulator, "S"); }));
  EXPECT_EQ(Sent(*Emulator), QStringList{"S"});
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Exception).size(), 1);
}

TEST_F(MainEmulatorTest, PresetMoveEndsWithAStopWhenThePresetIsReached) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())}});
  auto M = Start();
  M->btnOpenClose->click();
  ASSERT_TRUE(M->Gs232->Active());

  Focus(M->edtPresetD, QEvent::FocusIn);
  M->edtPresetD->setText("30");
  Focus(M->edtPresetD, QEvent::FocusOut);
  ASSERT_FALSE(LayerIsClear(M->Display->imgPreset));
  M->btnPreset->click();

  EXPECT_TRUE(WaitFor([&] { return !M->Gs232->Presetting(); }));
  EXPECT_TRUE(M->edtPresetD->text().isEmpty());
  EXPECT_TRUE(LayerIsClear(M->Display->imgPreset));
  // The move, then the stop sent when the preset was reached.
  EXPECT_TRUE(WaitFor([&] {
    const QStringList List = Sent(*Emulator);
    const qsizetype Move = List.indexOf("M030");
    return Move >= 0 && List.mid(Move + 1).contains("S");
  })) << Sent(*Emulator).join(',').toStdString();
  EXPECT_NEAR(M->Gs232->AzimuthD(), 30, 2);
}

TEST_F(MainEmulatorTest, ShiftPressOnTheMapStartsTheMove) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())}});
  auto M = Start();
  M->show();
  M->btnOpenClose->click();
  ASSERT_TRUE(M->Gs232->Active());
  QTest::mouseClick(M->Display->imgDirection, Qt::LeftButton, Qt::ShiftModifier, QPoint(225, 125));
  EXPECT_EQ(M->edtPresetD->text(), "90");
  EXPECT_TRUE(WaitFor([&] { return Has(*Emulator, "M090"); }));
}

TEST_F(MainEmulatorTest, OpenRefusesAPortThatAnotherOpenRotatorUses) {
  QString OtherCase = Device().toUpper();
  WriteSettings({{"Rotator_0", EntryKeys("A", Device())},
                 {"Rotator_1", EntryKeys("B", Device())},
                 {"Rotator_2", EntryKeys("C", OtherCase)}});
  auto M = Start();
  M->btnOpenClose->click();
  ASSERT_TRUE(M->Gs232s[0]->Active());

  M->PageControl1->setCurrentIndex(1);
  M->btnOpenClose->click();
  EXPECT_EQ(Ui->shown(), QStringList{"The port is already open"});
  EXPECT_FALSE(M->Gs232s[1]->Active());
  EXPECT_EQ(M->btnOpenClose->text(), "Open");

  // The same port in other letter case is another text: the opening itself
  // decides, here with the driver's own message.
  Ui->clear();
  M->PageControl1->setCurrentIndex(2);
  M->btnOpenClose->click();
  EXPECT_FALSE(Ui->shown().contains("The port is already open"));
  EXPECT_EQ(Ui->shown().size(), 1) << Ui->shown().join('|').toStdString();
  EXPECT_FALSE(M->Gs232s[2]->Active());
  EXPECT_EQ(M->btnOpenClose->text(), "Open");
  EXPECT_TRUE(M->btnOpenClose->isEnabled());
  EXPECT_FALSE(M->btnCW->isEnabled());
  EXPECT_FALSE(M->btnPreset->isEnabled());
}

TEST_F(MainEmulatorTest, OnlyRotatorsMarkedToOpenAtStartAreOpened) {
  WriteSettings({{"Rotator_0", EntryKeys("A", "COM9")},
                 {"Rotator_1", EntryKeys("B", Device(), true, true)},
                 {"Rotator_2", EntryKeys("C", "COM8")}});
  auto M = Start();
  EXPECT_FALSE(M->Gs232s[0]->Active());
  EXPECT_TRUE(M->Gs232s[1]->Active());
  EXPECT_FALSE(M->Gs232s[2]->Active());
  EXPECT_EQ(M->CurrentRotator, 0);
  // Once its tab is selected, its readings reach the window.
  Emulator->setAzimuth(45);
  M->PageControl1->setCurrentIndex(1);
  EXPECT_TRUE(WaitFor([&] { return Status(*M)[1] == "AZ=45°"; })) << Status(*M)[1].toStdString();
}

TEST_F(MainEmulatorTest, DisabledRotatorOpenedAtStartIsClosedWhenItsPageIsShown) {
  WriteSettings({{"Rotator_0", EntryKeys("A", Device(), false, true)}});
  auto M = Start();
  EXPECT_FALSE(M->Gs232->Active());
  EXPECT_FALSE(M->btnOpenClose->isEnabled());
  EXPECT_EQ(M->btnOpenClose->text(), "Open");
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

// A rotator marked to return home is opened, sent home and closed when the
// window closes. What the port carries right before the purge of the close can
// be lost on a pseudo-terminal, so the homing is seen through its
// before-movement list: a relay item that the driver runs just ahead of "M".
TEST_F(MainEmulatorTest, ClosingSendsHomeTheRotatorsMarkedForItAndClosesThem) {
  auto Keys = EntryKeys("A", Device());
  Keys.push_back({"ReturnHome", "-1"});
  Keys.push_back({"Home", "90"});
  Keys.push_back({"RelaysCount", "4"});
  Keys.push_back({"CommandB", "Y11"});
  WriteSettings({{"Rotator_0", Keys}});
  auto M = Start();
  QPointer<TGs232> Driver = M->Gs232;
  ASSERT_TRUE(Driver);
  ASSERT_FALSE(Driver->Active());
  int Changes = 0;
  bool OpenWhenHoming = false;
  Driver->RelayArray()->SetChangeRelay([&](QObject *, int Index, bool State) {
    ++Changes;
    OpenWhenHoming = Driver && Driver->Active() && Index == 0 && State;
  });
  M->close();
  EXPECT_EQ(Changes, 1);
  EXPECT_TRUE(OpenWhenHoming);
  EXPECT_TRUE(M->Gs232s.empty());
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

TEST_F(MainEmulatorTest, ConsoleTalksToTheRotatorSelectedBeforeIt) {
  Gs232Emulator Second;
  ASSERT_TRUE(Second.start());
  WriteSettings({{"Rotator_0", EntryKeys("A", Device(), true, true)},
                 {"Rotator_1", EntryKeys("B", Second.devicePath(), true, true)}});
  auto M = Start();
  ASSERT_TRUE(M->Gs232s[0]->Active());
  ASSERT_TRUE(M->Gs232s[1]->Active());

  M->PageControl1->setCurrentIndex(1);
  M->PageControl1->setCurrentIndex(2);
  M->Console->edtCommand->setText("x1");
  M->Console->btnExecute->click();
  EXPECT_EQ(M->Console->Memo1->toPlainText(), "S--> X1");
  EXPECT_TRUE(WaitFor([&] { return Has(Second, "X1"); }));
  EXPECT_FALSE(Has(*Emulator, "X1"));
  M->close();
}

TEST_F(MainEmulatorTest, ActionsDuringAWaitOfTheClosingDoNothing) {
  WriteSettings({{"Rotator_0", EntryKeys("A", Device())}, {"Rotator_1", EntryKeys("B", "COM9")}});
  auto M = Start();
  // Sending the first rotator home runs its before-movement list, whose wait
  // lets the operator act while the closing works through the rotators.
  M->Gs232s[0]->SetReturnHome(true);
  M->Gs232s[0]->SetCommandB("WAIT300");
  bool Fired = false;
  QStringList TabsDuring;
  size_t DriversDuring = 0;
  bool ControlsEnabled = true;
  QTimer::singleShot(0, M.get(), [&] {
    Fired = true;
    M->actDelRotator->trigger();
    M->actInsRotator->trigger();
    M->actForwadRoatator->trigger();
    M->btnOpenClose->click();
    TabsDuring = Tabs(*M);
    DriversDuring = M->Gs232s.size();
    ControlsEnabled = M->centralWidget()->isEnabled();
  });
  M->close();
  ASSERT_TRUE(Fired);
  EXPECT_EQ(TabsDuring, (QStringList{"A", "B", "Console"}));
  EXPECT_EQ(DriversDuring, 2u);
  EXPECT_FALSE(ControlsEnabled);
  EXPECT_TRUE(M->Gs232s.empty());
}

TEST_F(MainEmulatorTest, DeletedRotatorStopsAtOnceWithoutSendingAnything) {
  WriteSettings({{"Rotator_0", EntryKeys("A", Device(), true, true)},
                 {"Rotator_1", EntryKeys("B", "COM9")}});
  auto M = Start();
  ASSERT_TRUE(M->Gs232s[0]->Active());
  QPointer<TGs232> Removed = M->Gs232s[0].get();
  Emulator->clearLog();
  M->actDelRotator->trigger();
  // Freed only later, but inert already: closed, no handlers, nothing sent
  // (a close would send a line end).
  ASSERT_TRUE(Removed);
  EXPECT_FALSE(Removed->Active());
  EXPECT_FALSE(Removed->ChangeAzEl());
  EXPECT_FALSE(Removed->ReachPreset());
  EXPECT_FALSE(Removed->ReachBound());
  EXPECT_FALSE(Removed->RelayArray()->ChangeRelays());
  EXPECT_FALSE(Has(*Emulator, ""));
  EXPECT_EQ(Tabs(*M), (QStringList{"B", "Console"}));
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

TEST_F(MainEmulatorTest, PresetTypedBeforeSwitchingTabsGoesToTheRotatorLeft) {
  Gs232Emulator Second;
  ASSERT_TRUE(Second.start());
  WriteSettings({{"Rotator_0", EntryKeys("A", Device(), true, true)},
                 {"Rotator_1", EntryKeys("B", Second.devicePath(), true, true)}});
  auto M = Start();
  ASSERT_TRUE(M->Gs232s[0]->Active());
  ASSERT_TRUE(M->Gs232s[1]->Active());
  M->show();
  M->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(M.get()));
  M->edtPresetD->setFocus(Qt::MouseFocusReason);
  ASSERT_TRUE(WaitFor([&] { return M->edtPresetD->hasFocus(); }));

  // A click on a tab leaves the focus in the field.
  M->edtPresetD->setText("30");
  M->PageControl1->setCurrentIndex(1);
  ASSERT_TRUE(M->edtPresetD->hasFocus());
  EXPECT_TRUE(M->Gs232s[0]->Presetting());
  EXPECT_EQ(M->Gs232s[0]->AzPresetD(), 30);
  EXPECT_FALSE(M->Gs232s[1]->Presetting());
  EXPECT_EQ(M->edtPresetD->text(), "");

  M->edtPresetD->setText("45");
  M->PageControl1->setCurrentIndex(0);
  EXPECT_EQ(M->Gs232s[1]->AzPresetD(), 45);
  EXPECT_EQ(M->edtPresetD->text(), "30");
  EXPECT_EQ(M->BeforeValue, "30");

  // Unchanged: leaving again changes nothing; emptied: the preset is reset.
  M->PageControl1->setCurrentIndex(1);
  EXPECT_EQ(M->Gs232s[0]->AzPresetD(), 30);
  EXPECT_TRUE(M->Gs232s[0]->Presetting());
  EXPECT_EQ(M->edtPresetD->text(), "45");
  M->edtPresetD->clear();
  M->PageControl1->setCurrentIndex(0);
  EXPECT_FALSE(M->Gs232s[1]->Presetting());
  EXPECT_TRUE(M->Gs232s[0]->Presetting());
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
  M->close();
}
