// Soak run of the whole program (not a test): the built program without a
// window, four rotators on emulated controllers that it polls, eight rotctld
// clients asking "p" ten times a second (two per rotator), an automation
// client on a private session bus calling GetRotatorAzumuth ten times a
// second, and a random preset (Move) every two seconds. Each rotator's line is
// also flooded by a rotctld client that sends "P" back to back (a window of
// requests ahead of the answers, the next one sent as each answer comes), and
// each rotator's server is kept full by silent connections: eight at the
// start, and every ten seconds new ones for those the server closed. At the end it reports the
// requests sent and answered, the errors, the latency percentiles, the silent
// connections the servers closed, whether every rotator is still open, and the
// program's resident memory after start, after the warm-up and at the end.
//
// A request unanswered after five seconds counts as lost. The exit code is 0
// when nothing was lost or refused, every rotator is still open and memory
// grew less than 1 MB after the warm-up.
//
// Run with: soak_station [--seconds N] [--warmup N]

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int RotatorCount = 4;
constexpr int RotctldClients = 8;
// Silent connections per rotator, and the "P" requests a flooding client
// keeps ahead of its answers.
constexpr int SilentPerRotator = 8;
constexpr int FloodWindow = 16;
constexpr int TickMs = 100;
constexpr int LostAfterMs = 5000;
constexpr int StartWaitMs = 30000;

// Requests of one kind: counts and latencies in microseconds.
struct TTally {
  explicit TTally(const char *N) : Name(N) {}
  const char *Name;
  qint64 Sent = 0;
  qint64 Answered = 0;
  qint64 Errors = 0;
  qint64 Lost = 0;
  std::vector<qint64> LatencyUs;
  std::map<QString, int> ErrorTexts; // each error's text, counted

  void Answer(qint64 Us, bool Ok, const QString &Error = {}) {
    ++Answered;
    if (!Ok) {
      ++Errors;
      ++ErrorTexts[Error];
    }
    LatencyUs.push_back(Us);
  }

  double Percentile(double P) const {
    if (LatencyUs.empty())
      return 0;
    std::vector<qint64> Sorted = LatencyUs;
    const auto At = static_cast<size_t>(P * double(Sorted.size() - 1));
    std::nth_element(Sorted.begin(), Sorted.begin() + At, Sorted.end());
    return double(Sorted[At]) / 1000.0;
  }

  void Print() const {
    std::printf("%-22s sent %7lld  answered %7lld  errors %4lld  lost %4lld  "
                "p50 %7.2f ms  p99 %7.2f ms  max %7.2f ms\n",
                Name, static_cast<long long>(Sent), static_cast<long long>(Answered),
                static_cast<long long>(Errors), static_cast<long long>(Lost), Percentile(0.5),
                Percentile(0.99), Percentile(1.0));
    for (const auto &[Text, Count] : ErrorTexts)
      std::printf("    %6d x %s\n", Count, qPrintable(Text));
  }
};

// A port on 127.0.0.1 that nothing listened on a moment ago, with the next
// 2 * RotatorCount ports assumed free as well.
quint16 FreePort() {
  QTcpServer Probe;
  if (!Probe.listen(QHostAddress(QHostAddress::LocalHost), 0))
    return 0;
  return Probe.serverPort();
}

// Resident memory of a process in KiB, from /proc.
long ResidentKb(qint64 Pid) {
  QFile Status(QStringLiteral("/proc/%1/status").arg(Pid));
  if (!Status.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray &Line : Status.readAll().split('\n'))
    if (Line.startsWith("VmRSS:"))
      return Line.mid(6).trimmed().split(' ').value(0).toLong();
  return -1;
}

// A process run for the length of the soak and ended by SIGTERM.
struct TChild {
  QProcess Process;
  ~TChild() {
    if (Process.state() == QProcess::NotRunning)
      return;
    Process.terminate();
    if (!Process.waitForFinished(10000))
      Process.kill();
    Process.waitForFinished();
  }
};

// One rotctld client: asks "p" every tick, one request at a time.
class TRotctldClient : public QObject {
public:
  TRotctldClient(quint16 Port, TTally &Tally) : FTally(Tally) {
    FSocket.connectToHost(QHostAddress(QHostAddress::LocalHost), Port);
    connect(&FSocket, &QTcpSocket::readyRead, this, [this] { Read(); });
  }

  bool Connected() { return FSocket.waitForConnected(StartWaitMs); }

  // The servers start with the station; a port may not accept yet.
  static bool Accepting(quint16 Port) {
    return QTest::qWaitFor(
        [Port] {
          QTcpSocket Probe;
          Probe.connectToHost(QHostAddress(QHostAddress::LocalHost), Port);
          return Probe.waitForConnected(1000);
        },
        StartWaitMs);
  }

  void Tick() {
    if (FWaiting) {
      if (FSince.elapsed() > LostAfterMs) {
        ++FTally.Lost;
        FWaiting = false;
        FLines.clear();
      }
      return;
    }
    FSocket.write("p\n");
    ++FTally.Sent;
    FSince.start();
    FWaiting = true;
  }

private:
  void Read() {
    while (FSocket.canReadLine()) {
      FLines << FSocket.readLine().trimmed();
      if (!FWaiting) {
        FLines.clear(); // a late answer of a request already counted as lost
        continue;
      }
      const bool Refused = FLines.first().startsWith("RPRT");
      if (Refused || FLines.size() == 2) {
        FTally.Answer(FSince.nsecsElapsed() / 1000, !Refused, QString::fromUtf8(FLines.first()));
        FWaiting = false;
        FLines.clear();
      }
    }
  }

  TTally &FTally;
  QTcpSocket FSocket;
  QElapsedTimer FSince;
  QList<QByteArray> FLines;
  bool FWaiting = false;
};

// Sends "P" to one rotator back to back: Window requests ahead of the
// answers, the next one sent as each answer arrives. Every answer must be
// "RPRT 0".
class TFloodClient : public QObject {
public:
  TFloodClient(quint16 Port, TTally &Tally) : FTally(Tally) {
    FSocket.connectToHost(QHostAddress(QHostAddress::LocalHost), Port);
    connect(&FSocket, &QTcpSocket::readyRead, this, [this] { Read(); });
  }

  bool Connected() { return FSocket.waitForConnected(StartWaitMs); }

  void Start() {
    while (int(FSent.size()) < FloodWindow)
      Send();
  }

  // Requests older than the loss bound are counted as lost and dropped.
  void Tick() {
    while (!FSent.empty() && FSent.front().elapsed() > LostAfterMs) {
      ++FTally.Lost;
      FSent.erase(FSent.begin());
      ++FLate;
    }
  }

  // Sends nothing more; the answers still out settle.
  void Stop() { FStopping = true; }

private:
  void Send() {
    FSocket.write(QStringLiteral("P %1 0\n").arg(FNext).toLatin1());
    FNext = (FNext + 7) % 360;
    ++FTally.Sent;
    QElapsedTimer Since;
    Since.start();
    FSent.push_back(Since);
  }

  void Read() {
    while (FSocket.canReadLine()) {
      const QByteArray Line = FSocket.readLine().trimmed();
      if (FLate > 0) {
        --FLate; // the answer of a request already counted as lost
        continue;
      }
      if (FSent.empty())
        continue;
      FTally.Answer(FSent.front().nsecsElapsed() / 1000, Line == "RPRT 0", QString::fromUtf8(Line));
      FSent.erase(FSent.begin());
      if (!FStopping)
        Send();
    }
  }

  TTally &FTally;
  QTcpSocket FSocket;
  std::vector<QElapsedTimer> FSent;
  int FNext = 0;
  int FLate = 0;
  bool FStopping = false;
};

// Connections that never send anything on one port, Count of them at the
// start; TopUp opens new ones for those the server has closed.
class TSilentClients : public QObject {
public:
  TSilentClients(quint16 Port, int Count) : FPort(Port), FCount(Count) { TopUp(); }

  void TopUp() {
    while (FOpen < FCount)
      Open();
  }

  int Closed() const { return FClosed; }

private:
  void Open() {
    auto *Socket = new QTcpSocket(this);
    ++FOpen;
    connect(Socket, &QTcpSocket::disconnected, this, [this, Socket] {
      ++FClosed;
      --FOpen;
      Socket->deleteLater();
    });
    Socket->connectToHost(QHostAddress(QHostAddress::LocalHost), FPort);
  }

  quint16 FPort;
  int FCount;
  int FOpen = 0;
  int FClosed = 0;
};

// One automation client call kind: one call out at a time.
class TBusCaller : public QObject {
public:
  TBusCaller(QDBusConnection Bus, TTally &Tally) : FBus(std::move(Bus)), FTally(Tally) {}

  void Call(const QString &Method, const QVariantList &Arguments) {
    if (FWaiting) {
      if (FSince.elapsed() > LostAfterMs) {
        ++FTally.Lost;
        FWaiting = false;
      }
      return;
    }
    QDBusMessage Message =
        QDBusMessage::createMethodCall(QStringLiteral("Orbalt.Orbalt"), QStringLiteral("/Orbalt"),
                                       QStringLiteral("Orbalt.IOrbalt"), Method);
    Message.setArguments(Arguments);
    auto *Watcher = new QDBusPendingCallWatcher(FBus.asyncCall(Message, LostAfterMs * 2), this);
    const int Serial = ++FSerial;
    ++FTally.Sent;
    FSince.start();
    FWaiting = true;
    connect(Watcher, &QDBusPendingCallWatcher::finished, this, [this, Watcher, Serial] {
      Watcher->deleteLater();
      if (Serial != FSerial || !FWaiting)
        return; // already counted as lost
      FTally.Answer(FSince.nsecsElapsed() / 1000, !Watcher->isError(),
                    Watcher->error().name() + u' ' + Watcher->error().message());
      FWaiting = false;
    });
  }

private:
  QDBusConnection FBus;
  TTally &FTally;
  QElapsedTimer FSince;
  int FSerial = 0;
  bool FWaiting = false;
};

int Fail(const QString &Message) {
  std::fprintf(stderr, "soak_station: %s\n", qPrintable(Message));
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication App(argc, argv);
  QCommandLineParser Parser;
  Parser.setApplicationDescription(QStringLiteral("Soak run of the program without a window."));
  Parser.addHelpOption();
  const QCommandLineOption SecondsOpt(QStringLiteral("seconds"),
                                      QStringLiteral("Length of the run (default 180)."),
                                      QStringLiteral("N"), QStringLiteral("180"));
  const QCommandLineOption WarmupOpt(QStringLiteral("warmup"),
                                     QStringLiteral("Warm-up before the memory baseline "
                                                    "(default 30)."),
                                     QStringLiteral("N"), QStringLiteral("30"));
  const QCommandLineOption ProgramOpt(QStringLiteral("program"),
                                      QStringLiteral("The program to run."), QStringLiteral("PATH"),
                                      QStringLiteral(ORBALT_SOAK_PROGRAM));
  const QCommandLineOption EmulatorOpt(
      QStringLiteral("emulator"), QStringLiteral("The controller emulator."),
      QStringLiteral("PATH"), QStringLiteral(ORBALT_SOAK_EMULATOR));
  Parser.addOptions({SecondsOpt, WarmupOpt, ProgramOpt, EmulatorOpt});
  Parser.process(App);
  const int Seconds = std::max(10, Parser.value(SecondsOpt).toInt());
  const int Warmup = std::clamp(Parser.value(WarmupOpt).toInt(), 0, Seconds - 5);

  QTemporaryDir Dir;
  if (!Dir.isValid() || !QDir(Dir.path()).mkpath(QStringLiteral("run")) ||
      !QFile::setPermissions(Dir.filePath(QStringLiteral("run")), QFileDevice::ReadOwner |
                                                                      QFileDevice::WriteOwner |
                                                                      QFileDevice::ExeOwner))
    return Fail(QStringLiteral("no temporary folder"));

  // A private session bus.
  TChild Bus;
  {
    const QString Config = Dir.filePath(QStringLiteral("bus.conf"));
    QFile File(Config);
    if (!File.open(QIODevice::WriteOnly))
      return Fail(QStringLiteral("cannot write %1").arg(Config));
    File.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                              "<policy context=\"default\">"
                              "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                              "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                              "</policy></busconfig>\n")
                   .arg(Dir.path().toHtmlEscaped())
                   .toUtf8());
    File.close();
    Bus.Process.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + Config, QStringLiteral("--nofork"),
                       QStringLiteral("--print-address")});
    if (!Bus.Process.waitForStarted(StartWaitMs))
      return Fail(QStringLiteral("dbus-daemon did not start"));
  }
  while (!Bus.Process.canReadLine())
    if (!Bus.Process.waitForReadyRead(StartWaitMs))
      return Fail(QStringLiteral("dbus-daemon gave no address"));
  const QString BusAddress = QString::fromUtf8(Bus.Process.readLine().trimmed());

  // Four emulated controllers; each prints its device path first.
  std::vector<std::unique_ptr<TChild>> Emulators;
  QStringList Devices;
  for (int I = 0; I < RotatorCount; ++I) {
    auto Emulator = std::make_unique<TChild>();
    Emulator->Process.start(Parser.value(EmulatorOpt),
                            {QStringLiteral("--azimuth"), QString::number(90 * I)});
    while (Emulator->Process.state() != QProcess::NotRunning && !Emulator->Process.canReadLine())
      Emulator->Process.waitForReadyRead(StartWaitMs);
    const QString Device = QString::fromUtf8(Emulator->Process.readLine().trimmed());
    if (Device.isEmpty())
      return Fail(QStringLiteral("the emulator gave no device"));
    Devices << Device;
    Emulators.push_back(std::move(Emulator));
  }

  // The settings document: four rotators that open at start.
  const QString SettingsPath = Dir.filePath(QStringLiteral("orbalt.xml"));
  {
    QByteArray Text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>\n<Rotators>\n";
    for (int I = 0; I < RotatorCount; ++I)
      Text += QStringLiteral("<Rotator_%1><Title Type=\"10\">Mast %1</Title>"
                             "<Enable Type=\"2\">-1</Enable><AutoActive "
                             "Type=\"2\">-1</AutoActive>"
                             "<Port Type=\"10\">%2</Port></Rotator_%1>\n")
                  .arg(I)
                  .arg(Devices[I].toHtmlEscaped())
                  .toUtf8();
    Text += "</Rotators>\n</root>\n";
    QFile File(SettingsPath);
    if (!File.open(QIODevice::WriteOnly) || File.write(Text) != Text.size())
      return Fail(QStringLiteral("cannot write %1").arg(SettingsPath));
  }

  // The program.
  const quint16 BasePort = FreePort();
  QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
  Env.remove(QStringLiteral("DISPLAY"));
  Env.remove(QStringLiteral("WAYLAND_DISPLAY"));
  Env.remove(QStringLiteral("ORBALT_SETTINGS"));
  Env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Dir.filePath(QStringLiteral("run")));
  Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), BusAddress);
  TChild Program;
  Program.Process.setProcessEnvironment(Env);
  Program.Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  Program.Process.start(Parser.value(ProgramOpt),
                        {QStringLiteral("--headless"), QStringLiteral("--settings"), SettingsPath,
                         QStringLiteral("--rotctld"), QString::number(BasePort)});
  if (!Program.Process.waitForStarted(StartWaitMs))
    return Fail(QStringLiteral("the program did not start"));
  const qint64 Pid = Program.Process.processId();

  QDBusConnection Connection = QDBusConnection::connectToBus(BusAddress, QStringLiteral("soak"));
  // A private connection must be closed before it is dropped.
  const std::shared_ptr<void> Disconnect(
      nullptr, [](void *) { QDBusConnection::disconnectFromBus(QStringLiteral("soak")); });
  if (!Connection.isConnected())
    return Fail(QStringLiteral("cannot reach the private bus"));
  if (!QTest::qWaitFor(
          [&] {
            return Program.Process.state() != QProcess::Running ||
                   Connection.interface()->isServiceRegistered(QStringLiteral("Orbalt.Orbalt"));
          },
          StartWaitMs) ||
      Program.Process.state() != QProcess::Running)
    return Fail(QStringLiteral("the program did not take its bus name"));

  TTally Position("rotctld p");
  TTally Azimuth("GetRotatorAzumuth");
  TTally Presets("Move (random preset)");
  TTally Flood("rotctld P flood");
  const auto RotatorPort = [BasePort](int I) {
    return static_cast<quint16>(BasePort + 2 * (I % RotatorCount));
  };
  // The silent connections come first and fill every server; the working
  // clients must still get in.
  std::vector<std::unique_ptr<TSilentClients>> Silent;
  for (int I = 0; I < RotatorCount; ++I) {
    if (!TRotctldClient::Accepting(RotatorPort(I)))
      return Fail(QStringLiteral("rotctld port %1 does not accept").arg(RotatorPort(I)));
    Silent.push_back(std::make_unique<TSilentClients>(RotatorPort(I), SilentPerRotator));
  }
  QTest::qWait(500);
  std::vector<std::unique_ptr<TRotctldClient>> Clients;
  for (int I = 0; I < RotctldClients; ++I) {
    Clients.push_back(std::make_unique<TRotctldClient>(RotatorPort(I), Position));
    if (!Clients.back()->Connected())
      return Fail(QStringLiteral("rotctld port %1 does not accept").arg(RotatorPort(I)));
  }
  std::vector<std::unique_ptr<TFloodClient>> Flooders;
  for (int I = 0; I < RotatorCount; ++I) {
    Flooders.push_back(std::make_unique<TFloodClient>(RotatorPort(I), Flood));
    if (!Flooders.back()->Connected())
      return Fail(QStringLiteral("rotctld port %1 does not accept").arg(RotatorPort(I)));
    Flooders.back()->Start();
  }
  TBusCaller AzimuthCaller(Connection, Azimuth);
  TBusCaller PresetCaller(Connection, Presets);

  const long StartKb = ResidentKb(Pid);
  long WarmKb = StartKb;
  std::printf("soak: %d s (warm-up %d s), %d rotators, %d rotctld clients, %d flooding "
              "clients, %d silent connections per rotator, program pid %lld\n",
              Seconds, Warmup, RotatorCount, RotctldClients, RotatorCount, SilentPerRotator, Pid);
  std::printf("resident memory after start: %ld KiB\n", StartKb);
  std::fflush(stdout);

  QElapsedTimer Clock;
  Clock.start();
  int Tick = 0;
  QTimer Ticker;
  Ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&Ticker, &QTimer::timeout, [&] {
    ++Tick;
    for (auto &Client : Clients)
      Client->Tick();
    for (auto &Flooder : Flooders)
      Flooder->Tick();
    if (Tick % 100 == 0)
      for (auto &Group : Silent)
        Group->TopUp();
    AzimuthCaller.Call(QStringLiteral("GetRotatorAzumuth"), {Tick % RotatorCount});
    if (Tick % 20 == 0)
      PresetCaller.Call(QStringLiteral("Move"), {QRandomGenerator::global()->bounded(RotatorCount),
                                                 QRandomGenerator::global()->bounded(360)});
    const qint64 Elapsed = Clock.elapsed() / 1000;
    if (Tick % 300 == 0) {
      std::printf("  %4lld s: resident %ld KiB\n", static_cast<long long>(Elapsed),
                  ResidentKb(Pid));
      std::fflush(stdout);
    }
    if (Warmup > 0 && Tick == Warmup * 1000 / TickMs)
      WarmKb = ResidentKb(Pid);
    if (Elapsed >= Seconds || Program.Process.state() != QProcess::Running)
      App.quit();
  });
  Ticker.start(TickMs);
  App.exec();
  Ticker.stop();

  // The requests still out get their time; what stays unanswered is lost.
  const auto Settled = [](TTally &Tally) { return Tally.Sent == Tally.Answered + Tally.Lost; };
  for (auto &Flooder : Flooders)
    Flooder->Stop();
  (void)QTest::qWaitFor(
      [&] { return Settled(Position) && Settled(Azimuth) && Settled(Presets) && Settled(Flood); },
      LostAfterMs);
  for (TTally *Tally : {&Position, &Azimuth, &Presets, &Flood})
    Tally->Lost = Tally->Sent - Tally->Answered;

  // No line was given up under the flood.
  int OpenRotators = 0;
  for (int I = 0; I < RotatorCount; ++I) {
    QDBusMessage Message = QDBusMessage::createMethodCall(
        QStringLiteral("Orbalt.Orbalt"), QStringLiteral("/Orbalt"),
        QStringLiteral("Orbalt.IOrbalt"), QStringLiteral("GetRotatorActive"));
    Message.setArguments({I});
    const QDBusMessage Reply = Connection.call(Message, QDBus::Block, LostAfterMs);
    OpenRotators +=
        Reply.type() == QDBusMessage::ReplyMessage && Reply.arguments().value(0).toInt() != 0;
  }
  int SilentClosed = 0;
  for (const auto &Group : Silent)
    SilentClosed += Group->Closed();

  const long EndKb = ResidentKb(Pid);
  const bool Survived = Program.Process.state() == QProcess::Running;
  std::printf("\n");
  Position.Print();
  Azimuth.Print();
  Presets.Print();
  Flood.Print();
  std::printf("silent connections closed by the servers: %d\n", SilentClosed);
  std::printf("rotators open at the end: %d of %d\n", OpenRotators, RotatorCount);
  std::printf("resident memory: start %ld KiB, after warm-up %ld KiB, end %ld KiB "
              "(growth after warm-up %ld KiB)\n",
              StartKb, WarmKb, EndKb, EndKb - WarmKb);

  // The program ends by its closing sequence.
  if (Survived) {
    Program.Process.terminate();
    Program.Process.waitForFinished(StartWaitMs);
  }
  const bool CleanEnd = Survived && Program.Process.exitStatus() == QProcess::NormalExit &&
                        Program.Process.exitCode() == 0;
  std::printf("program %s\n", !Survived  ? "ended during the run"
                              : CleanEnd ? "ended cleanly on SIGTERM"
                                         : "did not end cleanly on SIGTERM");

  const qint64 Lost = Position.Lost + Azimuth.Lost + Presets.Lost + Flood.Lost;
  const qint64 Errors = Position.Errors + Azimuth.Errors + Presets.Errors + Flood.Errors;
  const bool Flat = EndKb - WarmKb < 1024;
  const bool Pass = CleanEnd && Lost == 0 && Errors == 0 && Flat && OpenRotators == RotatorCount;
  std::printf("%s\n", Pass ? "PASS" : "FAIL");
  return Pass ? 0 : 1;
}
