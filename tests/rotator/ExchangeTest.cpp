// Exchanges on the line never hold the main thread: a silent controller
// beside an answering one, reads for a caller while another line is silent,
// a command issued while a poll's reply is awaited, and a driver freed or
// closed while one of its exchanges waits.

#include "RotatorTestSupport.h"

#include <QElapsedTimer>
#include <QPointer>

#include <algorithm>
#include <vector>

using namespace rotator_test;

namespace {

using Clock = Gs232Emulator::Clock;

// How late a 10 ms timer on the main thread fires while it runs.
class TLatencyProbe {
public:
  TLatencyProbe() {
    FTimer.setTimerType(Qt::PreciseTimer);
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      const auto Now = Clock::now();
      FLateMs.push_back(std::chrono::duration<double, std::milli>(Now - FDue).count());
      FDue = Now + std::chrono::milliseconds(10);
    });
    FDue = Clock::now() + std::chrono::milliseconds(10);
    FTimer.start();
  }
  // The lateness that nine firings in ten stay below.
  double P90() {
    std::vector<double> Sorted = FLateMs;
    std::sort(Sorted.begin(), Sorted.end());
    return Sorted.empty() ? 1e9 : Sorted[Sorted.size() * 9 / 10];
  }
  size_t Firings() const { return FLateMs.size(); }

private:
  QTimer FTimer;
  Clock::time_point FDue;
  std::vector<double> FLateMs;
};

int PollsOf(const Gs232Emulator &Emu) { return CountOf(Commands(Emu), QStringLiteral("C")); }

TEST(Gs232Exchange, SilentControllerBesideAnAnsweringOne) {
  Gs232Emulator::Options Opts;
  Opts.azimuth = 100;
  TRig Answering(Opts);
  Opts.azimuth = 77;
  TRig Silent(Opts);
  QList<bool> Changes;
  QObject::connect(Silent.Drv.get(), &TGs232::RespondingChanged, Silent.Drv.get(),
                   [&](bool Responding) { Changes << Responding; });
  Answering.Open();
  Silent.Open();
  Silent.RunPolls(2);
  ASSERT_EQ(Silent.Drv->AzimuthD(), 77);
  EXPECT_TRUE(Silent.Drv->Responding());

  // While the silent line's three polls wait out their 210 ms each, the
  // answering line keeps its pace (with the reads waited out on the main
  // thread it would get about 3 polls a second).
  Answering.Emu.clearLog();
  QElapsedTimer Falling;
  Falling.start();
  Silent.Emu.setSilent(true);
  ASSERT_TRUE(WaitFor([&] { return !Silent.Drv->Responding(); }));
  EXPECT_GE(PollsOf(Answering.Emu), Falling.elapsed() / 100 / 2)
      << Falling.elapsed() << " ms until not responding";
  EXPECT_EQ(Changes, QList<bool>{false});
  EXPECT_EQ(Silent.Drv->AzimuthD(), 77); // the last good reading, not 0
  EXPECT_TRUE(Silent.Drv->Active());

  // A poll of the silent line waits 210 ms for nothing; none of that holds
  // the main thread or the other line.
  Answering.Emu.clearLog();
  Silent.Emu.clearLog();
  TLatencyProbe Probe;
  QTest::qWait(3000);
  EXPECT_GE(PollsOf(Answering.Emu), 18) << "the answering line polls at 10 a second";
  EXPECT_LE(PollsOf(Silent.Emu), 5) << "a silent line is asked about once a second";
  EXPECT_LT(Probe.P90(), 50.0) << Probe.Firings() << " firings";
  EXPECT_EQ(Answering.Drv->AzimuthD(), 100);
  EXPECT_EQ(Silent.Drv->AzimuthD(), 77);

  // The controller answers again: the mark clears and the poll resumes.
  Silent.Emu.setAzimuth(88);
  Silent.Emu.setSilent(false);
  ASSERT_TRUE(WaitFor([&] { return Silent.Drv->Responding(); }));
  Silent.RunPolls(1);
  EXPECT_EQ(Silent.Drv->AzimuthD(), 88);
  Silent.Emu.clearLog();
  QTest::qWait(1000);
  EXPECT_GE(PollsOf(Silent.Emu), 4);

  // Closing a driver that is not responding clears the mark too.
  Silent.Emu.setSilent(true);
  ASSERT_TRUE(WaitFor([&] { return !Silent.Drv->Responding(); }));
  Silent.Drv->Close();
  EXPECT_TRUE(Silent.Drv->Responding());
  EXPECT_EQ(Changes, (QList<bool>{false, true, false, true}));
  EXPECT_TRUE(Silent.Messages.Entries.isEmpty()) << Silent.Messages.Texts().join('|').toStdString();
}

TEST(Gs232Exchange, ReadsForACallerWhileAnotherLineIsSilent) {
  Gs232Emulator::Options Opts;
  Opts.azimuth = 42;
  TRig Other(Opts);
  TRig Silent;
  Other.Open();
  Silent.Open();
  Silent.Emu.setSilent(true);

  // The console's query on the answering line.
  Other.Drv->DoCmd(QStringLiteral("C"));
  const QString Reply = Recv(*Other.Drv, 20);
  EXPECT_TRUE(Reply.endsWith(QStringLiteral("+0042\r\n"))) << Reply.toStdString();

  // A read on the silent line takes its full 1.1 s; the other line polls on.
  Other.Emu.clearLog();
  QElapsedTimer Clock;
  Clock.start();
  EXPECT_TRUE(Recv(*Silent.Drv, 100).isEmpty());
  EXPECT_GE(Clock.elapsed(), 1000);
  EXPECT_GE(PollsOf(Other.Emu), 5);

  // The start-up read of a "GS-232B" on a silent line (400 ms) likewise.
  TRig Unverified;
  Unverified.Drv->SetModel(QStringLiteral("GS-232B"));
  Unverified.Emu.setSilent(true);
  Other.Emu.clearLog();
  Clock.restart();
  Unverified.Drv->Open();
  EXPECT_TRUE(Unverified.Drv->Active());
  ASSERT_TRUE(WaitFor([&] { return !Unverified.Messages.Texts().isEmpty(); }));
  EXPECT_GE(Clock.elapsed(), 390);
  EXPECT_GE(PollsOf(Other.Emu), 2);
  EXPECT_EQ(Commands(Unverified.Emu), QStringList({"K0", "S", "I0", "H3"}));
  EXPECT_EQ(Unverified.Messages.Texts(), QStringList{QStringLiteral(u"GS-232Bの動作未確認")});
  EXPECT_EQ(Other.Drv->AzimuthD(), 42);
}

TEST(Gs232Exchange, ACommandIssuedWhileAPollReplyIsAwaitedFollowsThatReply) {
  constexpr auto Delay = std::chrono::milliseconds(100);
  Gs232Emulator::Options Opts;
  Opts.azimuth = 150;
  Opts.elevation = 33; // the console asks for it: its reply differs from a poll's
  Opts.ackCR = false; // only the replies asked for come back
  TRig Rig(Opts);
  Rig.Open();
  Rig.RunPolls(1);
  Rig.Emu.setReplyDelay(Delay);
  Rig.Emu.clearLog();
  // The moment a query reaches the controller, its reply is 100 ms away.
  ASSERT_TRUE(WaitFor([&] { return PollsOf(Rig.Emu) >= 1; }, kWaitMs));
  Rig.Drv->GoCCW();
  ASSERT_TRUE(WaitFor([&] { return Commands(Rig.Emu).contains(QStringLiteral("L")); }));
  auto At = [&](const char *Command) {
    for (const auto &C : Rig.Emu.commands())
      if (C.command == Command)
        return C.at;
    return Clock::time_point{};
  };
  EXPECT_GE(At("L") - At("C"), Delay - std::chrono::milliseconds(5))
      << "the command went out inside the poll's exchange";

  // A stop waits for nothing: issued while a reply is awaited, it goes out
  // at once, right behind the turn held before it.
  Rig.Emu.clearLog();
  ASSERT_TRUE(WaitFor([&] { return PollsOf(Rig.Emu) >= 1; }, kWaitMs));
  Rig.Drv->GoCW();
  Rig.Drv->Stop();
  ASSERT_TRUE(WaitFor([&] { return Commands(Rig.Emu).contains(QStringLiteral("S")); }));
  EXPECT_LT(At("S") - At("C"), Delay) << "the stop waited for the poll's reply";
  EXPECT_LE(At("R"), At("S"));

  // A console query issued while a poll reply is awaited goes out after
  // that reply and reads its own: the elevation, not the poll's azimuth.
  Rig.Emu.clearLog();
  ASSERT_TRUE(WaitFor([&] { return PollsOf(Rig.Emu) >= 1; }, kWaitMs));
  Rig.Drv->DoCmd(QStringLiteral("B"));
  EXPECT_EQ(Recv(*Rig.Drv, 20), QStringLiteral("+0033\r\n"));
  const auto Console = Rig.Emu.commands();
  ASSERT_GE(Console.size(), 2u);
  EXPECT_EQ(Console[1].command, QByteArray("B"));
  EXPECT_GE(Console[1].at - Console[0].at, Delay - std::chrono::milliseconds(5));

  // Later polls read right.
  Rig.Emu.setReplyDelay(std::chrono::milliseconds(0));
  Rig.RunPolls(2);
  EXPECT_NEAR(Rig.Drv->OrgAzimuthD(), Rig.Emu.azimuth(), 1.0);
  EXPECT_TRUE(Rig.Drv->Responding());
}

// The report that a controller answers again comes after the commands held
// behind that answer: a command its receiver sends follows them.
TEST(Gs232Exchange, CommandsOfTheAnsweringReportFollowTheHeldOnes) {
  Gs232Emulator::Options Opts;
  Opts.ackCR = false;
  TRig Rig(Opts);
  Rig.Open();
  Rig.Emu.setSilent(true);
  ASSERT_TRUE(WaitFor([&] { return !Rig.Drv->Responding(); }));
  QObject::connect(Rig.Drv.get(), &TGs232::RespondingChanged, Rig.Drv.get(), [&](bool Responding) {
    if (Responding)
      Rig.Drv->DoCmd(QStringLiteral("S"));
  });
  Rig.Emu.setReplyDelay(std::chrono::milliseconds(100));
  Rig.Emu.clearLog();
  Rig.Emu.setSilent(false);
  // The next query is answered 100 ms later; a turn is asked for meanwhile.
  ASSERT_TRUE(WaitFor([&] { return PollsOf(Rig.Emu) >= 1; }));
  Rig.Drv->GoCW();
  ASSERT_TRUE(WaitFor([&] { return Rig.Drv->Responding(); }));
  ASSERT_TRUE(WaitFor([&] { return Commands(Rig.Emu).contains(QStringLiteral("S")); }));
  const QStringList Sent = Commands(Rig.Emu);
  EXPECT_LT(Sent.indexOf(QStringLiteral("R")), Sent.indexOf(QStringLiteral("S")))
      << Sent.join(',').toStdString();
}

TEST(Gs232Exchange, PollsInsideAWaitThatAPollStartedKeepTheirPace) {
  Gs232Emulator::Options Opts;
  Opts.azimuth = 90;
  TRig Rig(Opts);
  // The first change report of a poll stops the rotator, and the after-stop
  // list, started inside that poll's handling, waits a second.
  Rig.Drv->SetCommandA(QStringLiteral("WAIT1000"));
  int PollsInside = -1;
  int Reports = 0;
  Rig.Drv->SetChangeAzEl([&](QObject *) {
    if (++Reports > 1)
      return;
    const int Before = PollsOf(Rig.Emu);
    Rig.Drv->DoCmd(QStringLiteral("S"), [&, Before] { PollsInside = PollsOf(Rig.Emu) - Before; });
  });
  Rig.Open();
  ASSERT_TRUE(WaitFor([&] { return PollsInside >= 0; }));
  // Each reply is taken at its line end, not at the read's 210 ms bound.
  EXPECT_GE(PollsInside, 5);
  EXPECT_EQ(Rig.Drv->AzimuthD(), 90);
}

struct TEndCase {
  const char *What;
  // Starts the exchange; runs until it has ended when it waits itself.
  std::function<void(TGs232 &)> Start;
  const char *Model;
};

// The operator's Stop reaches a controller whose line is held by a console
// read that waits in vain.
TEST(Gs232Exchange, AStopGoesOutWhileAConsoleReadWaitsOnASilentLine) {
  TRig Rig;
  Rig.Open();
  Rig.Emu.setSilent(true);
  // Replies already on their way have come in and been dropped.
  QTest::qWait(500);
  Rig.Emu.clearLog();
  bool ReadWaits = true;
  bool StopSeenWhileReading = false;
  QTimer::singleShot(200, [&] {
    Rig.Drv->Stop();
    StopSeenWhileReading =
        WaitFor([&] { return Commands(Rig.Emu).contains(QStringLiteral("S")); }, 2000) &&
        ReadWaits;
  });
  // 300 characters: a read bound of 3.1 s.
  Rig.Drv->DoCmd(QStringLiteral("H"));
  Recv(*Rig.Drv, 300);
  ReadWaits = false;
  EXPECT_TRUE(StopSeenWhileReading) << Commands(Rig.Emu).join(',').toStdString();
}

TEST(Gs232Exchange, ADriverFreedOrClosedWhileAnExchangeWaitsSendsNothingMore) {
  const TEndCase Cases[] = {
      {"poll reply awaited", [](TGs232 &) { QTest::qWait(400); }, "GS-232A"},
      {"console read", [](TGs232 &D) { EXPECT_TRUE(Recv(D, 100).isEmpty()); }, "GS-232A"},
      {"single poll", [](TGs232 &D) { PollOnce(D); }, "GS-232A"},
      {"start-up read", [](TGs232 &D) { D.Open(); }, "GS-232B"},
  };
  for (const auto &C : Cases) {
    for (const bool Free : {true, false}) {
      SCOPED_TRACE(::testing::Message() << C.What << (Free ? ", freed" : ", closed"));
      TScopedRecordingUi Ui;
      TMessageLog Messages;
      Gs232Emulator Emu;
      ASSERT_TRUE(Emu.start());
      Emu.setSilent(true);
      QPointer<TGs232> Drv = new TGs232;
      Messages.Attach(*Drv);
      Drv->SetPort(Emu.devicePath());
      Drv->SetModel(QString::fromLatin1(C.Model));
      const bool OpensItself = QString::fromLatin1(C.Model) == u"GS-232B";
      if (!OpensItself) {
        Drv->Open();
        ASSERT_TRUE(Drv->Active());
      }
      // Ended 100 or 150 ms into the exchange, from the event loop.
      QObject Context; // no call into this frame once it has ended
      QTimer::singleShot(OpensItself ? 100 : 150, &Context, [&] {
        Emu.clearLog();
        if (!Drv)
          return;
        if (Free)
          delete Drv.data();
        else
          Drv->Close();
      });
      C.Start(*Drv);
      ASSERT_TRUE(WaitFor([&] { return Free ? Drv.isNull() : !Drv->Active(); }));
      QTest::qWait(400);
      QStringList After = Commands(Emu);
      After.removeAll(QString()); // the lone CR of a close
      EXPECT_TRUE(After.isEmpty()) << After.join(',').toStdString();
      EXPECT_TRUE(Messages.Entries.isEmpty()) << Messages.Texts().join('|').toStdString();
      EXPECT_TRUE(Ui->shown().isEmpty());
      delete Drv.data();
    }
  }
}

} // namespace
