// The program run without a window ("orbalt --headless"): the built program
// started as a child process with no display of any kind, a rotator on an
// emulated controller, Hamlib's rotctl steering it over the network, and the
// closing sequence run by SIGTERM or SIGINT (and its save failing); the
// automation interface on a private session bus; one instance among window
// and headless starts; and the messages that would be boxes written to
// standard error.

#include "remote/AutomationBusSupport.h"
#include "remote/RotctldTestSupport.h"
#include "tools/Gs232Emulator.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using automation_test::RunClient;
using automation_test::TPrivateBus;
using automation_test::TRun;
using rotctld_test::Received;

// Generous: the machine may be slow and loaded.
constexpr int WaitMs = 20000;

bool WaitFor(const std::function<bool()> &Condition, int TimeoutMs = WaitMs) {
  return QTest::qWaitFor(Condition, TimeoutMs);
}

using TKeys = std::vector<std::pair<QString, QString>>;

// The "Type" attribute the program writes for a rotator key.
int KeyType(const QString &Key) {
  static const QStringList Booleans = {QStringLiteral("Enable"), QStringLiteral("AutoActive"),
                                       QStringLiteral("ReturnHome")};
  static const QStringList Integers = {QStringLiteral("CenterPosition"),
                                       QStringLiteral("AzimuthAngle"), QStringLiteral("Home"),
                                       QStringLiteral("Offset"), QStringLiteral("RelaysCount")};
  return Booleans.contains(Key) ? 2 : Integers.contains(Key) ? 9 : 10;
}

// The keys of one section of a settings document, such as {"Rotators",
// "Rotator_0"}: each child element's name and text. Empty when the document
// or the section is missing.
std::map<QString, QString> SectionKeys(const QString &Path, const QStringList &Section) {
  std::map<QString, QString> Keys;
  QFile File(Path);
  if (!File.open(QIODevice::ReadOnly))
    return Keys;
  QXmlStreamReader Xml(&File);
  QStringList Open; // the elements open below the root element
  int Depth = 0;
  while (!Xml.atEnd()) {
    Xml.readNext();
    if (Xml.isStartElement()) {
      if (Depth > 0 && Open == Section) {
        Keys[Xml.name().toString()] = Xml.readElementText();
        continue;
      }
      if (Depth++ > 0)
        Open << Xml.name().toString();
    } else if (Xml.isEndElement()) {
      if (--Depth > 0)
        Open.removeLast();
    }
  }
  return Keys;
}

// A port on 127.0.0.1 that nothing listened on a moment ago.
quint16 FreePort() {
  QTcpServer Probe;
  if (!Probe.listen(QHostAddress(QHostAddress::LocalHost), 0))
    return 0;
  const quint16 Port = Probe.serverPort();
  Probe.close();
  return Port;
}

bool Accepting(quint16 Port) {
  QTcpSocket Socket;
  Socket.connectToHost(QHostAddress(QHostAddress::LocalHost), Port);
  const bool Connected = Socket.waitForConnected(1000);
  Socket.abort();
  return Connected;
}

QString RotctlPath() { return QStandardPaths::findExecutable(QStringLiteral("rotctl")); }

// Hamlib's client for the network rotator (model 2) against 127.0.0.1:Port.
// Its own reply timeout is raised from 2 s: a command list of the rotator may
// wait before the server answers, and the machine may be loaded.
TRun Rotctl(quint16 Port, const QStringList &Commands) {
  return RunClient(RotctlPath(),
                   QStringList{QStringLiteral("-m"), QStringLiteral("2"), QStringLiteral("-r"),
                               QStringLiteral("127.0.0.1:%1").arg(Port), QStringLiteral("-C"),
                               QStringLiteral("timeout=10000")} +
                       Commands,
                   QProcessEnvironment::systemEnvironment());
}

// The built program as a child process; whatever still runs at the end of a
// test is killed.
class TProgram {
public:
  ~TProgram() {
    if (Process.state() != QProcess::NotRunning) {
      Process.kill();
      Process.waitForFinished();
    }
  }

  // InChild runs in the child before the program starts, after the rest of
  // its setting up.
  void Start(const QStringList &Arguments, const QProcessEnvironment &Env,
             const std::function<void()> &InChild = {}) {
    Process.setProcessEnvironment(Env);
    // Started as a service manager starts its programs: default signal
    // dispositions and nothing blocked. A shell that ran the tests in the
    // background may have left SIGINT ignored, which the program inherits.
    Process.setChildProcessModifier([InChild] {
      ::signal(SIGINT, SIG_DFL);
      ::signal(SIGTERM, SIG_DFL);
      sigset_t None;
      ::sigemptyset(&None);
      ::sigprocmask(SIG_SETMASK, &None, nullptr);
      if (InChild)
        InChild();
    });
    Process.start(QStringLiteral(ORBALT_TEST_PROGRAM), Arguments);
    Process.waitForStarted(WaitMs);
  }

  bool Running() const { return Process.state() == QProcess::Running; }

  // Waits until Port accepts connections, or the program has ended.
  bool WaitServing(quint16 Port) {
    return WaitFor([&] { return !Running() || Accepting(Port); }) && Running();
  }

  void Signal(int Number) { ::kill(static_cast<pid_t>(Process.processId()), Number); }

  // Waits for the end; true when it ended by itself (no crash, no signal
  // left unhandled).
  bool EndsByItself() {
    if (Process.state() != QProcess::NotRunning && !Process.waitForFinished(WaitMs))
      return false;
    return Process.exitStatus() == QProcess::NormalExit;
  }

  // The same, with exit code 0.
  bool EndsWithZero() { return EndsByItself() && Process.exitCode() == 0; }

  // Everything written to standard error so far.
  QString Errors() {
    FErrors += QString::fromUtf8(Process.readAllStandardError());
    return FErrors;
  }

  // Everything written to standard output so far.
  QString Output() {
    FOutput += QString::fromUtf8(Process.readAllStandardOutput());
    return FOutput;
  }

  QProcess Process;

private:
  QString FErrors;
  QString FOutput;
};

class HeadlessTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    // A runtime folder of its own keeps the single-instance lock away from an
    // instance the developer runs; Qt takes it only when private to the user.
    ASSERT_TRUE(QDir(Dir.path()).mkpath(QStringLiteral("run")));
    ASSERT_TRUE(QFile::setPermissions(RunFolder(), QFileDevice::ReadOwner |
                                                       QFileDevice::WriteOwner |
                                                       QFileDevice::ExeOwner));
  }

  QString SettingsPath() const { return Dir.filePath(QStringLiteral("orbalt.xml")); }
  QString RunFolder() const { return Dir.filePath(QStringLiteral("run")); }
  QString LockPath() const { return QDir(RunFolder()).filePath(QStringLiteral("MutexOrbalt")); }

  // A settings document with one rotator, "Rotator_0", with the keys given,
  // after the sections of Sections (their XML text).
  void WriteSettings(const TKeys &Keys, const QString &Sections = {}) {
    WriteRotators({Keys}, Sections);
  }

  // The same with a rotator "Rotator_<i>" for each entry of Rotators.
  void WriteRotators(const std::vector<TKeys> &Rotators, const QString &Sections = {}) {
    QString Text = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>\n") +
                   Sections + QStringLiteral("<Rotators>\n");
    for (size_t I = 0; I < Rotators.size(); ++I) {
      Text += QStringLiteral("<Rotator_%1>").arg(I);
      for (const auto &[Key, Value] : Rotators[I])
        Text += QStringLiteral("<%1 Type=\"%2\">%3</%1>")
                    .arg(Key, QString::number(KeyType(Key)), Value.toHtmlEscaped());
      Text += QStringLiteral("</Rotator_%1>\n").arg(I);
    }
    Text += QStringLiteral("</Rotators>\n</root>\n");
    QFile File(SettingsPath());
    ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
    File.write(Text.toUtf8());
  }

  // One rotator "Tower" on Port that opens at start and goes home to 90° on
  // close, with CommandB run before each movement (a marker of the homing).
  void WriteHomingTower(const QString &Port, const QString &CommandB,
                        const QString &Sections = {}) {
    WriteSettings({{QStringLiteral("Title"), QStringLiteral("Tower")},
                   {QStringLiteral("Enable"), QStringLiteral("-1")},
                   {QStringLiteral("AutoActive"), QStringLiteral("-1")},
                   {QStringLiteral("ReturnHome"), QStringLiteral("-1")},
                   {QStringLiteral("Home"), QStringLiteral("90")},
                   {QStringLiteral("CommandB"), CommandB},
                   {QStringLiteral("Port"), Port}},
                  Sections);
  }

  std::map<QString, QString> SavedRotator() const {
    return SectionKeys(SettingsPath(), {QStringLiteral("Rotators"), QStringLiteral("Rotator_0")});
  }

  // No display of any kind: the platform named does not exist, so a program
  // that wanted one would end at once with an error. No session bus either
  // (the address leads nowhere), and the lock in the test's own folders.
  QProcessEnvironment Environment() const {
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.remove(QStringLiteral("DISPLAY"));
    Env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
    Env.remove(QStringLiteral("ORBALT_SETTINGS"));
    Env.insert(QStringLiteral("XDG_RUNTIME_DIR"), RunFolder());
    Env.insert(QStringLiteral("TMPDIR"), Dir.path());
    Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + Dir.filePath(QStringLiteral("no-bus")));
    return Env;
  }

  // Starts the program without a window, serving rotctld on a free port,
  // and waits until it serves; the port, or 0 when it does not.
  quint16 StartServing(TProgram &Program, const QStringList &Extra = {}) const {
    const quint16 Port = FreePort();
    if (Port == 0)
      return 0;
    Program.Start(Headless(Port) + Extra, Environment());
    return Program.WaitServing(Port) ? Port : 0;
  }

  QStringList Headless(quint16 Port) const {
    return {QStringLiteral("--headless"), QStringLiteral("--settings"), SettingsPath(),
            QStringLiteral("--rotctld"), QString::number(Port)};
  }

  // Starts the program with its window (offscreen) on Bus's session, serving
  // rotctld on a free port; the port, or 0 when it does not serve. Without
  // WaitServing it does not wait for the port.
  quint16 StartWithWindow(TProgram &Program, const TPrivateBus &Bus, const QStringList &Extra = {},
                          bool WaitServing = true) const {
    QProcessEnvironment Env = Environment();
    Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Bus.Address);
    const quint16 Port = FreePort();
    if (Port == 0)
      return 0;
    QStringList Arguments = Headless(Port);
    Arguments.removeAll(QStringLiteral("--headless"));
    Program.Start(Arguments + Extra, Env);
    return !WaitServing || Program.WaitServing(Port) ? Port : 0;
  }

  // An operation of the automation object called through gdbus: its answer,
  // or "error: " and gdbus's message.
  static QString CallAutomation(const TPrivateBus &Bus, const QString &Method,
                                const QStringList &Args = {}) {
    const TRun Run = RunClient(QStringLiteral("gdbus"),
                               QStringList{"call", "--session", "--dest", "Orbalt.Orbalt",
                                           "--object-path", "/Orbalt", "--method",
                                           QStringLiteral("Orbalt.IOrbalt.") + Method} +
                                   Args,
                               Bus.ClientEnvironment());
    return Run.Code == 0 ? Run.Out : QStringLiteral("error: ") + Run.Err;
  }

  // Rotator 0's title from the automation object, once it answers (or the
  // program has ended).
  static QString FirstTitle(const TPrivateBus &Bus, const TProgram &Program) {
    QString Title;
    WaitFor([&] {
      Title = CallAutomation(Bus, QStringLiteral("GetRotatorTitle"), {QStringLiteral("0")});
      return !Title.startsWith(QStringLiteral("error: ")) || !Program.Running();
    });
    return Title;
  }

  QTemporaryDir Dir;
};

// --- Serving and closing ---------------------------------------------------------

struct TSignalCase {
  int Number;
  const char *Name;
};

void PrintTo(const TSignalCase &Case, std::ostream *Out) { *Out << Case.Name; }

class HeadlessCloseTest : public HeadlessTest,
                          public ::testing::WithParamInterface<TSignalCase> {};

// The operator's client turns the rotator over the network; the signal then
// sends it home, closes it and writes the settings document, and the program
// ends with 0. The homing is seen through the rotator's before-movement list:
// the relay item "Y11" goes out ahead of every movement and the list waits a
// second after it. The close purges the port right after the home command,
// and on a pseudo-terminal that drops what the emulator has not read yet, so
// "M090" and the close's bare CR may be lost; the relay item of the homing,
// sent a second earlier, is not.
TEST_P(HeadlessCloseTest, RotctlTurnsItAndTheSignalSendsItHomeClosesAndSaves) {
  ASSERT_FALSE(RotctlPath().isEmpty())
      << "rotctl not found: install libhamlib-utils (scripts/deps.sh)";
  Gs232Emulator::Options Options;
  Options.timeScale = 10;
  Gs232Emulator Emulator(Options);
  ASSERT_TRUE(Emulator.start());
  WriteHomingTower(Emulator.devicePath(), QStringLiteral("Y11 WAIT1000"));
  TProgram Program;
  const quint16 Port = StartServing(Program);
  ASSERT_NE(Port, 0) << Program.Errors().toStdString();

  const TRun Move = Rotctl(Port, {QStringLiteral("P"), QStringLiteral("135"), QStringLiteral("0")});
  EXPECT_EQ(Move.Code, 0) << Move.Err.toStdString();
  ASSERT_TRUE(WaitFor([&] { return Received(Emulator).contains(QStringLiteral("M135")); }))
      << Received(Emulator).join('|').toStdString();
  EXPECT_TRUE(WaitFor([&] { return std::abs(Emulator.azimuth() - 135) < 1; }))
      << Emulator.azimuth();
  // The station polls the controller: the position comes back to the client.
  QString Position;
  EXPECT_TRUE(WaitFor([&] {
    Position = Rotctl(Port, {QStringLiteral("p")}).Out;
    return std::abs(Position.section(u'\n', 0, 0).toDouble() - 135) <= 1;
  })) << Position.toStdString();

  // The keys the test did not write come from the closing's save.
  ASSERT_EQ(SavedRotator().count(QStringLiteral("RelaysCount")), 0u)
      << "the start already wrote the whole rotator entry: the closing's save cannot be told";

  Program.Signal(GetParam().Number);
  EXPECT_TRUE(Program.EndsWithZero())
      << Program.Process.exitStatus() << " " << Program.Process.exitCode() << " "
      << Program.Errors().toStdString();

  const QStringList Log = Received(Emulator);
  const QStringList AfterMove = Log.mid(Log.lastIndexOf(QStringLiteral("M135")) + 1);
  const qsizetype Homing = AfterMove.indexOf(QStringLiteral("Y11"));
  ASSERT_GE(Homing, 0) << "no movement when the program ended: " << Log.join('|').toStdString();
  const QStringList Closing = AfterMove.mid(Homing);
  const QStringList Expected{QStringLiteral("Y11"), QStringLiteral("M090"), QString()};
  EXPECT_EQ(Closing, Expected.mid(0, Closing.size())) << Log.join('|').toStdString();

  // The whole entry written back, the values read at start kept, and the
  // network section that the switch remembered left in place.
  const std::map<QString, QString> Saved = SavedRotator();
  EXPECT_EQ(Saved.count(QStringLiteral("RelaysCount")), 1u);
  const std::pair<const char *, QString> Kept[] = {
      {"Title", QStringLiteral("Tower")},    {"Enable", QStringLiteral("-1")},
      {"AutoActive", QStringLiteral("-1")},  {"ReturnHome", QStringLiteral("-1")},
      {"Home", QStringLiteral("90")},        {"Port", Emulator.devicePath()}};
  for (const auto &[Key, Value] : Kept) {
    const auto Found = Saved.find(QLatin1String(Key));
    ASSERT_NE(Found, Saved.end()) << Key;
    EXPECT_EQ(Found->second, Value) << Key;
  }
  const std::map<QString, QString> Network =
      SectionKeys(SettingsPath(), {QStringLiteral("Network")});
  const auto SavedPort = Network.find(QStringLiteral("RotctldPort"));
  ASSERT_NE(SavedPort, Network.end());
  EXPECT_EQ(SavedPort->second, QString::number(Port));
  Emulator.stop();
}

INSTANTIATE_TEST_SUITE_P(Signals, HeadlessCloseTest,
                         ::testing::Values(TSignalCase{SIGTERM, "SIGTERM"},
                                           TSignalCase{SIGINT, "SIGINT"}),
                         [](const ::testing::TestParamInfo<TSignalCase> &Info) {
                           return std::string(Info.param.Name);
                         });

// A closing save that can't write the document leaves it as it was, says
// so on standard error and ends the program with a non-zero exit code. The
// write fails part-way through: from the signal on, the program may make no
// file larger than 256 bytes (SIGXFSZ ignored, so that the write fails
// instead of ending the program), and the closing save writes the whole
// rotator entry.
TEST_F(HeadlessTest, AClosingSaveThatFailsKeepsTheDocumentAndEndsWithAnError) {
  WriteSettings({{QStringLiteral("Title"), QStringLiteral("Tower")},
                 {QStringLiteral("Enable"), QStringLiteral("0")},
                 {QStringLiteral("Port"), Dir.filePath(QStringLiteral("no-device"))}});
  const quint16 Port = FreePort();
  ASSERT_NE(Port, 0);
  TProgram Program;
  Program.Start(Headless(Port), Environment(), [] { ::signal(SIGXFSZ, SIG_IGN); });
  ASSERT_TRUE(Program.WaitServing(Port)) << Program.Errors().toStdString();

  // The document as the start left it (the switch remembered the port).
  auto DocumentBytes = [this] {
    QFile File(SettingsPath());
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
  };
  const QByteArray Before = DocumentBytes();
  ASSERT_FALSE(Before.isEmpty());
  const auto Pid = static_cast<pid_t>(Program.Process.processId());
  rlimit Limit{};
  ASSERT_EQ(::prlimit(Pid, RLIMIT_FSIZE, nullptr, &Limit), 0) << std::strerror(errno);
  Limit.rlim_cur = 256;
  ASSERT_EQ(::prlimit(Pid, RLIMIT_FSIZE, &Limit, nullptr), 0) << std::strerror(errno);

  Program.Signal(SIGTERM);
  ASSERT_TRUE(Program.EndsByItself()) << Program.Errors().toStdString();
  EXPECT_NE(Program.Process.exitCode(), 0) << Program.Errors().toStdString();
  const QString Told = QStringLiteral("Cannot write the settings file \"%1\"")
                           .arg(QDir::toNativeSeparators(SettingsPath()));
  EXPECT_TRUE(Program.Errors().contains(Told)) << Program.Errors().toStdString();
  EXPECT_EQ(DocumentBytes(), Before);
  EXPECT_EQ(
      QDir(Dir.path())
          .entryList({QStringLiteral("orbalt.xml*")}, QDir::Files | QDir::Hidden | QDir::System),
      QStringList{QStringLiteral("orbalt.xml")});
}

// --- Automation, lock and messages ---------------------------------------------------

TEST_F(HeadlessTest, ServesTheAutomationInterfaceWithTheDocumentNamedByTheEnvironment) {
  TPrivateBus Bus;
  ASSERT_TRUE(Bus.Start()) << "dbus-daemon could not be started";
  WriteSettings({{QStringLiteral("Title"), QStringLiteral("Tower")},
                 {QStringLiteral("Enable"), QStringLiteral("0")},
                 {QStringLiteral("Port"), Dir.filePath(QStringLiteral("no-device"))}});
  QProcessEnvironment Env = Environment();
  Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Bus.Address);
  Env.insert(QStringLiteral("ORBALT_SETTINGS"), SettingsPath());
  TProgram Program;
  Program.Start({QStringLiteral("--headless")}, Env);

  EXPECT_EQ(FirstTitle(Bus, Program), QStringLiteral("('Tower',)"))
      << Program.Errors().toStdString();

  Program.Signal(SIGTERM);
  EXPECT_TRUE(Program.EndsWithZero()) << Program.Errors().toStdString();
}

// Window and headless starts share one lock: whichever runs first, a second
// start of either kind ends at once with 0 and the first runs on.
TEST_F(HeadlessTest, OneInstanceWhateverTheKindOfStart) {
  WriteSettings({{QStringLiteral("Title"), QStringLiteral("Tower")},
                 {QStringLiteral("Enable"), QStringLiteral("0")},
                 {QStringLiteral("Port"), Dir.filePath(QStringLiteral("no-device"))}});
  const QStringList Headless{QStringLiteral("--headless"), QStringLiteral("--settings"),
                             SettingsPath()};
  const QStringList Window{QStringLiteral("--settings"), SettingsPath()};
  QProcessEnvironment WindowEnv = Environment();
  WindowEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  const struct {
    const char *Name;
    QStringList First;
    QProcessEnvironment FirstEnv;
    QStringList Second;
    QProcessEnvironment SecondEnv;
  } Cases[] = {
      {"headless, then window", Headless, Environment(), Window, WindowEnv},
      {"headless, then headless", Headless, Environment(), Headless, Environment()},
      {"window, then headless", Window, WindowEnv, Headless, Environment()},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    TProgram First;
    First.Start(C.First, C.FirstEnv);
    ASSERT_TRUE(WaitFor([&] {
      QFile Lock(LockPath());
      return !First.Running() ||
             (Lock.open(QIODevice::ReadOnly) &&
              Lock.readLine().trimmed().toLongLong() == First.Process.processId());
    }) && First.Running())
        << First.Errors().toStdString();

    TProgram Second;
    Second.Start(C.Second, C.SecondEnv);
    EXPECT_TRUE(Second.EndsWithZero()) << Second.Errors().toStdString();
    // Without a session bus the first can't be asked to show itself.
    EXPECT_EQ(QString::fromUtf8(Second.Process.readAllStandardOutput()),
              QStringLiteral("Orbalt already runs.\n"));
    EXPECT_TRUE(First.Running());
  }
}

// Over the session bus, a second start asks the running instance to bring
// its window to the front, and says on standard output what came of it.
TEST_F(HeadlessTest, ASecondStartBringsTheRunningWindowToTheFrontAndSaysSo) {
  TPrivateBus Bus;
  ASSERT_TRUE(Bus.Start()) << "dbus-daemon could not be started";
  WriteSettings({{QStringLiteral("Title"), QStringLiteral("Tower")},
                 {QStringLiteral("Enable"), QStringLiteral("0")},
                 {QStringLiteral("Port"), Dir.filePath(QStringLiteral("no-device"))}});
  QProcessEnvironment Headless = Environment();
  Headless.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Bus.Address);
  QProcessEnvironment Window = Headless;
  Window.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  const QStringList Settings{QStringLiteral("--settings"), SettingsPath()};
  const struct {
    const char *Name;
    QStringList Arguments;
    QProcessEnvironment Env;
    QString Said;
    QString Answer; // of the interface called directly
  } Cases[] = {
      {"window", Settings, Window,
       QStringLiteral("Orbalt already runs: its window is brought to the front.\n"),
       QStringLiteral("(true,)")},
      {"headless", QStringList{QStringLiteral("--headless")} + Settings, Headless,
       QStringLiteral("Orbalt already runs, without a window.\n"), QStringLiteral("(false,)")},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    TProgram First;
    First.Start(C.Arguments, C.Env);
    ASSERT_EQ(FirstTitle(Bus, First), QStringLiteral("('Tower',)")) << First.Errors().toStdString();

    TProgram Second;
    Second.Start(C.Arguments, C.Env);
    EXPECT_TRUE(Second.EndsWithZero()) << Second.Errors().toStdString();
    EXPECT_EQ(QString::fromUtf8(Second.Process.readAllStandardOutput()), C.Said);
    EXPECT_TRUE(First.Running());

    const TRun Run = RunClient(
        QStringLiteral("gdbus"),
        {"call", "--session", "--dest", "Orbalt.Orbalt", "--object-path", "/Orbalt", "--method",
         "Orbalt.IProgram.Activate", "''"},
        Bus.ClientEnvironment());
    EXPECT_EQ(Run.Out, C.Answer) << Run.Err.toStdString();
    First.Signal(SIGTERM);
    EXPECT_TRUE(First.EndsWithZero()) << First.Errors().toStdString();
  }
}

// A message that would be a box is one line on standard error, and the
// program goes on without waiting for anybody: a key that does not convert
// is reported once, and the station still comes up and closes normally.
TEST_F(HeadlessTest, AMessageThatWouldBeABoxIsALineOnStandardError) {
  WriteSettings({{QStringLiteral("Title"), QStringLiteral("Tower")},
                 {QStringLiteral("Enable"), QStringLiteral("maybe")},
                 {QStringLiteral("Port"), Dir.filePath(QStringLiteral("no-device"))}});
  TProgram Program;
  const quint16 Port = StartServing(Program);
  ASSERT_NE(Port, 0) << Program.Errors().toStdString();
  Program.Signal(SIGTERM);
  EXPECT_TRUE(Program.EndsWithZero()) << Program.Errors().toStdString();

  const QString Errors = Program.Errors();
  const QString Start = QStringLiteral("Some settings in \"%1\" could not be read")
                            .arg(QDir::toNativeSeparators(SettingsPath()));
  QStringList Reports;
  for (const QString &Line : Errors.split(u'\n'))
    if (Line.startsWith(QStringLiteral("Some settings in")))
      Reports << Line;
  ASSERT_EQ(Reports.size(), 1) << Errors.toStdString();
  EXPECT_TRUE(Reports.first().startsWith(Start)) << Errors.toStdString();
  EXPECT_TRUE(Errors.mid(Errors.indexOf(Start)).contains(QStringLiteral("\"Enable\"")))
      << Errors.toStdString();
}

} // namespace

namespace {

// Without a window, a controller that stops answering and answers again is
// told on standard error, and the program closes normally meanwhile.
// Nobody is there to press Open: every enabled rotator opens, marked to
// open at start or not, and one line per rotator on standard output says how
// each stands. Hamlib's rotctl reads the position of the rotator that was
// not marked; a client of the rotator whose port is missing is told why on
// the error line, and rotctl still reads the error code from it.
TEST_F(HeadlessTest, OpensEveryEnabledRotatorAndSaysHowEachStands) {
  ASSERT_FALSE(RotctlPath().isEmpty())
      << "rotctl not found: install libhamlib-utils (scripts/deps.sh)";
  Gs232Emulator::Options Options;
  Options.azimuth = 120;
  Gs232Emulator Emulator(Options);
  ASSERT_TRUE(Emulator.start());
  const QString Missing = Dir.filePath(QStringLiteral("no-device"));
  auto Rotator = [](const char *Title, const char *Enable, const QString &Device) {
    return TKeys{{QStringLiteral("Title"), QLatin1String(Title)},
                 {QStringLiteral("Model"), QStringLiteral("GS-232B")},
                 {QStringLiteral("Enable"), QLatin1String(Enable)},
                 {QStringLiteral("AutoActive"), QStringLiteral("0")},
                 {QStringLiteral("Port"), Device}};
  };
  WriteRotators({Rotator("Tower", "-1", Emulator.devicePath()), Rotator("Mast", "-1", Missing),
                 Rotator("Spare", "0", Missing)});
  TProgram Program;
  const quint16 Port = StartServing(Program);
  ASSERT_NE(Port, 0) << Program.Errors().toStdString();

  QStringList Lines;
  ASSERT_TRUE(WaitFor([&] {
    Lines = Program.Output().split(u'\n', Qt::SkipEmptyParts);
    return Lines.size() >= 3;
  })) << Program.Output().toStdString();
  ASSERT_EQ(Lines.size(), 3) << Program.Output().toStdString();
  const struct {
    const char *Start; // the line up to its state
    const char *State; // the state, or how its reason begins
  } Expected[] = {
      {"Tower (GS-232B) on %1: ", "open"},
      {"Mast (GS-232B) on %1: ", "not open: "},
      {"Spare (GS-232B) on %1: ", "not enabled"},
  };
  const QString Devices[] = {Emulator.devicePath(), Missing, Missing};
  QString MastProblem;
  for (int I = 0; I < 3; ++I) {
    const QString Head = QString::fromLatin1(Expected[I].Start).arg(Devices[I]);
    ASSERT_TRUE(Lines[I].startsWith(Head)) << Lines[I].toStdString();
    const QString State = Lines[I].mid(Head.size());
    if (QLatin1String(Expected[I].State).endsWith(u' ')) {
      EXPECT_TRUE(State.startsWith(QLatin1String(Expected[I].State))) << State.toStdString();
      MastProblem = State.mid(qsizetype(std::strlen(Expected[I].State)));
      EXPECT_FALSE(MastProblem.trimmed().isEmpty());
    } else {
      EXPECT_EQ(State, QLatin1String(Expected[I].State));
    }
  }

  // The rotator not marked to open at start answers its position.
  QString Position;
  EXPECT_TRUE(WaitFor([&] {
    const TRun Read = Rotctl(Port, {QStringLiteral("p")});
    Position = Read.Out + Read.Err;
    return Read.Code == 0 && std::abs(Read.Out.section(u'\n', 0, 0).toDouble() - 120) <= 1;
  })) << Position.toStdString();

  // The missing port's rotator: the reason on the error line, which rotctl
  // takes as the rejection it is.
  const quint16 MastPort = Port + 2;
  QTcpSocket Raw;
  Raw.connectToHost(QHostAddress(QHostAddress::LocalHost), MastPort);
  ASSERT_TRUE(Raw.waitForConnected(WaitMs));
  Raw.write("p\n");
  ASSERT_TRUE(WaitFor([&] { return Raw.canReadLine(); }));
  const QString Refusal = QString::fromUtf8(Raw.readLine()).trimmed();
  const QString Reason = QStringLiteral("RPRT -9 Mast is not open: ") + MastProblem;
  EXPECT_TRUE(Refusal.size() > 26 && Reason.startsWith(Refusal)) << Refusal.toStdString();
  Raw.abort();
  const TRun Refused = Rotctl(MastPort, {QStringLiteral("p")});
  EXPECT_NE(Refused.Code, 0);
  EXPECT_TRUE((Refused.Out + Refused.Err).contains(QStringLiteral("Command rejected")))
      << Refused.Out.toStdString() << Refused.Err.toStdString();

  Program.Signal(SIGTERM);
  EXPECT_TRUE(Program.EndsWithZero()) << Program.Errors().toStdString();
  Emulator.stop();
}

TEST_F(HeadlessTest, AControllerThatStopsAnsweringIsALineOnStandardError) {
  Gs232Emulator Emulator;
  ASSERT_TRUE(Emulator.start());
  WriteSettings({{QStringLiteral("Title"), QStringLiteral("Tower")},
                 {QStringLiteral("Enable"), QStringLiteral("-1")},
                 {QStringLiteral("AutoActive"), QStringLiteral("-1")},
                 {QStringLiteral("Port"), Emulator.devicePath()}});
  TProgram Program;
  const quint16 Port = StartServing(Program);
  ASSERT_NE(Port, 0) << Program.Errors().toStdString();

  Emulator.setSilent(true);
  auto Told = [&](const char *Line) {
    return WaitFor([&] { return Program.Errors().contains(QLatin1String(Line)); });
  };
  EXPECT_TRUE(Told("Tower not responding")) << Program.Errors().toStdString();
  Emulator.setSilent(false);
  EXPECT_TRUE(Told("Tower responds again")) << Program.Errors().toStdString();
  Program.Signal(SIGTERM);
  EXPECT_TRUE(Program.EndsWithZero()) << Program.Errors().toStdString();
  Emulator.stop();
}

} // namespace

namespace {

// A window start serves the automation object and rotctld while a start-up
// box waits for the operator (here a key of the document that does not
// convert): a logger that started the program does not time out.
TEST_F(HeadlessTest, WindowStartServesClientsWhileAStartupBoxIsOpen) {
  TPrivateBus Bus;
  ASSERT_TRUE(Bus.Start()) << "dbus-daemon could not be started";
  WriteSettings({{QStringLiteral("Title"), QStringLiteral("Tower")},
                 {QStringLiteral("Enable"), QStringLiteral("maybe")},
                 {QStringLiteral("Port"), Dir.filePath(QStringLiteral("no-device"))}});
  TProgram Program;
  ASSERT_NE(StartWithWindow(Program, Bus), 0) << Program.Errors().toStdString();
  EXPECT_EQ(FirstTitle(Bus, Program), QStringLiteral("('Tower',)"))
      << Program.Errors().toStdString();
  EXPECT_TRUE(Program.Running()) << "the box waits for the operator";
}

// The start-up's boxes that come from the loading (a window position that
// does not convert, a control table file that can't be read) show once the
// station is loaded: a client served behind the box sees the whole station,
// and a rotator it opens and moves gets its command.
TEST_F(HeadlessTest, AClientBehindAStartupBoxSeesTheWholeStation) {
  TPrivateBus Bus;
  ASSERT_TRUE(Bus.Start()) << "dbus-daemon could not be started";
  const QString TableOn = QStringLiteral("<CtrlTable><Enable Type=\"2\">-1</Enable></CtrlTable>\n");
  const struct {
    const char *Name;
    QString Sections;
    QByteArray Table; // the control table file's content; none when empty
  } Cases[] = {
      {"window position", TableOn + "<Main><Left Type=\"9\">left</Left></Main>\n", {}},
      {"control table", TableOn, "<Table><Row>not a control table"},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Gs232Emulator Emulator;
    ASSERT_TRUE(Emulator.start());
    WriteSettings({{QStringLiteral("Title"), QStringLiteral("Tower")},
                   {QStringLiteral("Enable"), QStringLiteral("-1")},
                   {QStringLiteral("Port"), Emulator.devicePath()}},
                  C.Sections);
    QFile Table(Dir.filePath(QStringLiteral("CtrlTable.xml")));
    Table.remove();
    if (!C.Table.isEmpty()) {
      ASSERT_TRUE(Table.open(QIODevice::WriteOnly));
      Table.write(C.Table);
      Table.close();
    }
    TProgram Program;
    ASSERT_NE(StartWithWindow(Program, Bus), 0) << Program.Errors().toStdString();
    auto Call = [&](const char *Method, const QStringList &Args = {}) {
      return CallAutomation(Bus, QLatin1String(Method), Args);
    };
    QString Count;
    EXPECT_TRUE(WaitFor([&] {
      Count = Call("RotatorCount");
      return !Count.startsWith(QStringLiteral("error")) || !Program.Running();
    }));
    EXPECT_EQ(Count, QStringLiteral("(1,)")) << Program.Errors().toStdString();
    EXPECT_EQ(Call("Open", {"0"}), QStringLiteral("(int16 -1,)"));
    EXPECT_EQ(Call("Move", {"0", "200"}), QStringLiteral("(int16 -1,)"));
    EXPECT_TRUE(WaitFor([&] { return Received(Emulator).contains(QStringLiteral("M200")); }))
        << Received(Emulator).join('|').toStdString();
    EXPECT_TRUE(Program.Running()) << "the box waits for the operator";
    Program.Signal(SIGTERM);
    EXPECT_TRUE(Program.EndsWithZero()) << Program.Errors().toStdString();
    Emulator.stop();
  }
}

// An end asked for while a start-up box waits for the operator (here for a
// window position that does not convert, ahead of the opening of a rotator
// that opens at start) closes the box and ends the program: an end signal
// with the closing sequence (the rotator opened only to be sent home, and
// nothing after the home command and the closing CR), the last automation
// client leaving without it (the rotator never opened).
TEST_F(HeadlessTest, AnEndAskedForBehindAStartupBoxEndsTheProgram) {
  TPrivateBus Bus;
  ASSERT_TRUE(Bus.Start()) << "dbus-daemon could not be started";
  const QString BadPosition = QStringLiteral("<Main><Left Type=\"9\">left</Left></Main>\n");
  const struct {
    const char *Name;
    int Signal; // 0: the automation client leaves
  } Cases[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"last automation client", 0}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Gs232Emulator Emulator;
    ASSERT_TRUE(Emulator.start());
    WriteHomingTower(Emulator.devicePath(), QStringLiteral("Y11 WAIT500"), BadPosition);
    TProgram Program;
    // Started for automation, the program's last client has left once the
    // call below is answered: no wait for rotctld, which may be gone by then.
    ASSERT_NE(StartWithWindow(Program, Bus,
                              C.Signal == 0 ? QStringList{QStringLiteral("-Automation")}
                                            : QStringList{},
                              false),
              0);
    // A client is served: the event loop runs behind the box, which holds
    // the start-up ahead of the opening.
    EXPECT_EQ(FirstTitle(Bus, Program), QStringLiteral("('Tower',)"))
        << Program.Errors().toStdString();
    EXPECT_TRUE(Emulator.commands().empty()) << Received(Emulator).join('|').toStdString();
    if (C.Signal != 0)
      Program.Signal(C.Signal);
    EXPECT_TRUE(Program.EndsWithZero()) << Program.Errors().toStdString();

    const QStringList Log = Received(Emulator);
    if (C.Signal == 0) {
      EXPECT_TRUE(Emulator.commands().empty()) << Log.join('|').toStdString();
    } else {
      // Opened for the homing alone: its start-up commands, the homing, the
      // close. The relay item goes out half a second ahead of the home
      // command; that and the CR may be lost to the close's purge (see
      // RotctlTurnsItAndTheSignalSendsItHomeClosesAndSaves).
      const qsizetype Homing = Log.indexOf(QStringLiteral("Y11"));
      ASSERT_GE(Homing, 0) << Log.join('|').toStdString() << " | "
                           << Program.Errors().toStdString();
      EXPECT_EQ(Log.count(QStringLiteral("I0")), 1) << Log.join('|').toStdString();
      const QStringList Closing = Log.mid(Homing);
      const QStringList Expected{QStringLiteral("Y11"), QStringLiteral("M090"), QString()};
      EXPECT_EQ(Closing, Expected.mid(0, Closing.size())) << Log.join('|').toStdString();
    }
    Emulator.stop();
  }
}

} // namespace

namespace {

// The switches that only inform answer without a display and create nothing;
// a switch the program does not know is refused with the usage.
TEST_F(HeadlessTest, HelpVersionAndUnknownSwitchesEndAtOnceAndCreateNothing) {
  struct TCase {
    QStringList Arguments;
    int Code;
    const char *Out;
    const char *Err;
  };
  const TCase Cases[] = {
      {{"--help"}, 0, "--rotctld [PORT|off]", ""},
      {{"-h", "--headless"}, 0, "Usage: orbalt", ""},
      {{"--version"}, 0, "Orbalt ", ""},
      {{"--rotctld", "4600", "-Automation", "-platform", "offscreen", "--version"}, 0, "Orbalt ",
       ""},
      {{"--no-such-switch"}, 2, "", "Unknown option 'no-such-switch'"},
      {{"--headless", "stray"}, 2, "", "Unknown argument 'stray'"},
  };
  for (const TCase &C : Cases) {
    SCOPED_TRACE(C.Arguments.join(' ').toStdString());
    QStringList Arguments = C.Arguments;
    Arguments << QStringLiteral("--settings") << SettingsPath();
    TProgram Program;
    Program.Start(Arguments, Environment());
    ASSERT_TRUE(Program.Process.waitForFinished(WaitMs));
    EXPECT_EQ(Program.Process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Program.Process.exitCode(), C.Code);
    const QString Out = QString::fromUtf8(Program.Process.readAllStandardOutput());
    const QString Err = Program.Errors();
    EXPECT_TRUE(Out.contains(QLatin1String(C.Out))) << Out.toStdString();
    EXPECT_TRUE(Err.contains(QLatin1String(C.Err))) << Err.toStdString();
    if (C.Code == 2) {
      EXPECT_TRUE(Err.contains(QStringLiteral("Usage: orbalt"))) << Err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(SettingsPath()));
    EXPECT_FALSE(QFile::exists(LockPath()));
  }
}

} // namespace

namespace {

// With a window, SIGTERM and SIGINT close it as "Exit" does: the rotator is
// sent home and closed, the window position and the rotators are written, and
// the program ends with 0.
TEST_F(HeadlessTest, EndSignalsCloseTheWindowWithTheClosingSequence) {
  for (const int Number : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(Number);
    Gs232Emulator Emulator;
    ASSERT_TRUE(Emulator.start());
    WriteHomingTower(Emulator.devicePath(), QStringLiteral("Y11 WAIT500"));
    QProcessEnvironment Env = Environment();
    Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    TProgram Program;
    Program.Start({QStringLiteral("--settings"), SettingsPath()}, Env);
    ASSERT_TRUE(WaitFor([&] { return Received(Emulator).contains(QStringLiteral("I0")); }))
        << Program.Errors().toStdString();
    ASSERT_TRUE(WaitFor([&] { return Emulator.commands().size() > 5; })); // polling

    Program.Signal(Number);
    EXPECT_TRUE(Program.EndsWithZero()) << Program.Errors().toStdString();
    EXPECT_TRUE(Received(Emulator).contains(QStringLiteral("Y11")))
        << Received(Emulator).join('|').toStdString();
    EXPECT_FALSE(SectionKeys(SettingsPath(), {QStringLiteral("Main")}).empty());
    EXPECT_EQ(SavedRotator().count(QStringLiteral("RelaysCount")), 1u);
    Emulator.stop();
  }
}

} // namespace

namespace {

// The demonstration rotator's travel matches its emulated controller: a
// preset past south (135 to 200) arrives instead of stopping at 180.
TEST_F(HeadlessTest, DemoRotatorReachesAPresetPastSouth) {
  ASSERT_FALSE(RotctlPath().isEmpty()) << "rotctl not found: install libhamlib-utils";
  TProgram Program;
  const quint16 Port = StartServing(Program, {QStringLiteral("--demo")});
  ASSERT_NE(Port, 0) << Program.Errors().toStdString();
  const TRun Move = Rotctl(Port, {QStringLiteral("P"), QStringLiteral("200"), QStringLiteral("0")});
  EXPECT_EQ(Move.Code, 0) << Move.Err.toStdString();
  QString Position;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        Position = Rotctl(Port, {QStringLiteral("p")}).Out;
        return std::abs(Position.section(u'\n', 0, 0).toDouble() - 200) <= 2;
      },
      40000))
      << Position.toStdString() << Program.Errors().toStdString();
  Program.Signal(SIGTERM);
  EXPECT_TRUE(Program.EndsWithZero()) << Program.Errors().toStdString();
}

} // namespace
