// The rotctld servers on rotators driven through emulated controllers: the
// protocol's own client program, raw sockets for the extended protocol and
// for bad input, and servers that follow the rotators of the workspace.

#include "RotctldTestSupport.h"
#include "common/RecordingUiServices.h"
#include "remote/RotctldServer.h"
#include "rotator/Gs232.h"
#include "rotator/RotatorSettings.h"

#include <QDeadlineTimer>
#include <QTcpServer>

#include <memory>
#include <vector>

using namespace rotctld_test;

namespace {

// A rotator workspace of drivers and settings, as the station offers it.
// Unlike the station's, the settings the servers read are kept apart from
// the drivers', so that a test can disable a rotator without touching its
// driver. Drivers are owned by the test.
class TTestWorkspace : public TCommandSurface {
public:
  struct TRotator {
    TRotatorSettings Settings;
    TGs232 *Driver;
  };
  std::vector<TRotator> Rotators;

  bool CtrlTableEnable() const override { return false; }
  int RotatorCount() const override { return static_cast<int>(Rotators.size()); }
  int CurrentRotator() const override { return 0; }
  TGs232 &Driver(int Index) override { return *Rotators.at(static_cast<size_t>(Index)).Driver; }
  TRotatorSettings RotatorSettings(int Index) const override {
    return Rotators.at(static_cast<size_t>(Index)).Settings;
  }
  bool RotatorEnabled(int Index) const override {
    return Index >= 0 && Index < RotatorCount() &&
           Rotators[static_cast<size_t>(Index)].Settings.Enable;
  }
  void AutoOperation(int, double) override {}
};

// The settings of a rotator titled Title that does not open at start.
TRotatorSettings SettingsOf(const QString &Title, bool Enabled) {
  TRotatorSettings Result = TRotatorSettings::Defaults(Title);
  Result.Enable = Enabled;
  Result.AutoActive = false;
  return Result;
}

// A driver on an emulated controller.
struct TEmulatedRotator {
  explicit TEmulatedRotator(Gs232Emulator::Options Options = {}) : Emu(Options) {
    EXPECT_TRUE(Emu.start());
    Driver.SetPort(Emu.devicePath());
    Driver.SetModel(QStringLiteral("GS-232A"));
    Driver.SetAzimuthAngle(az360);
  }
  ~TEmulatedRotator() {
    if (Driver.Active())
      Driver.Close();
    Emu.stop();
  }
  // Opens the driver and forgets its start-up commands.
  void Open() {
    Driver.Open();
    ASSERT_TRUE(Driver.Active());
    ASSERT_TRUE(Emu.waitForCommands(3, std::chrono::milliseconds(kWaitMs)));
    Emu.clearLog();
  }
  // Runs Send and waits for the marker command, so that everything sent
  // before it has arrived; returns what arrived before the marker.
  QStringList ReceivedUntilMarker() {
    Driver.DoCmd(QStringLiteral("I0"));
    EXPECT_TRUE(WaitForReceived(Emu, QStringLiteral("I0")));
    QStringList Out = Received(Emu);
    return Out.mid(0, Out.indexOf(QStringLiteral("I0")));
  }

  Gs232Emulator Emu;
  TGs232 Driver;
};

class RotctldServerTest : public ::testing::Test {
protected:
  void TearDown() override {
    Servers.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  TEmulatedRotator &AddRotator(const QString &Title, bool Enabled, bool Open) {
    Rigs.push_back(std::make_unique<TEmulatedRotator>());
    TEmulatedRotator &Rig = *Rigs.back();
    Workspace.Rotators.push_back({SettingsOf(Title, Enabled), &Rig.Driver});
    if (Open)
      Rig.Open();
    return Rig;
  }

  // Starts the servers on any free ports; the port of rotator 0.
  quint16 Start(int IdleTimeoutMs = TRotctldServers::TOptions{}.IdleTimeoutMs) {
    Servers = std::make_unique<TRotctldServers>(
        Workspace,
        TRotctldServers::TOptions{QHostAddress(QHostAddress::LocalHost), 0, IdleTimeoutMs});
    Record(*Servers);
    Servers->Sync();
    EXPECT_NE(Servers->Port(0), 0);
    return Servers->Port(0);
  }

  // Waits until the rotator's azimuth reads Azimuth.
  static void WaitForAzimuth(TEmulatedRotator &Rig, int Azimuth) {
    ASSERT_TRUE(WaitFor([&] { return Rig.Driver.AzimuthD() == Azimuth; }))
        << "azimuth " << Rig.Driver.AzimuthD();
  }

  // Keeps the problems Servers raise for the operator.
  void Record(TRotctldServers &Servers) {
    QObject::connect(&Servers, &TRotctldServers::Message, &Servers,
                     [this](const QString &Text) { Messages << Text; });
  }

  // Everything the servers raised for the operator and every box shown.
  QStringList Reported() const { return Messages + Ui.services.shown(); }

  TScopedRecordingUi Ui;
  QStringList Messages;
  std::vector<std::unique_ptr<TEmulatedRotator>> Rigs;
  TTestWorkspace Workspace;
  std::unique_ptr<TRotctldServers> Servers;
};

// --- The protocol's own client ---------------------------------------------------------

TEST_F(RotctldServerTest, ClientReadsAndTurnsTheRotatorWithItsOffsetAndLists) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Tower"), true, false);
  Rig.Driver.SetOffset(10);
  Rig.Driver.SetHome(45);
  Rig.Driver.SetCommandB(QStringLiteral("Y11"));
  Rig.Driver.RelayArray()->SetCount(4);
  Rig.Emu.setAzimuth(123);
  Rig.Open();
  const quint16 Port = Start();
  WaitForAzimuth(Rig, 133);

  TRotctlRun Run = RunRotctl(Port, {QStringLiteral("p")});
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  const QStringList Position = Run.Output.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(Position.size(), 2) << Run.Output.toStdString();
  EXPECT_EQ(Position[0].toDouble(), 133.0);
  EXPECT_EQ(Position[1].toDouble(), 0.0);

  // Preset 90 less the offset 10; the list before movements runs first.
  Rig.Emu.clearLog();
  Run = RunRotctl(Port, {QStringLiteral("P"), QStringLiteral("90"), QStringLiteral("0"),
                         QStringLiteral("S"), QStringLiteral("K")});
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_EQ(Rig.ReceivedUntilMarker(),
            (QStringList{"Y11", "M080", "S", "Y11", "M035"}));
  EXPECT_EQ(Rig.Driver.AzPresetD(), 90);
  EXPECT_TRUE(Rig.Driver.Presetting());
  EXPECT_TRUE(Rig.Driver.RelayArray()->GetRelay(0));
  EXPECT_TRUE(Reported().isEmpty()) << Reported().join('|').toStdString();
}

TEST_F(RotctldServerTest, ClientIsRefusedByADisabledOrClosedRotator) {
  TEmulatedRotator &Disabled = AddRotator(QStringLiteral("Off"), false, true);
  AddRotator(QStringLiteral("Closed"), true, false);
  Start();
  for (int Index : {0, 1}) {
    SCOPED_TRACE(Index);
    const TRotctlRun Run = RunRotctl(Servers->Port(Index), {QStringLiteral("P"),
                                                            QStringLiteral("90"),
                                                            QStringLiteral("0")});
    EXPECT_TRUE(Run.Finished);
    EXPECT_NE(Run.ExitCode, 0);
    EXPECT_TRUE((Run.Output + Run.Errors).contains(QStringLiteral("rejected")))
        << Run.Output.toStdString() << Run.Errors.toStdString();
  }
  EXPECT_EQ(Disabled.ReceivedUntilMarker(), QStringList());
  EXPECT_FALSE(Disabled.Driver.Presetting());
}

TEST_F(RotctldServerTest, PositionOfAControllerThatDoesNotAnswerIsATimeout) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Tower"), true, false);
  Rig.Emu.setAzimuth(123);
  Rig.Open();
  const quint16 Port = Start();
  WaitForAzimuth(Rig, 123);

  Rig.Emu.setSilent(true);
  ASSERT_TRUE(WaitFor([&] { return !Rig.Driver.Responding(); }));
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Port));
  EXPECT_EQ(Client.Ask("p"), QByteArray("RPRT -5\n"));
  // The protocol's own client reports the timeout as a failure.
  const TRotctlRun Run = RunRotctl(Port, {QStringLiteral("p")});
  EXPECT_TRUE(Run.Finished);
  EXPECT_NE(Run.ExitCode, 0) << Run.Output.toStdString();
  EXPECT_FALSE(Run.Output.contains(QStringLiteral("123"))) << Run.Output.toStdString();

  // It answers again: so does the server, with the position.
  Rig.Emu.setAzimuth(124);
  Rig.Emu.setSilent(false);
  WaitForAzimuth(Rig, 124);
  EXPECT_EQ(Client.Ask("p", 2), QByteArray("124.000000\n0.000000\n"));
  EXPECT_TRUE(Reported().isEmpty()) << Reported().join('|').toStdString();
}

TEST_F(RotctldServerTest, ClientTakesTheRangeOfThe450DegreeMode) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Wide"), true, false);
  Rig.Driver.SetAzimuthAngle(az450);
  Rig.Open();
  const TRotctlRun Run =
      RunRotctl(Start(), {QStringLiteral("P"), QStringLiteral("440"), QStringLiteral("0")});
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_EQ(Rig.ReceivedUntilMarker(), QStringList{QStringLiteral("M440")});
}

// --- Raw sockets ---------------------------------------------------------------------------

TEST_F(RotctldServerTest, AnswersInBothProtocols) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Tower"), true, false);
  Rig.Emu.setAzimuth(90);
  Rig.Open();
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Start()));
  WaitForAzimuth(Rig, 90);

  struct Case {
    const char *Line;
    int Lines;
    const char *Answer;
  };
  const Case Cases[] = {
      {"p", 2, "90.000000\n0.000000\n"},
      {"\\get_pos", 2, "90.000000\n0.000000\n"},
      {"+\\get_pos", 4, "get_pos:\nAzimuth: 90.000000\nElevation: 0.000000\nRPRT 0\n"},
      {";p", 1, "get_pos:;Azimuth: 90.000000;Elevation: 0.000000;RPRT 0\n"},
      {"|\\set_pos 90 0", 1, "set_pos: 90 0|RPRT 0\n"},
      {",S", 1, "stop:,RPRT 0\n"},
      {"+K", 2, "park:\nRPRT 0\n"},
      {"\\stop", 1, "RPRT 0\n"},
      {"_", 1, "Tower (GS-232A)\n"},
      {"+_", 3, "get_info:\nInfo: Tower (GS-232A)\nRPRT 0\n"},
      {"\\dump_state", 9,
       "1\n2\nmin_az=0.000000\nmax_az=360.000000\nmin_el=0.000000\nmax_el=0.000000\n"
       "south_zero=0\nrot_type=Az\ndone\n"},
      {"+\\frobnicate 3", 2, "frobnicate: 3\nRPRT -4\n"},
  };
  for (const Case &C : Cases)
    EXPECT_EQ(Client.Ask(C.Line, C.Lines), QByteArray(C.Answer)) << C.Line;

  const QByteArray Caps = Client.Ask("1", 16);
  EXPECT_TRUE(Caps.contains("Max azimuth: 360.000000\n")) << Caps.toStdString();
  EXPECT_TRUE(Caps.contains("Rotator title: Tower\n")) << Caps.toStdString();
  EXPECT_EQ(Client.Rest(), QByteArray());
}

TEST_F(RotctldServerTest, MoveAndRawCommandsGoThroughTheDriver) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Tower"), true, true);
  Rig.Driver.SetCommandA(QStringLiteral("Y10"));
  Rig.Driver.RelayArray()->SetCount(4);
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Start()));
  for (const char *Line : {"M 16 50", "M 8 -1", "\\move 16 100", "w y21, y31", "S"})
    EXPECT_EQ(Client.Ask(Line), "RPRT 0\n") << Line;
  EXPECT_EQ(Rig.ReceivedUntilMarker(), (QStringList{"R", "L", "R", "Y21", "Y31", "S", "Y10"}));
  EXPECT_TRUE(Rig.Driver.RelayArray()->GetRelay(1));
}

TEST_F(RotctldServerTest, RefusedAndMalformedCommandsSendNothing) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Tower"), true, true);
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Start()));
  struct Case {
    const char *Line;
    const char *Answer;
  };
  const Case Malformed[] = {
      {"P ninety 0", "RPRT -1\n"},  {"P 90", "RPRT -1\n"},      {"P 90 0 0", "RPRT -1\n"},
      {"P 90,5 0", "RPRT -1\n"},    {"P nan 0", "RPRT -1\n"},   {"P 90 x", "RPRT -1\n"},
      {"P -1 0", "RPRT -1 -1° is outside the travel of"},      {"P 360.6 0", "RPRT -1 360.6° is outside the travel of"}, {"P 1e9 0", "RPRT -1 1e+09° is outside the travel of"},
      {"M 16", "RPRT -1\n"},        {"M 32 50", "RPRT -1\n"},   {"M 16 0", "RPRT -1\n"},
      {"M 16 101", "RPRT -1\n"},    {"M 8.5 50", "RPRT -1\n"},  {"M 2 50", "RPRT -11\n"},
      {"M 4 50", "RPRT -11\n"},     {"w", "RPRT -1\n"},         {"S now", "RPRT -1\n"},
      {"p 1", "RPRT -1\n"},         {"C speed 2", "RPRT -4\n"}, {"R 1", "RPRT -4\n"},
      {"get_pos", "RPRT -4\n"},     {"\\set_conf a b", "RPRT -4\n"},
  };
  // An answer given without its line end is how the answer begins (the
  // station's reason follows the code).
  for (const Case &C : Malformed) {
    const QByteArray Expected(C.Answer);
    const QByteArray Answer = Client.Ask(C.Line);
    if (Expected.endsWith('\n'))
      EXPECT_EQ(Answer, Expected) << C.Line;
    else
      EXPECT_TRUE(Answer.startsWith(Expected) && Answer.endsWith("°)\n"))
          << C.Line << ": " << Answer.toStdString();
  }
  EXPECT_EQ(Rig.ReceivedUntilMarker(), QStringList());
  EXPECT_FALSE(Rig.Driver.Presetting());

  // The same commands, well formed, on a disabled rotator and on a closed
  // one: refused, with the reason after the code; reading the position or
  // the status of a closed port too.
  const char *Acting[] = {"P 90 0", "S", "K", "M 16 50", "w M100"};
  Workspace.Rotators[0].Settings.Enable = false;
  // (The drivers of this fixture have no title of their own.)
  for (const char *Line : Acting)
    EXPECT_EQ(Client.Ask(Line), "RPRT -9 is not enabled\n") << Line;
  EXPECT_EQ(Rig.ReceivedUntilMarker(), QStringList());
  Workspace.Rotators[0].Settings.Enable = true;
  Rig.Driver.Close();
  for (const char *Line : {"P 90 0", "S", "K", "M 16 50", "w M100", "p", "s"})
    EXPECT_EQ(Client.Ask(Line), "RPRT -9 is not open\n") << Line;
  // The extended protocol carries it on its last record.
  EXPECT_EQ(Client.Ask("+p", 2), "get_pos:\nRPRT -9 is not open\n");
  // Reading what the rotator can do needs no open port.
  EXPECT_EQ(Client.Ask("\\dump_state", 9).count('\n'), 9);
  EXPECT_FALSE(Client.Closed());
}

TEST_F(RotctldServerTest, SetPosRoundsToWholeDegreesWithinTheRange) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Tower"), true, true);
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Start()));
  struct Case {
    TAzimuthAngle Mode;
    const char *Line;
    const char *Sent;
    int Preset;
  };
  const Case Cases[] = {
      {az360, "P 89.5 0", "M090", 90},   {az360, "P 89.4 12.5", "M089", 89},
      {az360, "P 0 0", "M000", 0},       {az360, "P 359.7 0", "M000", 0},
      {az360, "P 360 0", "M000", 0},     {az450, "P 360 0", "M360", 360},
      {az450, "P 449.6 0", "M450", 450}, {az450, "P 1.25e2 0", "M125", 125},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Line);
    Rig.Driver.SetAzimuthAngle(C.Mode);
    Rig.Emu.clearLog();
    EXPECT_EQ(Client.Ask(C.Line), "RPRT 0\n");
    QStringList Sent = Rig.ReceivedUntilMarker();
    Sent.removeIf([](const QString &S) { return S.startsWith(u'P'); }); // range command
    EXPECT_EQ(Sent, QStringList{QString::fromLatin1(C.Sent)});
    EXPECT_EQ(Rig.Driver.AzPresetD(), C.Preset);
  }
  Rig.Driver.SetAzimuthAngle(az450);
  const QByteArray Beyond = Client.Ask("P 450.6 0");
  EXPECT_TRUE(Beyond.startsWith("RPRT -1 450.6° is outside the travel of") &&
              Beyond.endsWith("(0° to 450°)\n"))
      << Beyond.toStdString();
}

TEST_F(RotctldServerTest, StatusTellsTheOverlap) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Tower"), true, false);
  Rig.Driver.SetAzimuthAngle(az450);
  Rig.Emu.setAzimuth(400);
  Rig.Open();
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Start()));
  WaitForAzimuth(Rig, 400);
  EXPECT_EQ(Client.Ask("+s", 3), "get_status:\nStatus: OVERLAP_RIGHT\nRPRT 0\n");
  Rig.Emu.setAzimuth(100);
  WaitForAzimuth(Rig, 100);
  EXPECT_EQ(Client.Ask("s"), "NONE\n");
}

// --- Bad input --------------------------------------------------------------------------

TEST_F(RotctldServerTest, BadInputEndsTheConnectionAndReachesNothing) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Tower"), true, true);
  const quint16 Port = Start();
  struct Case {
    const char *What;
    QByteArray Bytes;
  };
  const Case Cases[] = {
      {"a line longer than 1 KiB", "w " + QByteArray(1100, 'S') + "\n"},
      {"1 KiB without a line end", "P 90 0" + QByteArray(1100, ' ')},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.What);
    TRawClient Client;
    ASSERT_TRUE(Client.Connect(Port));
    Client.Send(C.Bytes);
    EXPECT_EQ(Client.Lines(1), "RPRT -8\n");
    EXPECT_TRUE(Client.WaitClosed());
  }
  EXPECT_EQ(Rig.ReceivedUntilMarker(), QStringList());

  // The server goes on serving; a line of exactly 1 KiB is still a line.
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Port));
  EXPECT_EQ(Client.Ask("w " + QByteArray(RotctldMaxLineLength - 2, 'S')), "RPRT 0\n");
  EXPECT_EQ(Client.Ask("S"), "RPRT 0\n");
  EXPECT_EQ(Client.Ask("\r\n\r\nS\r"), "RPRT 0\n");
  EXPECT_TRUE(Reported().isEmpty()) << Reported().join('|').toStdString();
}

// Lines of the given count, alternating between an unknown command in the
// extended protocol, whose answer echoes its number, and get_info; and their
// answers in order.
std::pair<QByteArray, QByteArray> NumberedLines(int Count) {
  std::pair<QByteArray, QByteArray> Out;
  for (int I = 0; I < Count; ++I) {
    const QByteArray Number = QByteArray::number(I);
    Out.first += I % 2 == 0 ? "|\\frobnicate " + Number + "\n" : QByteArray("_\n");
    Out.second +=
        I % 2 == 0 ? "frobnicate: " + Number + "|RPRT -4\n" : QByteArray("Tower (GS-232A)\n");
  }
  return Out;
}

TEST_F(RotctldServerTest, InputIsAnsweredLineByLine) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Tower"), true, true);
  const quint16 Port = Start();
  const QByteArray Info = "Tower (GS-232A)\n";
  const auto [Many, ManyAnswers] = NumberedLines(1000);
  QByteArray Flood, FloodAnswers;
  for (int I = 0; I < 100; ++I) {
    Flood += "_\n";
    FloodAnswers += Info;
  }
  struct Case {
    const char *What;
    QByteArray Bytes;
    QByteArray Answer;
    // The connection ends after the answer.
    bool Closes;
  };
  const Case Cases[] = {
      // A NUL byte is skipped wherever it stands.
      {"a C string's NUL after the line end", QByteArray("S\n\0", 3) + "_\n", "RPRT 0\n" + Info,
       false},
      {"a NUL before the line end", QByteArray("_\0\n", 3), Info, false},
      {"a NUL inside a command", QByteArray("\\get_\0info\n", 11), Info, false},
      {"NULs alone", QByteArray("\0\0\n\0", 4) + "S\n", "RPRT 0\n", false},
      // A line with other bytes is refused by itself, and not run.
      {"a line beyond ASCII between two good ones", "S\nw M\xc3\xa9\nS\n",
       "RPRT 0\nRPRT -8\nRPRT 0\n", false},
      {"a byte beyond ASCII in the extended protocol", "+p\xff\n_\n", "RPRT -8\n" + Info, false},
      {"an escape sequence", "\x1b[A\n_\n", "RPRT -8\n" + Info, false},
      {"a telnet command", "\xff\xf4\xff\xfd\x06\r\n_\n", "RPRT -8\n" + Info, false},
      // Any number of lines in one write, answered in order.
      {"1000 lines in one write", Many, ManyAnswers, false},
      // A line too long ends the connection after the answers before it.
      {"a line longer than 1 KiB after a good one", "S\nw " + QByteArray(1100, 'S') + "\nS\n",
       "RPRT 0\nRPRT -8\n", true},
      {"many lines, then 1 KiB without a line end", Flood + "P 90 0" + QByteArray(1100, ' '),
       FloodAnswers + "RPRT -8\n", true},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.What);
    TRawClient Client;
    ASSERT_TRUE(Client.Connect(Port));
    Client.Send(C.Bytes);
    EXPECT_EQ(Client.Lines(static_cast<int>(C.Answer.count('\n'))), C.Answer);
    if (C.Closes) {
      EXPECT_TRUE(Client.WaitClosed());
      EXPECT_EQ(Client.Rest(), QByteArray());
    } else {
      EXPECT_EQ(Client.Ask("_"), Info);
    }
  }
  // The stops of the good lines, and nothing of the refused ones.
  EXPECT_EQ(Rig.ReceivedUntilMarker(), QStringList(5, QStringLiteral("S")));
  EXPECT_TRUE(Reported().isEmpty()) << Reported().join('|').toStdString();
}

// A command whose list waits (a CommandB list with a pause) is answered at
// once, and the lines after it too; a stop sent meanwhile goes out at once
// and the movement still waiting in the list never does.
TEST_F(RotctldServerTest, ACommandWhoseListWaitsKeepsNoLineWaiting) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Tower"), true, true);
  Rig.Driver.SetCommandB(QStringLiteral("WAIT1000"));
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Start()));
  const std::pair<QByteArray, QByteArray> Numbered = NumberedLines(1000);
  Client.Send("P 90 0\n" + Numbered.first);
  EXPECT_EQ(Client.Lines(static_cast<int>(Numbered.second.count('\n')) + 1),
            "RPRT 0\n" + Numbered.second);
  EXPECT_EQ(Client.Ask("S"), "RPRT 0\n");
  QTest::qWait(1500);
  EXPECT_EQ(Rig.ReceivedUntilMarker(), QStringList{QStringLiteral("S")});
}

TEST_F(RotctldServerTest, AClientThatLeavesItsAnswersUnreadIsCutOff) {
  AddRotator(QStringLiteral("Tower"), true, true);
  const quint16 Port = Start();
  // Line after line, answers of some 450 bytes each, and nothing read: once
  // the network's buffers are full the answers pile up in the server, which
  // ends the connection rather than keep them.
  QTcpSocket Greedy;
  Greedy.setReadBufferSize(1);
  Greedy.connectToHost(QHostAddress(QHostAddress::LocalHost), Port);
  ASSERT_TRUE(WaitFor([&] { return Servers->Server(0)->ClientCount() == 1; }));
  QByteArray Lines;
  for (int I = 0; I < 200000; ++I)
    Lines += "1\n";
  Greedy.write(Lines);
  EXPECT_TRUE(WaitFor([&] { return Servers->Server(0)->ClientCount() == 0; }));

  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Port));
  EXPECT_EQ(Client.Ask("_"), "Tower (GS-232A)\n");
}

TEST_F(RotctldServerTest, AtMostEightClientsPerRotator) {
  AddRotator(QStringLiteral("Tower"), true, true);
  const quint16 Port = Start();
  std::vector<std::unique_ptr<TRawClient>> Clients;
  for (int I = 0; I < TRotctldServers::MaxClients; ++I) {
    Clients.push_back(std::make_unique<TRawClient>());
    ASSERT_TRUE(Clients.back()->Connect(Port));
    EXPECT_EQ(Clients.back()->Ask("S"), "RPRT 0\n") << I;
  }
  // A flood of further connections: each newcomer takes the place of the
  // connection idle longest, so the eight that were there go first, then the
  // earlier newcomers; eight stay.
  std::vector<std::unique_ptr<TRawClient>> Flood;
  for (int I = 0; I < 30; ++I) {
    Flood.push_back(std::make_unique<TRawClient>());
    ASSERT_TRUE(Flood.back()->Connect(Port));
  }
  for (auto &Client : Clients) {
    EXPECT_TRUE(Client->WaitClosed());
    EXPECT_EQ(Client->Rest(), QByteArray());
  }
  for (size_t I = 0; I < Flood.size() - TRotctldServers::MaxClients; ++I)
    EXPECT_TRUE(Flood[I]->WaitClosed()) << I;
  Clients.assign(std::make_move_iterator(Flood.end() - TRotctldServers::MaxClients),
                 std::make_move_iterator(Flood.end()));
  for (auto &Client : Clients)
    EXPECT_EQ(Client->Ask("S"), "RPRT 0\n");
  EXPECT_EQ(Servers->Server(0)->ClientCount(), TRotctldServers::MaxClients);

  // A client that quits makes room, and nobody is pushed out for the next:
  // "q" ends the connection without an answer, "+q" after one.
  Clients[0]->Send("q\n");
  EXPECT_TRUE(Clients[0]->WaitClosed());
  EXPECT_EQ(Clients[0]->Rest(), QByteArray());
  EXPECT_EQ(Clients[1]->Ask("+q", 2), "quit:\nRPRT 0\n");
  EXPECT_TRUE(Clients[1]->WaitClosed());
  for (int I = 0; I < 2; ++I) {
    Clients.push_back(std::make_unique<TRawClient>());
    ASSERT_TRUE(Clients.back()->Connect(Port));
    EXPECT_EQ(Clients.back()->Ask("S"), "RPRT 0\n");
  }
  for (size_t I = 2; I < Clients.size(); ++I)
    EXPECT_EQ(Clients[I]->Ask("S"), "RPRT 0\n") << I;
}

// --- Idle connections -------------------------------------------------------------------

TEST_F(RotctldServerTest, SilentConnectionsGiveWayToANewClient) {
  AddRotator(QStringLiteral("Tower"), true, true);
  // The default idle time-out, far longer than this test.
  const quint16 Port = Start();
  std::vector<std::unique_ptr<TRawClient>> Silent;
  for (int I = 0; I < TRotctldServers::MaxClients; ++I) {
    Silent.push_back(std::make_unique<TRawClient>());
    ASSERT_TRUE(Silent.back()->Connect(Port));
    ASSERT_TRUE(WaitFor([&] { return Servers->Server(0)->ClientCount() == I + 1; }));
  }
  // Every slot is held by a client that never sent anything: a working
  // client is served at once, in place of the one idle longest.
  TRawClient Working;
  ASSERT_TRUE(Working.Connect(Port));
  EXPECT_EQ(Working.Ask("S"), "RPRT 0\n");
  EXPECT_TRUE(Silent[0]->WaitClosed());
  EXPECT_EQ(Silent[0]->Rest(), QByteArray());

  // Idle is measured from the last input, not from the connection: the third
  // silent client speaks, so the next two newcomers push out the second and
  // the fourth.
  EXPECT_EQ(Silent[2]->Ask("_"), "Tower (GS-232A)\n");
  TRawClient Second, Third;
  ASSERT_TRUE(Second.Connect(Port));
  EXPECT_EQ(Second.Ask("S"), "RPRT 0\n");
  EXPECT_TRUE(Silent[1]->WaitClosed());
  ASSERT_TRUE(Third.Connect(Port));
  EXPECT_EQ(Third.Ask("S"), "RPRT 0\n");
  EXPECT_TRUE(Silent[3]->WaitClosed());
  EXPECT_EQ(Servers->Server(0)->ClientCount(), TRotctldServers::MaxClients);
  for (TRawClient *Client : {Silent[2].get(), Silent[4].get(), Silent[7].get(), &Working})
    EXPECT_EQ(Client->Ask("S"), "RPRT 0\n");
}

TEST_F(RotctldServerTest, SilentConnectionsAreClosedAndPollingOnesKept) {
  AddRotator(QStringLiteral("Tower"), true, true);
  // Polls come every 100 ms, far within the idle time-out.
  const quint16 Port = Start(1500);
  TRawClient Polling;
  ASSERT_TRUE(Polling.Connect(Port));
  // Two silent clients one after the other: each is closed once idle, while
  // the polling client, there all along, keeps its connection.
  for (int Round = 0; Round < 2; ++Round) {
    SCOPED_TRACE(Round);
    TRawClient Silent;
    ASSERT_TRUE(Silent.Connect(Port));
    QDeadlineTimer Deadline(kWaitMs);
    while (!Silent.Closed() && !Polling.Closed() && !Deadline.hasExpired()) {
      EXPECT_EQ(Polling.Ask("_"), "Tower (GS-232A)\n");
      QTest::qWait(100);
    }
    EXPECT_TRUE(Silent.Closed());
    EXPECT_EQ(Silent.Rest(), QByteArray());
    EXPECT_FALSE(Polling.Closed());
  }
  EXPECT_EQ(Polling.Ask("_"), "Tower (GS-232A)\n");
  EXPECT_EQ(Servers->Server(0)->ClientCount(), 1);
}

// --- Following the workspace ---------------------------------------------------------------

TEST_F(RotctldServerTest, ServersFollowTheRotatorsOfTheWorkspace) {
  TEmulatedRotator &First = AddRotator(QStringLiteral("First"), true, true);
  TEmulatedRotator &Second = AddRotator(QStringLiteral("Second"), true, true);
  Start();
  ASSERT_EQ(Servers->ServerCount(), 2);
  const quint16 Port0 = Servers->Port(0);
  const quint16 Port1 = Servers->Port(1);
  TRawClient Client0, Client1;
  ASSERT_TRUE(Client0.Connect(Port0));
  ASSERT_TRUE(Client1.Connect(Port1));
  EXPECT_EQ(Client0.Ask("_"), "First (GS-232A)\n");
  EXPECT_EQ(Client1.Ask("_"), "Second (GS-232A)\n");

  // A third rotator inserted in front: every rotator moves one place on.
  // The clients are cut off rather than turning another rotator than the
  // one they connected to; the ports stay and name the new order.
  TEmulatedRotator &Third = *Rigs.emplace_back(std::make_unique<TEmulatedRotator>());
  Third.Open();
  Workspace.Rotators.insert(Workspace.Rotators.begin(),
                            {SettingsOf(QStringLiteral("Third"), true), &Third.Driver});
  // Before the servers catch up, a command finds its rotator gone.
  Client0.Send("S\n");
  EXPECT_EQ(Client0.Lines(1), "RPRT -9 Another rotator took this port's place\n");
  EXPECT_TRUE(Client0.WaitClosed());
  Servers->Sync();
  EXPECT_TRUE(Client1.WaitClosed());
  ASSERT_EQ(Servers->ServerCount(), 3);
  EXPECT_EQ(Servers->Port(0), Port0);
  EXPECT_EQ(Servers->Port(1), Port1);
  EXPECT_NE(Servers->Port(2), 0);
  for (int Index = 0; Index < 3; ++Index) {
    TRawClient Client;
    ASSERT_TRUE(Client.Connect(Servers->Port(Index)));
    EXPECT_EQ(Client.Ask("_"),
              QStringLiteral("%1 (GS-232A)\n")
                  .arg(Index == 0 ? "Third" : Index == 1 ? "First" : "Second")
                  .toLatin1());
  }
  EXPECT_EQ(First.ReceivedUntilMarker(), QStringList());
  EXPECT_EQ(Second.ReceivedUntilMarker(), QStringList());

  // The last rotator deleted: its server stops listening.
  const quint16 LastPort = Servers->Port(2);
  TRawClient Last;
  ASSERT_TRUE(Last.Connect(LastPort));
  Workspace.Rotators.pop_back();
  Servers->ScheduleSync();
  EXPECT_TRUE(Last.WaitClosed());
  EXPECT_EQ(Servers->ServerCount(), 2);
  QTcpServer Reuse;
  EXPECT_TRUE(WaitFor([&] { return Reuse.listen(QHostAddress::LocalHost, LastPort); }));
}

TEST_F(RotctldServerTest, ServersOnTheBasePortAndItsEvenSuccessors) {
  AddRotator(QStringLiteral("First"), true, false);
  AddRotator(QStringLiteral("Second"), true, false);
  // Find a free even-spaced pair: bind port 0 for a base, then try it.
  quint16 Base = 0;
  for (int Attempt = 0; Attempt < 20 && Base == 0; ++Attempt) {
    QTcpServer Probe;
    ASSERT_TRUE(Probe.listen(QHostAddress::LocalHost, 0));
    const quint16 Candidate = Probe.serverPort();
    Probe.close();
    if (Candidate > 65533)
      continue;
    Servers = std::make_unique<TRotctldServers>(
        Workspace, TRotctldServers::TOptions{QHostAddress(QHostAddress::LocalHost), Candidate});
    Record(*Servers);
    Servers->Sync();
    if (Servers->Port(0) == Candidate && Servers->Port(1) == Candidate + 2)
      Base = Candidate;
    else
      Messages.clear();
  }
  ASSERT_NE(Base, 0);
  EXPECT_EQ(Servers->WantedPort(5), Base + 10);
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Base + 2));
  EXPECT_EQ(Client.Ask("_"), "Second (GS-232A)\n");

  // A port in use is reported once, as a message for the owner to show, and
  // leaves the other rotators served.
  TRotctldServers Second(Workspace, TRotctldServers::TOptions{
                                        QHostAddress(QHostAddress::LocalHost), Base});
  Record(Second);
  Second.Sync();
  EXPECT_EQ(Second.Port(0), 0);
  ASSERT_EQ(Messages.size(), 1) << Reported().join('|').toStdString();
  EXPECT_TRUE(Messages[0].contains(QString::number(Base))) << Messages[0].toStdString();
  Second.Sync();
  EXPECT_EQ(Messages.size(), 1);
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
  const TRotctldServers High(Workspace, {QHostAddress(QHostAddress::LocalHost), 65533});
  EXPECT_EQ(High.WantedPort(1), 65535);
  EXPECT_EQ(High.WantedPort(2), -1);
}

// --- Commands that wait -----------------------------------------------------------------

TEST_F(RotctldServerTest, ClientsAreAnsweredWhileACommandsListWaits) {
  TEmulatedRotator &Rig = AddRotator(QStringLiteral("Tower"), true, true);
  Rig.Driver.SetCommandB(QStringLiteral("WAIT1500"));
  const quint16 Port = Start();
  TRawClient Waiting, Other;
  ASSERT_TRUE(Waiting.Connect(Port));
  ASSERT_TRUE(Other.Connect(Port));
  // The client whose command waits and another one asking in the middle of
  // the wait are both answered before the move goes out.
  QTimer::singleShot(300, [&] { Other.Send("_\n"); });
  Waiting.Send("P 90 0\n+\\get_info\n");
  EXPECT_EQ(Waiting.Lines(4), "RPRT 0\nget_info:\nInfo: Tower (GS-232A)\nRPRT 0\n");
  EXPECT_EQ(Other.Lines(1), "Tower (GS-232A)\n");
  EXPECT_FALSE(Rig.ReceivedUntilMarker().contains(QStringLiteral("M090")));
  EXPECT_TRUE(WaitForReceived(Rig.Emu, QStringLiteral("M090")));
}

} // namespace
