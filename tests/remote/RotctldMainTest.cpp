// The network control on the main window: the "/Network" section of the
// settings document, the command-line switches, and servers that follow the
// window's rotators.

#include "app/Main.h"
#include "app/MainRotctld.h"
#include "settings/NetworkSettings.h"
#include "common/RecordingUiServices.h"
#include "RotctldTestSupport.h"
#include "settings/SettingsDocument.h"
#include "settings/XMLIniFile.h"

#include <QFile>
#include <QImage>
#include <QTabWidget>
#include <QTemporaryDir>

#include <memory>

using namespace rotctld_test;

namespace {

class RotctldMainTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    for (const char *Name :
         {"AzChart.bmp", "CW_On.bmp", "CW_Off.bmp", "CCW_On.bmp", "CCW_Off.bmp"}) {
      QImage Picture(16, 16, QImage::Format_RGB32);
      Picture.fill(Qt::gray);
      ASSERT_TRUE(Picture.save(Dir.filePath(QLatin1String(Name)), "BMP"));
    }
  }

  void TearDown() override {
    Rotctld.reset();
    Window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  QString SettingsPath() const { return Dir.filePath(QStringLiteral("orbalt.xml")); }

  void WriteFile(const QString &Text) {
    QFile File(SettingsPath());
    ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
    File.write(Text.toUtf8());
  }

  // A document with one enabled rotator on Device that opens at start, and
  // Extra before the rotators.
  void WriteSettings(const QString &Device, int Offset, const QString &Extra = {},
                     const QString &CommandB = {}) {
    WriteFile(QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>%1"
                             "<Rotators><Rotator_0>"
                             "<Title Type=\"10\">Tower</Title>"
                             "<Enable Type=\"2\">-1</Enable>"
                             "<AutoActive Type=\"2\">-1</AutoActive>"
                             "<Offset Type=\"9\">%2</Offset>"
                             "<CommandB Type=\"10\">%4</CommandB>"
                             "<Port Type=\"10\">%3</Port>"
                             "</Rotator_0></Rotators></root>\n")
                  .arg(Extra)
                  .arg(Offset)
                  .arg(Device, CommandB));
  }

  void StartWindow(const TRotctldArguments &Arguments) {
    TMainOptions Options;
    Options.SettingsFile = SettingsPath();
    Options.PictureFolder = Dir.path();
    Window = std::make_unique<TMain>(Options);
    Rotctld = std::make_unique<TMainRotctld>(*Window, Arguments);
  }

  TNetworkSettings Stored() {
    TXMLIniFile Ini(SettingsPath());
    QStringList Problems;
    const TNetworkSettings Settings = ReadNetworkSettings(Ini, Problems);
    EXPECT_TRUE(Problems.isEmpty()) << Problems.join('|').toStdString();
    return Settings;
  }

  static TRotctldArguments Switches(QStringList Arguments) {
    Arguments.prepend(QStringLiteral("orbalt"));
    return TakeRotctldArguments(Arguments);
  }

  TScopedRecordingUi Ui;
  QTemporaryDir Dir;
  std::unique_ptr<TMain> Window;
  std::unique_ptr<TMainRotctld> Rotctld;
};

// --- Settings -------------------------------------------------------------------------

TEST_F(RotctldMainTest, NetworkSectionReadsBackAndOlderDocumentsGiveTheDefaults) {
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

TEST_F(RotctldMainTest, UnreadableNetworkKeysTakeTheirDefaults) {
  WriteFile(QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root><Network>"
                           "<RotctldEnable Type=\"2\">maybe</RotctldEnable>"
                           "<RotctldPort Type=\"9\">70000</RotctldPort>"
                           "<RotctldAddress Type=\"10\"> </RotctldAddress>"
                           "</Network></root>\n"));
  TXMLIniFile Ini(SettingsPath());
  QStringList Problems;
  EXPECT_EQ(ReadNetworkSettings(Ini, Problems), TNetworkSettings{});
  EXPECT_EQ(Problems.size(), 2) << Problems.join('|').toStdString();
  // Loading the whole file reports them once.
  LoadNetworkSettings(SettingsPath());
  EXPECT_EQ(Ui->shown().size(), 1);
}

TEST_F(RotctldMainTest, TheWindowsOwnSavesKeepTheNetworkSection) {
  WriteSettings(QStringLiteral("/dev/null-none"), 0);
  const TNetworkSettings Written{true, 4700, QStringLiteral("127.0.0.1")};
  SaveNetworkSettings(SettingsPath(), Written);
  TGs232 Driver;
  QStringList Block;
  ApplyRotatorDefaults(Block, Driver, QStringLiteral("Only"));
  SaveRotators(SettingsPath(), true, {BlockText(Block)}, {&Driver});
  ::SaveWindowPosition(SettingsPath(), QStringLiteral("1.0"), 10, 20);
  EXPECT_EQ(Stored(), Written);
}

// --- Switches ------------------------------------------------------------------------------

TEST_F(RotctldMainTest, SwitchesAreTakenOutOfTheArguments) {
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
    const TRotctldArguments Result = TakeRotctldArguments(Arguments);
    EXPECT_EQ(Result.Enable, C.Enable);
    EXPECT_EQ(Result.Port, C.Port);
    EXPECT_EQ(Result.Address, C.Address);
    EXPECT_EQ(Arguments, QStringList{QStringLiteral("orbalt")} + C.Rest);
    EXPECT_EQ(Result.Errors.size(), C.Errors);
  }

  const TNetworkSettings Before{false, 4600, QStringLiteral("127.0.0.1")};
  EXPECT_EQ(ApplyRotctldArguments(Before, Switches({"--rotctld"})),
            (TNetworkSettings{true, 4600, QStringLiteral("127.0.0.1")}));
  EXPECT_EQ(ApplyRotctldArguments(Before, Switches({"--rotctld-address", "::1"})),
            (TNetworkSettings{false, 4600, QStringLiteral("::1")}));
  EXPECT_TRUE(RotctldAddress(QStringLiteral("localhost")).isLoopback());
  EXPECT_TRUE(RotctldAddress(QStringLiteral("rotator.example")).isNull());
}

// --- On the window ---------------------------------------------------------------------------

TEST_F(RotctldMainTest, SwitchesAreRememberedForLaterStarts) {
  WriteSettings(QStringLiteral("/dev/null-none"), 0);
  StartWindow(Switches({"--rotctld", "0"}));
  ASSERT_NE(Rotctld->Servers(), nullptr);
  EXPECT_NE(Rotctld->Servers()->Port(0), 0);
  EXPECT_EQ(Stored(), (TNetworkSettings{true, 0, QStringLiteral("127.0.0.1")}));
  Rotctld.reset();
  Window.reset();

  // Without switches the remembered settings apply.
  StartWindow({});
  ASSERT_NE(Rotctld->Servers(), nullptr);
  EXPECT_NE(Rotctld->Servers()->Port(0), 0);
  Rotctld.reset();
  Window.reset();

  StartWindow(Switches({"--rotctld", "off"}));
  EXPECT_EQ(Rotctld->Servers(), nullptr);
  EXPECT_FALSE(Stored().RotctldEnable);
  EXPECT_TRUE(Ui->shown().filter(QStringLiteral("rotctld")).isEmpty())
      << Ui->shown().join('|').toStdString();
}

TEST_F(RotctldMainTest, AnAddressThatIsNoneStartsNoServer) {
  WriteSettings(QStringLiteral("/dev/null-none"), 0);
  StartWindow(Switches({"--rotctld", "0", "--rotctld-address", "rotator.example"}));
  EXPECT_EQ(Rotctld->Servers(), nullptr);
  EXPECT_EQ(Ui->shown().filter(QStringLiteral("rotator.example")).size(), 1);
}

TEST_F(RotctldMainTest, ServersFollowTheWindowsRotators) {
  Gs232Emulator Emulator;
  ASSERT_TRUE(Emulator.start());
  WriteSettings(Emulator.devicePath(), 10);
  StartWindow(Switches({"--rotctld=0"}));
  ASSERT_NE(Rotctld->Servers(), nullptr);
  TRotctldServers &Servers = *Rotctld->Servers();
  ASSERT_TRUE(Window->Gs232s[0]->Active());
  const quint16 Port = Servers.Port(0);

  // Through the window's workspace: the rotator's offset applies.
  const TRotctlRun Run =
      RunRotctl(Port, {QStringLiteral("P"), QStringLiteral("90"), QStringLiteral("0")});
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_TRUE(WaitForReceived(Emulator, QStringLiteral("M080")));
  EXPECT_EQ(Window->Gs232s[0]->AzPresetD(), 90);

  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Port));
  EXPECT_EQ(Client.Ask("_"), "Tower (GS-232A)\n");

  // A rotator inserted in front of it: the server of index 0 now belongs to
  // the new rotator, and the client of the old one is cut off.
  Window->actInsRotatorExecute();
  ASSERT_TRUE(WaitFor([&] { return Servers.ServerCount() == 2; }));
  EXPECT_TRUE(Client.WaitClosed());
  EXPECT_EQ(Servers.Port(0), Port);
  TRawClient Moved;
  ASSERT_TRUE(Moved.Connect(Servers.Port(1)));
  EXPECT_EQ(Moved.Ask("_"), "Tower (GS-232A)\n");
  // The window's save of the rotators kept the network settings.
  EXPECT_EQ(Stored(), (TNetworkSettings{true, 0, QStringLiteral("127.0.0.1")}));

  // The new rotator deleted again: one server, the old rotator back at 0.
  Window->PageControl1->setCurrentIndex(0);
  Window->actDelRotatorExecute();
  ASSERT_TRUE(WaitFor([&] { return Servers.ServerCount() == 1; }));
  EXPECT_TRUE(Moved.WaitClosed());
  TRawClient Back;
  ASSERT_TRUE(Back.Connect(Servers.Port(0)));
  EXPECT_EQ(Back.Ask("_"), "Tower (GS-232A)\n");
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();

  Window->close();
  EXPECT_TRUE(Back.WaitClosed());
  Emulator.stop();
}

TEST_F(RotctldMainTest, RotatorDeletedInTheWindowWhileItsCommandWaits) {
  Gs232Emulator Emulator;
  ASSERT_TRUE(Emulator.start());
  WriteSettings(Emulator.devicePath(), 0, {}, QStringLiteral("WAIT1000"));
  StartWindow(Switches({"--rotctld=0"}));
  ASSERT_NE(Rotctld->Servers(), nullptr);
  TRotctldServers &Servers = *Rotctld->Servers();
  Window->PageControl1->setCurrentIndex(1); // the console tab: insert at the end
  Window->actInsRotatorExecute();
  ASSERT_TRUE(WaitFor([&] { return Servers.ServerCount() == 2; }));

  // The operator deletes the rotator while the list before its move waits.
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Servers.Port(0)));
  QTimer::singleShot(300, Window.get(), [&] {
    Window->PageControl1->setCurrentIndex(0);
    Window->actDelRotatorExecute();
  });
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
