// The automation interface on a private session bus: the operations answered
// for real clients (gdbus and Qt D-Bus connections) on a main window with
// rotators on emulated controllers, the bytes they make the controllers
// receive, the introspection data, error answers, the clients' hold on the
// object and the close warning; then the real program started by bus
// activation and by the operator.

#include "rotator/Gs232.h"
#include "tools/Gs232Emulator.h"
#include "app/Main.h"
#include "app/MainAutomation.h"
#include "remote/OrbaltDBus.h"
#include "remote/OrbaltDBusRegistration.h"
#include "common/RecordingUiServices.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <signal.h>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// Generous: the machine may be slow and loaded.
constexpr int WaitMs = 60000;

bool WaitFor(const std::function<bool()> &Condition, int TimeoutMs = WaitMs) {
  return QTest::qWaitFor(Condition, TimeoutMs);
}

// A dbus-daemon of the session type that only this test uses. Activation
// files are looked up in ServiceFolder; programs it starts get Env.
class TPrivateBus {
public:
  ~TPrivateBus() { Stop(); }

  bool Start(const QString &ServiceFolder = {},
             const QProcessEnvironment &Env = QProcessEnvironment::systemEnvironment()) {
    if (!FDir.isValid())
      return false;
    const QString Config = FDir.filePath(QStringLiteral("bus.conf"));
    QFile File(Config);
    if (!File.open(QIODevice::WriteOnly))
      return false;
    QString Text = QStringLiteral(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>unix:dir=%1</listen>\n")
                       .arg(FDir.path().toHtmlEscaped());
    if (!ServiceFolder.isEmpty())
      Text += QStringLiteral("  <servicedir>%1</servicedir>\n").arg(ServiceFolder.toHtmlEscaped());
    // A program started by the bus may take long on a loaded machine.
    Text += QStringLiteral("  <limit name=\"service_start_timeout\">%1</limit>\n").arg(WaitMs);
    Text += QStringLiteral("  <policy context=\"default\">\n"
                           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                           "    <allow eavesdrop=\"true\"/>\n"
                           "    <allow own=\"*\"/>\n"
                           "  </policy>\n"
                           "</busconfig>\n");
    File.write(Text.toUtf8());
    File.close();

    QProcessEnvironment DaemonEnv = Env;
    DaemonEnv.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    FDaemon.setProcessEnvironment(DaemonEnv);
    FDaemon.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + Config, QStringLiteral("--nofork"),
                   QStringLiteral("--print-address")});
    if (!FDaemon.waitForStarted(WaitMs))
      return false;
    while (!FDaemon.canReadLine())
      if (!FDaemon.waitForReadyRead(WaitMs))
        return false;
    Address = QString::fromUtf8(FDaemon.readLine()).trimmed();
    return !Address.isEmpty();
  }

  void Stop() {
    if (FDaemon.state() == QProcess::NotRunning)
      return;
    FDaemon.terminate();
    if (!FDaemon.waitForFinished(WaitMs)) {
      FDaemon.kill();
      FDaemon.waitForFinished();
    }
  }

  // The environment of a client of this bus.
  QProcessEnvironment ClientEnvironment() const {
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Address);
    return Env;
  }

  QString Address;

private:
  QTemporaryDir FDir;
  QProcess FDaemon;
};

// A connection of this process to the bus; it leaves the bus when destroyed
// or by Leave().
class TConnection {
public:
  TConnection(const QString &Address) : FName(NextName()) {
    Connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(Address, FName));
  }
  ~TConnection() { Leave(); }
  void Leave() {
    if (!Connection)
      return;
    Connection.reset();
    QDBusConnection::disconnectFromBus(FName);
  }
  QDBusConnection &operator*() { return *Connection; }
  QDBusConnection *operator->() { return Connection.get(); }

  std::unique_ptr<QDBusConnection> Connection;

private:
  static QString NextName() {
    static int Count = 0;
    return QStringLiteral("automation-test-%1").arg(++Count);
  }
  QString FName;
};

// Calls an operation of the automation object and waits for the answer while
// the event loop runs, so that a server in this process can answer.
QDBusMessage Call(QDBusConnection &Client, const QString &Method, const QVariantList &Args = {}) {
  QDBusMessage Message = QDBusMessage::createMethodCall(OrbaltServiceName, OrbaltObjectPath,
                                                        OrbaltInterfaceName, Method);
  Message.setArguments(Args);
  QDBusPendingCall Pending = Client.asyncCall(Message, WaitMs);
  WaitFor([&] { return Pending.isFinished(); });
  return Pending.reply();
}

// The single value an operation answered; an invalid QVariant for an error.
QVariant Value(const QDBusMessage &Reply) {
  if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().size() != 1)
    return {};
  return Reply.arguments().first();
}

struct TRun {
  int Code = -1;
  QString Out;
  QString Err;
};

// Runs a program to its end while the event loop runs; killed when it takes
// too long.
TRun RunClient(const QString &Program, const QStringList &Arguments,
               const QProcessEnvironment &Env) {
  QProcess Process;
  Process.setProcessEnvironment(Env);
  Process.start(Program, Arguments);
  TRun Run;
  if (!Process.waitForStarted(WaitMs))
    return Run;
  if (!WaitFor([&] { return Process.state() == QProcess::NotRunning; })) {
    Process.kill();
    Process.waitForFinished();
    Run.Err = QStringLiteral("timed out");
    return Run;
  }
  Run.Code = Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -2;
  Run.Out = QString::fromUtf8(Process.readAllStandardOutput()).trimmed();
  Run.Err = QString::fromUtf8(Process.readAllStandardError()).trimmed();
  return Run;
}

// The commands a controller received, without the position queries of the poll.
QStringList Sent(const Gs232Emulator &Emulator) {
  QStringList List;
  for (const auto &Received : Emulator.commands())
    if (Received.command != "C")
      List << QString::fromLatin1(Received.command);
  return List;
}

// --- Private bus shared by the tests of this process's server ---------------------

class AutomationBusTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Bus = new TPrivateBus;
    if (!Bus->Start()) {
      delete Bus;
      Bus = nullptr;
    }
  }
  static void TearDownTestSuite() {
    delete Bus;
    Bus = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(Bus) << "dbus-daemon could not be started"; }

  // gdbus call of an operation; its printed answer, or "error" and the message.
  static QString Gdbus(const QString &Method, const QStringList &Args = {}) {
    const TRun Run = RunClient(QStringLiteral("gdbus"),
                               QStringList{"call", "--session", "--dest", OrbaltServiceName,
                                           "--object-path", OrbaltObjectPath, "--method",
                                           OrbaltInterfaceName + "." + Method} +
                                   Args,
                               Bus->ClientEnvironment());
    return Run.Code == 0 ? Run.Out : QStringLiteral("error ") + Run.Err;
  }

  static inline TPrivateBus *Bus = nullptr;
};

// --- A main window served on the bus ---------------------------------------------

class AutomationMainTest : public AutomationBusTest {
protected:
  void SetUp() override {
    AutomationBusTest::SetUp();
    ASSERT_TRUE(Dir.isValid());
    for (auto &Emulator : Emulators) {
      Gs232Emulator::Options Options;
      Options.timeScale = 10;
      Emulator = std::make_unique<Gs232Emulator>(Options);
      ASSERT_TRUE(Emulator->start());
    }
    // Three rotators; the third is disabled.
    WriteSettings({{"Alpha", Emulators[0]->devicePath(), true},
                   {"Bravo", Emulators[1]->devicePath(), true},
                   {"Charlie", Emulators[2]->devicePath(), false}});
    TMainOptions Options;
    Options.SettingsFile = Dir.filePath("orbalt.xml");
    Options.PictureFolder = QStringLiteral(ORBALT_TEST_ASSET_DIR);
    Window = std::make_unique<TMain>(Options);
    ASSERT_EQ(Window->Gs232s.size(), 3u);
    ASSERT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('\n').toStdString();

    ServerConnection = std::make_unique<TConnection>(Bus->Address);
    ASSERT_TRUE((*ServerConnection)->isConnected());
    Automation = std::make_unique<TMainAutomationServer>(*Window, **ServerConnection);
    QString Error;
    ASSERT_TRUE(Automation->Start(&Error)) << Error.toStdString();
  }

  void TearDown() override {
    Automation.reset();
    ServerConnection.reset();
    Window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (auto &Emulator : Emulators)
      if (Emulator)
        Emulator->stop();
  }

  struct TRotator {
    QString Title;
    QString Port;
    bool Enable;
  };

  void WriteSettings(const std::vector<TRotator> &Rotators) {
    QString Text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>\n<Rotators>\n";
    int Index = 0;
    for (const TRotator &R : Rotators) {
      Text += QStringLiteral("<Rotator_%1><Title Type=\"10\">%2</Title>"
                             "<Enable Type=\"2\">%3</Enable><AutoActive Type=\"2\">0</AutoActive>"
                             "<Port Type=\"10\">%4</Port></Rotator_%1>\n")
                  .arg(QString::number(Index++), R.Title, R.Enable ? "-1" : "0",
                       R.Port.toHtmlEscaped());
    }
    Text += "</Rotators>\n</root>\n";
    QFile File(Dir.filePath("orbalt.xml"));
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.write(Text.toUtf8());
  }

  TGs232 &Driver(int Index) { return *Window->Gs232s[static_cast<size_t>(Index)]; }

  TScopedRecordingUi Ui;
  QTemporaryDir Dir;
  std::unique_ptr<Gs232Emulator> Emulators[3];
  std::unique_ptr<TMain> Window;
  std::unique_ptr<TConnection> ServerConnection;
  std::unique_ptr<TMainAutomationServer> Automation;
};

TEST_F(AutomationMainTest, OperationsAnswerGdbusClients) {
  // The second rotator's tab is selected; the control table switch is off.
  Window->PageControl1->setCurrentIndex(1);
  ASSERT_EQ(Window->CurrentRotator, 1);
  ASSERT_FALSE(Window->CtrlTableEnable);
  Driver(0).SetPreset(123);

  const struct {
    const char *Method;
    QStringList Args;
    const char *Answer;
  } Steps[] = {
      // The switch off: no rotators to count, Rotate does nothing.
      {"Enable", {}, "(int16 0,)"},
      {"RotatorCount", {}, "(0,)"},
      {"Rotate", {"90", "7.1"}, "(int16 0,)"},
      // The rest works whatever the switch.
      {"RotatorIndex", {}, "(1,)"},
      {"GetRotatorTitle", {"1"}, "('Bravo',)"},
      {"GetRotatorTitle", {"3"}, "('',)"},
      {"GetRotatorTitle", {"int32 -1"}, "('',)"},
      {"GetRotatorActive", {"int32 -1"}, "(int16 0,)"},
      {"GetRotatorActive", {"0"}, "(int16 0,)"},
      {"GetRotatorAzumuth", {"3"}, "(0,)"},
      // Move on a closed port does nothing.
      {"Move", {"0", "200"}, "(int16 0,)"},
      {"Open", {"0"}, "(int16 -1,)"},
      {"GetRotatorActive", {"0"}, "(int16 -1,)"},
      {"Open", {"0"}, "(int16 0,)"},
      {"Close", {"0"}, "(int16 -1,)"},
      {"Close", {"0"}, "(int16 0,)"},
      // A disabled rotator is refused; an index beyond the last one too.
      {"Open", {"2"}, "(int16 0,)"},
      {"Open", {"3"}, "(int16 0,)"},
      {"Close", {"int32 -1"}, "(int16 0,)"},
  };
  for (const auto &Step : Steps)
    EXPECT_EQ(Gdbus(Step.Method, Step.Args), QString::fromLatin1(Step.Answer))
        << Step.Method << " " << Step.Args.join(' ').toStdString();

  EXPECT_EQ(Driver(0).AzPresetD(), 123) << "Move on a closed port keeps the preset";
  EXPECT_FALSE(Driver(0).Active());
  EXPECT_FALSE(Driver(2).Active());
  EXPECT_TRUE(Sent(*Emulators[2]).isEmpty());

  // The switch on: all rotators counted; Rotate answers true although no row
  // matches, and nothing is sent.
  Window->CtrlTableEnable = true;
  EXPECT_EQ(Gdbus("Enable"), "(int16 -1,)");
  EXPECT_EQ(Gdbus("RotatorCount"), "(3,)");
  Emulators[0]->clearLog();
  EXPECT_EQ(Gdbus("Rotate", {"90", "7.1"}), "(int16 -1,)");
  EXPECT_TRUE(Sent(*Emulators[0]).isEmpty());
  EXPECT_EQ(Driver(0).AzPresetD(), 123);
}

TEST_F(AutomationMainTest, MoveAndRotateTurnTheRotators) {
  TConnection Client(Bus->Address);
  for (int I : {0, 1})
    ASSERT_EQ(Value(Call(*Client, "Open", {I})), QVariant::fromValue<qint16>(-1));
  ASSERT_TRUE(Driver(0).Active() && Driver(1).Active());
  // The window's page shows the port opened from outside.
  EXPECT_EQ(Window->CurrentRotator, 0);
  EXPECT_EQ(Window->btnOpenClose->text(), "Close");

  auto Waits = [](Gs232Emulator &Emulator, const QString &Command) {
    return WaitFor([&] { return Sent(Emulator).contains(Command); });
  };

  EXPECT_EQ(Value(Call(*Client, "Move", {1, 45})), QVariant::fromValue<qint16>(-1));
  EXPECT_TRUE(Waits(*Emulators[1], "M045")) << Sent(*Emulators[1]).join(' ').toStdString();

  // Frequencies that lie exactly on a row's bound. Had they passed through
  // single precision, 7.3 would arrive above the first row and 14.2 below the
  // second, and neither rotator would turn.
  TCtrlRow Forty;
  Forty.LowerFreq = 7.0;
  Forty.UpperFreq = 7.3;
  Forty.Rotator = 1;
  Forty.Offset = 10;
  TCtrlRow Twenty;
  Twenty.LowerFreq = 14.2;
  Twenty.UpperFreq = 14.35;
  Twenty.Rotator = 2;
  Twenty.Offset = 0;
  Window->CtrlTable.Rows = {Forty, Twenty};
  Window->CtrlTableEnable = true;

  EXPECT_EQ(Value(Call(*Client, "Rotate", {90, 7.3})), QVariant::fromValue<qint16>(-1));
  EXPECT_TRUE(Waits(*Emulators[0], "M080")) << Sent(*Emulators[0]).join(' ').toStdString();
  EXPECT_EQ(Value(Call(*Client, "Rotate", {30, 14.2})), QVariant::fromValue<qint16>(-1));
  EXPECT_TRUE(Waits(*Emulators[1], "M030")) << Sent(*Emulators[1]).join(' ').toStdString();

  // Move keeps the temporary offset the table gave the rotator.
  EXPECT_EQ(Value(Call(*Client, "Move", {0, 100})), QVariant::fromValue<qint16>(-1));
  EXPECT_TRUE(Waits(*Emulators[0], "M090")) << Sent(*Emulators[0]).join(' ').toStdString();
  EXPECT_EQ(Driver(0).AzPresetD(), 100);

  // The switch off: Rotate sends nothing.
  Window->CtrlTableEnable = false;
  Emulators[0]->clearLog();
  EXPECT_EQ(Value(Call(*Client, "Rotate", {180, 7.1})), QVariant::fromValue<qint16>(0));
  // A Move afterwards is the first command the controller gets.
  EXPECT_EQ(Value(Call(*Client, "Move", {0, 20})), QVariant::fromValue<qint16>(-1));
  EXPECT_TRUE(Waits(*Emulators[0], "M010"));
  EXPECT_EQ(Sent(*Emulators[0]).first(), "M010");

  EXPECT_EQ(Value(Call(*Client, "Close", {0})), QVariant::fromValue<qint16>(-1));
  EXPECT_EQ(Window->btnOpenClose->text(), "Open");
}

TEST_F(AutomationMainTest, IntrospectionListsTheOperationsInOrderWithDispatchIds) {
  const TRun Run = RunClient("gdbus",
                             {"introspect", "--session", "--xml", "--dest", OrbaltServiceName,
                              "--object-path", OrbaltObjectPath},
                             Bus->ClientEnvironment());
  ASSERT_EQ(Run.Code, 0) << Run.Err.toStdString();

  // Name, in-signature, out-signature, dispatch id, per method of the interface.
  QStringList Methods;
  QXmlStreamReader Xml(Run.Out);
  bool InInterface = false;
  QString Name, In, Out, Id;
  while (!Xml.atEnd()) {
    Xml.readNext();
    if (Xml.isStartElement() && Xml.name() == u"interface")
      InInterface = Xml.attributes().value("name") == OrbaltInterfaceName;
    else if (Xml.isEndElement() && Xml.name() == u"interface")
      InInterface = false;
    if (!InInterface)
      continue;
    if (Xml.isStartElement() && Xml.name() == u"method") {
      Name = Xml.attributes().value("name").toString();
      In.clear();
      Out.clear();
      Id.clear();
    } else if (Xml.isStartElement() && Xml.name() == u"arg") {
      (Xml.attributes().value("direction") == u"out" ? Out : In) +=
          Xml.attributes().value("type");
    } else if (Xml.isStartElement() && Xml.name() == u"annotation" &&
               Xml.attributes().value("name") == u"Orbalt.DispatchId") {
      Id = Xml.attributes().value("value").toString();
    } else if (Xml.isEndElement() && Xml.name() == u"method") {
      Methods << QStringList{Name, In, Out, Id}.join(' ');
    }
  }
  ASSERT_FALSE(Xml.hasError()) << Xml.errorString().toStdString();
  EXPECT_EQ(Methods, QStringList({
                         "Enable  n 1",
                         "RotatorCount  i 2",
                         "RotatorIndex  i 3",
                         "GetRotatorActive i n 4",
                         "GetRotatorTitle i s 5",
                         "GetRotatorAzumuth i i 6",
                         "Move ii n 9",
                         "Open i n 7",
                         "Close i n 8",
                         "Rotate id n 10",
                     }))
      << Methods.join('\n').toStdString();
}

TEST_F(AutomationMainTest, ClientsHoldTheObjectUntilTheyLeaveTheBus) {
  TOrbaltDBusServer &Server = Automation->Server();
  int Ends = 0;
  Automation->EndWhenClientsLeave([&Ends] { ++Ends; });
  QSignalSpy Changes(&Server, &TOrbaltDBusServer::ClientsChanged);

  // Looking at the object is no operation.
  ASSERT_EQ(RunClient("gdbus",
                      {"introspect", "--session", "--dest", OrbaltServiceName, "--object-path",
                       OrbaltObjectPath},
                      Bus->ClientEnvironment())
                .Code,
            0);
  EXPECT_EQ(Server.ClientCount(), 0);

  TConnection First(Bus->Address), Second(Bus->Address);
  ASSERT_EQ(Value(Call(*First, "RotatorIndex")), QVariant(0));
  ASSERT_EQ(Value(Call(*First, "Enable")), QVariant::fromValue<qint16>(0));
  EXPECT_EQ(Server.Clients(), QSet<QString>{First->baseService()});

  // A gdbus client holds the object for its one call.
  EXPECT_EQ(Gdbus("RotatorCount"), "(0,)");
  EXPECT_TRUE(WaitFor([&] { return Changes.count() == 3; }));
  EXPECT_EQ(Server.ClientCount(), 1);

  ASSERT_EQ(Value(Call(*Second, "GetRotatorActive", {0})), QVariant::fromValue<qint16>(0));
  EXPECT_EQ(Server.ClientCount(), 2);
  First.Leave();
  EXPECT_TRUE(WaitFor([&] { return Server.ClientCount() == 1; }));
  EXPECT_EQ(Server.Clients(), QSet<QString>{Second->baseService()});
  QTest::qWait(100);
  EXPECT_EQ(Ends, 0);

  Second.Leave();
  EXPECT_TRUE(WaitFor([&] { return Ends == 1; }));
  EXPECT_EQ(Server.ClientCount(), 0);
}

TEST_F(AutomationMainTest, ClosingWhileClientsHoldTheObjectAsksFirst) {
  TConnection Client(Bus->Address);
  ASSERT_EQ(Value(Call(*Client, "Open", {0})), QVariant::fromValue<qint16>(-1));
  Window->show();

  // No: the program and its window stay as they are, the port stays open.
  Ui->warningAnswers = {false};
  EXPECT_FALSE(Window->close());
  ASSERT_EQ(Ui->entries.size(), 1u);
  EXPECT_EQ(Ui->entries[0].kind, TRecordingUiServices::Entry::Warning);
  EXPECT_EQ(Ui->entries[0].caption, QStringLiteral("オートメーションサーバーから警告"));
  EXPECT_EQ(Ui->entries[0].text,
            QStringLiteral("作動中の COM オブジェクトがアプリケーション内に残っています。 "
                           "このアプリケーションはこれらのクライアントアプリケーションを"
                           "失敗させることがあります。\n\nこのアプリケーションを閉じますか？"));
  EXPECT_TRUE(Window->isVisible());
  EXPECT_EQ(Window->Gs232s.size(), 3u);
  EXPECT_TRUE(Driver(0).Active());
  EXPECT_EQ(Value(Call(*Client, "GetRotatorTitle", {0})), QVariant("Alpha"));

  // Yes: the closing sequence runs and the window closes.
  Ui->warningAnswers = {true};
  EXPECT_TRUE(Window->close());
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Warning).size(), 2);
  EXPECT_FALSE(Window->isVisible());
  EXPECT_TRUE(Window->Gs232s.empty());
}

TEST_F(AutomationMainTest, ClosingWithoutClientsAsksNothing) {
  Window->show();
  EXPECT_TRUE(Window->close());
  EXPECT_TRUE(Ui->entries.empty());
  EXPECT_TRUE(Window->Gs232s.empty());
}

// --- Errors inside the operations ------------------------------------------------

// A workspace whose every access fails.
class TBrokenWorkspace : public TAutomationWorkspace {
public:
  bool CtrlTableEnable() const override { throw std::runtime_error("The workspace is gone"); }
  int RotatorCount() const override { return 1; }
  int CurrentRotator() const override { throw std::runtime_error("No current rotator"); }
  TGs232 &Driver(int) override { throw std::runtime_error("No driver"); }
  QString RotatorBlock(int) const override { throw std::runtime_error("No settings block"); }
  bool RotatorEnabled(int) const override { return true; }
  void AutoOperation(int, double) override { throw std::runtime_error("No table"); }
  void RotatorOpenedOrClosed(int) override {}
};

TEST_F(AutomationBusTest, StatusFormAnswersAnErrorAndDirectFormNever) {
  TBrokenWorkspace Workspace;
  TOrbalt Object(Workspace);
  TConnection ServerConnection(Bus->Address);
  TOrbaltDBusServer Server(Object, *ServerConnection);
  QString Error;
  ASSERT_TRUE(Server.Start(&Error)) << Error.toStdString();

  TConnection Client(Bus->Address);
  const struct {
    const char *Method;
    QVariantList Args;
    const char *Message; // empty: a plain answer is expected
  } Cases[] = {
      {"Enable", {}, "The workspace is gone"},
      {"RotatorCount", {}, "The workspace is gone"},
      {"RotatorIndex", {}, "No current rotator"},
      {"GetRotatorTitle", {0}, "No settings block"},
      {"GetRotatorActive", {0}, ""},
      {"GetRotatorAzumuth", {0}, ""},
      {"Move", {0, 10}, ""},
      {"Open", {0}, ""},
      {"Close", {0}, ""},
  };
  for (const auto &Case : Cases) {
    const QDBusMessage Reply = Call(*Client, Case.Method, Case.Args);
    if (*Case.Message) {
      EXPECT_EQ(Reply.type(), QDBusMessage::ErrorMessage) << Case.Method;
      EXPECT_EQ(Reply.errorName(), OrbaltErrorFailed) << Case.Method;
      EXPECT_EQ(Reply.errorMessage(), Case.Message) << Case.Method;
    } else {
      EXPECT_EQ(Reply.type(), QDBusMessage::ReplyMessage) << Case.Method;
      EXPECT_EQ(Reply.arguments().value(0).toInt(), 0) << Case.Method;
    }
  }
  // gdbus sees the same error.
  const QString Answer = Gdbus("GetRotatorTitle", {"0"});
  EXPECT_TRUE(Answer.startsWith("error ") && Answer.contains("Orbalt.Error.Failed") &&
              Answer.contains("No settings block"))
      << Answer.toStdString();
}

// --- The program on a private bus -------------------------------------------------

class AutomationProgramTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    ASSERT_TRUE(QDir().mkpath(Dir.filePath("run")));
    QFile::setPermissions(Dir.filePath("run"), QFileDevice::ReadOwner |
                                                   QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner);
    // One rotator; the program reads this document and must not write it.
    QFile File(SettingsPath());
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>\n<Rotators>\n"
               "<Rotator_0><Title Type=\"10\">Tower</Title><Enable Type=\"2\">0</Enable>"
               "<AutoActive Type=\"2\">0</AutoActive><Port Type=\"10\">/dev/null-port</Port>"
               "</Rotator_0>\n</Rotators>\n</root>\n");
    File.close();
    Settings = ReadSettings();
  }

  void TearDown() override {
    // Whatever the test left running ends here.
    if (Operator.state() != QProcess::NotRunning) {
      Operator.kill();
      Operator.waitForFinished();
    }
    if (Second.state() != QProcess::NotRunning) {
      Second.kill();
      Second.waitForFinished();
    }
    for (qint64 Pid : Started)
      if (Alive(Pid))
        ::kill(static_cast<pid_t>(Pid), SIGKILL);
    Observer.reset();
    Bus.Stop();
  }

  QString SettingsPath() const { return Dir.filePath("orbalt.xml"); }
  QByteArray ReadSettings() const {
    QFile File(SettingsPath());
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
  }

  // What the program needs to run here: no display, its settings document,
  // a runtime folder of its own for the single-instance lock.
  QProcessEnvironment ProgramEnvironment() const {
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    Env.insert("ORBALT_SETTINGS", SettingsPath());
    Env.insert("XDG_RUNTIME_DIR", Dir.filePath("run"));
    Env.insert("XDG_DATA_HOME", Dir.filePath("data"));
    return Env;
  }

  void StartBus() {
    ASSERT_TRUE(Bus.Start(Dir.filePath("data/dbus-1/services"), ProgramEnvironment()));
    Observer = std::make_unique<TConnection>(Bus.Address);
    ASSERT_TRUE((*Observer)->isConnected());
  }

  bool NameOwned() { return (*Observer)->interface()->isServiceRegistered(OrbaltServiceName); }
  qint64 OwnerPid() {
    const QDBusReply<uint> Reply = (*Observer)->interface()->servicePid(OrbaltServiceName);
    return Reply.isValid() ? Reply.value() : 0;
  }

  // Running, not ended and waiting to be collected by its parent.
  static bool Alive(qint64 Pid) {
    QFile Stat(QStringLiteral("/proc/%1/stat").arg(Pid));
    if (!Stat.open(QIODevice::ReadOnly))
      return false;
    const QByteArray Text = Stat.readAll();
    const qsizetype Paren = Text.lastIndexOf(')');
    return Paren > 0 && Text.mid(Paren + 2, 1) != "Z";
  }

  static QStringList CommandLine(qint64 Pid) {
    QFile File(QStringLiteral("/proc/%1/cmdline").arg(Pid));
    if (!File.open(QIODevice::ReadOnly))
      return {};
    QStringList Parts = QString::fromLocal8Bit(File.readAll()).split(QChar(0));
    Parts.removeAll(QString());
    return Parts;
  }

  QTemporaryDir Dir;
  QByteArray Settings;
  TPrivateBus Bus;
  std::unique_ptr<TConnection> Observer;
  QProcess Operator, Second;
  std::vector<qint64> Started;
};

TEST_F(AutomationProgramTest, ActivatedForAClientAndEndsWhenItLeaves) {
  // The program registers itself for this user; the bus looks there.
  QProcess Register;
  Register.setProcessEnvironment(ProgramEnvironment());
  Register.start(ORBALT_TEST_PROGRAM, {"-RegServerPerUser"});
  ASSERT_TRUE(Register.waitForFinished(WaitMs));
  ASSERT_EQ(Register.exitCode(), 0) << Register.readAllStandardError().toStdString();
  StartBus();
  ASSERT_FALSE(NameOwned());

  auto Client = std::make_unique<TConnection>(Bus.Address);
  // The first call starts the program.
  const QDBusMessage Title = (*Client)->call(
      QDBusMessage::createMethodCall(OrbaltServiceName, OrbaltObjectPath, OrbaltInterfaceName,
                                     "GetRotatorTitle")
          << 0,
      QDBus::Block, WaitMs);
  ASSERT_EQ(Title.type(), QDBusMessage::ReplyMessage) << Title.errorMessage().toStdString();
  EXPECT_EQ(Title.arguments().value(0), QVariant("Tower"));
  const qint64 Pid = OwnerPid();
  ASSERT_GT(Pid, 0) << "the bus started the program";
  Started.push_back(Pid);
  EXPECT_TRUE(CommandLine(Pid).contains("-Automation")) << CommandLine(Pid).join(' ').toStdString();
  {
    QDBusInterface Orbalt(OrbaltServiceName, OrbaltObjectPath, OrbaltInterfaceName,
                          **Client);
    Orbalt.setTimeout(WaitMs);
    const QDBusReply<int> Count = Orbalt.call("RotatorCount");
    ASSERT_TRUE(Count.isValid()) << Count.error().message().toStdString();
    EXPECT_EQ(Count.value(), 0);
    EXPECT_TRUE(Alive(Pid));
  }

  // The client leaves: the program ends, without saving anything.
  Client.reset();
  EXPECT_TRUE(WaitFor([&] { return !Alive(Started.back()); }));
  EXPECT_TRUE(WaitFor([&] { return !NameOwned(); }));
  EXPECT_EQ(ReadSettings(), Settings);
}

TEST_F(AutomationProgramTest, StartedByTheOperatorItKeepsRunningAndASecondStartEnds) {
  StartBus();
  QProcessEnvironment Env = ProgramEnvironment();
  Env.insert("DBUS_SESSION_BUS_ADDRESS", Bus.Address);
  Operator.setProcessEnvironment(Env);
  Operator.start(ORBALT_TEST_PROGRAM, {});
  ASSERT_TRUE(Operator.waitForStarted(WaitMs));
  ASSERT_TRUE(WaitFor([&] { return NameOwned(); })) << "the program takes the bus name";
  EXPECT_EQ(OwnerPid(), Operator.processId());

  {
    TConnection Client(Bus.Address);
    QDBusInterface Orbalt(OrbaltServiceName, OrbaltObjectPath, OrbaltInterfaceName, *Client);
    Orbalt.setTimeout(WaitMs);
    const QDBusReply<int> Index = Orbalt.call("RotatorIndex");
    ASSERT_TRUE(Index.isValid()) << Index.error().message().toStdString();
    EXPECT_EQ(Index.value(), 0);
  }

  // A second start, also one for a client, ends at once; the first program
  // keeps the name.
  Second.setProcessEnvironment(Env);
  Second.start(ORBALT_TEST_PROGRAM, {"-Automation"});
  ASSERT_TRUE(Second.waitForFinished(WaitMs));
  EXPECT_EQ(Second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(Second.exitCode(), 0);
  EXPECT_EQ(OwnerPid(), Operator.processId());

  // Its client has gone, and the program started by the operator runs on.
  QTest::qWait(1000);
  EXPECT_EQ(Operator.state(), QProcess::Running);
  EXPECT_EQ(OwnerPid(), Operator.processId());
}

} // namespace
