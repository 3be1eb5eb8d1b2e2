// The main window beside the automation server on a private session bus: the
// rotator page follows ports opened and closed by clients, and closing the
// window while clients hold the automation object asks the operator first,
// wired as the program wires it.

#include "station/StationSeam.h"
#include "app/AzimuthDisplay.h"
#include "app/Main.h"
#include "common/RecordingUiServices.h"
#include "remote/AutomationBusSupport.h" // the automation tests' bus, from tests/remote
#include "remote/StationAutomation.h"
#include "settings/SettingsDocument.h"
#include "station/Station.h"
#include "tools/Gs232Emulator.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iterator>
#include <memory>

using namespace automation_test;

namespace {

class AutomationWindowTest : public PrivateBusTest {
protected:
  void SetUp() override {
    PrivateBusTest::SetUp();
    ASSERT_TRUE(Dir.isValid());
    for (auto &Emulator : Emulators) {
      Gs232Emulator::Options Options;
      Options.timeScale = 10;
      Emulator = std::make_unique<Gs232Emulator>(Options);
      ASSERT_TRUE(Emulator->start());
    }
    // Three rotators, none opening at start; the third is disabled.
    const struct {
      const char *Title;
      bool Enable;
    } Entries[] = {{"Alpha", true}, {"Bravo", true}, {"Charlie", false}};
    QList<TRotatorSettings> Rotators;
    for (size_t I = 0; I < std::size(Entries); ++I) {
      TRotatorSettings Settings = TRotatorSettings::Defaults(QLatin1String(Entries[I].Title));
      Settings.Enable = Entries[I].Enable;
      Settings.Port = Emulators[I]->devicePath();
      Rotators << Settings;
    }
    SaveRotators(Dir.filePath("orbalt.xml"), false, Rotators);

    Station = std::make_unique<TStation>(Dir.filePath("orbalt.xml"));
    TMainOptions Options;
    Options.PictureFolder = QStringLiteral(ORBALT_TEST_ASSET_DIR);
    Window = std::make_unique<TMain>(*Station, Options);
    Window->StartStation();
    ASSERT_EQ(Station->RotatorCount(), 3);
    ASSERT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('\n').toStdString();

    ServerConnection = std::make_unique<TConnection>(Bus->Address);
    ASSERT_TRUE((*ServerConnection)->isConnected());
    Automation = std::make_unique<TStationAutomation>(*Station, **ServerConnection);
    QString Error;
    ASSERT_TRUE(Automation->Start(&Error)) << Error.toStdString();
    // As the program does: the operator is asked while clients remain.
    Window->CloseQuery = [this] {
      return !Automation->HasClients() || ConfirmEndWithAutomationClients();
    };
  }

  void TearDown() override {
    if (Window)
      Window->CloseQuery = nullptr;
    Automation.reset();
    ServerConnection.reset();
    Window.reset();
    Station.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (auto &Emulator : Emulators)
      if (Emulator)
        Emulator->stop();
  }

  QPushButton *OpenCloseButton() const {
    return Window->findChild<QPushButton *>(QStringLiteral("btnOpenClose"));
  }

  TScopedRecordingUi Ui;
  QTemporaryDir Dir;
  std::unique_ptr<Gs232Emulator> Emulators[3];
  std::unique_ptr<TStation> Station;
  std::unique_ptr<TMain> Window;
  std::unique_ptr<TConnection> ServerConnection;
  std::unique_ptr<TStationAutomation> Automation;
};

TEST_F(AutomationWindowTest, RotatorPageShowsPortsOpenedAndClosedByClients) {
  QPushButton *Button = OpenCloseButton();
  ASSERT_NE(Button, nullptr);
  ASSERT_EQ(Button->text(), "Open");
  TConnection Client(Bus->Address);
  for (int I : {0, 1})
    ASSERT_EQ(Value(Call(*Client, "Open", {I})), QVariant::fromValue<qint16>(-1));
  ASSERT_TRUE(TStationSeam::Driver(*Station, 0).Active() && TStationSeam::Driver(*Station, 1).Active());
  // The first rotator's page shows its port opened from outside.
  EXPECT_EQ(Station->CurrentRotator(), 0);
  EXPECT_EQ(Button->text(), "Close");

  EXPECT_EQ(Value(Call(*Client, "Close", {0})), QVariant::fromValue<qint16>(-1));
  EXPECT_EQ(Button->text(), "Open");
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('\n').toStdString();
}

TEST_F(AutomationWindowTest, RotatorPageShowsWhereAClientSendsTheRotator) {
  TConnection Client(Bus->Address);
  ASSERT_EQ(Value(Call(*Client, "Open", {0})), QVariant::fromValue<qint16>(-1));
  ASSERT_EQ(Value(Call(*Client, "Move", {0, 90})), QVariant::fromValue<qint16>(-1));
  // The preset needle points east, and the status bar tells where it goes
  // and who sent it there.
  const auto *Preset = Window->findChild<TOverlayLayer *>(QStringLiteral("imgPreset"));
  ASSERT_NE(Preset, nullptr);
  EXPECT_EQ(Preset->Picture().pixelColor(200, 125), QColor(Qt::blue));
  const auto *Notice = Window->findChild<QLabel *>(QStringLiteral("StatusNotice"));
  ASSERT_NE(Notice, nullptr);
  EXPECT_EQ(Notice->text(), QStringLiteral("Alpha: AZ=0° → 90° (D-Bus)"));
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('\n').toStdString();
}

TEST_F(AutomationWindowTest, ClosingWhileClientsHoldTheObjectAsksFirst) {
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
  EXPECT_EQ(Station->RotatorCount(), 3);
  EXPECT_FALSE(Station->Closed());
  EXPECT_TRUE(TStationSeam::Driver(*Station, 0).Active());
  EXPECT_EQ(Value(Call(*Client, "GetRotatorTitle", {0})), QVariant("Alpha"));

  // Yes: the closing sequence runs and the window closes.
  Ui->warningAnswers = {true};
  EXPECT_TRUE(Window->close());
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Warning).size(), 2);
  EXPECT_FALSE(Window->isVisible());
  EXPECT_TRUE(Station->Closed());
  EXPECT_EQ(Station->RotatorCount(), 0);
}

TEST_F(AutomationWindowTest, ClosingWithoutClientsAsksNothing) {
  Window->show();
  EXPECT_TRUE(Window->close());
  EXPECT_TRUE(Ui->entries.empty());
  EXPECT_TRUE(Station->Closed());
  EXPECT_EQ(Station->RotatorCount(), 0);
}

} // namespace
