// The station with rotators on emulated controllers: the start, the closing
// sequence, a port that fails while open, and new settings for an open
// rotator.
//
// The driver's close sends a line end and then purges the port, and on a
// pseudo-terminal the purge drops what the emulator has not read yet. So a
// homing is recognised by its before-movement list: a relay item followed by
// a pause, which reaches the controller well ahead of the "M" command that
// may be lost.

#include "station/StationSeam.h"
#include "StationTestSupport.h"

#include <QPointer>
#include <QSignalSpy>

using namespace station_test;

namespace {

const QString Marker = QStringLiteral("Y11");

// A rotator on Port that is sent to Home when the program closes, with the
// marker relay item ahead of every movement.
TRotatorSettings Homing(const QString &Title, const QString &Port, int Home) {
  TRotatorSettings S = Rotator(Title, Port);
  S.Enable = true;
  S.ReturnHome = true;
  S.Home = Home;
  S.RelaysCount = 4;
  S.CommandB = Marker + QStringLiteral(",WAIT300");
  return S;
}

TRotatorSettings Opening(const QString &Title, const QString &Port) {
  TRotatorSettings S = Rotator(Title, Port);
  S.Enable = true;
  S.AutoActive = true;
  return S;
}

// The commands without the position queries of the poll.
QStringList Sent(const Gs232Emulator &Emu) {
  QStringList Out = Commands(Emu);
  Out.removeAll(QStringLiteral("C"));
  return Out;
}

class StationSerialTest : public StationTest {
protected:
  void SetUp() override {
    StationTest::SetUp();
    ASSERT_TRUE(EmuA.start());
    ASSERT_TRUE(EmuB.start());
  }
  void TearDown() override {
    StationTest::TearDown();
    EmuA.stop();
    EmuB.stop();
  }

  // Checks that Emu saw a homing to Target: the marker, and after it
  // nothing but what the homing and the close send, some of which the
  // close's purge may have dropped.
  static void ExpectHoming(const Gs232Emulator &Emu, const QString &Target) {
    const QStringList Cmds = Sent(Emu);
    const qsizetype At = Cmds.indexOf(Marker);
    ASSERT_GE(At, 0) << "not sent home: " << Cmds.join('|').toStdString();
    const QStringList Tail = Cmds.mid(At);
    const QStringList Expected{Marker, QStringLiteral("M") + Target, QString()};
    EXPECT_EQ(Tail, Expected.mid(0, Tail.size())) << Cmds.join('|').toStdString();
  }

  Gs232Emulator EmuA;
  Gs232Emulator EmuB;
};

const QString NoSuchPort = QStringLiteral("/dev/orbalt-no-such-port");

} // namespace

TEST_F(StationSerialTest, StartOpensTheRotatorsThatOpenAtStart) {
  Store({Rotator("Idle", EmuA.devicePath()), Opening("Live", EmuB.devicePath())});
  TStation &S = Load();
  QSignalSpy Turned(&S, &TStation::AzimuthChanged);
  Log.clear();
  S.Start();
  EXPECT_EQ(Log, QStringList{"opened 1"});
  EXPECT_FALSE(TStationSeam::Driver(S, 0).Active());
  EXPECT_TRUE(TStationSeam::Driver(S, 1).Active());
  ASSERT_TRUE(EmuB.waitForCommands(3, std::chrono::milliseconds(kWaitMs)));
  EXPECT_EQ(Commands(EmuB).mid(0, 3), (QStringList{"K0", "S", "I0"}));

  // The poll runs: its reports name the rotator by its place.
  EmuB.setAzimuth(90);
  EXPECT_TRUE(WaitFor([&] { return TStationSeam::Driver(S, 1).AzimuthD() == 90; })) << TStationSeam::Driver(S, 1).AzimuthD();
  ASSERT_FALSE(Turned.isEmpty());
  for (const QList<QVariant> &Args : Turned)
    EXPECT_EQ(Args.at(0).toInt(), 1);
  EXPECT_TRUE(Commands(EmuA).isEmpty()) << Commands(EmuA).join('|').toStdString();
  EXPECT_TRUE(Messages.isEmpty()) << Messages.join('|').toStdString();
}

// A start without a window opens every enabled rotator, marked to open at
// start or not; each opens on its own, so a missing port leaves the others
// open, and its failure stays as why it is not open: in its status and in
// the reason a client is refused with. A disabled rotator stays closed.
TEST_F(StationSerialTest, StartWithoutAWindowOpensEveryEnabledRotator) {
  TRotatorSettings Off = Rotator("Off", EmuB.devicePath());
  Off.Enable = false;
  TRotatorSettings Lost = Rotator("Lost", NoSuchPort);
  Lost.Enable = true;
  TRotatorSettings Idle = Rotator("Idle", EmuA.devicePath());
  Idle.Enable = true;
  Store({Lost, Idle, Off});
  TStation &S = Load();
  Log.clear();
  S.Start(true);
  EXPECT_EQ(Log, QStringList{"opened 1"});
  const struct {
    int Index;
    bool Open;
    bool Problem;
  } Expected[] = {{0, false, true}, {1, true, false}, {2, false, false}};
  for (const auto &E : Expected) {
    SCOPED_TRACE(E.Index);
    const TRotatorStatus Status = *S.Status(E.Index);
    EXPECT_EQ(Status.Open, E.Open);
    EXPECT_EQ(!Status.Problem.isEmpty(), E.Problem) << Status.Problem.toStdString();
  }
  ASSERT_EQ(Messages.size(), 1) << Messages.join('|').toStdString();
  EXPECT_EQ(S.Status(0)->Problem, Messages[0]);
  EXPECT_EQ(S.Steerable(0).Reason, QStringLiteral("Lost is not open: ") + Messages[0]);
  EXPECT_EQ(S.Status(0)->Port, NoSuchPort);

  // A later opening clears it; the port is there now.
  Lost.Port = EmuB.devicePath();
  S.ApplyRotatorSettings(0, Lost);
  ASSERT_TRUE(S.OpenRotator(0).Done());
  EXPECT_TRUE(S.Status(0)->Open);
  EXPECT_TRUE(S.Status(0)->Problem.isEmpty());
  EXPECT_TRUE(S.Steerable(0).Done());
}

// A closed rotator marked to return home is opened and sent home, an open one
// that is not is only closed; the document receives the settings as they are
// now; then every rotator is released, last first.
TEST_F(StationSerialTest, ClosingSendsHomeClosesWritesAndReleases) {
  Store({Homing("Mast", EmuA.devicePath(), 90), Opening("Tower", EmuB.devicePath())});
  TStation &S = Load();
  S.Start();
  ASSERT_EQ(Log.mid(2), QStringList{"opened 1"});
  ASSERT_TRUE(EmuB.waitForCommands(3, std::chrono::milliseconds(kWaitMs)));
  // Changes in memory only: the closing writes them.
  TStationSeam::Driver(S, 1).SetCommandA(QStringLiteral("Y20"));
  S.SetCtrlTableEnable(true);
  EmuB.clearLog();
  Log.clear();

  // The home command's list waits: the sequence goes on after it.
  S.Close();
  EXPECT_FALSE(S.Closed());
  ASSERT_TRUE(WaitFor([&] { return S.Closed(); }));
  EXPECT_EQ(S.RotatorCount(), 0);
  EXPECT_EQ(Log, (QStringList{"opened 0", "closed 0", "closed 1", "removed 1", "removed 0"}));
  ExpectHoming(EmuA, QStringLiteral("090"));
  for (const QString &Cmd : Sent(EmuB))
    EXPECT_FALSE(Cmd.startsWith(u'M') || Cmd == Marker) << Sent(EmuB).join('|').toStdString();

  const QList<TRotatorSettings> Saved = Stored();
  ASSERT_EQ(Saved.size(), 2);
  EXPECT_EQ(Saved[0].Title, "Mast");
  EXPECT_EQ(Saved[1].Title, "Tower");
  EXPECT_EQ(Saved[1].CommandA, "Y20");
  {
    TXMLIniFile Ini(File());
    TLoadProblems Problems;
    EXPECT_TRUE(ReadCtrlTableEnable(Ini, Problems));
  }
  EXPECT_TRUE(Messages.isEmpty()) << Messages.join('|').toStdString();

  // Once only.
  const QByteArray After = Bytes();
  Log.clear();
  S.Close();
  EXPECT_TRUE(Log.isEmpty()) << Log.join('|').toStdString();
  EXPECT_EQ(Bytes(), After);
}

// Each step of the closing runs on its own: a rotator whose port can't be
// opened is reported and the next one is still sent home, and the document
// is still written.
TEST_F(StationSerialTest, ClosingGoesOnPastARotatorThatCannotBeOpened) {
  Store({Homing("Lost", NoSuchPort, 180), Homing("Mast", EmuA.devicePath(), 270)});
  TStation &S = Load();
  TStationSeam::Driver(S, 0).SetCommandA(QStringLiteral("Y20"));
  Log.clear();

  S.Close();
  ASSERT_TRUE(WaitFor([&] { return S.Closed(); }));
  ASSERT_EQ(Messages.size(), 1) << Messages.join('|').toStdString();
  EXPECT_TRUE(Messages[0].startsWith(QStringLiteral("ComException"))) << Messages[0].toStdString();
  EXPECT_EQ(Log, (QStringList{"opened 1", "closed 1", "removed 1", "removed 0"}));
  ExpectHoming(EmuA, QStringLiteral("270"));
  const QList<TRotatorSettings> Saved = Stored();
  ASSERT_EQ(Saved.size(), 2);
  EXPECT_EQ(Saved[0].CommandA, "Y20");
}

// A document that can't be written is reported through the error dialog, and
// the ports are closed and the rotators released all the same.
TEST_F(StationSerialTest, ClosingReleasesTheRotatorsWhenTheDocumentCannotBeWritten) {
  Store({Opening("Tower", EmuA.devicePath())});
  // Its own name can be created, but not the name of the temporary file the
  // atomic replacement writes first.
  const QString Unwritable = Dir.path() + u'/' + QString(250, u'x') + QStringLiteral(".xml");
  ASSERT_TRUE(QFile::copy(File(), Unwritable));
  TStation &S = Load(Unwritable);
  S.Start();
  ASSERT_TRUE(TStationSeam::Driver(S, 0).Active());
  Log.clear();

  S.Close();
  EXPECT_EQ(Log, (QStringList{"closed 0", "removed 0"}));
  EXPECT_EQ(S.RotatorCount(), 0);
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Exception).size(), 1)
      << Ui->shown().join('|').toStdString();
  Ui->clear();
}

// The line goes away while the rotator is open: it is reported closed under
// its present place, with one message, and the station shows nothing itself.
TEST_F(StationSerialTest, PortFailureClosesTheRotatorWithOneMessage) {
  Store({Rotator("Idle"), Opening("Live", EmuA.devicePath())});
  TStation &S = Load();
  S.Start();
  ASSERT_TRUE(TStationSeam::Driver(S, 1).Active());
  ASSERT_TRUE(EmuA.waitForCommands(3, std::chrono::milliseconds(kWaitMs)));
  S.MoveRotator(1, 0);
  Log.clear();

  EmuA.hangUp();
  ASSERT_TRUE(WaitFor([&] { return Log.contains(QStringLiteral("closed 0")); }))
      << Log.join('|').toStdString();
  ASSERT_TRUE(WaitFor([&] { return !Messages.isEmpty(); }));
  QTest::qWait(500); // time for any further report
  EXPECT_EQ(Log, QStringList{"closed 0"});
  EXPECT_FALSE(TStationSeam::Driver(S, 0).Active());
  ASSERT_EQ(Messages.size(), 1) << Messages.join('|').toStdString();
  EXPECT_TRUE(Messages[0].startsWith(QStringLiteral("ComException")) ||
              Messages[0].startsWith(QStringLiteral("ComError")))
      << Messages[0].toStdString();
}

namespace {

struct TApplyCase {
  const char *Name;
  bool OpenBefore;
  bool AutoActive;
  QStringList Reports;
};

void PrintTo(const TApplyCase &Case, std::ostream *Out) { *Out << Case.Name; }

class StationApplyTest : public StationSerialTest,
                         public ::testing::WithParamInterface<TApplyCase> {};

} // namespace

// New settings reach the driver only while its port is closed, are written
// before the port opens again, and the port opens again only for a rotator
// that opens automatically; the new port is the one opened.
TEST_P(StationApplyTest, NewSettingsCloseWriteAndReopen) {
  const TApplyCase &Case = GetParam();
  Store({Rotator("Old", EmuA.devicePath()), Rotator("Other")});
  TStation &S = Load();
  if (Case.OpenBefore) {
    TStationSeam::Driver(S, 0).Open();
    ASSERT_TRUE(TStationSeam::Driver(S, 0).Active());
    ASSERT_TRUE(EmuA.waitForCommands(3, std::chrono::milliseconds(kWaitMs)));
  }
  TRotatorSettings New = Rotator("New", EmuB.devicePath());
  New.Enable = true;
  New.AutoActive = Case.AutoActive;
  New.Home = 45;
  New.RotationSpeed = QStringLiteral("2");
  New.AzimuthAngle = az450;
  QString TitleWhenClosed;
  QStringList StoredWhenClosed;
  QString PortWhenOpened;
  QStringList StoredWhenOpened;
  QObject::connect(&S, &TStation::RotatorClosed, &S, [&] {
    TitleWhenClosed = TStationSeam::Driver(S, 0).Title();
    StoredWhenClosed = StoredTitles();
  });
  QObject::connect(&S, &TStation::RotatorOpened, &S, [&] {
    PortWhenOpened = TStationSeam::Driver(S, 0).Port();
    StoredWhenOpened = StoredTitles();
  });
  Log.clear();

  S.ApplyRotatorSettings(0, New);
  EXPECT_EQ(Log, Case.Reports);
  if (Case.OpenBefore) {
    EXPECT_EQ(TitleWhenClosed, "Old");
    EXPECT_EQ(StoredWhenClosed, (QStringList{"Old", "Other"}));
  }
  if (Case.AutoActive) {
    EXPECT_EQ(PortWhenOpened, EmuB.devicePath());
    EXPECT_EQ(StoredWhenOpened, (QStringList{"New", "Other"}));
    EXPECT_TRUE(WaitFor([&] { return Commands(EmuB).contains(QStringLiteral("I0")); }))
        << Commands(EmuB).join('|').toStdString();
  }
  EXPECT_EQ(TStationSeam::Driver(S, 0).Active(), Case.AutoActive);
  EXPECT_EQ(S.RotatorSettings(0), Held(New));
  const QList<TRotatorSettings> Saved = Stored();
  ASSERT_EQ(Saved.size(), 2);
  EXPECT_EQ(Saved[0], Held(New));
  EXPECT_EQ(Saved[1].Title, "Other");
  EXPECT_TRUE(Messages.isEmpty()) << Messages.join('|').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StationApplyTest,
    ::testing::Values(TApplyCase{"OpenAndOpensAutomatically", true, true, {"closed 0", "opened 0"}},
                      TApplyCase{"OpenAndOpenedByHand", true, false, {"closed 0"}},
                      TApplyCase{"ClosedAndOpensAutomatically", false, true, {"opened 0"}},
                      TApplyCase{"ClosedAndOpenedByHand", false, false, {}}),
    [](const ::testing::TestParamInfo<TApplyCase> &Info) { return std::string(Info.param.Name); });

// A receiver of a closing report may remove a rotator. The removed driver is
// inert for good, also while it waits to be freed: neither new settings nor
// the closing sequence may open its port again.
TEST_F(StationSerialTest, RotatorRemovedWhileItsNewSettingsApplyStaysClosed) {
  Store({Rotator("Old", EmuA.devicePath()), Rotator("Other")});
  TStation &S = Load();
  TStationSeam::Driver(S, 0).Open();
  ASSERT_TRUE(TStationSeam::Driver(S, 0).Active());
  const QPointer<TGs232> Removed = &TStationSeam::Driver(S, 0);
  QObject::connect(&S, &TStation::RotatorClosed, &S, [&](int I) { S.DeleteRotator(I); });
  TRotatorSettings New = Rotator("New", EmuB.devicePath());
  New.AutoActive = true;
  Log.clear();

  S.ApplyRotatorSettings(0, New);
  EXPECT_EQ(Log, (QStringList{"closed 0", "removed 0"}));
  ASSERT_TRUE(Removed); // freed through the event loop only
  EXPECT_FALSE(Removed->Active());
  EXPECT_EQ(Titles(), QStringList{"Other"});
  EXPECT_EQ(StoredTitles(), QStringList{"Other"});
  EXPECT_TRUE(Messages.isEmpty()) << Messages.join('|').toStdString();
}

TEST_F(StationSerialTest, RotatorRemovedDuringTheClosingIsNotSentHome) {
  Store({Opening("First", EmuA.devicePath()), Homing("Second", EmuB.devicePath(), 90)});
  TStation &S = Load();
  TStationSeam::Driver(S, 1).SetCommandB(Marker); // no pause: nothing runs the event loop
  S.Start();
  ASSERT_TRUE(TStationSeam::Driver(S, 0).Active());
  const QPointer<TGs232> Removed = &TStationSeam::Driver(S, 1);
  QObject::connect(&S, &TStation::RotatorClosed, &S, [&](int I) {
    if (I == 0)
      S.DeleteRotator(1);
  });
  Log.clear();

  S.Close();
  EXPECT_EQ(Log, (QStringList{"closed 0", "removed 1", "removed 0"}));
  ASSERT_TRUE(Removed); // freed through the event loop only
  // A homing would have set the marker's relay.
  EXPECT_FALSE(Removed->RelayArray()->GetRelay(0));
  EXPECT_FALSE(Removed->Active());
  EXPECT_EQ(StoredTitles(), QStringList{"First"});
  QTest::qWait(300); // time for anything on its way
  EXPECT_TRUE(Commands(EmuB).isEmpty()) << Commands(EmuB).join('|').toStdString();
  EXPECT_TRUE(Messages.isEmpty()) << Messages.join('|').toStdString();
}

// Every rotator's arrival at its preset is answered by the station: the
// stop with its after-movement list, once, whichever rotator is current and
// with no view at all.
TEST_F(StationSerialTest, EveryRotatorArrivingAtItsPresetIsStoppedOnce) {
  TRotatorSettings B = Opening("Live", EmuB.devicePath());
  B.CommandA = QStringLiteral("Y20");
  Store({Opening("Idle", EmuA.devicePath()), B});
  TStation &S = Load();
  QSignalSpy Arrived(&S, &TStation::PresetReached);
  S.Start();
  ASSERT_TRUE(TStationSeam::Driver(S, 1).Active());
  ASSERT_TRUE(EmuB.waitForCommands(3, std::chrono::milliseconds(kWaitMs)));
  ASSERT_TRUE(EmuA.waitForCommands(3, std::chrono::milliseconds(kWaitMs)));
  S.SetCurrentRotator(0);
  EmuA.clearLog();
  EmuB.clearLog();

  TStationSeam::Driver(S, 1).SetPreset(10);
  TStationSeam::Driver(S, 1).GoPreset();
  ASSERT_TRUE(WaitFor([&] { return Arrived.size() == 1; }));
  EXPECT_EQ(Arrived.at(0).at(0).toInt(), 1);
  EXPECT_FALSE(TStationSeam::Driver(S, 1).Presetting());
  // Time for a second report, which must not come.
  const qsizetype Polls = Commands(EmuB).count("C");
  ASSERT_TRUE(WaitFor([&] { return Commands(EmuB).count("C") >= Polls + 5; }));
  EXPECT_EQ(Arrived.size(), 1);
  EXPECT_EQ(Sent(EmuB), (QStringList{"M010", "S", "Y20"}));
  EXPECT_FALSE(Sent(EmuA).contains(QStringLiteral("S")));
}
