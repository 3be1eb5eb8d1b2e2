// Failures and lifetime: a port that cannot be opened or fails while open,
// and a driver closed, reopened or freed while one of its lists waits.

#include "RotatorTestSupport.h"

#include <QPointer>
#include <QRegularExpression>

#include <thread>

using namespace rotator_test;

namespace {

// Failure reports keep the plain notice box they have always had.
constexpr TMessageKind kFailureKind = mkInformation;

TEST(Gs232Failure, PortThatCannotBeOpenedLeavesTheDriverClosedWithOneMessage) {
  TScopedRecordingUi Ui;
  TMessageLog Messages;
  TActiveLog Actives;
  TGs232 Drv;
  Messages.Attach(Drv);
  Actives.Attach(Drv);
  Drv.SetPort(QStringLiteral("/dev/orbalt-no-such-port"));
  Drv.Open();
  EXPECT_FALSE(Drv.Active());
  QTest::qWait(300); // no poll runs
  EXPECT_EQ(Messages.Texts(), QStringList{QStringLiteral("ComException Unable to open com port\n"
                                                         "/dev/orbalt-no-such-port: No such "
                                                         "file or directory")});
  EXPECT_TRUE(Messages.AllFrom(&Drv, kFailureKind));
  Drv.GoCW();
  Drv.Close();
  EXPECT_EQ(Messages.Entries.size(), 1);
  // Never opened, so never reported as opened or closed.
  EXPECT_TRUE(Actives.Reports.isEmpty());
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

TEST(Gs232Failure, FailureTextNamesTheDeviceTheReasonAndTheFix) {
  struct TCase {
    const char *Port;
    int64_t Code;
    const char *Reason;
    const char *Text;
  };
  const TCase Cases[] = {
      {"/dev/ttyUSB0", EACCES, "Permission denied",
       "ComException Unable to open com port\n/dev/ttyUSB0: Permission denied\n"
       "Add your user to the dialout group and log in again."},
      {"COM2", EBUSY, "Device or resource busy",
       "ComException Unable to open com port\n/dev/ttyS1: Device or resource busy"},
      {"ttyACM0", ENOENT, "No such file or directory",
       "ComException Unable to open com port\n/dev/ttyACM0: No such file or directory"},
      // Without a system code (a port that is not open), the port's text alone.
      {"/dev/ttyUSB0", -24, "", "ComException Unable to open com port"},
  };
  for (const TCase &C : Cases) {
    SCOPED_TRACE(C.Text);
    EXPECT_EQ(TGs232::ComExceptionText(QStringLiteral("Unable to open com port"),
                                       QLatin1String(C.Port), C.Code, QLatin1String(C.Reason)),
              QString::fromLatin1(C.Text));
  }
}

TEST(Gs232Failure, HangUpWhileOpenClosesOnceWithOneMessage) {
  // The line goes away while idle, in the middle of a poll, and during a
  // list's pause.
  for (const int Case : {0, 1, 2}) {
    SCOPED_TRACE(Case);
    TRig Rig;
    Rig.Open();
    Rig.RunPolls(1);
    ASSERT_TRUE(Rig.Drv->Active()) << Rig.Messages.Texts().join('|').toStdString();
    std::thread HangUpInPoll;
    if (Case == 0) {
      Rig.Emu.hangUp();
    } else if (Case == 1) {
      // The controller takes its time to answer; the line goes while the
      // driver waits for the reply.
      Rig.Emu.setReplyDelay(std::chrono::milliseconds(150));
      const size_t Seen = Rig.Emu.commands().size();
      HangUpInPoll = std::thread([&Emu = Rig.Emu, Seen] {
        Emu.waitForCommands(Seen + 1, std::chrono::milliseconds(kWaitMs));
        Emu.hangUp();
      });
    } else {
      QTimer::singleShot(150, [&] { Rig.Emu.hangUp(); });
      Rig.Drv->DoCmd(QStringLiteral("WAIT600,R,S"));
    }
    ASSERT_TRUE(WaitFor([&] { return !Rig.Drv->Active(); }));
    if (HangUpInPoll.joinable())
      HangUpInPoll.join();
    QTest::qWait(500); // time for any further report
    const QStringList Shown = Rig.Messages.Texts();
    ASSERT_EQ(Shown.size(), 1) << Shown.join('|').toStdString();
    EXPECT_TRUE(Shown[0].startsWith(QStringLiteral("ComException "))) << Shown[0].toStdString();
    EXPECT_TRUE(Rig.Messages.AllFrom(Rig.Drv.get(), kFailureKind));
    // Closed once, and the driver was already closed when its receivers ran.
    EXPECT_EQ(Rig.Actives.Values(), QList<bool>({true, false}));
    EXPECT_TRUE(Rig.Actives.Consistent());
    // The closed driver sends nothing and reports nothing more.
    Rig.Drv->GoCW();
    Rig.Drv->DoCmd(QStringLiteral("S"));
    Rig.Drv->Close();
    EXPECT_FALSE(Rig.Drv->Active());
    EXPECT_EQ(Rig.Messages.Entries.size(), 1);
    EXPECT_EQ(Rig.Actives.Reports.size(), 2);
    EXPECT_FALSE(Commands(Rig.Emu).contains(QStringLiteral("R")));
  }
}

TEST(Gs232Failure, ListStopsWhenTheDriverClosesOrReopensDuringAWait) {
  for (const bool Reopen : {false, true}) {
    SCOPED_TRACE(Reopen ? "reopened" : "closed");
    TRig Rig;
    Rig.Drv->RelayArray()->SetCount(4);
    Rig.Open();
    Rig.Emu.clearLog();
    QTimer::singleShot(100, [&] {
      Rig.Drv->Close();
      if (Reopen)
        Rig.Drv->Open();
    });
    Rig.Drv->DoCmd(QStringLiteral("Y11,WAIT400,Y21,R"));
    QTest::qWait(300);
    QStringList Cmds = Commands(Rig.Emu);
    Cmds.removeAll(QString());
    Cmds.removeAll(QStringLiteral("C"));
    EXPECT_EQ(Cmds, Reopen ? QStringList({"Y11", "S", "I0"}) : QStringList{"Y11"});
    EXPECT_FALSE(Rig.Drv->RelayArray()->GetRelay(1));
    EXPECT_EQ(Rig.Drv->Active(), Reopen);
  }
}

// Each way a driver's list may be waiting when its owner frees it. Every
// list sends Y21, waits, then Y11.
struct TDeleteCase {
  const char *What;
  std::function<void(TGs232 &, Gs232Emulator &)> Setup;
  // Runs the list, or leaves it to a poll.
  std::function<void(TGs232 &, Gs232Emulator &)> Start;
};

// Turns the rotator (centre north) from 120 onto its clockwise bound at 179,
// once the driver has read the starting point.
void TurnOntoTheClockwiseBound(TGs232 &D, Gs232Emulator &E) {
  E.setAzimuth(120);
  ASSERT_TRUE(WaitFor([&] { return D.OrgAzimuthD() == 120; }));
  E.setAzimuth(179);
}

TEST(Gs232Failure, DriverFreedInsideItsOwnWaitSendsNothingMore) {
  const QString List = QStringLiteral("Y21,WAIT1000,Y11");
  const TDeleteCase Cases[] = {
      {"list", [](TGs232 &, Gs232Emulator &) {},
       [&](TGs232 &D, Gs232Emulator &) { D.DoCmd(List); }},
      {"before-movement list of a preset", [&](TGs232 &D, Gs232Emulator &) { D.SetCommandB(List); },
       [](TGs232 &D, Gs232Emulator &) { D.GoPreset(90); }},
      {"after-stop list of a bound stop in a poll",
       [&](TGs232 &D, Gs232Emulator &) { D.SetCommandA(List); }, TurnOntoTheClockwiseBound},
      {"stop list started by a reached preset",
       [&](TGs232 &D, Gs232Emulator &) {
         D.SetCommandA(List);
         D.SetPreset(0);
         D.SetReachPreset([&D](QObject *) { D.DoCmd(QStringLiteral("S")); });
       },
       [](TGs232 &, Gs232Emulator &) {}},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.What);
    TScopedRecordingUi Ui;
    TMessageLog Messages;
    Gs232Emulator Emu;
    ASSERT_TRUE(Emu.start());
    QPointer<TGs232> Drv = new TGs232;
    Messages.Attach(*Drv);
    Drv->SetPort(Emu.devicePath());
    C.Setup(*Drv, Emu);
    Drv->Open();
    ASSERT_TRUE(Drv->Active());
    // Freed as soon as the pause has begun.
    QTimer Watch;
    Watch.setInterval(5);
    QObject::connect(&Watch, &QTimer::timeout, [&] {
      if (Drv && Commands(Emu).contains(QStringLiteral("Y21")))
        delete Drv.data();
    });
    Watch.start();
    C.Start(*Drv, Emu);
    ASSERT_TRUE(WaitFor([&] { return Drv.isNull(); }));
    QTest::qWait(1500);
    EXPECT_FALSE(Commands(Emu).contains(QStringLiteral("Y11")));
    EXPECT_TRUE(Messages.Entries.isEmpty()) << Messages.Texts().join('|').toStdString();
    EXPECT_TRUE(Ui->shown().isEmpty());
  }
}

// Each report of a driver whose receiver frees it: nothing of the driver may
// be touched afterwards, by the driver itself or by its port.
using TFree = std::function<void(QObject *)>;

struct TFreedByHandlerCase {
  const char *What;
  // Arms the report; Free deletes the object it is given, which for the
  // driver's own events is their sender.
  std::function<void(TGs232 &, const TFree &Free)> Arm;
  // Provokes the report once the driver is open; nothing when Open does.
  std::function<void(TGs232 &, Gs232Emulator &)> Provoke;
};

TEST(Gs232Failure, DriverFreedByItsOwnEventHandler) {
  auto OnActive = [](bool Wanted) {
    return [Wanted](TGs232 &D, const TFree &Free) {
      QObject::connect(&D, &TGs232::ActiveChanged, &D, [Wanted, Free, &D](bool Active) {
        if (Active == Wanted)
          Free(&D);
      });
    };
  };
  auto HangUp = [](TGs232 &, Gs232Emulator &E) { E.hangUp(); };
  const TFreedByHandlerCase Cases[] = {
      {"reached preset",
       [](TGs232 &D, const TFree &Free) {
         D.SetPreset(179);
         D.SetReachPreset(Free);
       },
       nullptr},
      {"reached bound",
       [](TGs232 &D, const TFree &Free) {
         D.SetReachBound([Free](QObject *Sender, TBoundPosition) { Free(Sender); });
       },
       TurnOntoTheClockwiseBound},
      {"changed position", [](TGs232 &D, const TFree &Free) { D.SetChangeAzEl(Free); }, nullptr},
      {"notice of the model at Open",
       [](TGs232 &D, const TFree &Free) {
         D.SetModel(QStringLiteral("GS-232B"));
         D.SetMessage([Free](QObject *Sender, const QString &, TMessageKind) { Free(Sender); });
       },
       nullptr},
      {"message of a failure",
       [](TGs232 &D, const TFree &Free) {
         D.SetMessage([Free](QObject *Sender, const QString &, TMessageKind) { Free(Sender); });
       },
       HangUp},
      {"opened", OnActive(true), nullptr},
      {"closed by Close", OnActive(false), [](TGs232 &D, Gs232Emulator &) { D.Close(); }},
      {"closed by a failure", OnActive(false), HangUp},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.What);
    TScopedRecordingUi Ui;
    Gs232Emulator::Options Opts;
    Opts.azimuth = 179; // the clockwise bound with the centre north
    Gs232Emulator Emu(Opts);
    ASSERT_TRUE(Emu.start());
    QPointer<TGs232> Drv = new TGs232;
    Drv->SetPort(Emu.devicePath());
    C.Arm(*Drv, [](QObject *Object) { delete Object; });
    Drv->Open();
    if (Drv && C.Provoke) {
      ASSERT_TRUE(Drv->Active());
      C.Provoke(*Drv, Emu);
    }
    ASSERT_TRUE(WaitFor([&] { return Drv.isNull(); }));
    QTest::qWait(300);
    EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
  }
}

} // namespace

// A line kept busy by back-to-back go-to commands, as a tracker or a logger
// sending hundreds of targets a second does: every command purges the input
// first, so the device's read notifications now and then find nothing to
// read. That is no failure: the port stays open and the last target wins.
TEST(Gs232Failure, ABurstOfCommandsKeepsTheLineOpen) {
  TRig Rig;
  Rig.Open();
  Rig.RunPolls(1);
  constexpr int Burst = 3000;
  int Last = 0;
  for (int I = 0; I < Burst && Rig.Drv->Active(); ++I) {
    Last = (I * 7) % 360;
    Rig.Drv->GoPreset(Last);
    // What arrived meanwhile (replies, notifications, a poll) is handled
    // after each few commands, as between two reads of a client that sends
    // its requests ahead of the answers.
    if (I % 30 == 29)
      QTest::qWait(2);
  }
  ASSERT_TRUE(Rig.Drv->Active()) << Rig.Messages.Texts().join('|').toStdString();
  const QString LastCommand = QStringLiteral("M%1").arg(Last, 3, 10, QLatin1Char('0'));
  ASSERT_TRUE(WaitFor([&] {
    const QStringList Cmds = Commands(Rig.Emu).filter(QRegularExpression(QStringLiteral("^M")));
    return !Cmds.isEmpty() && Cmds.last() == LastCommand;
  })) << Commands(Rig.Emu).mid(Commands(Rig.Emu).size() - 5).join(',').toStdString();
  // Polls go on afterwards: the replies are still read.
  Rig.RunPolls(2);
  EXPECT_TRUE(Rig.Drv->Active());
  EXPECT_TRUE(Rig.Messages.Entries.isEmpty()) << Rig.Messages.Texts().join('|').toStdString();
  EXPECT_EQ(Rig.Drv->MoveTarget(), std::optional<int>(Last));
}
