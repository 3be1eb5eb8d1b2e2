// Command lists on the line: item syntax and kinds, the lists run before
// movements and after stops, relay items, and WAIT pauses during which the
// poll goes on.

#include "RotatorTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdlib>

using namespace rotator_test;

namespace {

struct TListCase {
  const char *Text;
  const char *CommandB;
  const char *CommandA;
  QStringList Sent;
};

TEST(Gs232CommandList, ItemsAndTheListsAroundMovementsAndStops) {
  const TListCase Cases[] = {
      {"M123", "Y21", "", {"Y21", "M123"}},
      {"C2", "Y21", "Y20", {"C2"}},
      {"R S", "Y11", "Y10", {"Y11", "R", "S", "Y10"}},
      {"R, S", "", "", {"R", "S"}},
      {"r,s", "", "", {"R", "S"}},
      {"\tR\x01S \r\n", "", "", {"R", "S"}},
      // A list never starts another list.
      {"R", "R", "", {"R", "R"}},
      {"S", "", "S", {"S", "S"}},
      {"L", "WAIT0,D,S", "Y10", {"D", "S", "L"}},
      {"u,d", "y31", "", {"Y31", "U", "Y31", "D"}},
      // Empty items are sent as a lone CR.
      {"R,,S", "", "", {"R", "", "S"}},
      {"R,", "", "", {"R", ""}},
      {", R", "", "", {"", "R"}},
      {"R, ", "", "", {"R"}},
      {"", "Y11", "Y10", {}},
      {"   ", "", "", {}},
      // Quoted items keep blanks and commas; doubled quotes stand for one.
      {"\"W090 045\",S", "", "", {"W090 045", "S"}},
      {"\"a,\"\"b\"\"\" x", "", "", {"A,\"B\"", "X"}},
      {"\"P45", "", "", {"P45"}},
      {"\"AB\"CD", "", "", {"AB", "CD"}},
      // Pauses send nothing; a blank ends the WAIT item.
      {"WAIT 500", "", "", {"500"}},
      {"WAITX,WAIT0,WAIT-5,I0", "", "", {"I0"}},
      // Anything else goes out unchanged.
      {"P36,X4,H3,ZN,?", "", "", {"P36", "X4", "H3", "ZN", "?"}},
  };
  TRig Rig;
  Rig.Drv->RelayArray()->SetCount(4);
  Rig.Open();
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Text);
    Rig.Drv->SetCommandB(QString::fromLatin1(C.CommandB));
    Rig.Drv->SetCommandA(QString::fromLatin1(C.CommandA));
    QElapsedTimer Clock;
    Clock.start();
    // A poll ("C") may reach the line around the list; the items never are one.
    QStringList Sent = Rig.SentBy([&] { Rig.Drv->DoCmd(QString::fromLatin1(C.Text)); });
    Sent.removeAll(QStringLiteral("C"));
    EXPECT_EQ(Sent, C.Sent);
    EXPECT_LT(Clock.elapsed(), 5000);
  }
}

struct TRelayCase {
  int Count;
  const char *Text;
  QList<bool> Relays; // relays 1 to 4 afterwards
  int Events;         // ChangeRelays raised
};

TEST(Gs232CommandList, RelayItemsSwitchRelaysInUseAndAreAlwaysSent) {
  const TRelayCase Cases[] = {
      {4, "Y11,Y31", {true, false, true, false}, 2},
      {4, "Y3", {true, false, false, false}, 1},
      {4, "Y10,Y1", {false, false, false, false}, 2},
      {4, "Y41,Y51", {true, false, false, true}, 1},
      {4, "Y0,YA1,Y", {true, false, false, false}, 0},
      {8, "Y91", {true, false, false, false}, 0},
      {0, "Y10", {true, false, false, false}, 0},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Text);
    TRig Rig;
    TRelayArray *Relays = Rig.Drv->RelayArray();
    Relays->SetCount(4);
    Relays->SetRelay(0, true); // on before the list, so that switching off shows
    Relays->SetCount(C.Count);
    int Events = 0;
    Relays->SetChangeRelays([&](QObject *) { ++Events; });
    Rig.Open();
    const QStringList Sent = Rig.SentBy([&] { Rig.Drv->DoCmd(QString::fromLatin1(C.Text)); });
    EXPECT_EQ(Sent, QString::fromLatin1(C.Text).split(','));
    Relays->SetChangeRelays(nullptr);
    Relays->SetCount(4);
    QList<bool> States;
    for (int I = 0; I < 4; ++I)
      States << Relays->GetRelay(I);
    EXPECT_EQ(States, C.Relays);
    EXPECT_EQ(Events, C.Events);
  }
}

TEST(Gs232CommandList, WaitsBeforeMovementWhilePollsGoOn) {
  TRig Rig;
  Rig.Drv->RelayArray()->SetCount(4);
  Rig.Drv->SetCommandB(QStringLiteral("Y11,WAIT500"));
  Rig.Open();
  Rig.Emu.clearLog();

  // The call returns at the pause; the rest of the list follows it.
  Rig.Drv->GoCW();
  EXPECT_TRUE(Rig.Drv->RelayArray()->GetRelay(0));

  ASSERT_TRUE(WaitFor([&] { return Commands(Rig.Emu).contains(QStringLiteral("R")); }));
  const auto Log = Rig.Emu.commands();
  QStringList Cmds = Commands(Rig.Emu);
  const int Y = Cmds.indexOf(QStringLiteral("Y11"));
  const int R = Cmds.indexOf(QStringLiteral("R"));
  ASSERT_EQ(Y, 0);
  ASSERT_GT(R, Y);
  EXPECT_GE(Log[R].at - Log[Y].at, std::chrono::milliseconds(450));
  // The poll went on inside the pause.
  EXPECT_GE(CountOf(Cmds.mid(Y, R - Y), QStringLiteral("C")), 2);
  Cmds.removeAll(QStringLiteral("C"));
  EXPECT_EQ(Cmds, QStringList({"Y11", "R"}));
}

TEST(Gs232CommandList, WaitsAfterStop) {
  TRig Rig;
  Rig.Drv->RelayArray()->SetCount(4);
  Rig.Drv->RelayArray()->SetRelay(0, true);
  Rig.Drv->SetCommandA(QStringLiteral("wait1000,y10"));
  Rig.Open();
  Rig.Emu.clearLog();

  bool Ended = false;
  Rig.Drv->DoCmd(QStringLiteral("S"), [&] { Ended = true; });
  // The call returns at the pause; the relay switches once it is over.
  EXPECT_FALSE(Ended);
  EXPECT_TRUE(Rig.Drv->RelayArray()->GetRelay(0));
  ASSERT_TRUE(WaitFor([&] { return Ended; }));
  EXPECT_FALSE(Rig.Drv->RelayArray()->GetRelay(0));
  ASSERT_TRUE(WaitFor([&] { return Commands(Rig.Emu).contains(QStringLiteral("Y10")); }));
  const auto Log = Rig.Emu.commands();
  QStringList Cmds = Commands(Rig.Emu);
  const int S = Cmds.indexOf(QStringLiteral("S"));
  const int Y = Cmds.indexOf(QStringLiteral("Y10"));
  ASSERT_EQ(S, 0);
  EXPECT_GE(Log[Y].at - Log[S].at, std::chrono::milliseconds(950));
}

TEST(Gs232CommandList, ACommandDuringAWaitRunsItsOwnListBesideIt) {
  // An operator action during the pause of a list runs its own list, whose
  // pause delays only itself: each list goes on when its own pause is over.
  TRig Rig;
  Rig.Drv->SetCommandB(QStringLiteral("WAIT300,Y21"));
  Rig.Drv->RelayArray()->SetCount(4);
  Rig.Open();
  Rig.Emu.clearLog();
  int Ended = 0;
  QTimer::singleShot(100, [&] { Rig.Drv->DoCmd(QStringLiteral("M090"), [&] { ++Ended; }); });
  Rig.Drv->DoCmd(QStringLiteral("R"), [&] { ++Ended; });
  ASSERT_TRUE(WaitFor([&] { return Ended == 2; }));
  ASSERT_TRUE(WaitFor([&] { return Commands(Rig.Emu).contains(QStringLiteral("M090")); }));
  QStringList Sent = Commands(Rig.Emu);
  Sent.removeIf([](const QString &C) { return C == u"C"; });
  EXPECT_EQ(Sent, QStringList({"Y21", "R", "Y21", "M090"}));
}

} // namespace

namespace {

TEST(Gs232CommandList, PollGoesOnInsideAListStartedByAPoll) {
  // A stop at a travel bound runs the after-stop list from inside a poll; its
  // pause must not stop the polling.
  Gs232Emulator::Options Opts;
  Opts.azimuth = 120;
  TRig Rig(Opts);
  Rig.Drv->SetCommandA(QStringLiteral("WAIT800,Y10"));
  Rig.Open();
  Rig.RunPolls(1);
  Rig.Emu.clearLog();
  Rig.Emu.setAzimuth(179); // the clockwise bound with the centre north
  ASSERT_TRUE(WaitFor([&] { return Commands(Rig.Emu).contains(QStringLiteral("Y10")); }));
  const QStringList Cmds = Commands(Rig.Emu);
  const int S = Cmds.indexOf(QStringLiteral("S"));
  const int Y = Cmds.indexOf(QStringLiteral("Y10"));
  ASSERT_GE(S, 0);
  EXPECT_GE(CountOf(Cmds.mid(S, Y - S), QStringLiteral("C")), 3);
}

} // namespace
