// The controller emulator, driven from the far side of its pseudo-terminal with
// plain POSIX calls, the way a program opens a serial device.

#include "tools/Gs232Emulator.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <cmath>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = Gs232Emulator::Clock;

namespace {

// Generous: only reached when something is wrong.
constexpr auto kPatience = 5s;

int openDevice(const QString &Path) {
  const int fd = ::open(QFile::encodeName(Path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) {
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  return fd;
}

void writeAll(int Fd, const QByteArray &Bytes) {
  qsizetype done = 0;
  while (done < Bytes.size()) {
    const ssize_t n = ::write(Fd, Bytes.constData() + done, Bytes.size() - done);
    ASSERT_GT(n, 0) << "write failed: " << std::strerror(errno);
    done += n;
  }
}

// Reads until Count bytes have arrived or Timeout has passed.
QByteArray readBytes(int Fd, qsizetype Count, std::chrono::milliseconds Timeout = kPatience) {
  QByteArray got;
  const auto end = Clock::now() + Timeout;
  while (got.size() < Count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left <= 0ms)
      break;
    pollfd p{Fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
      break;
    char buf[256];
    const ssize_t n = ::read(Fd, buf, std::min<qsizetype>(sizeof buf, Count - got.size()));
    if (n <= 0)
      break;
    got.append(buf, n);
  }
  return got;
}

// Reads whatever arrives until the line has been quiet for Quiet.
QByteArray readUntilQuiet(int Fd, std::chrono::milliseconds Quiet = 300ms) {
  QByteArray got;
  for (;;) {
    const QByteArray more = readBytes(Fd, 4096, Quiet);
    if (more.isEmpty())
      return got;
    got += more;
  }
}

// Waits for a condition that the emulator's clock makes true.
template <typename Pred> bool eventually(Pred Condition) {
  const auto end = Clock::now() + kPatience;
  while (!Condition()) {
    if (Clock::now() > end)
      return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class EmulatorTest : public ::testing::Test {
protected:
  void startWith(const Gs232Emulator::Options &Opts) {
    emu = std::make_unique<Gs232Emulator>(Opts);
    ASSERT_TRUE(emu->start());
    fd = openDevice(emu->devicePath());
    ASSERT_GE(fd, 0) << "cannot open " << qPrintable(emu->devicePath());
  }
  void TearDown() override {
    if (fd >= 0)
      ::close(fd);
  }
  // Sends one command line and returns its answer, known to be Expected bytes
  // long; a stray extra byte shows up at the start of the next exchange.
  QByteArray exchange(const QByteArray &Line, qsizetype Expected) {
    writeAll(fd, Line);
    return readBytes(fd, Expected);
  }
  QByteArray position() {
    writeAll(fd, "C\r");
    return readBytes(fd, 7);
  }

  std::unique_ptr<Gs232Emulator> emu;
  int fd = -1;
};

struct Exchange {
  const char *sent;
  const char *answer;
};

struct ReplyTable {
  const char *name;
  Gs232Emulator::Options opts;
  std::vector<Exchange> exchanges;
};

Gs232Emulator::Options options(bool StyleB, bool CrLf, bool Ack) {
  Gs232Emulator::Options o;
  o.styleB = StyleB;
  o.crlf = CrLf;
  o.ackCR = Ack;
  o.azimuth = 123;
  o.elevation = 45;
  return o;
}

} // namespace

TEST_F(EmulatorTest, AnswersEachCommandWithExactBytes) {
  const std::vector<ReplyTable> tables = {
      {"default",
       options(false, true, true),
       {{"C\r", "+0123\r\n"},
        {"c\r", "+0123\r\n"},
        {"C2\r", "+0123+0045\r\n"},
        {"b\r", "+0045\r\n"},
        {"C\r\n", "+0123\r\n"}, // the LF of a terminal's CR LF is ignored
        {"\nC\r", "+0123\r\n"},
        {"S\r", "\r"},
        {"a\r", "\r"},
        {"E\r", "\r"},
        {"K0\r", "\r"},
        {"i0\r", "\r"},
        {"ZN\r", "\r"},
        {"zs\r", "\r"},
        {"H3\r", "\r"},
        {"X2\r", "\r"},
        {"P45\r", "\r"},
        {"p36\r", "\r"},
        {"\r", "\r"},
        {"Y11\r", ""},
        {"y0\r", ""},
        {"Y123\r", ""},
        {"Y\r", "?>\r\n"},
        {"YA1\r", "?>\r\n"},
        {"Q\r", "?>\r\n"},
        {"C3\r", "?>\r\n"},
        {"M12\r", "?>\r\n"},
        {"M1234\r", "?>\r\n"},
        {"M361\r", "?>\r\n"}, // beyond the 360 degree limit
        {"MABC\r", "?>\r\n"},
        {"W090\r", "?>\r\n"},
        {"W090,045\r", "?>\r\n"},
        {"W090 181\r", "?>\r\n"},
        {"X0\r", "?>\r\n"},
        {"X5\r", "?>\r\n"},
        {"P90\r", "?>\r\n"},
        {"ZX\r", "?>\r\n"},
        {" C\r", "?>\r\n"},
        {"C\r", "+0123\r\n"}}},
      {"style B",
       options(true, true, true),
       {{"C\r", "AZ=123\r\n"},
        {"C2\r", "AZ=123 EL=045\r\n"},
        {"B\r", "EL=045\r\n"},
        {"S\r", "\r"},
        {"Q\r", "?>\r\n"},
        {"C\r", "AZ=123\r\n"}}},
      {"CR line end",
       options(false, false, true),
       {{"C\r", "+0123\r"},
        {"C2\r", "+0123+0045\r"},
        {"S\r", "\r"},
        {"Q\r", "?>\r"},
        {"C\r", "+0123\r"}}},
      {"no acknowledging CR",
       options(false, true, false),
       {{"S\r", ""},
        {"K0\r", ""},
        {"\r", ""},
        {"Q\r", "?>\r\n"},
        {"C\r", "+0123\r\n"}}},
  };
  for (const auto &table : tables) {
    SCOPED_TRACE(table.name);
    startWith(table.opts);
    for (const auto &ex : table.exchanges) {
      SCOPED_TRACE(QByteArray(ex.sent).toPercentEncoding().constData());
      EXPECT_EQ(exchange(ex.sent, qstrlen(ex.answer)), QByteArray(ex.answer));
    }
    // Nothing more than the table's answers.
    EXPECT_EQ(readUntilQuiet(fd), QByteArray());
    ::close(fd);
    fd = -1;
  }
}

TEST_F(EmulatorTest, HelpIsSeveralLinesWithTheConfiguredLineEnd) {
  for (const bool crlf : {true, false}) {
    SCOPED_TRACE(crlf ? "CR LF" : "CR");
    startWith(options(false, crlf, true));
    writeAll(fd, "h\r");
    const QByteArray help = readUntilQuiet(fd);
    const QByteArray end = crlf ? "\r\n" : "\r";
    EXPECT_TRUE(help.endsWith(end));
    EXPECT_GE(help.count(end), 5);
    EXPECT_EQ(help.count('\n'), crlf ? help.count('\r') : 0);
    ::close(fd);
    fd = -1;
  }
}

TEST_F(EmulatorTest, TurnsStopAtTheTravelLimits) {
  auto o = options(false, true, true);
  o.azimuth = 350;
  o.timeScale = 200; // 1200 degrees a second at speed 4
  startWith(o);

  EXPECT_EQ(exchange("R\r", 1), "\r");
  ASSERT_TRUE(eventually([&] { return !emu->moving(); }));
  EXPECT_EQ(emu->azimuth(), 360.0);
  EXPECT_EQ(position(), "+0360\r\n");

  // 450 degree mode lets the turn go on to 450; back in 360 mode a clockwise
  // turn from beyond 360 goes nowhere.
  EXPECT_EQ(exchange("P45\r", 1), "\r");
  EXPECT_EQ(emu->maxAzimuth(), 450);
  EXPECT_EQ(exchange("R\r", 1), "\r");
  ASSERT_TRUE(eventually([&] { return !emu->moving(); }));
  EXPECT_EQ(position(), "+0450\r\n");
  EXPECT_EQ(exchange("P36\r", 1), "\r");
  EXPECT_EQ(emu->maxAzimuth(), 360);
  EXPECT_EQ(exchange("R\r", 1), "\r");
  EXPECT_FALSE(emu->moving());
  EXPECT_EQ(position(), "+0450\r\n");

  EXPECT_EQ(exchange("L\r", 1), "\r");
  ASSERT_TRUE(eventually([&] { return !emu->moving(); }));
  EXPECT_EQ(emu->azimuth(), 0.0);
  EXPECT_EQ(position(), "+0000\r\n");

  // Elevation turns between 0 and 180.
  EXPECT_EQ(exchange("U\r", 1), "\r");
  ASSERT_TRUE(eventually([&] { return !emu->moving(); }));
  EXPECT_EQ(exchange("B\r", 7), "+0180\r\n");
}

TEST_F(EmulatorTest, GoesToTargetsAndStopsThere) {
  auto o = options(false, true, true);
  o.azimuth = 0;
  o.elevation = 0;
  o.timeScale = 200;
  startWith(o);

  EXPECT_EQ(exchange("M090\r", 1), "\r");
  ASSERT_TRUE(eventually([&] { return !emu->moving(); }));
  EXPECT_EQ(emu->azimuth(), 90.0);
  EXPECT_EQ(position(), "+0090\r\n");

  EXPECT_EQ(exchange("m045\r", 1), "\r");
  ASSERT_TRUE(eventually([&] { return !emu->moving(); }));
  EXPECT_EQ(position(), "+0045\r\n");

  EXPECT_EQ(exchange("W200 030\r", 1), "\r");
  ASSERT_TRUE(eventually([&] { return !emu->moving(); }));
  EXPECT_EQ(exchange("C2\r", 12), "+0200+0030\r\n");

  // Targets above 360 need 450 degree mode.
  EXPECT_EQ(exchange("M400\r", 4), "?>\r\n");
  EXPECT_EQ(exchange("P45\r", 1), "\r");
  EXPECT_EQ(exchange("M400\r", 1), "\r");
  ASSERT_TRUE(eventually([&] { return !emu->moving(); }));
  EXPECT_EQ(position(), "+0400\r\n");
}

TEST_F(EmulatorTest, StopHoldsThePositionReached) {
  auto o = options(false, true, true);
  o.azimuth = 10;
  o.timeScale = 5;
  startWith(o);
  EXPECT_EQ(exchange("R\r", 1), "\r");
  ASSERT_TRUE(eventually([&] { return emu->azimuth() > 20; }));
  EXPECT_EQ(exchange("A\r", 1), "\r");
  EXPECT_FALSE(emu->moving());
  const double held = emu->azimuth();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(emu->azimuth(), held);
  const auto whole = QByteArray::number(static_cast<int>(std::floor(held))).rightJustified(3, '0');
  EXPECT_EQ(position(), "+0" + whole + "\r\n");
}

// The distance turned equals speed × time between the logged commands, so
// the speeds can be checked exactly however slow the machine is.
TEST_F(EmulatorTest, SpeedsSetTheRateOfTurn) {
  auto o = options(false, true, true);
  o.azimuth = 0;
  o.timeScale = 4;
  startWith(o);
  for (int speed = 1; speed <= 4; ++speed) {
    SCOPED_TRACE(speed);
    emu->setAzimuth(0);
    const QByteArray x = "X" + QByteArray::number(speed) + "\r";
    EXPECT_EQ(exchange(x, 1), "\r");
    EXPECT_EQ(emu->speed(), speed);
    emu->clearLog();
    EXPECT_EQ(exchange("R\r", 1), "\r");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(exchange("S\r", 1), "\r");
    const auto log = emu->commands();
    ASSERT_EQ(log.size(), 2u);
    const double seconds = std::chrono::duration<double>(log[1].at - log[0].at).count();
    const double expected = std::min(360.0, o.speedDegPerSec[speed - 1] * o.timeScale * seconds);
    EXPECT_NEAR(emu->azimuth(), expected, 1e-6);
  }

  // A change of speed during a turn applies from the moment it arrives.
  emu->setAzimuth(0);
  EXPECT_EQ(exchange("X4\r", 1), "\r");
  emu->clearLog();
  EXPECT_EQ(exchange("R\r", 1), "\r");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(exchange("X1\r", 1), "\r");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(exchange("S\r", 1), "\r");
  const auto log = emu->commands();
  ASSERT_EQ(log.size(), 3u);
  const auto secs = [](auto From, auto To) {
    return std::chrono::duration<double>(To - From).count();
  };
  const double expected = o.timeScale * (o.speedDegPerSec[3] * secs(log[0].at, log[1].at) +
                                         o.speedDegPerSec[0] * secs(log[1].at, log[2].at));
  EXPECT_NEAR(emu->azimuth(), std::min(360.0, expected), 1e-6);
}

TEST_F(EmulatorTest, LogsCommandsWithTheTimeTheirCrArrived) {
  startWith(options(false, true, true));
  EXPECT_FALSE(emu->waitForCommands(1, 0ms));

  const auto beforeFirst = Clock::now();
  // A command split over writes, a LF, lower case and a relay item.
  writeAll(fd, "c");
  std::this_thread::sleep_for(20ms);
  writeAll(fd, "\r\nM0");
  writeAll(fd, "90\ry11\r");
  ASSERT_TRUE(emu->waitForCommands(3, kPatience));
  const auto afterFirst = Clock::now();

  const auto beforeLast = Clock::now();
  writeAll(fd, "S\r");
  ASSERT_TRUE(emu->waitForCommands(4, kPatience));
  const auto afterLast = Clock::now();

  const auto log = emu->commands();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].command, "c");
  EXPECT_EQ(log[1].command, "M090");
  EXPECT_EQ(log[2].command, "y11");
  EXPECT_EQ(log[3].command, "S");
  for (int i = 0; i < 3; ++i) {
    EXPECT_GE(log[i].at, beforeFirst);
    EXPECT_LE(log[i].at, afterFirst);
  }
  EXPECT_LE(log[0].at, log[1].at);
  EXPECT_GE(log[3].at, beforeLast);
  EXPECT_LE(log[3].at, afterLast);
  EXPECT_EQ(emu->rawReceived(), QByteArray("c\r\nM090\ry11\rS\r"));

  // A partial line is in the raw bytes but not yet a command.
  writeAll(fd, "C2");
  ASSERT_TRUE(eventually([&] { return emu->rawReceived().endsWith("C2"); }));
  EXPECT_EQ(emu->commands().size(), 4u);

  const auto taken = emu->takeCommands();
  EXPECT_EQ(taken.size(), 4u);
  EXPECT_TRUE(emu->commands().empty());
  EXPECT_TRUE(emu->rawReceived().isEmpty());
  writeAll(fd, "\r");
  ASSERT_TRUE(emu->waitForCommands(1, kPatience));
  EXPECT_EQ(emu->commands().at(0).command, "C2");
  emu->clearLog();
  EXPECT_TRUE(emu->commands().empty());

  // A timed-out wait really waits.
  const auto start = Clock::now();
  EXPECT_FALSE(emu->waitForCommands(1, 100ms));
  EXPECT_GE(Clock::now() - start, 100ms);
}

TEST_F(EmulatorTest, WaitForCommandsWakesWhenTheCommandArrives) {
  startWith(options(false, true, true));
  std::thread writer([&] {
    std::this_thread::sleep_for(100ms);
    writeAll(fd, "S\r");
  });
  EXPECT_TRUE(emu->waitForCommands(1, kPatience));
  writer.join();
}

TEST_F(EmulatorTest, SilentAnswersNothingButStillActs) {
  auto o = options(false, true, true);
  o.timeScale = 200;
  startWith(o);
  emu->setSilent(true);
  writeAll(fd, "C\rS\rQ\rH\rM200\r");
  ASSERT_TRUE(emu->waitForCommands(5, kPatience));
  EXPECT_EQ(readUntilQuiet(fd), QByteArray());
  ASSERT_TRUE(eventually([&] { return !emu->moving(); }));
  EXPECT_EQ(emu->azimuth(), 200.0);

  emu->setSilent(false);
  EXPECT_EQ(position(), "+0200\r\n");
}

TEST_F(EmulatorTest, GarbageReplacesOnlyDataReplies) {
  startWith(options(false, true, true));
  emu->setGarbage("x\xff?");
  EXPECT_EQ(exchange("C\r", 3), "x\xff?");
  EXPECT_EQ(exchange("C2\r", 3), "x\xff?");
  EXPECT_EQ(exchange("B\r", 3), "x\xff?");
  EXPECT_EQ(exchange("S\r", 1), "\r");
  EXPECT_EQ(exchange("Q\r", 4), "?>\r\n");
  emu->setGarbage({});
  EXPECT_EQ(position(), "+0123\r\n");
}

TEST_F(EmulatorTest, ReplyDelayHoldsEveryAnswerInOrder) {
  startWith(options(false, true, true));
  emu->setReplyDelay(300ms);
  writeAll(fd, "C\rS\r");
  // The commands are taken as they come; only the answers wait, each counted
  // from its own command.
  ASSERT_TRUE(emu->waitForCommands(2, kPatience));
  EXPECT_EQ(readBytes(fd, 8), "+0123\r\n\r");
  EXPECT_GE(Clock::now() - emu->commands().at(1).at, 300ms);

  emu->setReplyDelay(0ms);
  EXPECT_EQ(position(), "+0123\r\n");
}

TEST_F(EmulatorTest, SendRawGoesOutAtOnceWhateverTheSwitches) {
  startWith(options(false, true, true));
  emu->setSilent(true);
  emu->setReplyDelay(10s);
  emu->sendRaw("hello\r\n");
  EXPECT_EQ(readBytes(fd, 7, 2s), "hello\r\n");
}

TEST_F(EmulatorTest, DeviceCanBeClosedAndReopened) {
  startWith(options(false, true, true));
  EXPECT_EQ(position(), "+0123\r\n");
  ::close(fd);
  // Closed for a while, as a program leaves it between sessions; output made
  // meanwhile waits on the line.
  std::this_thread::sleep_for(200ms);
  emu->sendRaw("late");
  fd = openDevice(emu->devicePath());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(readBytes(fd, 4), "late");
  EXPECT_EQ(position(), "+0123\r\n");
}

TEST_F(EmulatorTest, HangUpMakesTheDeviceFail) {
  startWith(options(false, true, true));
  EXPECT_EQ(position(), "+0123\r\n");
  emu->hangUp();

  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
  char c;
  const ssize_t r = ::read(fd, &c, 1);
  EXPECT_TRUE(r == 0 || (r < 0 && errno == EIO)) << r << " " << std::strerror(errno);
  EXPECT_EQ(::write(fd, "C\r", 2), -1);
  EXPECT_EQ(errno, EIO);

  // Nothing is served any more, and the emulator is still safe to use.
  emu->sendRaw("x");
  EXPECT_EQ(emu->commands().size(), 1u);
  emu->hangUp();
  emu->stop();
}

TEST(Gs232EmuProgram, ServesTheDeviceThroughItsLinkUntilTerminated) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString link = dir.filePath("rotator");
  QProcess emu;
  emu.start(QStringLiteral(GS232EMU_PATH),
            {"--link", link, "--style", "B", "--line-end", "cr", "--azimuth", "77"});
  ASSERT_TRUE(emu.waitForStarted());
  ASSERT_TRUE(emu.waitForReadyRead(20000)) << emu.readAllStandardError().constData();
  const QString device = QString::fromLocal8Bit(emu.readLine()).trimmed();
  EXPECT_TRUE(device.startsWith("/dev/"));
  EXPECT_EQ(QFileInfo(link).symLinkTarget(), device);

  const int fd = openDevice(link);
  ASSERT_GE(fd, 0);
  writeAll(fd, "C\rs\r");
  EXPECT_EQ(readBytes(fd, 8), "AZ=077\r\r");
  ::close(fd);

  emu.terminate(); // SIGTERM
  ASSERT_TRUE(emu.waitForFinished(20000));
  EXPECT_EQ(emu.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(emu.exitCode(), 0);
  EXPECT_FALSE(QFileInfo::exists(link) || QFileInfo(link).isSymLink());
}
