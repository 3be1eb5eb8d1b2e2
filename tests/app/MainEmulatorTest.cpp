// The main window with rotators on emulated controllers: opening and closing,
// the needle and status bar following the rotator, turning, presets, start
// and close of rotators, and the console's target.

#include "tools/Gs232Emulator.h"
#include "MainTestFixture.h"
#include "common/EmulatorLog.h"
#include "app/AzimuthalMap.h"
#include "app/LargeMap.h"
#include "app/StationDialogs.h"
#include "remote/WebPassword.h"
#include "settings/NetworkSettings.h"
#include "settings/StationSettings.h"
#include "station/Bearing.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QScreen>
#include <QSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;

namespace {

bool Has(const Gs232Emulator &Emulator, const QString &Command) {
  return Commands(Emulator).contains(Command);
}

class MainEmulatorTest : public MainWithEmulatorTest {
protected:
  // Two rotators on the emulated line, "Mast" (shown) and "Tower", the window
  // shown.
  TWindow StartMastAndTower() {
    WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())},
                   {"Rotator_1", EntryKeys("Tower", Device())}});
    TWindow M = Start();
    M->show();
    return M;
  }

  static void Focus(QWidget *Widget, QEvent::Type Type) {
    QFocusEvent Event(Type, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(Widget, &Event);
  }

};

} // namespace

TEST_F(MainEmulatorTest, NeedleAndStatusBarFollowTheRotator) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())}});
  auto M = Start();
  const TControls C(*M);
  M->show();
  EXPECT_EQ(C.btnOpenClose->text(), "Open");
  EXPECT_FALSE(C.btnCW->isEnabled());
  EXPECT_FALSE(C.edtPresetD->isEnabled());

  C.btnOpenClose->click();
  ASSERT_TRUE(CurrentDriver(*M)->Active()) << Ui->shown().join('|').toStdString();
  EXPECT_EQ(C.btnOpenClose->text(), "Close");
  for (QWidget *Control : {static_cast<QWidget *>(C.btnPreset), static_cast<QWidget *>(C.btnCW),
                           static_cast<QWidget *>(C.btnCCW), static_cast<QWidget *>(C.btnStop),
                           static_cast<QWidget *>(C.edtPresetD)})
    EXPECT_TRUE(Control->isEnabled()) << Control->objectName().toStdString();
  ASSERT_TRUE(Emulator->waitForCommands(3, 5s));
  EXPECT_EQ(Commands(*Emulator).mid(0, 3), (QStringList{"K0", "S", "I0"}));

  Emulator->setAzimuth(90);
  EXPECT_TRUE(WaitFor([&] { return Status(*M)[0] == "AZ=90°"; })) << Status(*M)[0].toStdString();
  EXPECT_TRUE(WaitFor([&] { return PixelIs(C.imgDirection, 200, 125, clBlack); }));
  EXPECT_TRUE(PixelIs(C.imgDirection, 125, 50, clWhite));

  Emulator->setAzimuth(180);
  EXPECT_TRUE(WaitFor([&] { return Status(*M)[0] == "AZ=180°"; })) << Status(*M)[0].toStdString();
  EXPECT_TRUE(WaitFor([&] { return PixelIs(C.imgDirection, 125, 200, clBlack); }));
  EXPECT_TRUE(PixelIs(C.imgDirection, 200, 125, clWhite));

  C.btnOpenClose->click();
  EXPECT_FALSE(CurrentDriver(*M)->Active());
  EXPECT_EQ(C.btnOpenClose->text(), "Open");
  EXPECT_FALSE(C.btnCW->isEnabled());
  EXPECT_FALSE(C.edtPresetD->isEnabled());
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

TEST_F(MainEmulatorTest, TurnButtonsSendTurnAndStopCommands) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())}});
  auto M = Start();
  const TControls C(*M);
  C.btnOpenClose->click();
  ASSERT_TRUE(CurrentDriver(*M)->Active());

  C.btnCW->click();  // on: clockwise
  C.btnCW->click();  // off: stop
  C.btnCCW->click(); // on: counter-clockwise
  C.btnStop->click();
  EXPECT_TRUE(WaitFor([&] { return Sent(*Emulator).size() >= 7; }));
  EXPECT_EQ(Sent(*Emulator), (QStringList{"K0", "S", "I0", "R", "S", "L", "S"}));

  // A picture that can't be read ends the press before the command.
  ASSERT_TRUE(QFile::remove(Dir.filePath("CW_On.bmp")));
  Emulator->clearLog();
  C.btnCW->click();
  C.btnStop->click();
  EXPECT_TRUE(WaitFor([&] { return Has(*Emulator, "S"); }));
  EXPECT_EQ(Sent(*Emulator), QStringList{"S"});
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Exception).size(), 1);
}

// A controller lost while open (its adapter pulled) closes the rotator, and
// the page says so at once: "Open" again, no turning, one message.
TEST_F(MainEmulatorTest, LostControllerShowsTheRotatorClosed) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())}});
  auto M = Start();
  const TControls C(*M);
  C.btnOpenClose->click();
  ASSERT_TRUE(CurrentDriver(*M)->Active());
  ASSERT_EQ(C.btnOpenClose->text(), "Close");
  ASSERT_TRUE(C.btnCW->isEnabled());
  C.btnCW->click(); // turning clockwise when the controller goes
  ASSERT_EQ(PictureColor(C.btnCW), ColorCW_On);

  Emulator->hangUp();
  ASSERT_TRUE(WaitFor([&] { return !CurrentDriver(*M)->Active(); }));
  EXPECT_EQ(PictureColor(C.btnCW), ColorCW_Off);
  EXPECT_EQ(M->CWTag(), 0);
  EXPECT_EQ(C.btnOpenClose->text(), "Open");
  EXPECT_TRUE(C.btnOpenClose->isEnabled());
  for (QPushButton *Button : {C.btnCW, C.btnCCW, C.btnStop, C.btnPreset})
    EXPECT_FALSE(Button->isEnabled()) << Button->objectName().toStdString();
  EXPECT_TRUE(WaitFor([&] { return !Ui->shown().isEmpty(); }));
  EXPECT_EQ(Ui->shown().size(), 1) << Ui->shown().join('|').toStdString();
}

// A controller that stops answering (switched off, cable pulled at its end)
// leaves the rotator open: its tab and the status bar say so, the needle and
// the azimuth stay where they were, and both clear when it answers again.
TEST_F(MainEmulatorTest, ControllerThatStopsAnsweringIsMarkedUntilItAnswersAgain) {
  auto M = StartMastAndTower();
  const TControls C(*M);
  auto *NotResponding = TControls::Find<QLabel>(*M, "StatusNotice");
  Emulator->setAzimuth(90);
  C.btnOpenClose->click();
  ASSERT_TRUE(CurrentDriver(*M)->Active());
  ASSERT_TRUE(WaitFor([&] { return Status(*M)[0] == "AZ=90°"; })) << Status(*M)[0].toStdString();
  auto Marked = [&] { return !C.PageControl1->tabIcon(0).isNull(); };
  EXPECT_FALSE(Marked());
  EXPECT_FALSE(NotResponding->isVisible());

  Emulator->setSilent(true);
  ASSERT_TRUE(WaitFor(Marked));
  EXPECT_EQ(C.PageControl1->tabToolTip(0), "Not responding");
  EXPECT_EQ(C.PageControl1->tabText(0), "Mast");
  EXPECT_TRUE(C.PageControl1->tabIcon(1).isNull());
  EXPECT_TRUE(NotResponding->isVisible());
  EXPECT_EQ(NotResponding->text(), "Mast not responding");
  for (QLabel *Panel : C.StatusPanels)
    EXPECT_FALSE(Panel->isVisible()) << Panel->objectName().toStdString();
  EXPECT_EQ(Status(*M)[0], "AZ=90°");
  EXPECT_TRUE(PixelIs(C.imgDirection, 200, 125, clBlack));
  EXPECT_EQ(C.btnOpenClose->text(), "Close");

  // Another rotator's page: its own state in the bar, the mark stays.
  C.PageControl1->setCurrentIndex(1);
  EXPECT_FALSE(NotResponding->isVisible());
  EXPECT_TRUE(C.StatusPanels[0]->isVisible());
  EXPECT_TRUE(Marked());
  C.PageControl1->setCurrentIndex(0);
  EXPECT_TRUE(NotResponding->isVisible());

  Emulator->setAzimuth(170); // inside the travel: 180 is its end with the centre north
  Emulator->setSilent(false);
  ASSERT_TRUE(WaitFor([&] { return !Marked(); }));
  EXPECT_TRUE(C.PageControl1->tabToolTip(0).isEmpty());
  EXPECT_FALSE(NotResponding->isVisible());
  for (QLabel *Panel : C.StatusPanels)
    EXPECT_TRUE(Panel->isVisible()) << Panel->objectName().toStdString();
  EXPECT_TRUE(WaitFor([&] { return Status(*M)[0] == "AZ=170°"; })) << Status(*M)[0].toStdString();

  // Closing a rotator that does not answer clears the mark.
  Emulator->setSilent(true);
  ASSERT_TRUE(WaitFor(Marked));
  C.btnOpenClose->click();
  EXPECT_FALSE(Marked());
  EXPECT_FALSE(NotResponding->isVisible());
  EXPECT_TRUE(C.StatusPanels[0]->isVisible());
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

// The mark belongs to the rotator, not to a tab position: it goes along when
// rotators are moved, inserted or deleted around it, and leaves with the
// rotator's port when the controller's line is lost meanwhile.
TEST_F(MainEmulatorTest, NotRespondingMarkFollowsItsRotator) {
  auto M = StartMastAndTower();
  const TControls C(*M);
  auto *NotResponding = TControls::Find<QLabel>(*M, "StatusNotice");
  C.btnOpenClose->click();
  const QPointer<TGs232> Mast = CurrentDriver(*M);
  ASSERT_TRUE(Mast && Mast->Active());
  // "index:caption" of every tab with an icon or a tooltip.
  const auto MarkedTabs = [&] {
    QStringList Marked;
    for (int I = 0; I < C.PageControl1->count(); ++I)
      if (!C.PageControl1->tabIcon(I).isNull() || !C.PageControl1->tabToolTip(I).isEmpty())
        Marked << QStringLiteral("%1:%2").arg(I).arg(C.PageControl1->tabText(I));
    return Marked;
  };
  Emulator->setSilent(true);
  ASSERT_TRUE(WaitFor([&] { return !MarkedTabs().isEmpty(); }));
  EXPECT_EQ(MarkedTabs(), QStringList{"0:Mast"}) << MarkedTabs().join('|').toStdString();

  // Moved one place to the right; it stays the rotator shown.
  C.actBackwardRptator->trigger();
  EXPECT_EQ(Tabs(*M), (QStringList{"Tower", "Mast", "Console"}));
  EXPECT_EQ(MarkedTabs(), QStringList{"1:Mast"}) << MarkedTabs().join('|').toStdString();
  EXPECT_EQ(C.PageControl1->tabToolTip(1), "Not responding");
  EXPECT_EQ(NotResponding->text(), "Mast not responding");
  EXPECT_TRUE(NotResponding->isVisible());

  // A rotator inserted before it is shown instead: a closed one, the panels.
  C.actInsRotator->trigger();
  EXPECT_EQ(Tabs(*M), (QStringList{"Tower", "Rotator1", "Mast", "Console"}));
  EXPECT_EQ(MarkedTabs(), QStringList{"2:Mast"}) << MarkedTabs().join('|').toStdString();
  EXPECT_FALSE(NotResponding->isVisible());
  EXPECT_TRUE(C.StatusPanels[0]->isVisible());

  // Deleted again.
  Ui->warningAnswers.push_back(true);
  C.actDelRotator->trigger();
  EXPECT_EQ(Tabs(*M), (QStringList{"Tower", "Mast", "Console"}));
  EXPECT_EQ(MarkedTabs(), QStringList{"1:Mast"}) << MarkedTabs().join('|').toStdString();
  C.PageControl1->setCurrentIndex(1);
  EXPECT_TRUE(NotResponding->isVisible());

  // The line lost while the controller is silent: the rotator closes, and
  // the mark and the text go with it.
  Emulator->hangUp();
  ASSERT_TRUE(WaitFor([&] { return !Mast->Active(); }));
  EXPECT_TRUE(MarkedTabs().isEmpty()) << MarkedTabs().join('|').toStdString();
  EXPECT_FALSE(NotResponding->isVisible());
  for (QLabel *Panel : C.StatusPanels)
    EXPECT_TRUE(Panel->isVisible()) << Panel->objectName().toStdString();
  EXPECT_EQ(C.btnOpenClose->text(), "Open");
}

TEST_F(MainEmulatorTest, PresetMoveEndsWithAStopWhenThePresetIsReached) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())}});
  auto M = Start();
  const TControls C(*M);
  C.btnOpenClose->click();
  ASSERT_TRUE(CurrentDriver(*M)->Active());

  Focus(C.edtPresetD, QEvent::FocusIn);
  C.edtPresetD->setText("30");
  Focus(C.edtPresetD, QEvent::FocusOut);
  ASSERT_FALSE(LayerIsClear(C.imgPreset));
  C.btnPreset->click();

  EXPECT_TRUE(WaitFor([&] { return !CurrentDriver(*M)->Presetting(); }));
  EXPECT_TRUE(C.edtPresetD->text().isEmpty());
  EXPECT_TRUE(LayerIsClear(C.imgPreset));
  // The move, then the stop sent when the preset was reached.
  EXPECT_TRUE(WaitFor([&] {
    const QStringList List = Sent(*Emulator);
    const qsizetype Move = List.indexOf("M030");
    return Move >= 0 && List.mid(Move + 1).contains("S");
  })) << Sent(*Emulator).join(',').toStdString();
  EXPECT_NEAR(CurrentDriver(*M)->AzimuthD(), 30, 2);
}

// A rotator whose page is not shown, sent to a preset by another program,
// gets the stop and its after-movement list when it arrives, once; the page
// shown is not touched.
TEST_F(MainEmulatorTest, ARotatorOnAnotherTabIsStoppedWhenItArrives) {
  Gs232Emulator::Options Fast;
  Fast.timeScale = 10;
  Gs232Emulator Second(Fast);
  ASSERT_TRUE(Second.start());
  auto Hidden = EntryKeys("B", Second.devicePath(), true, true);
  Hidden.push_back({QStringLiteral("CommandA"), QStringLiteral("Y20")});
  WriteSettings({{"Rotator_0", EntryKeys("A", Device(), true, true)}, {"Rotator_1", Hidden}});
  auto M = Start();
  const TControls C(*M);
  ASSERT_EQ(C.PageControl1->currentIndex(), 0);
  ASSERT_TRUE(Driver(*M, 1).Active());
  C.edtPresetD->setText("77");

  Driver(*M, 1).SetPreset(40);
  Driver(*M, 1).GoPreset();
  ASSERT_TRUE(WaitFor([&] { return Sent(Second).contains("Y20"); }))
      << Sent(Second).join(',').toStdString();
  EXPECT_FALSE(Driver(*M, 1).Presetting());
  EXPECT_NEAR(Second.azimuth(), 40, 0.5);
  // Further polls bring no second stop.
  const size_t Seen = Second.commands().size();
  ASSERT_TRUE(WaitFor([&] { return Second.commands().size() >= Seen + 5; }));
  const QStringList List = Sent(Second);
  EXPECT_EQ(List.mid(List.indexOf("M040")), (QStringList{"M040", "S", "Y20"}));
  EXPECT_EQ(C.edtPresetD->text(), "77");
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

// Whatever sends the rotator somewhere (home, as the menu and rotctld's park
// do; a move of the automation object, which sets the preset and goes), the
// map shows the target and the status bar the reading beside it, until the
// rotator gets there.
TEST_F(MainEmulatorTest, TargetOfEveryMovementShowsUntilTheRotatorGetsThere) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())}});
  auto M = Start();
  const TControls C(*M);
  auto *Notice = TControls::Find<QLabel>(*M, "StatusNotice");
  C.btnOpenClose->click();
  TGs232 &D = *CurrentDriver(*M);
  ASSERT_TRUE(D.Active());
  ASSERT_TRUE(LayerIsClear(C.imgPreset));

  // Home south-east, short of the travel's end in the south.
  D.SetHome(150);
  D.GoHome();
  EXPECT_TRUE(PixelIs(C.imgPreset, 155, 177, clBlue)) << "needle towards 150°";
  EXPECT_FALSE(Notice->isHidden());
  EXPECT_EQ(Notice->text(), QStringLiteral("AZ=0° → 150°"));
  // On the way, the reading changes beside the same target.
  EXPECT_TRUE(WaitFor([&] { return D.AzimuthD() >= 60 && D.MoveTarget(); }));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^AZ=([6-9]\\d|1\\d\\d)° → 150°$"))
                  .match(Notice->text())
                  .hasMatch())
      << Notice->text().toStdString();
  ASSERT_TRUE(WaitFor([&] { return !D.MoveTarget(); }));
  EXPECT_TRUE(LayerIsClear(C.imgPreset));
  EXPECT_TRUE(Notice->isHidden());
  EXPECT_FALSE(C.StatusPanels[0]->isHidden());

  D.SetPreset(90);
  D.GoPreset();
  EXPECT_TRUE(PixelIs(C.imgPreset, 200, 125, clBlue));
  EXPECT_TRUE(Notice->text().endsWith(QStringLiteral(" → 90°"))) << Notice->text().toStdString();
  ASSERT_TRUE(WaitFor([&] { return !D.MoveTarget(); }));
  // The preset needle goes once the rotator has arrived.
  EXPECT_TRUE(WaitFor([&] { return LayerIsClear(C.imgPreset); }));
  EXPECT_NEAR(D.AzimuthD(), 90, 2);
}

// The keyboard: Enter in the preset field moves there, a refused value moves
// nothing; Escape stops the current rotator; Enter in the console's command
// field executes it.
TEST_F(MainEmulatorTest, EnterMovesToTheTypedPresetEscapeStopsAndEnterExecutes) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())}});
  auto M = Start();
  const TControls C(*M);
  M->show();
  C.btnOpenClose->click();
  ASSERT_TRUE(CurrentDriver(*M)->Active());

  C.edtPresetD->setFocus();
  Focus(C.edtPresetD, QEvent::FocusIn);
  QTest::keyClicks(C.edtPresetD, "400");
  QTest::keyClick(C.edtPresetD, Qt::Key_Return);
  EXPECT_EQ(Ui->shown(), QStringList{"Value exceeds the range"});
  C.edtPresetD->clear();
  QTest::keyClicks(C.edtPresetD, "45");
  QTest::keyClick(C.edtPresetD, Qt::Key_Return);
  EXPECT_TRUE(WaitFor([&] { return Has(*Emulator, "M045"); })) << Sent(*Emulator).join(',').toStdString();
  EXPECT_FALSE(Has(*Emulator, "M400"));
  EXPECT_EQ(CurrentDriver(*M)->AzPresetD(), 45);

  Emulator->clearLog();
  QTest::keyClick(M.get(), Qt::Key_Escape);
  EXPECT_TRUE(WaitFor([&] { return Has(*Emulator, "S"); })) << Sent(*Emulator).join(',').toStdString();

  C.PageControl1->setCurrentIndex(C.PageControl1->count() - 1); // the console
  C.edtCommand->setFocus();
  QTest::keyClicks(C.edtCommand, "c");
  QTest::keyClick(C.edtCommand, Qt::Key_Return);
  EXPECT_TRUE(C.Memo1->toPlainText().startsWith("S--> C")) << C.Memo1->toPlainText().toStdString();
}

TEST_F(MainEmulatorTest, ShiftPressOnTheMapStartsTheMove) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device())}});
  auto M = Start();
  const TControls C(*M);
  M->show();
  C.btnOpenClose->click();
  ASSERT_TRUE(CurrentDriver(*M)->Active());
  QTest::mouseClick(C.imgDirection, Qt::LeftButton, Qt::ShiftModifier, QPoint(225, 125));
  EXPECT_EQ(C.edtPresetD->text(), "90");
  EXPECT_TRUE(WaitFor([&] { return Has(*Emulator, "M090"); }));
}

TEST_F(MainEmulatorTest, OpenRefusesAPortThatAnotherOpenRotatorUses) {
  QString OtherCase = Device().toUpper();
  WriteSettings({{"Rotator_0", EntryKeys("A", Device())},
                 {"Rotator_1", EntryKeys("B", Device())},
                 {"Rotator_2", EntryKeys("C", OtherCase)}});
  auto M = Start();
  const TControls C(*M);
  C.btnOpenClose->click();
  ASSERT_TRUE(Driver(*M, 0).Active());

  C.PageControl1->setCurrentIndex(1);
  C.btnOpenClose->click();
  EXPECT_EQ(Ui->shown(), QStringList{"The port is already open"});
  EXPECT_FALSE(Driver(*M, 1).Active());
  EXPECT_EQ(C.btnOpenClose->text(), "Open");

  // The same port in other letter case is another text: the opening itself
  // decides, here with the driver's own message.
  Ui->clear();
  C.PageControl1->setCurrentIndex(2);
  C.btnOpenClose->click();
  EXPECT_FALSE(Ui->shown().contains("The port is already open"));
  EXPECT_EQ(Ui->shown().size(), 1) << Ui->shown().join('|').toStdString();
  EXPECT_FALSE(Driver(*M, 2).Active());
  EXPECT_EQ(C.btnOpenClose->text(), "Open");
  EXPECT_TRUE(C.btnOpenClose->isEnabled());
  EXPECT_FALSE(C.btnCW->isEnabled());
  EXPECT_FALSE(C.btnPreset->isEnabled());
}

TEST_F(MainEmulatorTest, OnlyRotatorsMarkedToOpenAtStartAreOpened) {
  WriteSettings({{"Rotator_0", EntryKeys("A", "COM9")},
                 {"Rotator_1", EntryKeys("B", Device(), true, true)},
                 {"Rotator_2", EntryKeys("C", "COM8")}});
  auto M = Start();
  const TControls C(*M);
  EXPECT_FALSE(Driver(*M, 0).Active());
  EXPECT_TRUE(Driver(*M, 1).Active());
  EXPECT_FALSE(Driver(*M, 2).Active());
  EXPECT_EQ(M->Station().CurrentRotator(), 0);
  // Once its tab is selected, its readings reach the window.
  Emulator->setAzimuth(45);
  C.PageControl1->setCurrentIndex(1);
  EXPECT_TRUE(WaitFor([&] { return Status(*M)[1] == "AZ=45°"; })) << Status(*M)[1].toStdString();
}

TEST_F(MainEmulatorTest, DisabledRotatorOpenedAtStartIsClosedWhenItsPageIsShown) {
  WriteSettings({{"Rotator_0", EntryKeys("A", Device(), false, true)}});
  auto M = Start();
  const TControls C(*M);
  EXPECT_FALSE(CurrentDriver(*M)->Active());
  EXPECT_FALSE(C.btnOpenClose->isEnabled());
  EXPECT_EQ(C.btnOpenClose->text(), "Open");
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
  QPointer<TGs232> Rotator = CurrentDriver(*M);
  ASSERT_TRUE(Rotator);
  ASSERT_FALSE(Rotator->Active());
  int Changes = 0;
  bool OpenWhenHoming = false;
  Rotator->RelayArray()->SetChangeRelay([&](QObject *, int Index, bool State) {
    ++Changes;
    OpenWhenHoming = Rotator && Rotator->Active() && Index == 0 && State;
  });
  M->close();
  EXPECT_EQ(Changes, 1);
  EXPECT_TRUE(OpenWhenHoming);
  EXPECT_EQ(RotatorCount(*M), 0);
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

TEST_F(MainEmulatorTest, ConsoleTalksToTheRotatorSelectedBeforeIt) {
  Gs232Emulator Second;
  ASSERT_TRUE(Second.start());
  WriteSettings({{"Rotator_0", EntryKeys("A", Device(), true, true)},
                 {"Rotator_1", EntryKeys("B", Second.devicePath(), true, true)}});
  auto M = Start();
  const TControls C(*M);
  ASSERT_TRUE(Driver(*M, 0).Active());
  ASSERT_TRUE(Driver(*M, 1).Active());

  C.PageControl1->setCurrentIndex(1);
  C.PageControl1->setCurrentIndex(2);
  C.edtCommand->setText("x1");
  C.btnExecute->click();
  EXPECT_EQ(C.Memo1->toPlainText(), "S--> X1");
  EXPECT_TRUE(WaitFor([&] { return Has(Second, "X1"); }));
  EXPECT_FALSE(Has(*Emulator, "X1"));
  M->close();
}

TEST_F(MainEmulatorTest, ActionsDuringAWaitOfTheClosingDoNothing) {
  WriteSettings({{"Rotator_0", EntryKeys("A", Device())}, {"Rotator_1", EntryKeys("B", "COM9")}});
  auto M = Start();
  const TControls C(*M);
  // Sending the first rotator home runs its before-movement list, whose wait
  // lets the operator act while the closing works through the rotators.
  Driver(*M, 0).SetReturnHome(true);
  Driver(*M, 0).SetCommandB("WAIT300");
  bool Fired = false;
  QStringList TabsDuring;
  int DriversDuring = 0;
  bool ControlsEnabled = true;
  QTimer::singleShot(0, M.get(), [&] {
    Fired = true;
    C.actDelRotator->trigger();
    C.actInsRotator->trigger();
    C.actForwadRoatator->trigger();
    C.btnOpenClose->click();
    TabsDuring = Tabs(*M);
    DriversDuring = RotatorCount(*M);
    ControlsEnabled = M->centralWidget()->isEnabled();
  });
  // The closing goes on after the wait, with the event loop running.
  M->close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Fired && M->Station().Closed(); }, 10000));
  EXPECT_EQ(TabsDuring, (QStringList{"A", "B", "Console"}));
  EXPECT_EQ(DriversDuring, 2);
  EXPECT_FALSE(ControlsEnabled);
  EXPECT_EQ(RotatorCount(*M), 0);
}

TEST_F(MainEmulatorTest, DeletedRotatorStopsAtOnceWithoutSendingAnything) {
  WriteSettings({{"Rotator_0", EntryKeys("A", Device(), true, true)},
                 {"Rotator_1", EntryKeys("B", "COM9")}});
  auto M = Start();
  const TControls C(*M);
  ASSERT_TRUE(Driver(*M, 0).Active());
  QPointer<TGs232> Removed = &Driver(*M, 0);
  // The question names the rotator and its open port; No keeps it open.
  const QString Question =
      QStringLiteral("Delete the rotator \"A\"?\nIts port %1 is open and will be closed.")
          .arg(Device());
  C.actDelRotator->trigger();
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Warning), QStringList{Question});
  EXPECT_TRUE(Removed->Active());
  EXPECT_EQ(Tabs(*M), (QStringList{"A", "B", "Console"}));

  Emulator->clearLog();
  Ui->warningAnswers.push_back(true);
  C.actDelRotator->trigger();
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Warning), (QStringList{Question, Question}));
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
  const TControls C(*M);
  ASSERT_TRUE(Driver(*M, 0).Active());
  ASSERT_TRUE(Driver(*M, 1).Active());
  M->show();
  M->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(M.get()));
  C.edtPresetD->setFocus(Qt::MouseFocusReason);
  ASSERT_TRUE(WaitFor([&] { return C.edtPresetD->hasFocus(); }));

  // A click on a tab leaves the focus in the field.
  C.edtPresetD->setText("30");
  C.PageControl1->setCurrentIndex(1);
  ASSERT_TRUE(C.edtPresetD->hasFocus());
  EXPECT_TRUE(Driver(*M, 0).Presetting());
  EXPECT_EQ(Driver(*M, 0).AzPresetD(), 30);
  EXPECT_FALSE(Driver(*M, 1).Presetting());
  EXPECT_EQ(C.edtPresetD->text(), "");

  C.edtPresetD->setText("45");
  C.PageControl1->setCurrentIndex(0);
  EXPECT_EQ(Driver(*M, 1).AzPresetD(), 45);
  EXPECT_EQ(C.edtPresetD->text(), "30");
  // That text is what later edits compare with: leaving the field without a
  // change leaves the preset alone, even one reset behind the field's back.
  Driver(*M, 0).ResetPreset();
  C.btnPreset->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(C.btnPreset->hasFocus());
  EXPECT_FALSE(Driver(*M, 0).Presetting());
  Driver(*M, 0).SetPreset(30);
  C.edtPresetD->setFocus(Qt::MouseFocusReason);
  ASSERT_TRUE(C.edtPresetD->hasFocus());

  // Unchanged: leaving again changes nothing; emptied: the preset is reset.
  C.PageControl1->setCurrentIndex(1);
  EXPECT_EQ(Driver(*M, 0).AzPresetD(), 30);
  EXPECT_TRUE(Driver(*M, 0).Presetting());
  EXPECT_EQ(C.edtPresetD->text(), "45");
  C.edtPresetD->clear();
  C.PageControl1->setCurrentIndex(0);
  EXPECT_FALSE(Driver(*M, 1).Presetting());
  EXPECT_TRUE(Driver(*M, 0).Presetting());
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
  M->close();
}

// "Turn to" on the station's own map: the chosen path becomes the preset with
// its needle and the path on the map; "Go" also sends the controller there.
TEST_F(MainEmulatorTest, TurnToSetsThePresetDrawsThePathAndGoes) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device(), true, true)}},
                QStringLiteral("<Station><Locator>JO62qm</Locator></Station>\n"));
  auto M = Start();
  M->show();
  TControls C(*M);
  ASSERT_TRUE(WaitFor([&] { return CurrentDriver(*M)->Active(); }));
  // The opening's own commands (the last is I0) are on the line first.
  ASSERT_TRUE(WaitFor([&] { return Has(*Emulator, QStringLiteral("I0")); }));
  const TLatLon Station = *LocatorToLatLon(QStringLiteral("JO62qm"));
  const TLatLon Place = *LocatorToLatLon(QStringLiteral("FN31pr"));
  const TBearing Expected = BearingBetween(Station, Place);
  const TMapProjection Projection(Station, 250);
  const QPointF Middle = (Projection.MapCentre() + Projection.Project(Place)) / 2;
  const auto MapPixel = [&](QPointF At) {
    return C.imgMap->pixmap().toImage().pixelColor(At.toPoint());
  };
  // The path's colour, give or take its smoothed edge.
  const auto OnPath = [&](QPointF At) {
    const QColor Seen = MapPixel(At), Path = TMapColours::ShortPath;
    return std::abs(Seen.red() - Path.red()) + std::abs(Seen.green() - Path.green()) +
               std::abs(Seen.blue() - Path.blue()) < 40;
  };
  // The map around the station (its mark in the centre), not the rose.
  EXPECT_EQ(MapPixel(Projection.MapCentre()), QColor(Qt::white));
  EXPECT_FALSE(OnPath(Middle));

  const auto Choose = [](const QString &Text, bool Long, const char *Button) {
    return [=](QDialog &Dialog) {
      auto &TurnTo = static_cast<TTurnToDialog &>(Dialog);
      TurnTo.edtPlace->setText(Text);
      EXPECT_TRUE(TurnTo.lblResult->text().contains(QStringLiteral("Short path")))
          << TurnTo.lblResult->text().toStdString();
      TurnTo.rbLong->setChecked(Long);
      TurnTo.findChild<QPushButton *>(QLatin1String(Button))->click();
      return TurnTo.result();
    };
  };
  Emulator->clearLog();
  ExecuteTurnTo(*M, Choose(QStringLiteral("FN31pr"), false, "btnSetPreset"));
  const int Short = WholeDegrees(Expected.ShortPath);
  EXPECT_EQ(CurrentDriver(*M)->AzPresetD(), Short);
  EXPECT_EQ(C.edtPresetD->text(), QString::number(Short));
  EXPECT_FALSE(LayerIsClear(C.imgPreset));
  EXPECT_TRUE(OnPath(Middle));
  EXPECT_TRUE(Sent(*Emulator).isEmpty()) << Sent(*Emulator).join(' ').toStdString();

  ExecuteTurnTo(*M, Choose(QStringLiteral("FN31pr"), true, "btnGo"));
  const QString Go = QStringLiteral("M%1").arg(WholeDegrees(Expected.LongPath), 3, 10, QChar(u'0'));
  EXPECT_TRUE(WaitFor([&] { return Has(*Emulator, Go); })) << Sent(*Emulator).join(' ').toStdString();

  // A place that can't be read leaves the dialog's buttons off and changes
  // nothing.
  ExecuteTurnTo(*M, [](QDialog &Dialog) {
    auto &TurnTo = static_cast<TTurnToDialog &>(Dialog);
    TurnTo.edtPlace->setText(QStringLiteral("JZ00"));
    EXPECT_FALSE(TurnTo.findChild<QPushButton *>(QStringLiteral("btnGo"))->isEnabled());
    EXPECT_TRUE(TurnTo.lblResult->text().contains(QStringLiteral("not a locator")));
    return int(QDialog::Rejected);
  });
  EXPECT_EQ(CurrentDriver(*M)->AzPresetD(), WholeDegrees(Expected.LongPath));
  EXPECT_TRUE(OnPath(Middle));

  // Another preset, picked on the map, leaves the place: its path goes.
  QTest::mouseClick(C.imgDirection, Qt::LeftButton, Qt::NoModifier, QPoint(25, 125));
  EXPECT_EQ(CurrentDriver(*M)->AzPresetD(), 270);
  EXPECT_FALSE(OnPath(Middle));
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

// The station dialog keeps a wrong locator from being taken, and a right one
// is written to the document and redraws the map around the new place.
TEST_F(MainTest, StationDialogRefusesAWrongLocatorAndTakesARightOne) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", QStringLiteral("/dev/null-0"))}});
  auto M = Start();
  TControls C(*M);
  const QImage Rose = C.imgMap->pixmap().toImage();
  ExecuteStationSettings(*M, [](QDialog &Dialog) {
    auto &Station = static_cast<TStationDialog &>(Dialog);
    Station.edtLocator->setText(QStringLiteral("JZ00"));
    Station.accept();
    EXPECT_EQ(Station.result(), int(QDialog::Rejected));
    EXPECT_TRUE(Station.lblProblem->text().contains(QStringLiteral("not a locator")));
    Station.edtLocator->setText(QStringLiteral("IO91wm"));
    Station.edtLatitude->setText(QStringLiteral("95"));
    Station.accept();
    EXPECT_TRUE(Station.lblProblem->text().contains(QStringLiteral("latitude")));
    Station.edtLatitude->setText(QStringLiteral("51,5"));
    Station.edtCallsign->setText(QStringLiteral("g4abc"));
    // The network page: an address that is none is refused too.
    Station.edtUdpAddress->setText(QStringLiteral("my.pc"));
    Station.accept();
    EXPECT_TRUE(Station.lblProblem->text().contains(QStringLiteral("not an IP address")))
        << Station.lblProblem->text().toStdString();
    Station.edtUdpAddress->setText(QStringLiteral("0.0.0.0"));
    Station.chkPst->setChecked(true);
    Station.spnPstPort->setValue(12345);
    Station.cmbPstRotator->setCurrentIndex(1);
    Station.accept();
    return Station.result();
  });
  TLoadProblems Problems;
  const TStationSettings Saved = LoadStationSettings(SettingsPath(), Problems);
  EXPECT_EQ(Saved.Locator, QStringLiteral("IO91wm"));
  EXPECT_EQ(Saved.Callsign, QStringLiteral("G4ABC"));
  EXPECT_EQ(Saved.Latitude, 51.5);
  const TNetworkSettings Network = LoadNetworkSettings(SettingsPath(), Problems);
  EXPECT_TRUE(Network.PstEnable);
  EXPECT_EQ(Network.PstPort, 12345);
  EXPECT_EQ(Network.PstRotator, 0);
  EXPECT_EQ(Network.UdpAddress, QStringLiteral("0.0.0.0"));
  EXPECT_FALSE(Network.N1mmEnable);
  EXPECT_NE(C.imgMap->pixmap().toImage(), Rose);
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

// The network page's web fields: beyond loopback only with a password, which
// is stored as its hash, kept when the field stays empty and removed on
// request.
TEST_F(MainTest, StationDialogWebPageNeedsAPasswordBeyondLoopback) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", QStringLiteral("/dev/null-0"))}});
  auto M = Start();
  TLoadProblems Problems;
  ExecuteStationSettings(*M, [](QDialog &Dialog) {
    auto &Station = static_cast<TStationDialog &>(Dialog);
    Station.chkWeb->setChecked(true);
    Station.edtWebAddress->setText(QStringLiteral("0.0.0.0"));
    Station.spnWebPort->setValue(8123);
    Station.accept();
    EXPECT_TRUE(Station.lblProblem->text().contains(QStringLiteral("password")))
        << Station.lblProblem->text().toStdString();
    Station.edtWebCertificate->setText(QStringLiteral("/etc/cert.pem"));
    Station.edtWebPassword->setText(QStringLiteral("hunter22"));
    Station.accept();
    EXPECT_TRUE(Station.lblProblem->text().contains(QStringLiteral("both")))
        << Station.lblProblem->text().toStdString();
    Station.edtWebCertificate->clear();
    Station.accept();
    return Station.result();
  });
  const TNetworkSettings First = LoadNetworkSettings(SettingsPath(), Problems);
  EXPECT_TRUE(First.WebEnable);
  EXPECT_EQ(First.WebPort, 8123);
  EXPECT_EQ(First.WebAddress, QStringLiteral("0.0.0.0"));
  EXPECT_FALSE(First.WebPassword.contains(QStringLiteral("hunter22")));
  EXPECT_TRUE(CheckWebPassword(QStringLiteral("hunter22"), First.WebPassword));

  // An empty field keeps the password; removing it needs loopback again.
  ExecuteStationSettings(*M, [](QDialog &Dialog) {
    auto &Station = static_cast<TStationDialog &>(Dialog);
    Station.accept();
    return Station.result();
  });
  EXPECT_EQ(LoadNetworkSettings(SettingsPath(), Problems).WebPassword, First.WebPassword);
  ExecuteStationSettings(*M, [](QDialog &Dialog) {
    auto &Station = static_cast<TStationDialog &>(Dialog);
    Station.chkWebNoPassword->setChecked(true);
    Station.accept();
    EXPECT_EQ(Station.result(), int(QDialog::Rejected));
    Station.edtWebAddress->setText(QStringLiteral("127.0.0.1"));
    Station.accept();
    return Station.result();
  });
  EXPECT_TRUE(LoadNetworkSettings(SettingsPath(), Problems).WebPassword.isEmpty());
}

// The large map window: every rotator's needle in its own colour, a click
// sets the current rotator's preset and a Shift-click sends it there, and
// the window keeps its size for the next start.
TEST_F(MainEmulatorTest, LargeMapShowsEveryRotatorAndClicksSetThePreset) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Device(), true, true)},
                 {"Rotator_1", EntryKeys("Tower", QStringLiteral("/dev/null-1"))},
                 {"Rotator_2", EntryKeys("Shed", QStringLiteral("/dev/null-2"), false)}},
                QStringLiteral("<Station><Locator>JO62qm</Locator></Station>\n"));
  Emulator->setAzimuth(90);
  {
    auto M = Start();
    M->show();
    ASSERT_TRUE(WaitFor([&] { return CurrentDriver(*M)->AzimuthD() == 90; }));
    // The first time, the map opens beside the window, covering none of it.
    M->move(M->screen()->availableGeometry().topLeft());
    M->findChild<QAction *>(QStringLiteral("actLargeMap"))->trigger();
    auto *Map = M->findChild<TLargeMapWindow *>(QStringLiteral("LargeMap"));
    ASSERT_NE(Map, nullptr);
    ASSERT_TRUE(Map->isVisible());
    EXPECT_FALSE(Map->frameGeometry().intersects(M->frameGeometry()))
        << Map->frameGeometry().x() << "," << Map->frameGeometry().width();
    Map->resize(640, 520);
    const QRect Area = Map->MapRect();
    const QPointF Centre = QRectF(Area).center();
    const auto Along = [&](double Degrees, double Fraction) {
      const double A = qDegreesToRadians(Degrees);
      const double R = Map->NeedleLength() * Fraction;
      return QPoint(int(std::lround(Centre.x() + R * std::sin(A))),
                    int(std::lround(Centre.y() - R * std::cos(A))));
    };
    const QImage Shown = Map->grab().toImage();
    // The current rotator in the rotator page's black, the other in a
    // colour of its own; the one switched off has no needle.
    EXPECT_EQ(TLargeMapWindow::NeedleColour(0, 0), ColorOf(clBlack));
    EXPECT_EQ(Shown.pixelColor(Along(90, 0.5)), TLargeMapWindow::NeedleColour(0, 0));
    EXPECT_EQ(Shown.pixelColor(Along(0, 0.5)), TLargeMapWindow::NeedleColour(1, 0));
    for (const QColor &Colour : {TLargeMapWindow::NeedleColour(1, 0),
                                 TLargeMapWindow::OffsetColour, TLargeMapWindow::PresetColour})
      EXPECT_NE(Colour, TLargeMapWindow::NeedleColour(2, 0));
    bool ShedShown = false;
    for (int Y = 0; Y < Shown.height() && !ShedShown; ++Y)
      for (int X = 0; X < Shown.width() && !ShedShown; ++X)
        ShedShown = Shown.pixelColor(X, Y) == TLargeMapWindow::NeedleColour(2, 0);
    EXPECT_FALSE(ShedShown);

    Emulator->clearLog();
    QTest::mouseClick(Map, Qt::LeftButton, Qt::NoModifier, Along(200.4, 0.9));
    EXPECT_EQ(CurrentDriver(*M)->AzPresetD(), 200);
    EXPECT_TRUE(Sent(*Emulator).isEmpty()) << Sent(*Emulator).join(' ').toStdString();
    QTest::mouseClick(Map, Qt::LeftButton, Qt::ShiftModifier, Along(45.4, 0.9));
    EXPECT_EQ(CurrentDriver(*M)->AzPresetD(), 45);
    EXPECT_TRUE(WaitFor([&] { return Has(*Emulator, QStringLiteral("M045")); }))
        << Sent(*Emulator).join(' ').toStdString();
    Map->close();
  }
  auto M = Start();
  M->findChild<QAction *>(QStringLiteral("actLargeMap"))->trigger();
  auto *Map = M->findChild<TLargeMapWindow *>(QStringLiteral("LargeMap"));
  ASSERT_NE(Map, nullptr);
  EXPECT_EQ(Map->size(), QSize(640, 520));
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}
