// The driver on the line: start-up commands of each model, the poll and what
// it makes of the controller's replies, movement commands, opening and
// closing and their reports.

#include "RotatorTestSupport.h"

#include <QElapsedTimer>

using namespace rotator_test;

namespace {

QStringList WithoutBareCr(QStringList Cmds) {
  // Close ends with a lone CR that the purge right after it may or may not
  // let through a pseudo-terminal.
  Cmds.removeAll(QString());
  return Cmds;
}

struct TOpenCase {
  const char *Model;
  TCenterPosition Centre;
  QStringList First;
  QStringList Second;
};

TEST(Gs232Line, OpenSendsTheStartupCommandsOfEachModel) {
  const TOpenCase Cases[] = {
      {"GS-232A", cpNorth, {"K0", "S", "I0"}, {"S", "I0"}},
      {"KELVANE", cpNorth, {"K0", "S", "I0", "ZN"}, {"S", "I0", "ZN"}},
      {"KELVANE", cpSouth, {"K0", "S", "I0", "ZS"}, {"S", "I0", "ZS"}},
      {"GS-232B", cpNorth, {"K0", "S", "I0", "H3"}, {"S", "I0", "H3"}},
      // The model is compared exactly.
      {"gs-232b", cpNorth, {"K0", "S", "I0"}, {"S", "I0"}},
      {"Kelvane", cpSouth, {"K0", "S", "I0"}, {"S", "I0"}},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Model);
    TRig Rig;
    Rig.Drv->SetModel(QString::fromLatin1(C.Model));
    Rig.Drv->SetCenterPosition(C.Centre);
    const bool Unverified = QString::fromLatin1(C.Model) == u"GS-232B";

    // No events run in between, so no poll mixes in.
    Rig.Open(C.First.size());
    EXPECT_EQ(Commands(Rig.Emu), C.First);
    EXPECT_EQ(Rig.Emu.rawReceived(), C.First.join('\r').toLatin1() + '\r');
    // The notice follows the listing the model answers with.
    if (Unverified)
      EXPECT_TRUE(WaitFor([&] { return Rig.Messages.Texts().size() == 1; }));
    Rig.Drv->Close();
    EXPECT_FALSE(Rig.Drv->Active());

    Rig.Emu.clearLog();
    Rig.Open(C.Second.size());
    EXPECT_EQ(WithoutBareCr(Commands(Rig.Emu)), C.Second);
    if (Unverified)
      EXPECT_TRUE(WaitFor([&] { return Rig.Messages.Texts().size() == 2; }));

    const QStringList Shown = Rig.Messages.Texts();
    if (Unverified)
      EXPECT_EQ(Shown, QStringList(2, QStringLiteral(u"GS-232Bの動作未確認")));
    else
      EXPECT_TRUE(Shown.isEmpty()) << Shown.join('|').toStdString();
    EXPECT_TRUE(Rig.Messages.AllFrom(Rig.Drv.get(), mkInformation));
  }
}

// The opening is reported once the start-up commands are out, the model's
// listing read included; a receiver that closes the port at once (a rotator
// that is disabled) ends that read, and no notice follows for a closed port.
TEST(Gs232Line, OpeningIsReportedAfterTheStartup) {
  TRig Rig;
  Rig.Drv->SetModel(QStringLiteral("GS-232B"));
  bool ReadQueued = false;
  QObject::connect(Rig.Drv.get(), &TGs232::ActiveChanged, Rig.Drv.get(), [&](bool Active) {
    if (!Active)
      return;
    // The listing's read holds the line: a poll asked for now waits for it
    // (and is told of the close later, from the event loop).
    auto Polled = std::make_shared<bool>(false);
    Rig.Drv->PollNow([Polled] { *Polled = true; });
    ReadQueued = !*Polled;
    Rig.Drv->Close();
  });
  Rig.Drv->Open();
  EXPECT_FALSE(Rig.Drv->Active());
  EXPECT_TRUE(ReadQueued);
  QTest::qWait(500);
  EXPECT_TRUE(Rig.Messages.Texts().isEmpty()) << Rig.Messages.Texts().join('|').toStdString();
}

TEST(Gs232Line, UnverifiedModelBoxLetsThePollGoOn) {
  // The owner shows the notice in a modal box, which stays up for a while
  // with the event loop running behind it.
  Gs232Emulator Emu;
  ASSERT_TRUE(Emu.start());
  TScopedRecordingUi Ui;
  QStringList Shown;
  int PollsAtShow = -1, PollsAtClose = -1;
  auto Polls = [&] { return CountOf(Commands(Emu), QStringLiteral("C")); };
  {
    TGs232 Drv;
    Drv.SetMessage([&](QObject *, const QString &Text, TMessageKind) {
      Shown << Text;
      PollsAtShow = Polls();
      QTest::qWait(1000);
      PollsAtClose = Polls();
    });
    Drv.SetPort(Emu.devicePath());
    Drv.SetModel(QStringLiteral("GS-232B"));
    // The opening does not wait for the listing or the box.
    Drv.Open();
    EXPECT_TRUE(Drv.Active());
    EXPECT_TRUE(Shown.isEmpty());
    EXPECT_TRUE(WaitFor([&] { return PollsAtClose >= 0; }));
  }
  EXPECT_EQ(Shown, QStringList{QStringLiteral(u"GS-232Bの動作未確認")});
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
  EXPECT_EQ(PollsAtShow, 0);
  EXPECT_GE(PollsAtClose, 2);
  // H3 came before the box, the polls after it.
  const QStringList Cmds = Commands(Emu);
  EXPECT_LT(Cmds.indexOf(QStringLiteral("H3")), Cmds.indexOf(QStringLiteral("C")));
}

TEST(Gs232Line, PollQueriesWithCOrC2AndReadsThePosition) {
  for (const bool El : {false, true}) {
    SCOPED_TRACE(El ? "with elevation" : "azimuth only");
    Gs232Emulator::Options Opts;
    Opts.azimuth = 123;
    Opts.elevation = 45;
    TRig Rig(Opts);
    Rig.Drv->SetElEnable(El);
    Rig.Drv->SetOffset(10, 3);
    Rig.Open();
    Rig.Emu.clearLog();
    Rig.RunPolls(2);
    const QByteArray Query = El ? "C2\r" : "C\r";
    EXPECT_TRUE(Rig.Emu.rawReceived().startsWith(Query + Query)) << Rig.Emu.rawReceived().data();
    EXPECT_EQ(Rig.Drv->OrgAzimuthD(), 123);
    EXPECT_EQ(Rig.Drv->AzimuthD(), 133);
    EXPECT_DOUBLE_EQ(Rig.Drv->AzimuthR(), 133 * M_PI / 180);
    EXPECT_EQ(Rig.Drv->OrgElevationD(), El ? 45 : 0);
    EXPECT_EQ(Rig.Drv->ElevationD(), El ? 48 : 3);
  }
}

struct TReadingCase {
  TAzimuthAngle Mode;
  int AzOffset;
  double Raw;
  int Azimuth;
  bool Overlap;
};

TEST(Gs232Line, ReadingWithOffsetRangeAndOverlap) {
  const TReadingCase Cases[] = {
      {az360, 10, 123, 133, false}, {az360, 10, 355, 5, false}, {az450, 0, 400, 400, true},
      {az360, 0, 400, 40, true},    {az360, 0, 360, 0, false},  {az360, -20, 5, 345, false},
  };
  Gs232Emulator::Options Opts;
  TRig Rig(Opts);
  Rig.Open();
  Rig.Drv->SetAzimuthAngle(az450); // the controller accepts readings up to 450
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Raw);
    Rig.Drv->SetAzimuthAngle(C.Mode);
    Rig.Drv->SetOffset(C.AzOffset);
    Rig.Emu.setAzimuth(C.Raw);
    Rig.RunPolls(2);
    EXPECT_EQ(Rig.Drv->AzimuthD(), C.Azimuth);
    EXPECT_EQ(Rig.Drv->Overlap(), C.Overlap);
  }
}

struct TStyleCase {
  Gs232Emulator::Options Opts;
  bool El;
  int Az;
  int Elevation;
};

TEST(Gs232Line, EveryReplyStyleIsReadOnEveryPoll) {
  // Acknowledgements and line ends of earlier exchanges, and the rest of a
  // reply longer than the read, must never spoil a later reading.
  auto Style = [](bool B, bool CrLf, bool Ack) {
    Gs232Emulator::Options O;
    O.styleB = B;
    O.crlf = CrLf;
    O.ackCR = Ack;
    O.azimuth = 123;
    O.elevation = 145;
    return O;
  };
  const TStyleCase Cases[] = {
      {Style(false, true, true), false, 123, 0},  {Style(false, false, true), false, 123, 0},
      {Style(false, true, false), true, 123, 145}, {Style(true, true, true), false, 123, 0},
      {Style(true, false, true), false, 123, 0},   {Style(true, true, true), true, 123, 1},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(::testing::Message() << "styleB " << C.Opts.styleB << " crlf " << C.Opts.crlf
                                      << " ack " << C.Opts.ackCR << " el " << C.El);
    TRig Rig(C.Opts);
    Rig.Drv->SetElEnable(C.El);
    int Wrong = 0;
    Rig.Drv->SetChangeAzEl([&](QObject *) {
      Wrong += Rig.Drv->AzimuthD() != C.Az || Rig.Drv->ElevationD() != C.Elevation;
    });
    Rig.Open();
    for (int I = 0; I < 8; ++I) {
      // A command between polls leaves its acknowledgement behind.
      Rig.Drv->DoCmd(QStringLiteral("I0"));
      Rig.RunPolls(1);
      EXPECT_EQ(Rig.Drv->OrgAzimuthD(), C.Az);
      EXPECT_EQ(Rig.Drv->OrgElevationD(), C.Elevation);
    }
    EXPECT_EQ(Wrong, 0);
  }
}

TEST(Gs232Line, FirstPollAfterOpenIsNotSpoiledByTheStartupAcknowledgements) {
  // The controller acknowledges each start-up command with a CR; those CRs
  // may still be on their way when the first query goes out, at once or,
  // from a slow controller, after the first tick.
  for (const int DelayMs : {0, 150}) {
    SCOPED_TRACE(DelayMs);
    Gs232Emulator::Options Opts;
    Opts.azimuth = 123;
    TRig Rig(Opts);
    Rig.Emu.setReplyDelay(std::chrono::milliseconds(DelayMs));
    QList<int> Reports;
    Rig.Drv->SetChangeAzEl([&](QObject *) { Reports << Rig.Drv->AzimuthD(); });
    for (int Round = 0; Round < 3; ++Round) {
      Rig.Drv->Open();
      ASSERT_TRUE(Rig.Drv->Active());
      if (DelayMs == 0) {
        PollOnce(*Rig.Drv);
        EXPECT_EQ(Rig.Drv->AzimuthD(), 123);
      } else {
        Rig.RunPolls(1);
      }
      Rig.Drv->Close();
    }
    if (DelayMs > 0) {
      EXPECT_EQ(Reports, QList<int>(3, 123));
    }
  }
}

TEST(Gs232Line, AReplyThatIsNoReadingIsAMissedPoll) {
  // Garbled, cut short or missing: the reading stands (no needle jumping to
  // north), and three such polls in a row make the controller "not
  // responding" until it answers again.
  const QByteArray Cases[] = {"?>\r\n", "xyz", "+0abc+0045\r\n", "+01\r\n",
                              QByteArray() /* the controller falls silent */};
  for (const QByteArray &Garbage : Cases) {
    SCOPED_TRACE(Garbage.data());
    Gs232Emulator::Options Opts;
    Opts.azimuth = 200;
    TRig Rig(Opts);
    Rig.Drv->SetOffset(7);
    QList<int> Reports;
    Rig.Drv->SetChangeAzEl([&](QObject *) { Reports << Rig.Drv->AzimuthD(); });
    QList<bool> Responding;
    QObject::connect(Rig.Drv.get(), &TGs232::RespondingChanged, Rig.Drv.get(),
                     [&](bool Value) { Responding << Value; });
    Rig.Open();
    Rig.RunPolls(1);
    ASSERT_EQ(Rig.Drv->OrgAzimuthD(), 200);
    ASSERT_EQ(Reports, QList<int>{207});
    if (Garbage.isEmpty())
      Rig.Emu.setSilent(true);
    else
      Rig.Emu.setGarbage(Garbage);
    Rig.RunPolls(4);
    EXPECT_EQ(Rig.Drv->OrgAzimuthD(), 200);
    EXPECT_EQ(Rig.Drv->AzimuthD(), 207);
    EXPECT_FALSE(Rig.Drv->Responding());
    EXPECT_EQ(Responding, QList<bool>{false});

    Rig.Emu.setSilent(false);
    Rig.Emu.setGarbage({});
    Rig.Emu.setAzimuth(210);
    ASSERT_TRUE(WaitFor([&] { return Rig.Drv->Responding(); }));
    Rig.RunPolls(1);
    EXPECT_EQ(Rig.Drv->AzimuthD(), 217);
    EXPECT_EQ(Reports, (QList<int>{207, 217}));
    EXPECT_EQ(Responding, (QList<bool>{false, true}));
    EXPECT_TRUE(Rig.Drv->Active());
    EXPECT_TRUE(Rig.Messages.Entries.isEmpty()) << Rig.Messages.Texts().join('|').toStdString();
  }
}

TEST(Gs232Line, GarbledReplyGivesATurningRotatorNoBoundStop) {
  // Centre south: the counter-clockwise end lies at a reading of 0, where a
  // garbled reply would put the needle if it read as 0.
  Gs232Emulator::Options Opts;
  Opts.azimuth = 100;
  TRig Rig(Opts);
  Rig.Drv->SetCenterPosition(cpSouth);
  Rig.Drv->SetCommandA(QStringLiteral("Y10"));
  QList<TBoundPosition> Bounds;
  Rig.Drv->SetReachBound([&](QObject *, TBoundPosition B) { Bounds << B; });
  QList<int> Reports;
  Rig.Drv->SetChangeAzEl([&](QObject *) { Reports << Rig.Drv->AzimuthD(); });
  Rig.Open();
  Rig.RunPolls(1);
  Rig.Drv->GoCW();
  ASSERT_TRUE(WaitFor([&] { return Reports.size() >= 3; }));
  ASSERT_TRUE(Rig.Drv->Moving());
  const int Before = Rig.Drv->AzimuthD();

  Rig.Emu.clearLog();
  Rig.Emu.setGarbage("?>\r\n");
  Rig.RunPolls(5);
  EXPECT_EQ(CountOf(Commands(Rig.Emu), "S"), 0);
  EXPECT_EQ(CountOf(Commands(Rig.Emu), "Y10"), 0);
  EXPECT_TRUE(Bounds.isEmpty());
  EXPECT_EQ(Rig.Drv->AzimuthD(), Before);
  EXPECT_FALSE(Reports.contains(0));
  EXPECT_TRUE(Rig.Drv->Moving());
  Rig.Drv->Stop();
}

TEST(Gs232Line, ChangeReportNeedsTwoDegreesAndMarksMoving) {
  Gs232Emulator::Options Opts;
  Opts.azimuth = 100;
  TRig Rig(Opts);
  QList<int> Reports;
  Rig.Drv->SetChangeAzEl([&](QObject *Sender) {
    EXPECT_EQ(Sender, Rig.Drv.get());
    Reports << Rig.Drv->AzimuthD();
  });
  Rig.Open();
  Rig.RunPolls(2);
  // The first poll after Open always reports.
  EXPECT_EQ(Reports, QList<int>{100});
  EXPECT_TRUE(Rig.Drv->Moving());

  Rig.Drv->Stop();
  EXPECT_FALSE(Rig.Drv->Moving());
  Rig.Emu.setAzimuth(101);
  Rig.RunPolls(2);
  EXPECT_EQ(Reports, QList<int>{100});
  EXPECT_FALSE(Rig.Drv->Moving());

  Rig.Emu.setAzimuth(102);
  Rig.RunPolls(2);
  EXPECT_EQ(Reports, (QList<int>{100, 102}));
  EXPECT_TRUE(Rig.Drv->Moving());
}

TEST(Gs232Line, MovementCommandsAndClose) {
  TRig Rig;
  Rig.Open();
  EXPECT_EQ(Rig.SentBy([&] {
    Rig.Drv->GoCW();
    Rig.Drv->GoCCW();
    Rig.Drv->GoUp();
    Rig.Drv->GoDown();
    Rig.Drv->GoRight();
    Rig.Drv->GoLeft();
    Rig.Drv->Stop();
  }),
            QStringList({"R", "L", "U", "D", "R", "L", "S"}));
  // Settings that go to the controller at once while open.
  EXPECT_EQ(Rig.SentBy([&] {
    Rig.Drv->SetAzimuthAngle(az450);
    Rig.Drv->SetAzimuthAngle(az360);
    Rig.Drv->SetRotationSpeed(QStringLiteral("3"));
    Rig.Drv->SetRotationSpeed(QString());
    Rig.Drv->SetModel(QStringLiteral("KELVANE"));
    Rig.Drv->SetCenterPosition(cpSouth);
  }),
            QStringList({"P45", "P36", "X3", "ZS"}));

  // Close while turning sends no stop; then nothing reaches the line.
  Rig.Emu.clearLog();
  Rig.Drv->GoCW();
  ASSERT_TRUE(Rig.Emu.waitForCommands(1, std::chrono::milliseconds(kWaitMs)));
  Rig.Emu.clearLog();
  Rig.Drv->Close();
  Rig.Drv->GoCW();
  Rig.Drv->Stop();
  Rig.Drv->DoCmd(QStringLiteral("Y11"));
  Rig.Drv->GoPreset(90);
  Rig.Drv->GoHome();
  Rig.Drv->SetAzimuthAngle(az450);
  Rig.Drv->SetRotationSpeed(QStringLiteral("2"));
  Rig.Drv->SetCenterPosition(cpNorth);
  EXPECT_TRUE(Recv(*Rig.Drv, 20).isEmpty());
  QTest::qWait(300);
  EXPECT_TRUE(WithoutBareCr(Commands(Rig.Emu)).isEmpty())
      << Commands(Rig.Emu).join(',').toStdString();
  EXPECT_TRUE(Rig.Emu.moving());
  // Settings assigned while closed are only stored.
  EXPECT_EQ(Rig.Drv->AzimuthAngle(), az450);
  EXPECT_EQ(Rig.Drv->RotationSpeed(), QStringLiteral("2"));
  EXPECT_FALSE(Rig.Drv->RelayArray()->GetRelay(0));
}

struct TActiveCase {
  const char *What;
  std::function<void(TRig &)> Run;
  QList<bool> Reports;
};

TEST(Gs232Line, ActiveChangedReportsEveryOpeningAndClosingButRelease) {
  const TActiveCase Cases[] = {
      {"open and close", [](TRig &R) { R.Drv->Open(); R.Drv->Close(); }, {true, false}},
      {"open and close repeated, each reported once",
       [](TRig &R) {
         R.Drv->Close();
         R.Drv->Open();
         R.Drv->Open();
         R.Drv->Close();
         R.Drv->Close();
         R.Drv->Open();
         R.Drv->Close();
       },
       {true, false, true, false}},
      // Closing a driver that a failure closed reports nothing more.
      {"line hangs up",
       [](TRig &R) {
         R.Drv->Open();
         R.Emu.hangUp();
         ASSERT_TRUE(WaitFor([&] { return !R.Drv->Active(); }));
         R.Drv->Close();
       },
       {true, false}},
      {"released while open", [](TRig &R) { R.Drv->Open(); R.Drv->Release(); }, {true}},
      {"released while closed", [](TRig &R) { R.Drv->Release(); }, {}},
      {"port that cannot be opened",
       [](TRig &R) {
         R.Drv->SetPort(QStringLiteral("/dev/orbalt-no-such-port"));
         R.Drv->Open();
       },
       {}},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.What);
    TRig Rig;
    C.Run(Rig);
    QTest::qWait(300); // time for any further report
    EXPECT_FALSE(Rig.Drv->Active());
    EXPECT_EQ(Rig.Actives.Values(), C.Reports);
    // Receivers see the driver in the state reported.
    EXPECT_TRUE(Rig.Actives.Consistent());
  }
}

TEST(Gs232Line, DoRecvReadsRawReplies) {
  Gs232Emulator::Options Opts;
  Opts.azimuth = 42;
  TRig Rig(Opts);
  Rig.Open();
  Rig.Drv->DoCmd(QStringLiteral("C"));
  // The acknowledgements of the start-up commands may still come first.
  const QString Reply = Recv(*Rig.Drv, 20);
  EXPECT_TRUE(Reply.endsWith(QStringLiteral("+0042\r\n"))) << Reply.toStdString();
}

TEST(Gs232Line, SerialSettingsGoToThePort) {
  TGs232 Drv;
  Drv.SetPort(QStringLiteral("COM7"));
  Drv.SetBaudRate(QStringLiteral("19200"));
  Drv.SetDataBits(QStringLiteral("7"));
  Drv.SetParity(QStringLiteral("EVEN"));
  Drv.SetStopBits(QStringLiteral("2"));
  Drv.SetFlowControl(QStringLiteral("HARDWARE"));
  EXPECT_EQ(Drv.Port(), QStringLiteral("COM7"));
  EXPECT_EQ(Drv.BaudRate(), QStringLiteral("19200"));
  EXPECT_EQ(Drv.DataBits(), QStringLiteral("7"));
  EXPECT_EQ(Drv.Parity(), QStringLiteral("Even"));
  EXPECT_EQ(Drv.StopBits(), QStringLiteral("2"));
  EXPECT_EQ(Drv.FlowControl(), QStringLiteral("Hardware"));
}

} // namespace
