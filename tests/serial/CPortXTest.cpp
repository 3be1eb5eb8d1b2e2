// The serial line port against the controller emulator on a pseudo-terminal.

#include "serial/CPortX.h"
#include "PortReads.h"
#include "common/RecordingUiServices.h"
#include "tools/Gs232Emulator.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct Failure {
  TComExceptions Kind;
  QString Message;
  int64_t WinError;
  QString WinMessage;
};

TComExceptionEvent RecordInto(std::vector<Failure> &Failures) {
  return [&Failures](QObject *, TComExceptions Kind, const QString &Message, int64_t WinError,
                     const QString &WinMessage) {
    Failures.push_back({Kind, Message, WinError, WinMessage});
  };
}

// Blocks the main thread without processing events.
void Block(std::chrono::milliseconds Time) { std::this_thread::sleep_for(Time); }

// Sends First from the controller side, then one byte every Every until
// destroyed, so that the line never falls silent for long.
class Trickle {
public:
  Trickle(Gs232Emulator &Emulator, const QByteArray &First, std::chrono::milliseconds Every) {
    Emulator.sendRaw(First);
    FThread = std::thread([this, &Emulator, Every] {
      while (!FStop) {
        std::this_thread::sleep_for(Every);
        Emulator.sendRaw("x");
      }
    });
  }
  ~Trickle() {
    FStop = true;
    FThread.join();
  }

private:
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// A pseudo-terminal of the test's own, whose master side shows the line
// settings that the port gave the device.
struct PtyPair {
  int Master = -1;
  int Slave = -1;
  QString Path;
  PtyPair() {
    char Name[128] = {};
    if (::openpty(&Master, &Slave, Name, nullptr, nullptr) == 0)
      Path = QString::fromLocal8Bit(Name);
  }
  ~PtyPair() {
    ::close(Master);
    ::close(Slave);
  }
  termios Settings() const {
    termios Tio{};
    ::tcgetattr(Master, &Tio);
    return Tio;
  }
};

class PortTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Emulator.start());
    Port.SetPort(Emulator.devicePath());
    // As the rotator driver runs it: no received-text events.
    Port.SetDelimiter(QString());
    Port.OnException = RecordInto(Failures);
  }

  void OpenPort() {
    Port.Open();
    ASSERT_TRUE(Port.Connected());
    ASSERT_TRUE(Failures.empty()) << Failures.front().Message.toStdString();
  }

  Gs232Emulator Emulator;
  TCPortX Port;
  std::vector<Failure> Failures;
};

const QString PositionReply = QStringLiteral("+0000\r\n");

} // namespace

// --- Text tables and names -------------------------------------------------

TEST(CPortXSettings, TextsReadBackAsTheTablesOwnText) {
  using Setter = void (TCPortX::*)(const QString &);
  using Getter = QString (TCPortX::*)() const;
  const std::map<QString, std::pair<Setter, Getter>> Settings = {
      {"BaudRate", {&TCPortX::SetBaudRate, &TCPortX::BaudRate}},
      {"DataBits", {&TCPortX::SetDataBits, &TCPortX::DataBits}},
      {"StopBits", {&TCPortX::SetStopBits, &TCPortX::StopBits}},
      {"Parity", {&TCPortX::SetParity, &TCPortX::Parity}},
      {"FlowControl", {&TCPortX::SetFlowControl, &TCPortX::FlowControl}},
  };
  struct Case {
    QString Setting;
    QStringList Assigned; // in order, to a new port
    QString Expected;
  };
  const Case Cases[] = {
      {"BaudRate", {"19200"}, "19200"},
      {"BaudRate", {"abc"}, "9600"},
      {"BaudRate", {"115200", "115200 "}, "9600"}, // unmatched: the default, not the last
      {"BaudRate", {"custom"}, "Custom"},
      {"Parity", {"NONE"}, "None"},
      {"Parity", {"Even", " None"}, "None"},
      {"Parity", {"mArK"}, "Mark"},
      {"StopBits", {"1.5"}, "1.5"},
      {"StopBits", {"2", "3"}, "1"},
      {"DataBits", {"7", "9"}, "8"},
      {"DataBits", {"5"}, "5"},
      {"FlowControl", {}, "None"},
      {"FlowControl", {"HARDWARE"}, "Hardware"},
      {"FlowControl", {"Software", "xyz"}, "Software"}, // unmatched changes nothing
      {"FlowControl", {"Hardware", "CUSTOM"}, "Hardware"},
      {"FlowControl", {"Software", "none"}, "None"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE((C.Setting + " := " + C.Assigned.join(", ")).toStdString());
    const auto [Set, Get] = Settings.at(C.Setting);
    TCPortX Port;
    for (const QString &Text : C.Assigned)
      (Port.*Set)(Text);
    EXPECT_EQ((Port.*Get)(), C.Expected);
  }
}

TEST(CPortXSettings, DelimiterSwitchesTheReceivedCharacterTrigger) {
  TCPortX Port;
  EXPECT_TRUE(Port.TriggersOnRxChar());
  Port.SetDelimiter(QString());
  EXPECT_FALSE(Port.TriggersOnRxChar());
  Port.SetDelimiter(QStringLiteral("\n"));
  EXPECT_TRUE(Port.TriggersOnRxChar());
  EXPECT_EQ(Port.Delimiter(), QStringLiteral("\n"));
}

TEST(CPortXSettings, PortNamesMapToDevices) {
  const std::pair<const char *, const char *> Cases[] = {
      {"COM1", "/dev/ttyS0"},           {"com3", "/dev/ttyS2"},      {"Com12", "/dev/ttyS11"},
      {"/tmp/rotator", "/tmp/rotator"}, {"ttyUSB0", "/dev/ttyUSB0"}, {"COM0", "/dev/COM0"},
      {"COM1x", "/dev/COM1x"},
  };
  for (const auto &[Name, Path] : Cases)
    EXPECT_EQ(TComPortBase::DevicePath(QString::fromLatin1(Name)), QString::fromLatin1(Path))
        << Name;
}

TEST(CPortXSettings, ErrorListText) {
  EXPECT_EQ(ComErrorsToStr(0), QStringLiteral("<Ok>"));
  EXPECT_EQ(ComErrorsToStr(ceOverrun | ceFrame), QStringLiteral("<ComError:Frame,Overrun>"));
  EXPECT_EQ(ComErrorsToStr(ceTxFull | ceRxOver | ceMode | ceIO | ceBreak | ceOverrun | ceRxParity |
                           ceFrame),
            QStringLiteral("<ComError:Frame,Parity,Overrun,Break,IO,Mode,RxOver,TxFull>"));
}

TEST(CPortXSettings, LineSettingsReachTheDeviceAtOpenAndAtOnceWhileOpen) {
  PtyPair Pty;
  ASSERT_FALSE(Pty.Path.isEmpty());
  std::vector<Failure> Failures;
  TCPortX Port;
  Port.OnException = RecordInto(Failures);
  Port.SetPort(Pty.Path);
  Port.SetBaudRate(QStringLiteral("4800"));
  Port.SetStopBits(QStringLiteral("2"));
  Port.Open();
  ASSERT_TRUE(Port.Connected());
  termios Tio = Pty.Settings();
  EXPECT_EQ(cfgetospeed(&Tio), speed_t(B4800));
  EXPECT_TRUE(Tio.c_cflag & CSTOPB);

  // A pseudo-terminal carries neither parity nor other word sizes than 8
  // bits, so only these can be seen on it.
  using Setter = void (TCPortX::*)(const QString &);
  struct Case {
    Setter Set;
    const char *Value;
    std::function<bool(const termios &)> Holds;
  };
  const Case Cases[] = {
      {&TCPortX::SetBaudRate, "19200", [](const termios &T) { return cfgetospeed(&T) == B19200; }},
      {&TCPortX::SetStopBits, "1", [](const termios &T) { return !(T.c_cflag & CSTOPB); }},
      {&TCPortX::SetFlowControl, "HARDWARE",
       [](const termios &T) { return (T.c_cflag & CRTSCTS) && !(T.c_iflag & (IXON | IXOFF)); }},
      {&TCPortX::SetFlowControl, "Software",
       [](const termios &T) {
         return !(T.c_cflag & CRTSCTS) && (T.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF);
       }},
      {&TCPortX::SetFlowControl, "None",
       [](const termios &T) { return !(T.c_cflag & CRTSCTS) && !(T.c_iflag & (IXON | IXOFF)); }},
  };
  for (const Case &C : Cases) {
    (Port.*C.Set)(QString::fromLatin1(C.Value));
    EXPECT_TRUE(C.Holds(Pty.Settings())) << C.Value;
  }
  // The pseudo-terminal refuses the DTR and RTS requests too; that is no failure.
  EXPECT_TRUE(Failures.empty());
}

TEST(CPortXSettings, ASettingTheDeviceRefusesIsReported) {
  PtyPair Pty; // keeps no parity: even parity is refused
  ASSERT_FALSE(Pty.Path.isEmpty());
  std::vector<Failure> Failures;
  TCPortX Port;
  Port.OnException = RecordInto(Failures);
  Port.SetPort(Pty.Path);
  Port.Open();
  ASSERT_TRUE(Port.Connected());
  Port.SetParity(QStringLiteral("Even"));
  ASSERT_EQ(Failures.size(), 1u);
  EXPECT_EQ(Failures[0].Kind, CE_SetStateFailed);
  EXPECT_EQ(Failures[0].Message, QStringLiteral("SetCommState function failed"));
  EXPECT_GT(Failures[0].WinError, 0);
  EXPECT_EQ(Port.Parity(), QStringLiteral("Even"));

  // At open the refusal leaves the port closed.
  Port.Close();
  Failures.clear();
  Port.Open();
  EXPECT_FALSE(Port.Connected());
  ASSERT_EQ(Failures.size(), 1u);
  EXPECT_EQ(Failures[0].Kind, CE_SetStateFailed);
  Port.SetParity(QStringLiteral("None"));
  Port.Open();
  EXPECT_TRUE(Port.Connected());
}

// --- Bounded reads ---------------------------------------------------------

TEST_F(PortTest, ReadOfNothingReturnsEmptyAfterItsTotalBound) {
  OpenPort();
  Emulator.setSilent(true);
  for (int Len : {11, 30}) {
    Port.SendStr(QStringLiteral("C\r"));
    QElapsedTimer Clock;
    Clock.start();
    EXPECT_EQ(RecvStr(Port, Len), QString());
    const qint64 Bound = 10 * Len + 100;
    EXPECT_GE(Clock.elapsed(), Bound - 10) << Len;
    EXPECT_LT(Clock.elapsed(), Bound + 2000) << Len;
  }
  EXPECT_TRUE(Failures.empty());
}

TEST_F(PortTest, ReadOfAShortReplyEndsAnIntervalAfterItsLastByte) {
  OpenPort();
  Port.SendStr(QStringLiteral("C\r"));
  QElapsedTimer Clock;
  Clock.start();
  // The total bound of 100 characters would be 1100 ms.
  EXPECT_EQ(RecvStr(Port, 100), PositionReply);
  EXPECT_GE(Clock.elapsed(), 95);
  EXPECT_LT(Clock.elapsed(), 800);
}

TEST_F(PortTest, ReadEndsAtLenAndLeavesTheRestForTheNextRead) {
  OpenPort();
  Port.SendStr(QStringLiteral("C\r"));
  Block(200ms); // the reply arrives; no event may discard it
  EXPECT_EQ(RecvStr(Port, 3), QStringLiteral("+00"));
  EXPECT_EQ(RecvStr(Port, 11), QStringLiteral("00\r\n"));

  // With bytes still coming, only reaching Len can end the read early.
  const QByteArray Block100(100, 'b');
  Trickle Stream(Emulator, Block100, 20ms);
  QElapsedTimer Clock;
  Clock.start();
  EXPECT_EQ(RecvStr(Port, 100), QString::fromLatin1(Block100));
  EXPECT_LT(Clock.elapsed(), 800); // the total bound is 1100 ms
}

TEST_F(PortTest, ReadEndsAtItsTotalBoundWhileBytesKeepTrickling) {
  OpenPort();
  Trickle Stream(Emulator, "+", 40ms); // never 100 ms without a byte
  QElapsedTimer Clock;
  Clock.start();
  const QString Got = RecvStr(Port, 30);
  EXPECT_GE(Clock.elapsed(), 390);
  EXPECT_LT(Clock.elapsed(), 2400);
  EXPECT_FALSE(Got.isEmpty());
  EXPECT_LT(Got.size(), 30);
}

TEST_F(PortTest, ReadLineEndsAtTheLineEnd) {
  OpenPort();
  Port.SendStr(QStringLiteral("C\r"));
  EXPECT_EQ(RecvLine(Port, 11), PositionReply);
  Port.SendStr(QStringLiteral("S\r"));
  EXPECT_EQ(RecvLine(Port, 11), QStringLiteral("\r"));

  // What follows the line stays for the next read, even while more comes in.
  Emulator.sendRaw("\r+0123\r\nJUNK");
  Block(200ms);
  EXPECT_EQ(RecvLine(Port, 11), QStringLiteral("\r")); // a CR without LF behind it
  EXPECT_EQ(RecvLine(Port, 11), QStringLiteral("+0123\r\n"));
  EXPECT_EQ(RecvStr(Port, 4), QStringLiteral("JUNK"));
  {
    Trickle Stream(Emulator, "AZ=123\r\n", 20ms);
    EXPECT_EQ(RecvLine(Port, 11), QStringLiteral("AZ=123\r\n"));
  }
  Port.ClearInput();
  // Len still bounds a line.
  Emulator.sendRaw("ABCDEFGHIJKL\r\n");
  EXPECT_EQ(RecvLine(Port, 5), QStringLiteral("ABCDE"));
  EXPECT_TRUE(Failures.empty());
}

TEST_F(PortTest, ReadsEndOnNotificationsAndLeaveTheEventLoopRunning) {
  OpenPort();
  // A read that does not wait: Done comes from the event loop, once.
  QStringList Ends;
  auto Record = [&](const QString &Text) { Ends << Text; };
  Port.SendStr(QStringLiteral("C\r"));
  ASSERT_TRUE(Port.BeginRecv(11, true, Record));
  EXPECT_TRUE(Port.Reading());
  EXPECT_TRUE(Ends.isEmpty());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Ends.isEmpty(); }, 5000));
  QTest::qWait(50);
  EXPECT_EQ(Ends, QStringList{PositionReply});
  EXPECT_FALSE(Port.Reading());

  // A read that waits serves timers meanwhile.
  Emulator.setSilent(true);
  int Ticks = 0;
  QTimer Timer;
  Timer.setInterval(10);
  QObject::connect(&Timer, &QTimer::timeout, [&] { ++Ticks; });
  Timer.start();
  EXPECT_EQ(RecvStr(Port, 30), QString()); // 400 ms
  EXPECT_GE(Ticks, 5);

  // A close ends a read with what it has; the trickle keeps it from ending
  // by itself before its total bound of 1.1 s.
  Ends.clear();
  {
    Trickle Stream(Emulator, "+01", 20ms);
    ASSERT_TRUE(Port.BeginRecv(100, false, Record));
    QTest::qWait(100);
    Port.Close();
  }
  ASSERT_EQ(Ends.size(), 1);
  EXPECT_TRUE(Ends[0].startsWith(QStringLiteral("+01x"))) << Ends[0].toStdString();
  EXPECT_TRUE(Failures.empty());
}

// A port with software flow control on the test's own pseudo-terminal,
// whose far end has said XOFF: the device takes nothing until Release.
struct THeldLine {
  PtyPair Pty;
  std::vector<Failure> Failures;
  TCPortX Port;

  // Opens the port and holds the line; false when either fails.
  bool Hold() {
    if (Pty.Path.isEmpty())
      return false;
    Port.OnException = RecordInto(Failures);
    Port.SetPort(Pty.Path);
    Port.SetFlowControl(QStringLiteral("Software"));
    Port.Open();
    if (!Port.Connected() || ::fcntl(Pty.Master, F_SETFL, O_NONBLOCK) != 0 ||
        ::write(Pty.Master, "\x13", 1) != 1)
      return false;
    QTest::qWait(50);
    return true;
  }
  // XON: the device sends again.
  bool Release() { return ::write(Pty.Master, "\x11", 1) == 1; }
};

TEST(CPortXWrites, AWriteTheDeviceHoldsBackIsDroppedAtItsBoundWithoutWaiting) {
  THeldLine Line;
  ASSERT_TRUE(Line.Hold());
  auto &[Pty, Failures, Port] = Line;

  QElapsedTimer Clock;
  Clock.start();
  Port.SendStr(QStringLiteral("M180\r")); // its bound: 150 ms
  EXPECT_LT(Clock.elapsed(), 140);        // waiting out the bound takes 150 ms
  QTest::qWait(400);
  // What the device held back would go out now, out of its exchange.
  ASSERT_TRUE(Line.Release());
  QTest::qWait(200);
  char Buffer[64];
  const ssize_t Got = ::read(Pty.Master, Buffer, sizeof Buffer);
  EXPECT_LE(Got, 0) << QByteArray(Buffer, int(std::max<ssize_t>(Got, 0))).toStdString();
  EXPECT_TRUE(Failures.empty()) << Failures.front().Kind << " " << Failures.front().WinError;

  // Once the line runs again, a write goes out.
  Port.SendStr(QStringLiteral("S\r"));
  QTest::qWait(100);
  EXPECT_EQ(::read(Pty.Master, Buffer, sizeof Buffer), 2);
}

// A burst of writes right before a close (a command list, the home command,
// the closing CR) on a line that takes nothing for a while: each write's
// bound counts from the end of the one before, so the close waits for the sum
// of the bounds. The far end holds the line longer than any single write's
// bound and far less than their sum; once it lets go, the whole burst
// arrives, in order, the home command last before the CR.
TEST(CPortXWrites, ABurstBeforeACloseKeepsTheSumOfItsBounds) {
  THeldLine Line;
  ASSERT_TRUE(Line.Hold());
  auto &[Pty, Failures, Port] = Line;

  // Eight list items of 30 bytes (400 ms each, 3.2 s together), the home
  // command and the closing CR.
  QByteArray Expected;
  for (int I = 0; I < 8; ++I) {
    const QString Item = QStringLiteral("Y%1 relays and antenna switch.\r").arg(I);
    ASSERT_EQ(Item.size(), 30);
    Port.SendStr(Item);
    Expected += Item.toLatin1();
  }
  Port.SendStr(QStringLiteral("M180\r"));
  Port.SendStr(QStringLiteral("\r"));
  Expected += "M180\r\r";
  Port.Close();
  EXPECT_TRUE(Port.Draining());

  // Longer than any single bound (400 ms), far within their sum.
  QTest::qWait(1000);
  ASSERT_TRUE(Line.Release());
  QByteArray Got;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        char Buffer[512];
        for (ssize_t N; (N = ::read(Pty.Master, Buffer, sizeof Buffer)) > 0;)
          Got.append(Buffer, int(N));
        return Got.size() >= Expected.size();
      },
      20000));
  EXPECT_EQ(Got, Expected);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Port.Draining(); }, 20000));
  EXPECT_TRUE(Failures.empty()) << Failures.front().Kind << " " << Failures.front().WinError;
}

TEST_F(PortTest, BytesAreCharactersOfTheSameCode) {
  OpenPort();
  // Each character goes out as its low byte: U+0143 as 'C', U+2041 as 'A'.
  Port.SendStr(QString(QChar(0x0143)) + QChar(0x00E9) + QChar(0x2041) + QChar('\r'));
  ASSERT_TRUE(Emulator.waitForCommands(1, 5s));
  EXPECT_EQ(Emulator.rawReceived(), QByteArray("\x43\xE9\x41\r"));
  RecvStr(Port, 11); // the emulator's answer to that command

  Emulator.sendRaw(QByteArray("\xE9\x00\xFF", 3));
  const QString Got = RecvStr(Port, 3);
  ASSERT_EQ(Got.size(), 3);
  EXPECT_EQ(Got[0].unicode(), 0xE9);
  EXPECT_EQ(Got[1].unicode(), 0x00);
  EXPECT_EQ(Got[2].unicode(), 0xFF);
}

// --- Bytes no read asked for -----------------------------------------------

TEST_F(PortTest, WithTheTriggerOffUnaskedBytesAreDiscardedWhenIdle) {
  OpenPort();
  // Not while the main thread is busy: they wait for the next read.
  Emulator.sendRaw("late");
  Block(200ms);
  EXPECT_EQ(RecvStr(Port, 4), QStringLiteral("late"));

  // Once the main thread has been idle, they are gone.
  Emulator.sendRaw("junk\r\n");
  QTest::qWait(300);
  Port.SendStr(QStringLiteral("C\r"));
  EXPECT_EQ(RecvLine(Port, 11), PositionReply);
}

TEST_F(PortTest, PurgingDiscardsWaitingInput) {
  OpenPort();
  for (void (TCPortX::*Purge)() : {&TCPortX::ClearInput, &TCPortX::Clear}) {
    Emulator.sendRaw("\r\nstale");
    Block(200ms);
    (Port.*Purge)();
    Port.SendStr(QStringLiteral("C\r"));
    EXPECT_EQ(RecvLine(Port, 11), PositionReply);
  }
  EXPECT_TRUE(Failures.empty());
}

// A pass of the event loop can find the device readable and, before the
// port's own notification runs, run another handler that purges the input
// (a client's request that starts a poll does): the port's read then finds
// nothing. A read that would block is no failure; the port stays open and
// goes on reading.
TEST_F(PortTest, ANotificationThatFindsThePurgedInputEmptyIsNoFailure) {
  int Pipe[2];
  ASSERT_EQ(::pipe2(Pipe, O_NONBLOCK), 0);
  {
    // Registered before the port opens, so it is handled first in a pass
    // that finds both ready.
    QSocketNotifier Purger(Pipe[0], QSocketNotifier::Read);
    int Purges = 0;
    QObject::connect(&Purger, &QSocketNotifier::activated, [&] {
      char Byte;
      while (::read(Pipe[0], &Byte, 1) == 1) {
      }
      Port.ClearInput();
      ++Purges;
    });
    OpenPort();
    for (int I = 0; I < 20 && Port.Connected(); ++I) {
      Emulator.sendRaw("\r");
      ASSERT_EQ(::write(Pipe[1], "x", 1), 1);
      // Both are ready when the next pass looks.
      Block(20ms);
      QCoreApplication::processEvents();
    }
    EXPECT_GT(Purges, 0);
  }
  ::close(Pipe[0]);
  ::close(Pipe[1]);
  EXPECT_TRUE(Port.Connected());
  EXPECT_TRUE(Failures.empty()) << Failures.front().Message.toStdString();
  // The notifications go on: replies are read as before.
  for (int I = 0; I < 3; ++I) {
    Port.SendStr(QStringLiteral("C\r"));
    EXPECT_EQ(RecvLine(Port, 11), PositionReply);
  }
  EXPECT_TRUE(Failures.empty());
}

TEST_F(PortTest, WithTheTriggerOnUnaskedBytesAreDelivered) {
  Port.SetDelimiter(QStringLiteral("\n"));
  QString Delivered;
  int Events = 0;
  Port.OnRecvMsg = [&](QObject *Sender, const QString &Text) {
    EXPECT_EQ(Sender, &Port);
    Delivered += Text;
    ++Events;
  };
  int LineErrors = 0;
  Port.OnError = [&](QObject *, TComErrors) { ++LineErrors; };
  OpenPort();

  Emulator.sendRaw("hello\r\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Delivered.size() >= 7; }, 5000));
  EXPECT_EQ(Delivered, QStringLiteral("hello\r\n"));
  EXPECT_TRUE(QStringLiteral("hello\r\n").endsWith(Port.RecvMsg()));
  EXPECT_FALSE(Port.RecvMsg().isEmpty());

  // A blocking read takes its own bytes before any event sees them.
  Delivered.clear();
  const int EventsBefore = Events;
  Port.SendStr(QStringLiteral("C\r"));
  EXPECT_EQ(RecvLine(Port, 11), PositionReply);
  QTest::qWait(300);
  EXPECT_EQ(Events, EventsBefore);
  EXPECT_TRUE(Delivered.isEmpty());
  // A pseudo-terminal counts no line errors.
  EXPECT_EQ(LineErrors, 0);
}

// --- Opening ---------------------------------------------------------------

TEST_F(PortTest, OpenOfAMissingDeviceFailsOnce) {
  Port.SetPort(QStringLiteral("/dev/orbalt-no-such-port"));
  Port.Open();
  EXPECT_FALSE(Port.Connected());
  ASSERT_EQ(Failures.size(), 1u);
  EXPECT_EQ(Failures[0].Kind, CE_OpenFailed);
  EXPECT_EQ(Failures[0].Message, QStringLiteral("Unable to open com port"));
  EXPECT_EQ(Failures[0].WinError, ENOENT);
  EXPECT_EQ(Failures[0].WinMessage, QStringLiteral("No such file or directory"));
}

TEST_F(PortTest, APortHeldByAnotherPortOfThisProcessDoesNotOpen) {
  TCPortX Holder;
  Holder.SetPort(Emulator.devicePath());
  Holder.Open();
  ASSERT_TRUE(Holder.Connected());

  Port.Open();
  EXPECT_FALSE(Port.Connected());
  ASSERT_EQ(Failures.size(), 1u);
  EXPECT_EQ(Failures[0].Kind, CE_OpenFailed);
  EXPECT_GT(Failures[0].WinError, 0);
  EXPECT_FALSE(Failures[0].WinMessage.isEmpty());

  Holder.Close();
  Failures.clear();
  OpenPort();
}

TEST_F(PortTest, APortHeldByAnotherProcessDoesNotOpen) {
  QProcess Holder;
  Holder.start(QStringLiteral(SERIAL_PORT_HOLDER_PATH), {Emulator.devicePath()});
  ASSERT_TRUE(Holder.waitForStarted(10000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Holder.canReadLine(); }, 10000));
  ASSERT_EQ(Holder.readLine().trimmed(), QByteArray("open"));

  Port.Open();
  EXPECT_FALSE(Port.Connected());
  ASSERT_EQ(Failures.size(), 1u);
  EXPECT_EQ(Failures[0].Kind, CE_OpenFailed);
  EXPECT_EQ(Failures[0].Message, QStringLiteral("Unable to open com port"));
  EXPECT_GT(Failures[0].WinError, 0);

  Holder.closeWriteChannel();
  ASSERT_TRUE(Holder.waitForFinished(10000));
  Failures.clear();
  OpenPort();
}

TEST_F(PortTest, AnotherNameWhileOpenReopensThePortThere) {
  Gs232Emulator Other;
  ASSERT_TRUE(Other.start());
  OpenPort();
  Port.SetActive(true);
  Port.SetPort(Other.devicePath());
  EXPECT_TRUE(Port.Connected());
  Port.SendStr(QStringLiteral("C\r"));
  EXPECT_EQ(RecvLine(Port, 11), PositionReply);
  EXPECT_EQ(Other.commands().size(), 1u);
  EXPECT_TRUE(Emulator.commands().empty());

  // The first device is free again.
  TCPortX First;
  First.SetPort(Emulator.devicePath());
  First.Open();
  EXPECT_TRUE(First.Connected());

  Port.Close();
  EXPECT_FALSE(Port.Connected());
  EXPECT_FALSE(Port.Active());
  EXPECT_TRUE(Failures.empty());
}

// --- Failures --------------------------------------------------------------

TEST(CPortXReports, WithoutAHandlerTheOperationRaises) {
  struct Case {
    const char *Name;
    std::function<void(TCPortX &)> Operation;
    TComExceptions Kind;
    const char *Text;
    int64_t Code;
  };
  const Case Cases[] = {
      {"open", [](TCPortX &P) { P.Open(); }, CE_OpenFailed, "Unable to open com port (Error: 2)",
       ENOENT},
      {"read", [](TCPortX &P) { RecvStr(P, 5); }, CEPortNotOpen, "Port Not Open", -24},
      {"write", [](TCPortX &P) { P.SendStr(QStringLiteral("C\r")); }, CEPortNotOpen,
       "Port Not Open", -24},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    TCPortX Port;
    Port.SetPort(QStringLiteral("/dev/orbalt-no-such-port"));
    try {
      C.Operation(Port);
      ADD_FAILURE() << "nothing raised";
    } catch (const ESerialPortError &E) {
      EXPECT_STREQ(E.what(), C.Text);
      EXPECT_EQ(E.Kind, C.Kind);
      EXPECT_EQ(E.WinError, C.Code);
    }
  }
}

TEST(CPortXReports, ReadAndWriteOfAClosedPortReportPortNotOpen) {
  std::vector<Failure> Failures;
  TCPortX Port;
  Port.OnException = RecordInto(Failures);
  EXPECT_EQ(RecvStr(Port, 5), QString());
  Port.SendStr(QStringLiteral("C\r"));
  ASSERT_EQ(Failures.size(), 2u);
  for (const Failure &F : Failures) {
    EXPECT_EQ(F.Kind, CEPortNotOpen);
    EXPECT_EQ(F.Message, QStringLiteral("Port Not Open"));
    EXPECT_EQ(F.WinError, -24);
    EXPECT_TRUE(F.WinMessage.isEmpty());
  }
}

TEST(CPortXReports, AHangUpIsReportedOnceByWhatWasGoingOn) {
  struct Case {
    const char *Name;
    std::function<void(TCPortX &, Gs232Emulator &)> Meanwhile; // the hang-up happens in it
    TComExceptions Kind;
    bool HandlerCloses;
  };
  const Case Cases[] = {
      {"idle, the handler closes", [](TCPortX &, Gs232Emulator &E) { E.hangUp(); }, CE_ReadFailed,
       true},
      {"idle, the handler keeps the port open", [](TCPortX &, Gs232Emulator &E) { E.hangUp(); },
       CE_ReadFailed, false},
      {"write",
       [](TCPortX &P, Gs232Emulator &E) {
         E.hangUp();
         P.SendStr(QStringLiteral("C\r"));
       },
       CE_WriteFailed, true},
      {"read",
       [](TCPortX &P, Gs232Emulator &E) {
         E.setSilent(true);
         std::thread Later([&E] {
           std::this_thread::sleep_for(50ms);
           E.hangUp();
         });
         QElapsedTimer Clock;
         Clock.start();
         EXPECT_EQ(RecvStr(P, 100), QString());
         EXPECT_LT(Clock.elapsed(), 900); // not the total bound of 1100 ms
         Later.join();
       },
       CE_ReadFailed, true},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    Gs232Emulator Emulator;
    ASSERT_TRUE(Emulator.start());
    TCPortX Port;
    Port.SetPort(Emulator.devicePath());
    Port.SetDelimiter(QString());
    std::vector<Failure> Failures;
    Port.OnException = [&](QObject *Sender, TComExceptions Kind, const QString &Message,
                           int64_t WinError, const QString &WinMessage) {
      Failures.push_back({Kind, Message, WinError, WinMessage});
      if (C.HandlerCloses)
        static_cast<TCPortX *>(Sender)->Close();
    };
    Port.Open();
    ASSERT_TRUE(Port.Connected());

    C.Meanwhile(Port, Emulator);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Failures.empty(); }, 5000));
    // Nothing more comes, and the port does not keep the processor busy
    // with a device that went away.
    QElapsedTimer Wall;
    Wall.start();
    const std::clock_t CpuBefore = std::clock();
    QTest::qWait(300);
    const double CpuMs = 1000.0 * double(std::clock() - CpuBefore) / CLOCKS_PER_SEC;
    EXPECT_LT(CpuMs, 0.2 * double(Wall.elapsed()));
    ASSERT_EQ(Failures.size(), 1u);
    EXPECT_EQ(Failures[0].Kind, C.Kind);
    EXPECT_EQ(Failures[0].Message, ComExceptionMessage(C.Kind));
    EXPECT_GT(Failures[0].WinError, 0);
    EXPECT_FALSE(Failures[0].WinMessage.isEmpty());
    EXPECT_EQ(Port.Connected(), !C.HandlerCloses);
    Port.Close();
    EXPECT_FALSE(Port.Connected());
    EXPECT_EQ(Failures.size(), 1u);
  }
}

TEST(CPortXReports, AHandlerMayDeleteThePort) {
  auto NewPort = [](Gs232Emulator &Emulator, const QString &Delimiter) {
    auto *Port = new TCPortX;
    Port->SetPort(Emulator.devicePath());
    Port->SetDelimiter(Delimiter);
    return Port;
  };
  auto DeleteSender = [](int &Calls) {
    return [&Calls](QObject *Sender, TComExceptions, const QString &, int64_t, const QString &) {
      ++Calls;
      delete Sender;
    };
  };

  { // a failure seen while idle
    Gs232Emulator Emulator;
    ASSERT_TRUE(Emulator.start());
    int Calls = 0;
    QPointer<TCPortX> Port = NewPort(Emulator, QString());
    Port->OnException = DeleteSender(Calls);
    Port->Open();
    Emulator.hangUp();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Port.isNull(); }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(Calls, 1);
    delete Port.data();
  }
  { // a failure during a blocking read
    Gs232Emulator Emulator;
    ASSERT_TRUE(Emulator.start());
    int Calls = 0;
    QPointer<TCPortX> Port = NewPort(Emulator, QString());
    Port->OnException = DeleteSender(Calls);
    Port->Open();
    Emulator.setSilent(true);
    std::thread Later([&] {
      std::this_thread::sleep_for(50ms);
      Emulator.hangUp();
    });
    EXPECT_EQ(RecvStr(*Port, 100), QString());
    Later.join();
    EXPECT_TRUE(Port.isNull());
    EXPECT_EQ(Calls, 1);
    delete Port.data();
  }
  { // received text
    Gs232Emulator Emulator;
    ASSERT_TRUE(Emulator.start());
    QString Got;
    QPointer<TCPortX> Port = NewPort(Emulator, QStringLiteral("\n"));
    Port->OnRecvMsg = [&](QObject *Sender, const QString &Text) {
      Got += Text;
      delete Sender;
    };
    Port->Open();
    Emulator.sendRaw("bye\r\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Port.isNull(); }, 5000));
    EXPECT_TRUE(QStringLiteral("bye\r\n").startsWith(Got));
    Emulator.sendRaw("more\r\n");
    QTest::qWait(100);
    delete Port.data();
  }
}

TEST(CPortXReports, AnErrorRaisedByAHandlerIsShownAndReportsGoOn) {
  TScopedRecordingUi Ui;
  Gs232Emulator Emulator;
  ASSERT_TRUE(Emulator.start());
  TCPortX Port;
  Port.SetPort(Emulator.devicePath());
  Port.SetDelimiter(QStringLiteral("\n"));
  int Texts = 0;
  Port.OnRecvMsg = [&](QObject *, const QString &) {
    if (++Texts == 1)
      throw std::runtime_error("no room for the text");
  };
  int Failures = 0;
  Port.OnException = [&](QObject *, TComExceptions, const QString &, int64_t, const QString &) {
    if (++Failures == 1)
      throw std::runtime_error("no room for the failure");
  };
  Port.Open();
  ASSERT_TRUE(Port.Connected());

  Emulator.sendRaw("a");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Texts == 1; }, 5000));
  Emulator.sendRaw("b");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Texts == 2; }, 5000));

  Emulator.hangUp();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Failures == 1; }, 5000));
  Port.SendStr(QStringLiteral("C\r")); // a later failure is reported again
  EXPECT_EQ(Failures, 2);
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Exception),
            QStringList({"no room for the text", "no room for the failure"}));
}

// A port opened again while its close still drains (the operator closes and
// opens at once, or new options reopen it) takes the device up as it is:
// what the close wrote still goes out, ahead of what follows.
TEST(CPortXWrites, AReopenWhileTheCloseDrainsKeepsWhatTheCloseWrote) {
  THeldLine Line;
  ASSERT_TRUE(Line.Hold());
  auto &[Pty, Failures, Port] = Line;

  Port.SendStr(QStringLiteral("M180\r"));
  Port.SendStr(QStringLiteral("\r"));
  Port.Close();
  ASSERT_TRUE(Port.Draining());
  Port.Open();
  EXPECT_TRUE(Port.Connected());
  EXPECT_FALSE(Port.Draining());
  // The purge that follows every opening.
  Port.Clear();
  Port.SendStr(QStringLiteral("S\r"));
  ASSERT_TRUE(Line.Release());

  const QByteArray Expected = "M180\r\rS\r";
  QByteArray Got;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        char Buffer[64];
        for (ssize_t N; (N = ::read(Pty.Master, Buffer, sizeof Buffer)) > 0;)
          Got.append(Buffer, int(N));
        return Got.size() >= Expected.size();
      },
      5000));
  EXPECT_EQ(Got, Expected);
  EXPECT_TRUE(Failures.empty()) << Failures.front().Kind << " " << Failures.front().WinError;
}
