// The network control on the station: the "/Network" section of the
// settings document, the command-line switches, and servers that follow the
// station's rotators.

#include "station/StationSeam.h"
#include "RotctldTestSupport.h"
#include "common/RecordingUiServices.h"
#include "remote/StationNetwork.h"
#include "settings/NetworkSettings.h"
#include "settings/SettingsDocument.h"
#include "settings/XMLIniFile.h"
#include "station/Station.h"

#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

using namespace rotctld_test;

namespace {

class RotctldStationTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Dir.isValid()); }

  void TearDown() override { StopStation(); }

  QString SettingsPath() const { return Dir.filePath(QStringLiteral("orbalt.xml")); }

  void WriteFile(const QString &Text) {
    QFile File(SettingsPath());
    ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
    File.write(Text.toUtf8());
  }

  // A document with one enabled rotator on Device that opens at start, and
  // Extra before the rotators.
  void WriteSettings(const QString &Device, int Offset, const QString &Extra = {},
                     const QString &CommandB = {}, const QString &CommandA = {}) {
    WriteFile(QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>%1"
                             "<Rotators><Rotator_0>"
                             "<Title Type=\"10\">Tower</Title>"
                             "<Enable Type=\"2\">-1</Enable>"
                             "<AutoActive Type=\"2\">-1</AutoActive>"
                             "<Offset Type=\"9\">%2</Offset>"
                             "<CommandB Type=\"10\">%4</CommandB>"
                             "<CommandA Type=\"10\">%5</CommandA>"
                             "<Port Type=\"10\">%3</Port>"
                             "</Rotator_0></Rotators></root>\n")
                  .arg(Extra)
                  .arg(Offset)
                  .arg(Device, CommandB, CommandA));
  }

  // A station on the document, not yet loaded; what it raises for the
  // operator is kept in Messages.
  void MakeStation() {
    Station = std::make_unique<TStation>(SettingsPath());
    QObject::connect(Station.get(), &TStation::Message, Station.get(),
                     [this](const QString &Text, TMessageKind) { Messages << Text; });
  }

  // The station's rotctld side with Arguments, started; what it raises for
  // the operator is kept in Messages.
  void StartRotctld(const TNetworkArguments &Arguments) {
    Rotctld = std::make_unique<TStationNetwork>(*Station, Arguments);
    QObject::connect(Rotctld.get(), &TStationNetwork::Message, Rotctld.get(),
                     [this](const QString &Text) { Messages << Text; });
    Rotctld->Start();
  }

  // Loads and starts a station on the document, then its rotctld side, as
  // the program does.
  void StartStation(const TNetworkArguments &Arguments) {
    MakeStation();
    Station->Load();
    Station->Start();
    StartRotctld(Arguments);
  }

  // Drops the rotctld side, then the station, without the closing sequence.
  void StopStation() {
    Rotctld.reset();
    Station.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  TNetworkSettings Stored() {
    TXMLIniFile Ini(SettingsPath());
    TLoadProblems Problems;
    const TNetworkSettings Settings = ReadNetworkSettings(Ini, Problems);
    EXPECT_TRUE(Problems.isEmpty()) << LoadProblemsMessage(Problems).toStdString();
    return Settings;
  }

  static TNetworkArguments Switches(QStringList Arguments) {
    Arguments.prepend(QStringLiteral("orbalt"));
    return TakeNetworkArguments(Arguments);
  }

  // Everything raised for the operator and every box shown.
  QStringList Reported() const { return Messages + Ui.services.shown(); }

  TScopedRecordingUi Ui;
  QStringList Messages;
  QTemporaryDir Dir;
  std::unique_ptr<TStation> Station;
  std::unique_ptr<TStationNetwork> Rotctld;
};

// --- Settings -------------------------------------------------------------------------

TEST_F(RotctldStationTest, NetworkSectionReadsBackAndOlderDocumentsGiveTheDefaults) {
  WriteFile(QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root/>\n"));
  EXPECT_EQ(Stored(), TNetworkSettings{});
  EXPECT_EQ(TNetworkSettings{}.RotctldPort, 4533);
  EXPECT_EQ(TNetworkSettings{}.RotctldAddress, "127.0.0.1");
  EXPECT_FALSE(TNetworkSettings{}.RotctldEnable);

  const TNetworkSettings Written{true, 4600, QStringLiteral("0.0.0.0")};
  SaveNetworkSettings(SettingsPath(), Written);
  EXPECT_EQ(Stored(), Written);
  TXMLIniFile Ini(SettingsPath());
  EXPECT_EQ(Ini.GetNodeType(QStringLiteral("RotctldEnable"),
                            Ini.ChildNodeByName(QStringLiteral("Network"), Ini.RootNode())),
            TXMLNodeType::xdtBool);
}

TEST_F(RotctldStationTest, UnreadableNetworkKeysTakeTheirDefaults) {
  WriteFile(QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root><Network>"
                           "<RotctldEnable Type=\"2\">maybe</RotctldEnable>"
                           "<RotctldPort Type=\"9\">70000</RotctldPort>"
                           "<RotctldAddress Type=\"10\"> </RotctldAddress>"
                           "</Network></root>\n"));
  TXMLIniFile Ini(SettingsPath());
  TLoadProblems Problems;
  EXPECT_EQ(ReadNetworkSettings(Ini, Problems), TNetworkSettings{});
  EXPECT_EQ(Problems.size(), 2) << LoadProblemsMessage(Problems).toStdString();
  // Loading the whole file notes the same two; nothing is shown there.
  TLoadProblems Loaded;
  EXPECT_EQ(LoadNetworkSettings(SettingsPath(), Loaded), TNetworkSettings{});
  EXPECT_EQ(Loaded, Problems);
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
  // Starting the network control reports them once, in one message that
  // names both keys; the servers stay off.
  StartStation({});
  EXPECT_EQ(Rotctld->Servers(), nullptr);
  ASSERT_EQ(Messages.filter(QStringLiteral("RotctldEnable")).size(), 1)
      << Reported().join('|').toStdString();
  EXPECT_TRUE(Messages.filter(QStringLiteral("RotctldEnable"))[0].contains(
      QStringLiteral("RotctldPort")));
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

TEST_F(RotctldStationTest, TheDocumentsOtherSavesKeepTheNetworkSection) {
  WriteSettings(QStringLiteral("/dev/null-none"), 0);
  const TNetworkSettings Written{true, 4700, QStringLiteral("127.0.0.1")};
  SaveNetworkSettings(SettingsPath(), Written);
  SaveRotators(SettingsPath(), true, {TRotatorSettings::Defaults(QStringLiteral("Only"))});
  ::SaveWindowPosition(SettingsPath(), QStringLiteral("1.0"), 10, 20);
  EXPECT_EQ(Stored(), Written);
}

// --- Switches ------------------------------------------------------------------------------

TEST_F(RotctldStationTest, SwitchesAreTakenOutOfTheArguments) {
  struct Case {
    QStringList Arguments;
    std::optional<bool> Enable;
    std::optional<int> Port;
    std::optional<QString> Address;
    QStringList Rest;
    int Errors;
  };
  const QString Demo = QStringLiteral("--demo");
  const Case Cases[] = {
      {{Demo}, {}, {}, {}, {Demo}, 0},
      {{"--rotctld"}, true, {}, {}, {}, 0},
      {{"--rotctld", Demo}, true, {}, {}, {Demo}, 0},
      {{"--rotctld", "4600"}, true, 4600, {}, {}, 0},
      {{"--rotctld=0"}, true, 0, {}, {}, 0},
      {{"--rotctld", "off"}, false, {}, {}, {}, 0},
      {{"--rotctld=OFF", Demo}, false, {}, {}, {Demo}, 0},
      {{"--rotctld", "70000"}, {}, {}, {}, {}, 1},
      {{"--rotctld=x"}, {}, {}, {}, {}, 1},
      {{"--rotctld-address", "0.0.0.0", "--rotctld"}, true, {}, "0.0.0.0", {}, 0},
      {{"--rotctld-address=::1"}, {}, {}, "::1", {}, 0},
      {{"--rotctld-address"}, {}, {}, {}, {}, 1},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Arguments.join(' ').toStdString());
    QStringList Arguments = QStringList{QStringLiteral("orbalt")} + C.Arguments;
    const TNetworkArguments Result = TakeNetworkArguments(Arguments);
    EXPECT_EQ(Result.Enable, C.Enable);
    EXPECT_EQ(Result.Port, C.Port);
    EXPECT_EQ(Result.Address, C.Address);
    EXPECT_EQ(Arguments, QStringList{QStringLiteral("orbalt")} + C.Rest);
    EXPECT_EQ(Result.Errors.size(), C.Errors);
  }

  const TNetworkSettings Before{false, 4600, QStringLiteral("127.0.0.1")};
  EXPECT_EQ(ApplyNetworkArguments(Before, Switches({"--rotctld"})),
            (TNetworkSettings{true, 4600, QStringLiteral("127.0.0.1")}));
  EXPECT_EQ(ApplyNetworkArguments(Before, Switches({"--rotctld-address", "::1"})),
            (TNetworkSettings{false, 4600, QStringLiteral("::1")}));
  EXPECT_TRUE(RotctldAddress(QStringLiteral("localhost")).isLoopback());
  EXPECT_TRUE(RotctldAddress(QStringLiteral("rotator.example")).isNull());
}

// --- On the station --------------------------------------------------------------------------

TEST_F(RotctldStationTest, SwitchesAreRememberedForLaterStarts) {
  WriteSettings(QStringLiteral("/dev/null-none"), 0);
  StartStation(Switches({"--rotctld", "0"}));
  ASSERT_NE(Rotctld->Servers(), nullptr);
  EXPECT_NE(Rotctld->Servers()->Port(0), 0);
  EXPECT_EQ(Stored(), (TNetworkSettings{true, 0, QStringLiteral("127.0.0.1")}));
  StopStation();

  // Without switches the remembered settings apply.
  StartStation({});
  ASSERT_NE(Rotctld->Servers(), nullptr);
  EXPECT_NE(Rotctld->Servers()->Port(0), 0);
  StopStation();

  StartStation(Switches({"--rotctld", "off"}));
  EXPECT_EQ(Rotctld->Servers(), nullptr);
  EXPECT_FALSE(Stored().RotctldEnable);
  EXPECT_TRUE(Reported().filter(QStringLiteral("rotctld")).isEmpty())
      << Reported().join('|').toStdString();
}

TEST_F(RotctldStationTest, AnAddressThatIsNoneStartsNoServer) {
  WriteSettings(QStringLiteral("/dev/null-none"), 0);
  StartStation(Switches({"--rotctld", "0", "--rotctld-address", "rotator.example"}));
  EXPECT_EQ(Rotctld->Servers(), nullptr);
  // Raised for the program to show, not shown here.
  EXPECT_EQ(Messages.filter(QStringLiteral("rotator.example")).size(), 1)
      << Reported().join('|').toStdString();
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

TEST_F(RotctldStationTest, APortInUseIsReportedAndTheStationGoesOn) {
  QTcpServer Taken;
  ASSERT_TRUE(Taken.listen(QHostAddress::LocalHost, 0));
  WriteSettings(QStringLiteral("/dev/null-none"), 0);
  StartStation(Switches({"--rotctld", QString::number(Taken.serverPort())}));
  ASSERT_NE(Rotctld->Servers(), nullptr);
  EXPECT_EQ(Rotctld->Servers()->Port(0), 0);
  EXPECT_EQ(Station->RotatorCount(), 1);
  // Raised for the program to show, not shown here.
  const QStringList Raised = Messages.filter(QStringLiteral("rotctld"));
  ASSERT_EQ(Raised.size(), 1) << Reported().join('|').toStdString();
  EXPECT_TRUE(Raised[0].contains(QString::number(Taken.serverPort())) &&
              Raised[0].contains(QStringLiteral("Tower")))
      << Raised[0].toStdString();
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

TEST_F(RotctldStationTest, ADocumentThatCantBeReadIsReportedAndLeftAlone) {
  const QString Broken = QStringLiteral("<root><Network>");
  WriteFile(Broken);
  MakeStation();
  EXPECT_THROW(Station->Load(), TSettingsError);
  StartRotctld(Switches({"--rotctld", "0"}));

  // The switches alone decide; the document is not replaced.
  EXPECT_EQ(Rotctld->Settings(), (TNetworkSettings{true, 0, QStringLiteral("127.0.0.1")}));
  EXPECT_NE(Rotctld->Servers(), nullptr);
  QFile File(SettingsPath());
  ASSERT_TRUE(File.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(File.readAll()), Broken);
  // Reported once, in the exception dialog as every failed step.
  EXPECT_TRUE(Messages.isEmpty()) << Reported().join('|').toStdString();
  const QStringList Errors = Ui->texts(TRecordingUiServices::Entry::Exception);
  ASSERT_EQ(Errors.size(), 1) << Ui->shown().join('|').toStdString();
  EXPECT_TRUE(Errors[0].contains(SettingsPath())) << Errors[0].toStdString();
}

TEST_F(RotctldStationTest, ServersFollowTheStationsRotators) {
  Gs232Emulator Emulator;
  ASSERT_TRUE(Emulator.start());
  WriteSettings(Emulator.devicePath(), 10);
  StartStation(Switches({"--rotctld=0"}));
  ASSERT_NE(Rotctld->Servers(), nullptr);
  TRotctldServers &Servers = *Rotctld->Servers();
  ASSERT_TRUE(TStationSeam::Driver(*Station, 0).Active());
  const quint16 Port = Servers.Port(0);

  // Through the station: the rotator's offset applies.
  const TRotctlRun Run =
      RunRotctl(Port, {QStringLiteral("P"), QStringLiteral("90"), QStringLiteral("0")});
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_TRUE(WaitForReceived(Emulator, QStringLiteral("M080")));
  EXPECT_EQ(TStationSeam::Driver(*Station, 0).AzPresetD(), 90);

  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Port));
  EXPECT_EQ(Client.Ask("_"), "Tower (GS-232A)\n");

  // A rotator inserted in front of it: the server of index 0 now belongs to
  // the new rotator, and the client of the old one is cut off.
  Station->InsertRotator(0);
  ASSERT_TRUE(WaitFor([&] { return Servers.ServerCount() == 2; }));
  EXPECT_TRUE(Client.WaitClosed());
  EXPECT_EQ(Servers.Port(0), Port);
  TRawClient Moved;
  ASSERT_TRUE(Moved.Connect(Servers.Port(1)));
  EXPECT_EQ(Moved.Ask("_"), "Tower (GS-232A)\n");
  // The station's save of the rotators kept the network settings.
  EXPECT_EQ(Stored(), (TNetworkSettings{true, 0, QStringLiteral("127.0.0.1")}));

  // The new rotator deleted again: one server, the old rotator back at 0.
  ASSERT_TRUE(Station->DeleteRotator(0));
  ASSERT_TRUE(WaitFor([&] { return Servers.ServerCount() == 1; }));
  EXPECT_TRUE(Moved.WaitClosed());
  TRawClient Back;
  ASSERT_TRUE(Back.Connect(Servers.Port(0)));
  EXPECT_EQ(Back.Ask("_"), "Tower (GS-232A)\n");
  EXPECT_TRUE(Reported().isEmpty()) << Reported().join('|').toStdString();

  // The closing sequence takes the rotators and with them their servers;
  // its save keeps the network settings too.
  Station->Close();
  EXPECT_TRUE(Back.WaitClosed());
  EXPECT_TRUE(WaitFor([&] { return Servers.ServerCount() == 0; }));
  EXPECT_EQ(Stored(), (TNetworkSettings{true, 0, QStringLiteral("127.0.0.1")}));
  Emulator.stop();
}

// As the program runs without a window: a tracker's target is reached, and
// the arrival is answered with the stop and its after-movement list, once.
TEST_F(RotctldStationTest, ATargetReachedWithoutAWindowGetsItsStopAndListOnce) {
  Gs232Emulator Emulator;
  ASSERT_TRUE(Emulator.start());
  WriteSettings(Emulator.devicePath(), 0, {}, {}, QStringLiteral("Y20"));
  StartStation(Switches({"--rotctld=0"}));
  ASSERT_NE(Rotctld->Servers(), nullptr);
  ASSERT_TRUE(TStationSeam::Driver(*Station, 0).Active());

  const TRotctlRun Run = RunRotctl(Rotctld->Servers()->Port(0),
                                   {QStringLiteral("P"), QStringLiteral("12"), QStringLiteral("0")});
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  ASSERT_TRUE(WaitForReceived(Emulator, QStringLiteral("Y20")));
  EXPECT_NEAR(Emulator.azimuth(), 12, 0.5);
  // Further polls bring no second stop.
  const size_t Seen = Emulator.commands().size();
  ASSERT_TRUE(WaitFor([&] { return Emulator.commands().size() >= Seen + 5; }));
  const QStringList After = Received(Emulator).mid(Received(Emulator).indexOf("M012"));
  EXPECT_EQ(After, (QStringList{"M012", "S", "Y20"}));
  EXPECT_TRUE(Reported().isEmpty()) << Reported().join('|').toStdString();
  StopStation();
  Emulator.stop();
}

TEST_F(RotctldStationTest, ServersFollowARotatorMovedInTheStation) {
  Gs232Emulator Emulator;
  ASSERT_TRUE(Emulator.start());
  WriteSettings(Emulator.devicePath(), 0);
  StartStation(Switches({"--rotctld=0"}));
  ASSERT_NE(Rotctld->Servers(), nullptr);
  TRotctldServers &Servers = *Rotctld->Servers();
  Station->InsertRotator(1);
  ASSERT_TRUE(WaitFor([&] { return Servers.ServerCount() == 2; }));
  const quint16 Ports[] = {Servers.Port(0), Servers.Port(1)};
  TRawClient First, Second;
  ASSERT_TRUE(First.Connect(Ports[0]));
  ASSERT_TRUE(Second.Connect(Ports[1]));
  EXPECT_EQ(First.Ask("_"), "Tower (GS-232A)\n");
  EXPECT_EQ(Second.Ask("_"), "Rotator1 (GS-232A)\n");

  // The rotators swap places: both clients are cut off, the ports stay and
  // serve the rotators in their new order.
  Station->MoveRotator(1, 0);
  EXPECT_TRUE(First.WaitClosed());
  EXPECT_TRUE(Second.WaitClosed());
  ASSERT_EQ(Servers.ServerCount(), 2);
  const char *Titles[] = {"Rotator1", "Tower"};
  for (int Index : {0, 1}) {
    SCOPED_TRACE(Index);
    EXPECT_EQ(Servers.Port(Index), Ports[Index]);
    TRawClient Client;
    ASSERT_TRUE(Client.Connect(Ports[Index]));
    EXPECT_EQ(Client.Ask("_"), QByteArray(Titles[Index]) + " (GS-232A)\n");
  }
  EXPECT_TRUE(Reported().isEmpty()) << Reported().join('|').toStdString();
  Emulator.stop();
}

TEST_F(RotctldStationTest, RotatorDeletedFromTheStationWhileItsCommandWaits) {
  Gs232Emulator Emulator;
  ASSERT_TRUE(Emulator.start());
  WriteSettings(Emulator.devicePath(), 0, {}, QStringLiteral("WAIT1000"));
  StartStation(Switches({"--rotctld=0"}));
  ASSERT_NE(Rotctld->Servers(), nullptr);
  TRotctldServers &Servers = *Rotctld->Servers();
  Station->InsertRotator(1); // at the end
  ASSERT_TRUE(WaitFor([&] { return Servers.ServerCount() == 2; }));

  // The rotator is deleted while the list before its move waits.
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Servers.Port(0)));
  QTimer::singleShot(300, Station.get(), [&] { Station->DeleteRotator(0); });
  Client.Send("P 90 0\nS\n");
  EXPECT_TRUE(Client.WaitClosed());
  ASSERT_TRUE(WaitFor([&] { return Servers.ServerCount() == 1; }));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

  // What remains is served: the inserted rotator, now at index 0.
  TRawClient Next;
  ASSERT_TRUE(Next.Connect(Servers.Port(0)));
  EXPECT_EQ(Next.Ask("_"), "Rotator1 (GS-232A)\n");
  Emulator.stop();
}

} // namespace

namespace {

// The loggers' switches: read in both forms, remembered in "/Network" for the
// next start, and the listeners started from what is remembered; values that
// can't be used are told and change nothing.
TEST_F(RotctldStationTest, LoggerSwitchesAreRememberedAndStartTheListeners) {
  WriteSettings(QStringLiteral("/dev/null-0"), 0);
  StartStation(Switches({"--pst", "0", "--n1mm=0", "--n1mm-status", "13999", "--rigctld",
                         "127.0.0.1:1"}));
  // (The rotator's port, which does not exist, is told; no listener is.)
  EXPECT_TRUE(Messages.filter(QStringLiteral("listener")).isEmpty())
      << Messages.join('\n').toStdString();
  ASSERT_NE(Rotctld->Pst(), nullptr);
  ASSERT_NE(Rotctld->N1mm(), nullptr);
  ASSERT_NE(Rotctld->Rigctld(), nullptr);
  EXPECT_NE(Rotctld->Pst()->Port(), 0);
  const TNetworkSettings Saved = Stored();
  EXPECT_TRUE(Saved.PstEnable && Saved.N1mmEnable && Saved.RigctldEnable);
  EXPECT_EQ(Saved.N1mmStatusPort, 13999);
  EXPECT_EQ(Saved.RigctldHost, "127.0.0.1");
  EXPECT_EQ(Saved.RigctldPort, 1);
  StopStation();

  // The next start without switches runs the same; "off" turns one off.
  StartStation(Switches({"--pst", "off"}));
  EXPECT_EQ(Rotctld->Pst(), nullptr);
  EXPECT_NE(Rotctld->N1mm(), nullptr);
  EXPECT_NE(Rotctld->Rigctld(), nullptr);
  // New settings from the network page take effect at once and are kept.
  TNetworkSettings Changed = Rotctld->Settings();
  Changed.PstEnable = true;
  Changed.RigctldEnable = false;
  Rotctld->Apply(Changed);
  EXPECT_NE(Rotctld->Pst(), nullptr);
  EXPECT_NE(Rotctld->N1mm(), nullptr);
  EXPECT_EQ(Rotctld->Rigctld(), nullptr);
  EXPECT_EQ(Stored(), Changed);
  StopStation();

  const TNetworkArguments Bad =
      Switches({"--pst", "x", "--n1mm", "70000", "--rigctld", "nohost", "--n1mm-status"});
  EXPECT_EQ(Bad.Errors.size(), 4) << Bad.Errors.join('\n').toStdString();
  EXPECT_FALSE(Bad.PstEnable || Bad.N1mmEnable || Bad.RigctldEnable);
}

} // namespace

namespace {

// New network settings while a datagram's list waits: the listener that is
// carrying it out is not freed under it; the change takes effect after.
TEST_F(RotctldStationTest, NetworkSettingsAppliedWhileADatagramWaitsTakeEffectAfterIt) {
  Gs232Emulator Emulator;
  ASSERT_TRUE(Emulator.start());
  WriteSettings(Emulator.devicePath(), 0, {}, QStringLiteral("WAIT400"));
  StartStation(Switches({"--pst", "0"}));
  ASSERT_NE(Rotctld->Pst(), nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return TStationSeam::Driver(*Station, 0).Active(); }, 20000));
  TNetworkSettings Off = Rotctld->Settings();
  Off.PstEnable = false;
  // While the list before the movement waits, the page switches the
  // listener off.
  QTimer::singleShot(100, Rotctld.get(), [&] { Rotctld->Apply(Off); });
  QUdpSocket Client;
  Client.writeDatagram("<PST><AZIMUTH>45</AZIMUTH></PST>", QHostAddress(QHostAddress::LocalHost),
                       Rotctld->Pst()->Port());
  EXPECT_TRUE(WaitForReceived(Emulator, QStringLiteral("M045")));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Rotctld->Pst() == nullptr; }, 20000));
  EXPECT_FALSE(Stored().PstEnable);
  StopStation();
  Emulator.stop();
}

} // namespace
