// Presets, home, offsets on the line, and the two checks of the poll: the
// preset reached and the travel bound reached.

#include "RotatorTestSupport.h"

#include <QRegularExpression>

#include <climits>
#include <optional>

using namespace rotator_test;

namespace {

struct TTargetCase {
  const char *What;
  TAzimuthAngle Mode;
  int Offset;
  int TempOffset;
  std::function<void(TGs232 &)> Action;
  QString Sent;
  int PresetAfter; // AzPresetD afterwards
  int TargetAfter; // MoveTarget afterwards, in the degrees of the preset
};

TEST(Gs232Positioning, TargetsSentForPresetsAndHome) {
  const TTargetCase Cases[] = {
      {"stored preset beyond the range", az360, 0, 0,
       [](TGs232 &D) { D.SetPreset(370); D.GoPreset(); }, "M010", 370, 370},
      {"preset argument is normalised", az360, 0, 0, [](TGs232 &D) { D.GoPreset(370); }, "M010",
       10, 10},
      {"offset", az360, 10, 0, [](TGs232 &D) { D.GoPreset(5); }, "M355", 5, 5},
      {"home less offset", az360, 10, 0, [](TGs232 &D) { D.SetHome(0); D.GoHome(); }, "M350", 5,
       0},
      {"home ignores the temporary offset", az360, 0, 90,
       [](TGs232 &D) { D.SetHome(45); D.GoHome(); }, "M045", 5, 135},
      {"temporary offset", az360, 0, 90, [](TGs232 &D) { D.GoPreset(180); }, "M090", 180, 180},
      {"temporary offset wraps", az360, 0, 90, [](TGs232 &D) { D.GoPreset(45); }, "M315", 45, 45},
      {"temporary offset on the stored preset", az360, 0, 90,
       [](TGs232 &D) { D.SetPreset(100); D.GoPreset(); }, "M010", 100, 100},
      {"both offsets", az360, -20, 30, [](TGs232 &D) { D.GoPreset(0); }, "M350", 0, 0},
      {"450 mode keeps 400", az450, 0, 0, [](TGs232 &D) { D.GoPreset(400); }, "M400", 400, 400},
      {"450 mode wraps 451", az450, 0, 0, [](TGs232 &D) { D.GoPreset(451); }, "M091", 91, 91},
      {"one digit padded", az360, 0, 0, [](TGs232 &D) { D.GoPreset(5); }, "M005", 5, 5},
      {"extreme offsets do not overflow", az360, INT_MAX, INT_MAX,
       [](TGs232 &D) { D.GoPreset(0); }, "M106", 0, 0},
  };
  TRig Rig;
  Rig.Open();
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.What);
    TGs232 &D = *Rig.Drv;
    D.SetAzimuthAngle(C.Mode);
    D.SetOffset(C.Offset);
    D.SetTempOffsetD(C.TempOffset);
    D.ResetPreset();
    D.SetPreset(5); // AzPresetD before, for the home cases
    const QStringList Sent = Rig.SentBy([&] { C.Action(D); });
    // Changing the range sends its own command first.
    EXPECT_EQ(Sent.filter(QRegularExpression("^[MW]")), QStringList{C.Sent});
    EXPECT_EQ(D.AzPresetD(), C.PresetAfter);
    EXPECT_TRUE(D.Presetting());
    EXPECT_EQ(D.MoveTarget(), std::optional<int>(C.TargetAfter));
  }
}

// The movement target lasts from the go-to command until the rotator gets
// there, or a stop, a turn or a close ends it; each change is reported once.
TEST(Gs232Positioning, MoveTargetLastsUntilArrivalStopTurnOrClose) {
  Gs232Emulator::Options Fast;
  Fast.speedDegPerSec[3] = 90;
  TRig Rig(Fast);
  int Reports = 0;
  QObject::connect(Rig.Drv.get(), &TGs232::MoveTargetChanged, [&] { ++Reports; });
  Rig.Open();
  TGs232 &D = *Rig.Drv;

  D.GoPreset(90);
  EXPECT_EQ(D.MoveTarget(), std::optional<int>(90));
  EXPECT_EQ(Reports, 1);
  ASSERT_TRUE(WaitFor([&] { return !D.MoveTarget(); }));
  EXPECT_NEAR(D.AzimuthD(), 90, 2);
  EXPECT_EQ(Reports, 2);

  // Home at 0 is met by a reading of 359 or 1 alike in the 360° range.
  D.SetHome(0);
  D.GoHome();
  ASSERT_TRUE(WaitFor([&] { return !D.MoveTarget(); }));
  EXPECT_TRUE(D.AzimuthD() <= 2 || D.AzimuthD() >= 358) << D.AzimuthD();

  const std::pair<const char *, std::function<void()>> Enders[] = {
      {"stop", [&] { D.Stop(); }},
      {"stop in a command list", [&] { D.DoCmd(QStringLiteral("Y10,S")); }},
      {"turn by hand", [&] { D.GoCW(); }},
      {"close", [&] { D.Close(); }},
  };
  for (const auto &[What, End] : Enders) {
    SCOPED_TRACE(What);
    if (!D.Active())
      Rig.Open();
    D.GoPreset(270);
    ASSERT_TRUE(D.MoveTarget());
    Reports = 0;
    End();
    EXPECT_FALSE(D.MoveTarget());
    EXPECT_EQ(Reports, 1);
    D.Stop();
  }
  // Closed, nothing goes out and no target is set.
  D.GoPreset(10);
  D.GoHome();
  EXPECT_FALSE(D.MoveTarget());

  // A list before the move that waits while the port is closed and opened
  // again: the move is dropped with the old open period, and so is its target.
  Rig.Open();
  D.SetCommandB(QStringLiteral("WAIT300"));
  QTimer::singleShot(50, &D, [&] {
    D.Close();
    D.Open();
  });
  D.GoPreset(200);
  EXPECT_TRUE(D.Active());
  EXPECT_FALSE(D.MoveTarget());
}

TEST(Gs232Positioning, PresetCommandsNeedAPendingPresetAndAnOpenDriver) {
  TRig Rig;
  Rig.Drv->SetPreset(100);
  Rig.Drv->GoPreset(); // closed: nothing, and nothing changes
  Rig.Drv->GoPreset(120);
  Rig.Drv->GoHome();
  EXPECT_EQ(Rig.Drv->AzPresetD(), 100);
  Rig.Open();
  Rig.Drv->ResetPreset();
  EXPECT_TRUE(Rig.SentBy([&] {
    Rig.Drv->GoPreset();
    Rig.Drv->GoPreset(10, 20);
  }).isEmpty());

  // With elevation: one W command, blank included; the list before movements
  // belongs to the turn and go-to commands only.
  Rig.Drv->SetElEnable(true);
  Rig.Drv->SetOffset(10, 5);
  Rig.Drv->SetCommandB(QStringLiteral("Y11"));
  Rig.Drv->RelayArray()->SetCount(4);
  EXPECT_EQ(Rig.SentBy([&] {
    Rig.Drv->SetPreset(100, 50);
    Rig.Drv->GoPreset();
    Rig.Drv->GoPreset(370, 30);
  }),
            QStringList({"W090 045", "W000 025"}));
  EXPECT_EQ(Rig.Drv->AzPresetD(), 10);
  EXPECT_EQ(Rig.Drv->ElPresetD(), 30);
}

struct TPresetCase {
  TAzimuthAngle Mode;
  int Offset;
  int TempOffset;
  int Preset;
  double Reading;
  bool Reached;
};

TEST(Gs232Positioning, PresetReachedWithinTwoDegreesOnTheCircleOfA360Range) {
  const TPresetCase Cases[] = {
      {az360, 0, 90, 180, 88, true},    {az360, 0, 90, 180, 92, true},
      {az360, 0, 90, 180, 87, false},   {az360, 0, 90, 180, 93, false},
      {az360, 0, 0, 100, 100, true},    {az360, 0, 0, 100, 98, true},
      {az360, 0, 0, 100, 103, false},
      // The 360° range is a circle: 0 and 360 are one place, also when the
      // offsets bring the sum there (315 + 90 - 45 = 360).
      {az360, 0, 0, 360, 0, true},      {az360, 0, 0, 0, 359, true},
      {az360, 0, 0, 1, 359, true},      {az360, 0, 90, 45, 315, true},
      {az360, 0, 0, 370, 10, true},     {az360, 10, 0, 360, 350, true},
      {az360, 0, 0, 360, 357, false},   {az360, 0, 0, 360, 180, false},
      // The 450° range is a line: every reading is a place of its own.
      {az450, 0, 0, 360, 0, false},     {az450, 0, 0, 0, 359, false},
      {az450, 0, 90, 45, 315, false},   {az450, 0, 0, 360, 360, true},
      {az450, 0, 0, 400, 401, true},
  };
  TRig Rig;
  int Reached = 0;
  Rig.Drv->SetReachPreset([&](QObject *Sender) {
    EXPECT_EQ(Sender, Rig.Drv.get());
    EXPECT_FALSE(Rig.Drv->Presetting());
    ++Reached;
  });
  // Centre north: the bounds (raw 179 and 180) lie away from these readings.
  Rig.Open();
  for (const auto &C : Cases) {
    SCOPED_TRACE(::testing::Message() << (C.Mode == az450 ? "450 " : "360 ") << "preset "
                                      << C.Preset << " reading " << C.Reading << " offset "
                                      << C.Offset << " temporary offset " << C.TempOffset);
    Rig.Drv->ResetPreset();
    Rig.Drv->SetAzimuthAngle(C.Mode);
    Rig.Drv->SetOffset(C.Offset);
    Rig.Emu.setAzimuth(C.Reading);
    Rig.RunPolls(1);
    Reached = 0;
    Rig.Drv->SetTempOffsetD(C.TempOffset);
    Rig.Drv->SetPreset(C.Preset);
    // A reading within reach that comes no closer counts after a while.
    if (C.Reached)
      EXPECT_TRUE(WaitFor([&] { return Reached > 0; }));
    else
      Rig.RunPolls(3);
    Rig.RunPolls(1);
    EXPECT_EQ(Reached, C.Reached ? 1 : 0);
    EXPECT_EQ(Rig.Drv->Presetting(), !C.Reached);
  }
}

// A rotator sent to its preset is let go on within reach of it: the stop
// that answers the arrival comes once it reads the preset, not 2° short.
TEST(Gs232Positioning, ArrivalWaitsUntilTheRotatorStopsComingCloser) {
  Gs232Emulator::Options Opts;
  Opts.azimuth = 80;
  Opts.speed = 1; // 1.5° a second: a reading within reach lasts several polls
  Opts.timeScale = 2;
  TRig Rig(Opts);
  QList<double> ReachedAt;
  Rig.Drv->SetReachPreset([&](QObject *) {
    ReachedAt << Rig.Emu.azimuth();
    Rig.Drv->DoCmd(QStringLiteral("S"));
  });
  Rig.Open();
  Rig.RunPolls(1);
  Rig.Emu.clearLog();
  Rig.Drv->GoPreset(90);
  ASSERT_TRUE(WaitFor([&] { return !ReachedAt.isEmpty(); }, 30000));
  Rig.RunPolls(3);
  ASSERT_EQ(ReachedAt.size(), 1);
  EXPECT_GE(ReachedAt[0], 89.5);
  EXPECT_GE(Rig.Emu.azimuth(), 89.5);
  EXPECT_EQ(CountOf(Commands(Rig.Emu), QStringLiteral("S")), 1);
}

TEST(Gs232Positioning, PresetStaysPendingWithoutHandlerOrAfterReset) {
  Gs232Emulator::Options Opts;
  Opts.azimuth = 100;
  TRig Rig(Opts);
  Rig.Open();
  Rig.Drv->SetPreset(100);
  Rig.RunPolls(2);
  EXPECT_TRUE(Rig.Drv->Presetting());

  int Reached = 0;
  Rig.Drv->SetReachPreset([&](QObject *) { ++Reached; });
  Rig.Drv->ResetPreset();
  Rig.Emu.setAzimuth(0);
  Rig.RunPolls(2);
  EXPECT_EQ(Reached, 0);

  // Reported once, and a preset pending at Close is tested after the next Open.
  Rig.Drv->SetPreset(0);
  Rig.Drv->Close();
  Rig.Open(2);
  Rig.RunPolls(3);
  EXPECT_EQ(Reached, 1);
}

TEST(Gs232Positioning, ReachedPresetWhoseStopListWaitsIsReportedOnce) {
  // The window's answer to a reached preset is a stop, whose list may wait;
  // the polls inside that wait see the rotator still at the preset.
  Gs232Emulator::Options Opts;
  Opts.azimuth = 50;
  TRig Rig(Opts);
  Rig.Drv->SetCommandA(QStringLiteral("WAIT600"));
  int Reached = 0;
  Rig.Drv->SetReachPreset([&](QObject *) {
    ++Reached;
    Rig.Drv->DoCmd(QStringLiteral("S"));
  });
  Rig.Open();
  Rig.Drv->SetPreset(50);
  Rig.RunPolls(10);
  EXPECT_EQ(Reached, 1);
  EXPECT_FALSE(Rig.Drv->Presetting());
}

struct TBoundCase {
  TCenterPosition Centre;
  TAzimuthAngle Mode;
  double From; // where the rotator turns from
  double Near; // a reading on the way
  double Raw;  // where it comes to rest
  TBoundPosition Bound;
  // A last step of 2° or more leaves the rotator marked moving after the
  // stop, which then repeats once.
  int Stops = 1;
};

TEST(Gs232Positioning, BoundReachedStopsOnceAndReports) {
  const TBoundCase Cases[] = {
      {cpSouth, az360, 300, 358, 359, bpCWBound},
      {cpSouth, az360, 60, 1, 0, bpCCWBound},
      {cpSouth, az360, 60, 2, 1, bpNone},
      {cpSouth, az360, 300, 357, 358, bpNone},
      {cpNorth, az360, 120, 178, 179, bpCWBound},
      {cpNorth, az360, 240, 181, 180, bpCCWBound},
      {cpNorth, az360, 240, 182, 181, bpNone},
      {cpNorth, az360, 60, 1, 0, bpNone},
      // With the centre north the overlap lies beyond the clockwise bound.
      {cpNorth, az450, 300, 359, 400, bpCWBound, 2},
      {cpNorth, az450, 300, 359, 360, bpCWBound},
      {cpSouth, az450, 400, 449, 450, bpCWBound},
      {cpSouth, az450, 300, 399, 400, bpNone},
      // Turned away from an end, though still beyond it: not stopped.
      {cpNorth, az450, 420, 401, 400, bpNone},
      {cpSouth, az360, 359, 301, 300, bpNone},
  };
  for (const bool ChangeHandler : {true, false}) {
    for (const auto &C : Cases) {
      SCOPED_TRACE(::testing::Message()
                   << (C.Centre == cpNorth ? "north " : "south ") << (C.Mode == az450 ? 450 : 360)
                   << " raw " << C.From << " to " << C.Near << " to " << C.Raw
                   << (ChangeHandler ? "" : " without change handler"));
      Gs232Emulator::Options Opts;
      Opts.azimuth = C.From;
      TRig Rig(Opts);
      Rig.Drv->SetCenterPosition(C.Centre);
      Rig.Drv->SetAzimuthAngle(C.Mode);
      Rig.Drv->SetCommandA(QStringLiteral("Y10"));
      QList<TBoundPosition> Bounds;
      Rig.Drv->SetReachBound([&](QObject *Sender, TBoundPosition B) {
        EXPECT_EQ(Sender, Rig.Drv.get());
        EXPECT_FALSE(Rig.Drv->Moving());
        Bounds << B;
      });
      if (ChangeHandler)
        Rig.Drv->SetChangeAzEl([](QObject *) {});
      Rig.Open();
      Rig.RunPolls(2);
      Rig.Emu.setAzimuth(C.Near);
      Rig.RunPolls(1);
      ASSERT_TRUE(Bounds.isEmpty());
      Rig.Emu.clearLog();
      Rig.Emu.setAzimuth(C.Raw);
      Rig.RunPolls(4);
      const QStringList Cmds = Commands(Rig.Emu);
      if (C.Bound == bpNone) {
        EXPECT_TRUE(Bounds.isEmpty());
        EXPECT_EQ(CountOf(Cmds, "S"), 0);
        EXPECT_TRUE(Rig.Drv->Moving());
      } else {
        // No more repeats while the reading stands still.
        EXPECT_EQ(Bounds, QList<TBoundPosition>(C.Stops, C.Bound));
        EXPECT_EQ(CountOf(Cmds, "S"), C.Stops);
        EXPECT_EQ(Cmds.indexOf("Y10"), Cmds.indexOf("S") + 1);
        EXPECT_FALSE(Rig.Drv->Moving());
      }
    }
  }
}

TEST(Gs232Positioning, RotatorRestingAtAnEndIsNotStoppedByOpening) {
  // Every end of the table above, with the rotator already there when the
  // port opens (and opens again): nothing is stopped, no after-movement list
  // runs, no bound is reported.
  const TBoundCase Cases[] = {
      {cpSouth, az360, 0, 0, 359, bpCWBound}, {cpSouth, az360, 0, 0, 0, bpCCWBound},
      {cpNorth, az360, 0, 0, 179, bpCWBound}, {cpNorth, az360, 0, 0, 180, bpCCWBound},
      {cpNorth, az450, 0, 0, 400, bpCWBound}, {cpSouth, az450, 0, 0, 450, bpCWBound},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(::testing::Message()
                 << (C.Centre == cpNorth ? "north " : "south ") << (C.Mode == az450 ? 450 : 360)
                 << " raw " << C.Raw);
    Gs232Emulator::Options Opts;
    Opts.azimuth = C.Raw;
    TRig Rig(Opts);
    Rig.Drv->SetCenterPosition(C.Centre);
    Rig.Drv->SetAzimuthAngle(C.Mode);
    Rig.Drv->SetCommandA(QStringLiteral("Y10"));
    QList<TBoundPosition> Bounds;
    Rig.Drv->SetReachBound([&](QObject *, TBoundPosition B) { Bounds << B; });
    Rig.Drv->SetChangeAzEl([](QObject *) {});
    for (int Round = 0; Round < 2; ++Round) {
      Rig.Emu.clearLog();
      Rig.Open(Round == 0 ? 3 : 2);
      Rig.RunPolls(4);
      // The opening's own stop, and nothing after it.
      EXPECT_EQ(CountOf(Commands(Rig.Emu), "S"), 1);
      EXPECT_EQ(CountOf(Commands(Rig.Emu), "Y10"), 0);
      Rig.Drv->Close();
    }
    EXPECT_TRUE(Bounds.isEmpty());
  }
}

TEST(Gs232Positioning, BoundStopRepeatsWhileReadingChangedInTheSameTick) {
  Gs232Emulator::Options Opts;
  Opts.azimuth = 300;
  TRig Rig(Opts);
  Rig.Drv->SetCenterPosition(cpSouth);
  QList<TBoundPosition> Bounds;
  Rig.Drv->SetReachBound([&](QObject *, TBoundPosition B) { Bounds << B; });
  Rig.Drv->SetChangeAzEl([](QObject *) {});
  Rig.Open();
  Rig.RunPolls(3);
  ASSERT_TRUE(Rig.Drv->Moving());
  ASSERT_TRUE(Bounds.isEmpty());

  // The reading jumps past the bound: the stop leaves the rotator marked
  // moving, since the reading changed in that tick, so the next tick stops
  // again; after that it stands still.
  Rig.Emu.clearLog();
  Rig.Emu.setAzimuth(359);
  Rig.RunPolls(6);
  EXPECT_EQ(Bounds, (QList<TBoundPosition>{bpCWBound, bpCWBound}));
  EXPECT_EQ(CountOf(Commands(Rig.Emu), "S"), 2);
  EXPECT_FALSE(Rig.Drv->Moving());
}

} // namespace
