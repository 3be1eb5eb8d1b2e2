// The frequency-driven operation against two emulated controllers: moves,
// the leave and enter lists and their order across both lines, the default
// row's lists, items that name no rotator, and the expansion and splitting
// of table command lists.

#include "ctrltable/FreqOperation.h"
#include "rotator/Gs232.h"
#include "tools/Gs232Emulator.h"
#include "common/RecordingUiServices.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <array>
#include <chrono>
#include <memory>
#include <thread>

// Readable failure output for lists of texts.
void PrintTo(const QString &Text, std::ostream *Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace {

using namespace std::chrono_literals;

// Generous: the machine may be slow and loaded.
constexpr int kWaitMs = 10000;
// Sent after an action; everything a controller received before it came from
// the action. A real command that no test sends otherwise.
const QString Marker = QStringLiteral("P36");

TCtrlRow Row(double Lower, double Upper, int Rotator, int Offset, const QString &Command1,
             const QString &Command2) {
  return TCtrlRow{Lower, Upper, Rotator, Offset, std::nullopt, Command1, Command2};
}

// Two rotators on emulated controllers, wired to a frequency operation as
// the main window wires it. Each driver runs "Y41" before every movement, so
// the log of relay items, kept in the order the drivers run them, orders the
// traffic of both lines.
struct TStation {
  TStation() {
    for (int I = 0; I < 2; ++I) {
      EXPECT_TRUE(Emu[I].start());
      Drv[I] = std::make_unique<TGs232>();
      Drv[I]->SetPort(Emu[I].devicePath());
      Drv[I]->SetModel(QStringLiteral("GS-232A"));
      Drv[I]->SetCommandB(QStringLiteral("Y41"));
      Drv[I]->RelayArray()->SetCount(4);
      Drv[I]->RelayArray()->SetChangeRelay([this, I](QObject *, int Index, bool State) {
        Log << QStringLiteral("%1:Y%2%3").arg(I + 1).arg(Index + 1).arg(int(State));
      });
    }
  }
  ~TStation() {
    for (int I = 0; I < 2; ++I) {
      Drv[I].reset();
      Emu[I].stop();
    }
  }

  void Open(int I) {
    Drv[I]->Open();
    ASSERT_TRUE(Drv[I]->Active());
    Line(I); // the start-up commands
  }
  void OpenBoth() {
    Open(0);
    Open(1);
    Log.clear();
  }

  // The bytes controller I received since the last call. Waits without
  // running events, so no poll comes in between.
  QByteArray Line(int I) {
    if (!Drv[I]->Active())
      return Emu[I].rawReceived();
    Drv[I]->DoCmd(Marker);
    const QByteArray End = Marker.toLatin1() + '\r';
    QElapsedTimer Clock;
    Clock.start();
    while (!Emu[I].rawReceived().contains(End) && Clock.elapsed() < kWaitMs)
      std::this_thread::sleep_for(2ms);
    QByteArray Raw = Emu[I].rawReceived();
    EXPECT_TRUE(Raw.contains(End)) << "controller " << I + 1 << " got no marker";
    Raw.truncate(Raw.indexOf(End));
    Emu[I].clearLog();
    return Raw;
  }
  // Both lines, and the log since the last call.
  std::array<QByteArray, 2> Lines() { return {Line(0), Line(1)}; }
  QStringList TakeLog() { return std::exchange(Log, {}); }

  TScopedRecordingUi Ui;
  std::array<Gs232Emulator, 2> Emu;
  std::array<std::unique_ptr<TGs232>, 2> Drv;
  std::array<bool, 2> Enabled{true, true};
  bool CtrlTableEnable = true;
  TCtrlTable Table;
  QStringList Log;
  TFreqOperation Op{{
      .CtrlTableEnable = &CtrlTableEnable,
      .CtrlTable = &Table,
      .RotatorCount = [] { return 2; },
      .Turn =
          [this](int I, int Az, int Offset) {
            if (!Drv[I]->Active())
              return false;
            Drv[I]->SetTempOffsetD(Offset);
            Drv[I]->GoPreset(Az);
            return true;
          },
      .Send = [this](int I, const QString &Commands,
                     std::function<void()> Done) { Drv[I]->DoCmd(Commands, std::move(Done)); },
      .RotatorEnabled = [this](int I) { return Enabled[I]; },
      .ShowPreset = [this](int I, int Az) { Log << QStringLiteral("show %1 %2").arg(I).arg(Az); },
  }};
};

using TLines = std::array<QByteArray, 2>;

TEST(FreqOperation, MovesThenRunsTheLeaveListThenTheEnterList) {
  TStation S;
  S.Table.Rows = {Row(7.0, 7.3, 1, 10, "C1:Y11", "C1:Y10"),
                  Row(14.0, 14.35, 2, 0, "C2:Y21", "C2:Y20")};
  S.OpenBoth();

  // Rotator 1 to 90 less the temporary offset 10; the enter list only.
  S.Op.AutoOperation(90, 7.1);
  EXPECT_EQ(S.TakeLog(), QStringList({"show 0 90", "1:Y41", "1:Y11"}));
  EXPECT_EQ(S.Lines(), TLines({"Y41\rM080\rY11\r", ""}));
  EXPECT_EQ(S.Drv[0]->TempOffsetD(), 10);

  // The same row again: only the move.
  S.Op.AutoOperation(120, 7.2);
  EXPECT_EQ(S.TakeLog(), QStringList({"show 0 120", "1:Y41"}));
  EXPECT_EQ(S.Lines(), TLines({"Y41\rM110\r", ""}));

  // Another row: rotator 2 moves, then rotator 1's leave list, then rotator
  // 2's enter list.
  S.Op.AutoOperation(45, 14.2);
  EXPECT_EQ(S.TakeLog(), QStringList({"show 1 45", "2:Y41", "1:Y10", "2:Y21"}));
  EXPECT_EQ(S.Lines(), TLines({"Y10\r", "Y41\rM045\rY21\r"}));
  EXPECT_EQ(S.Drv[1]->TempOffsetD(), 0);
  EXPECT_EQ(S.Op.BeforeCommand1(), "C2:Y21");
  EXPECT_EQ(S.Op.BeforeCommand2(), "C2:Y20");

  // Outside every row nothing changes, not even the remembered lists.
  S.Op.AutoOperation(200, 21.0);
  S.Op.AutoOperation(200, double(7.3f));
  EXPECT_EQ(S.TakeLog(), QStringList());
  EXPECT_EQ(S.Lines(), TLines({"", ""}));
  EXPECT_EQ(S.Op.BeforeCommand1(), "C2:Y21");
  EXPECT_EQ(S.Op.BeforeCommand2(), "C2:Y20");
  EXPECT_EQ(S.Drv[0]->TempOffsetD(), 10);
}

TEST(FreqOperation, RowsWithTheSameListsOnlyMove) {
  TStation S;
  S.Table.Rows = {Row(7.0, 7.3, 1, 10, "C1:Y11", "C1:Y10"),
                  Row(7.4, 7.5, 1, 0, "C1:Y11", "C1:Y10")};
  S.OpenBoth();
  S.Op.AutoOperation(90, 7.1);
  S.Op.AutoOperation(100, 7.45);
  EXPECT_EQ(S.TakeLog(), QStringList({"show 0 90", "1:Y41", "1:Y11", "show 0 100", "1:Y41"}));
  EXPECT_EQ(S.Lines(), TLines({"Y41\rM080\rY11\rY41\rM100\r", ""}));
  EXPECT_EQ(S.Drv[0]->TempOffsetD(), 0);
}

struct TStopCase {
  const char *Name;
  int Rotator;      // of the row
  bool Enabled;     // rotator 1's "Enable"
  bool Open;        // rotator 1's port
  QStringList Log;  // shown presets and relay items
  QByteArray Line2; // what rotator 2's controller got
  bool ListsRan;
};

// The row's lists address rotator 2, which is always open and enabled, so
// that whether they ran shows on its line.
TEST(FreqOperation, RotatorsThatCanNotTurnStopBeforeAnyList) {
  const TStopCase Cases[] = {
      {"enabled and open", 1, true, true, {"show 0 90", "1:Y41", "2:Y21"}, "Y21\r", true},
      {"disabled", 1, false, true, {}, "", false},
      {"closed", 1, true, false, {"show 0 90"}, "", false},
      {"beyond the rotators", 3, true, true, {}, "", false},
      {"negative", -1, true, true, {}, "", false},
      // Rotator 0 turns nothing and needs no "Enable".
      {"no rotator", 0, false, true, {"2:Y21"}, "Y21\r", true},
  };
  for (const TStopCase &C : Cases) {
    SCOPED_TRACE(C.Name);
    TStation S;
    S.Table.Rows = {Row(21.0, 21.45, C.Rotator, 5, "C2:Y21", "C2:Y20")};
    S.Enabled[0] = C.Enabled;
    if (C.Open)
      S.Open(0);
    S.Open(1);
    S.Log.clear();
    S.Op.AutoOperation(90, 21.2);
    EXPECT_EQ(S.TakeLog(), C.Log);
    EXPECT_EQ(S.Line(1), C.Line2);
    EXPECT_EQ(S.Drv[0]->TempOffsetD(), C.Log.contains("1:Y41") ? 5 : 0);
    EXPECT_EQ(S.Op.BeforeCommand1(), C.ListsRan ? "C2:Y21" : "");
    EXPECT_EQ(S.Op.BeforeCommand2(), C.ListsRan ? "C2:Y20" : "");
  }
}

TEST(FreqOperation, DefaultRowListsRunAtStartAndAtClose) {
  TStation S;
  S.Table.Rows = {Row(0, 7.0, 2, 0, "C2:Y41", "C2:Y40"),
                  Row(0, 0, 0, 0, "C1:Y31,C2:Y31", "C2:Y30,C1:Y30"),
                  Row(0, 0, 0, 0, "C1:Y21", "C1:Y20")};
  S.OpenBoth();

  S.Op.RunDefaultCommands(true);
  EXPECT_EQ(S.TakeLog(), QStringList({"1:Y31", "2:Y31"}));
  EXPECT_EQ(S.Lines(), TLines({"Y31\r", "Y31\r"}));
  S.Op.RunDefaultCommands(false);
  EXPECT_EQ(S.TakeLog(), QStringList({"2:Y30", "1:Y30"}));
  EXPECT_EQ(S.Lines(), TLines({"Y30\r", "Y30\r"}));
  EXPECT_EQ(S.Op.BeforeCommand1(), "");
  EXPECT_EQ(S.Op.BeforeCommand2(), "");

  // The switch off, or no row with both bounds 0: nothing runs.
  S.CtrlTableEnable = false;
  S.Op.RunDefaultCommands(true);
  S.CtrlTableEnable = true;
  S.Table.Rows.erase(S.Table.Rows.begin() + 1, S.Table.Rows.end());
  S.Op.RunDefaultCommands(true);
  S.Op.RunDefaultCommands(false);
  EXPECT_EQ(S.TakeLog(), QStringList());
  EXPECT_EQ(S.Lines(), TLines({"", ""}));
}

TEST(FreqOperation, SwitchOffDoesNothing) {
  TStation S;
  S.Table.Rows = {Row(7.0, 7.3, 1, 10, "C1:Y11", "C1:Y10")};
  S.CtrlTableEnable = false;
  S.OpenBoth();
  S.Op.AutoOperation(90, 7.1);
  EXPECT_EQ(S.TakeLog(), QStringList());
  EXPECT_EQ(S.Lines(), TLines({"", ""}));
  EXPECT_EQ(S.Op.BeforeCommand1(), "");
}

// Items that name no rotator are skipped and the rest of the list runs; a
// command is cut to 128 characters; a character code can make a comma.
TEST(FreqOperation, ItemsWithoutARotatorAreSkipped) {
  TStation S;
  S.OpenBoth();
  const QString Long(200, u'X');
  S.Op.RunCommands("C3:Y31, X1:Y31, C0:Y31, C1Y31,, c2:Y21, C1:, C1:" + Long +
                       ", C1:Y11CHAR(44)C2:Y20",
                   "");
  EXPECT_EQ(S.TakeLog(), QStringList({"2:Y21", "1:Y11", "2:Y20"}));
  EXPECT_EQ(S.Lines(), TLines({QByteArray(128, 'X') + "\rY11\r", "Y21\rY20\r"}));

  // A list equal to the previous one, or empty, does not run.
  S.Op.RunCommands("C1:Y11", "C1:Y11");
  S.Op.RunCommands("", "C1:Y11");
  EXPECT_EQ(S.Lines(), TLines({"", ""}));
}

// A WAIT lets a second operation run in the middle of the first; the first
// then finishes its list and remembers its own row, although its table was
// replaced meanwhile.
// An operation that arrives while another one's list waits runs at once;
// the waiting list then goes on after its pause, and its row is remembered
// last.
TEST(FreqOperation, OperationArrivingDuringAWaitRunsWhileTheListPauses) {
  TStation S;
  S.Table.Rows = {Row(7.0, 7.3, 1, 0, "C1:Y11,C1:WAIT300,C1:Y31", "C1:Y10"),
                  Row(14.0, 14.35, 2, 0, "C2:Y21", "C2:Y20")};
  S.OpenBoth();
  bool Ran = false;
  QTimer::singleShot(0, [&] {
    S.Op.AutoOperation(45, 14.2);
    S.Table.Rows.clear();
    Ran = true;
  });
  S.Op.AutoOperation(90, 7.1);
  EXPECT_FALSE(Ran);
  ASSERT_TRUE(QTest::qWaitFor([&] { return S.Op.BeforeCommand2() == "C1:Y10"; }, 10000));
  EXPECT_TRUE(Ran);
  EXPECT_EQ(S.TakeLog(), QStringList({"show 0 90", "1:Y41", "1:Y11", "show 1 45", "2:Y41",
                                      "2:Y21", "1:Y31"}));
  EXPECT_EQ(S.Op.BeforeCommand1(), "C1:Y11,C1:WAIT300,C1:Y31");
  EXPECT_EQ(S.Op.BeforeCommand2(), "C1:Y10");
}

TEST(FreqOperation, ExpandCommand) {
  const struct {
    QString Text, Expanded;
  } Cases[] = {
      {"C1:'CHAR(1)'", "C1:CHAR(1)"},
      {"C1:XCHAR(13)", "C1:X\r"},
      {"C1:CHAR(65", "C1:CHAR(65"},
      {"CHAR(65)BC'D'", "ABCD"},
      {"C1:'a b'", "C1:a b"},
      {"C1:CHAR(66)", "C1:B"},
      {"c1:char(65)Char($42)CHAR(x43)CHAR(0X44)", "c1:ABCD"},
      {"CHAR( 65)CHAR(+66)CHAR(-65471)CHAR(65603)", "ABAC"},
      {"CHAR(abc)CHAR()CHAR(6 5)CHAR(99999999999)x", "x"},
      {"C1:'abc", "C1:'abc"},
      {"'CHAR(65)", "'CHAR(65)"},
      {"'a''b'", "ab"},
      {"CHAR(44)CHAR(34)", ",\""},
      {"", ""},
  };
  for (const auto &C : Cases)
    EXPECT_EQ(TFreqOperation::ExpandCommand(C.Text), C.Expanded) << C.Text.toStdString();
}

TEST(FreqOperation, SplitItems) {
  const struct {
    QString Text;
    QStringList Items;
  } Cases[] = {
      {"", {}},
      {" \t ", {}},
      {"C1:R,C2:S", {"C1:R", "C2:S"}},
      {"C1:R C2:S", {"C1:R", "C2:S"}},
      {"  C1:R ,  C2:S  ", {"C1:R", "C2:S"}},
      {QStringLiteral("C1:R\x01\r\nC2:S"), {"C1:R", "C2:S"}},
      {QString("C1:R") + QChar(0) + "C2:S", {"C1:R", "C2:S"}},
      {"C1:R,", {"C1:R", ""}},
      {"C1:R, ", {"C1:R"}},
      {"C1:R,,C2:S", {"C1:R", "", "C2:S"}},
      {",C1:R", {"", "C1:R"}},
      {"\"C1:W090 045\",C2:S", {"C1:W090 045", "C2:S"}},
      {"\"C1:a\"\"b\"", {"C1:a\"b"}},
      {"\"C1:abc", {"C1:abc"}},
      {"\"C1:a\"C2:b", {"C1:a", "C2:b"}},
  };
  for (const auto &C : Cases)
    EXPECT_EQ(TFreqOperation::SplitItems(C.Text), C.Items) << C.Text.toStdString();
}

} // namespace
