// The automation interface on a private session bus: the operations answered
// for real clients (gdbus and Qt D-Bus connections) on a station with
// rotators on emulated controllers, the bytes they make the controllers
// receive, the introspection data, error answers and the clients' hold on the
// object; then the real program started by bus activation and by the
// operator. What the window does with the clients' hold (the close warning)
// is tested with the window.

#include "station/StationSeam.h"
#include "AutomationBusSupport.h"
#include "common/RecordingUiServices.h"
#include "common/EmulatorLog.h"
#include "ctrltable/CtrlTable.h"
#include "remote/OrbaltDBus.h"
#include "remote/OrbaltDBusRegistration.h"
#include "remote/StationAutomation.h"
#include "remote/StationDBus.h"
#include "rotator/Gs232.h"
#include "settings/SettingsDocument.h"
#include "station/Station.h"
#include "tools/Gs232Emulator.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <signal.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

using namespace automation_test;

namespace {

// --- Private bus shared by the tests of this process's server ---------------------

class AutomationBusTest : public PrivateBusTest {
protected:
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
};

// --- A station served on the bus ----------------------------------------------------

class AutomationStationTest : public AutomationBusTest {
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
    Station = std::make_unique<TStation>(Dir.filePath("orbalt.xml"));
    QObject::connect(Station.get(), &TStation::Message, Station.get(),
                     [this](const QString &Text, TMessageKind) { Messages << Text; });
    Station->Load();
    Station->Start();
    ASSERT_EQ(Station->RotatorCount(), 3);
    ASSERT_TRUE(Reported().isEmpty()) << Reported().join('\n').toStdString();

    ServerConnection = std::make_unique<TConnection>(Bus->Address);
    ASSERT_TRUE((*ServerConnection)->isConnected());
    Automation = std::make_unique<TStationAutomation>(*Station, **ServerConnection);
    QString Error;
    ASSERT_TRUE(Automation->Start(&Error)) << Error.toStdString();
  }

  void TearDown() override {
    Automation.reset();
    ServerConnection.reset();
    Station.reset();
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

  // The rotators, none of which opens at start.
  void WriteSettings(const std::vector<TRotator> &Rotators) {
    QList<TRotatorSettings> List;
    for (const TRotator &R : Rotators) {
      TRotatorSettings Settings = TRotatorSettings::Defaults(R.Title);
      Settings.Enable = R.Enable;
      Settings.AutoActive = false;
      Settings.Port = R.Port;
      List << Settings;
    }
    SaveRotators(Dir.filePath("orbalt.xml"), false, List);
  }

  // Everything the station raised for the operator and every box shown.
  QStringList Reported() const { return Messages + Ui.services.shown(); }

  TGs232 &Driver(int Index) { return TStationSeam::Driver(*Station, Index); }

  TScopedRecordingUi Ui;
  QStringList Messages;
  QTemporaryDir Dir;
  std::unique_ptr<Gs232Emulator> Emulators[3];
  std::unique_ptr<TStation> Station;
  std::unique_ptr<TConnection> ServerConnection;
  std::unique_ptr<TStationAutomation> Automation;
};

TEST_F(AutomationStationTest, OperationsAnswerGdbusClients) {
  // The second rotator is the current one; the control table switch is off.
  Station->SetCurrentRotator(1);
  ASSERT_EQ(Station->CurrentRotator(), 1);
  ASSERT_FALSE(Station->CtrlTableEnable());
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
  Station->SetCtrlTableEnable(true);
  EXPECT_EQ(Gdbus("Enable"), "(int16 -1,)");
  EXPECT_EQ(Gdbus("RotatorCount"), "(3,)");
  Emulators[0]->clearLog();
  EXPECT_EQ(Gdbus("Rotate", {"90", "7.1"}), "(int16 -1,)");
  EXPECT_TRUE(Sent(*Emulators[0]).isEmpty());
  EXPECT_EQ(Driver(0).AzPresetD(), 123);
}

TEST_F(AutomationStationTest, MoveAndRotateTurnTheRotators) {
  QSignalSpy Opened(Station.get(), &TStation::RotatorOpened);
  QSignalSpy Closed(Station.get(), &TStation::RotatorClosed);
  TConnection Client(Bus->Address);
  for (int I : {0, 1})
    ASSERT_EQ(Value(Call(*Client, "Open", {I})), QVariant::fromValue<qint16>(-1));
  ASSERT_TRUE(Driver(0).Active() && Driver(1).Active());
  // The station tells its views about the ports opened from outside; the
  // current rotator stays.
  EXPECT_EQ(Station->CurrentRotator(), 0);
  ASSERT_EQ(Opened.count(), 2);
  EXPECT_EQ(Opened[0].value(0).toInt(), 0);
  EXPECT_EQ(Opened[1].value(0).toInt(), 1);

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
  TCtrlTable Table;
  Table.Rows = {Forty, Twenty};
  Table.Save(Station->CtrlTableFile());
  Station->ReloadCtrlTable();
  ASSERT_EQ(Station->CtrlTable(), Table);
  Station->SetCtrlTableEnable(true);

  EXPECT_EQ(Value(Call(*Client, "Rotate", {90, 7.3})), QVariant::fromValue<qint16>(-1));
  EXPECT_TRUE(Waits(*Emulators[0], "M080")) << Sent(*Emulators[0]).join(' ').toStdString();
  EXPECT_EQ(Value(Call(*Client, "Rotate", {30, 14.2})), QVariant::fromValue<qint16>(-1));
  EXPECT_TRUE(Waits(*Emulators[1], "M030")) << Sent(*Emulators[1]).join(' ').toStdString();

  // Move keeps the temporary offset the table gave the rotator.
  EXPECT_EQ(Value(Call(*Client, "Move", {0, 100})), QVariant::fromValue<qint16>(-1));
  EXPECT_TRUE(Waits(*Emulators[0], "M090")) << Sent(*Emulators[0]).join(' ').toStdString();
  EXPECT_EQ(Driver(0).AzPresetD(), 100);

  // The switch off: Rotate sends nothing.
  Station->SetCtrlTableEnable(false);
  Emulators[0]->clearLog();
  EXPECT_EQ(Value(Call(*Client, "Rotate", {180, 7.1})), QVariant::fromValue<qint16>(0));
  // A Move afterwards is the first command the controller gets.
  EXPECT_EQ(Value(Call(*Client, "Move", {0, 20})), QVariant::fromValue<qint16>(-1));
  EXPECT_TRUE(Waits(*Emulators[0], "M010"));
  EXPECT_EQ(Sent(*Emulators[0]).first(), "M010");

  EXPECT_EQ(Value(Call(*Client, "Close", {0})), QVariant::fromValue<qint16>(-1));
  ASSERT_EQ(Closed.count(), 1);
  EXPECT_EQ(Closed[0].value(0).toInt(), 0);
  EXPECT_TRUE(Reported().isEmpty()) << Reported().join('\n').toStdString();
}

// The station's interface beside the automation interface: bearings from the
// station's locator, and a rotator turned to a place, its offset applied.
TEST_F(AutomationStationTest, StationInterfaceGivesBearingsAndTurnsARotatorToAPlace) {
  TConnection Client(Bus->Address);
  const auto StationCall = [&](const QString &Method, const QVariantList &Args) {
    QDBusMessage Message = QDBusMessage::createMethodCall(OrbaltServiceName, OrbaltObjectPath,
                                                          StationInterfaceName, Method);
    Message.setArguments(Args);
    QDBusPendingCall Pending = Client->asyncCall(Message, automation_test::WaitMs);
    WaitFor([&] { return Pending.isFinished(); });
    return Pending.reply();
  };
  const auto Refused = [](const QDBusMessage &Reply, const QString &Part) {
    return Reply.type() == QDBusMessage::ErrorMessage && Reply.errorName() == OrbaltErrorFailed &&
           Reply.errorMessage().contains(Part);
  };

  QDBusMessage Reply = StationCall("Bearing", {QStringLiteral("FN31pr")});
  EXPECT_TRUE(Refused(Reply, "location is not set")) << Reply.errorMessage().toStdString();

  TStationSettings Location;
  Location.Locator = QStringLiteral("JO62qm");
  Station->SetLocation(Location);
  const TBearing Expected =
      BearingBetween(*LocatorToLatLon(QStringLiteral("JO62qm")), *LocatorToLatLon(QStringLiteral("FN31pr")));
  Reply = StationCall("Bearing", {QStringLiteral("FN31pr")});
  ASSERT_EQ(Reply.arguments().size(), 3) << Reply.errorMessage().toStdString();
  EXPECT_DOUBLE_EQ(Reply.arguments()[0].toDouble(), Expected.ShortPath);
  EXPECT_DOUBLE_EQ(Reply.arguments()[1].toDouble(), Expected.LongPath);
  EXPECT_DOUBLE_EQ(Reply.arguments()[2].toDouble(), Expected.DistanceKm);
  EXPECT_TRUE(Refused(StationCall("Bearing", {QStringLiteral("JZ00")}), "not a locator"));
  EXPECT_TRUE(Refused(StationCall("Bearing", {QStringLiteral("DL1ABC")}), "no country file"));

  // A real client of the bus sees the same.
  const TRun Gdbus = RunClient(
      QStringLiteral("gdbus"),
      {"call", "--session", "--dest", OrbaltServiceName, "--object-path", OrbaltObjectPath,
       "--method", StationInterfaceName + ".Bearing", "FN31pr"},
      Bus->ClientEnvironment());
  EXPECT_EQ(Gdbus.Code, 0) << Gdbus.Err.toStdString();
  EXPECT_TRUE(Gdbus.Out.startsWith(QStringLiteral("(%1").arg(std::floor(Expected.ShortPath))))
      << Gdbus.Out.toStdString();

  // Bravo turns 10 degrees less than it is told: its antenna is mounted so.
  TRotatorSettings Bravo = Station->RotatorSettings(1);
  Bravo.Offset = 10;
  Station->ApplyRotatorSettings(1, Bravo);
  EXPECT_TRUE(Refused(StationCall("TurnTo", {1, QStringLiteral("FN31pr"), false}), "not open"));
  EXPECT_TRUE(Refused(StationCall("TurnTo", {2, QStringLiteral("FN31pr"), false}), "not enabled"));
  ASSERT_EQ(Value(Call(*Client, "Open", {1})), QVariant::fromValue<qint16>(-1));
  Emulators[1]->clearLog();

  const int Short = static_cast<int>(std::lround(Expected.ShortPath));
  const int Long = static_cast<int>(std::lround(Expected.LongPath));
  Reply = StationCall("TurnTo", {1, QStringLiteral("FN31pr"), false});
  EXPECT_EQ(Value(Reply), QVariant(double(Short))) << Reply.errorMessage().toStdString();
  const QString ShortCommand = QStringLiteral("M%1").arg(Short - 10, 3, 10, QLatin1Char('0'));
  EXPECT_TRUE(WaitFor([&] { return Sent(*Emulators[1]).contains(ShortCommand); }))
      << ShortCommand.toStdString() << ": " << Sent(*Emulators[1]).join(' ').toStdString();
  EXPECT_EQ(Driver(1).AzPresetD(), Short);

  Reply = StationCall("TurnTo", {1, QStringLiteral("FN31pr"), true});
  EXPECT_EQ(Value(Reply), QVariant(double(Long))) << Reply.errorMessage().toStdString();
  const QString LongCommand = QStringLiteral("M%1").arg(Long - 10, 3, 10, QLatin1Char('0'));
  EXPECT_TRUE(WaitFor([&] { return Sent(*Emulators[1]).contains(LongCommand); }))
      << LongCommand.toStdString() << ": " << Sent(*Emulators[1]).join(' ').toStdString();
  EXPECT_TRUE(Refused(StationCall("TurnTo", {1, QStringLiteral("nowhere"), false}), "neither"));
  EXPECT_TRUE(Reported().isEmpty()) << Reported().join('\n').toStdString();
}

TEST_F(AutomationStationTest, IntrospectionListsTheOperationsInOrderWithDispatchIds) {
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

TEST_F(AutomationStationTest, ClientsHoldTheObjectUntilTheyLeaveTheBus) {
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
  EXPECT_FALSE(Automation->HasClients());

  TConnection First(Bus->Address), Second(Bus->Address);
  ASSERT_EQ(Value(Call(*First, "RotatorIndex")), QVariant(0));
  ASSERT_EQ(Value(Call(*First, "Enable")), QVariant::fromValue<qint16>(0));
  EXPECT_EQ(Server.Clients(), QSet<QString>{First->baseService()});
  EXPECT_TRUE(Automation->HasClients());

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
  EXPECT_FALSE(Automation->HasClients());
}

// --- Errors inside the operations ------------------------------------------------

// A workspace whose every access fails.
class TBrokenWorkspace : public TCommandSurface {
public:
  bool CtrlTableEnable() const override { throw std::runtime_error("The workspace is gone"); }
  int RotatorCount() const override { return 1; }
  int CurrentRotator() const override { throw std::runtime_error("No current rotator"); }
  TGs232 &Driver(int) override { throw std::runtime_error("No driver"); }
  TRotatorSettings RotatorSettings(int) const override {
    throw std::runtime_error("No rotator settings");
  }
  bool RotatorEnabled(int) const override { return true; }
  void AutoOperation(int, double) override { throw std::runtime_error("No table"); }
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
      {"GetRotatorTitle", {0}, "No rotator settings"},
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
              Answer.contains("No rotator settings"))
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
