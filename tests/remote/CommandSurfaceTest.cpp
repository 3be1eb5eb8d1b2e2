// The station's command surface and its front ends: the station decides
// whether a rotator is acted on, and the automation object, the rotctld
// server and the PstRotator listener only translate that decision.

#include "RotctldTestSupport.h"
#include "common/EmulatorLog.h"
#include "common/RecordingUiServices.h"
#include "remote/Orbalt.h"
#include "remote/RotctldServer.h"
#include "remote/UdpRotorServers.h"
#include "settings/SettingsDocument.h"
#include "station/Station.h"

#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <functional>
#include <memory>

using namespace rotctld_test;

namespace {

// Four rotators: "Mast" (360° travel) and "Wide" (450°) open on their own
// emulated lines, "Off" disabled, and "Spare" enabled but closed, on Mast's
// line.
class CommandSurfaceTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    ASSERT_TRUE(Mast.start());
    ASSERT_TRUE(Wide.start());
    auto Make = [](const QString &Title, const QString &Port, bool Enable, bool Open) {
      TRotatorSettings S = TRotatorSettings::Defaults(Title);
      S.Port = Port;
      S.Enable = Enable;
      S.AutoActive = Open;
      return S;
    };
    TRotatorSettings WideSettings = Make("Wide", Wide.devicePath(), true, true);
    WideSettings.AzimuthAngle = az450;
    const QString File = Dir.filePath(QStringLiteral("orbalt.xml"));
    SaveRotators(File, true,
                 {Make("Mast", Mast.devicePath(), true, true), WideSettings,
                  Make("Off", Dir.filePath(QStringLiteral("none")), false, false),
                  Make("Spare", Mast.devicePath(), true, false)});
    Station = std::make_unique<TStation>(File);
    Station->Load();
    Station->Start();
    ASSERT_TRUE(Station->Status(0)->Open);
    ASSERT_TRUE(Station->Status(1)->Open);
  }

  void TearDown() override {
    Station.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  void ClearLogs() {
    Mast.clearLog();
    Wide.clearLog();
  }

  TScopedRecordingUi Ui;
  QTemporaryDir Dir;
  Gs232Emulator Mast;
  Gs232Emulator Wide;
  std::unique_ptr<TStation> Station;
};

struct TGoToCase {
  int Index;
  double Azimuth;
  TRefusal Expected;
  const char *Sent; // the command on the rotator's line when it is done
};

// Sending a rotator to an azimuth: every front end comes to the station's
// decision, and a refused azimuth reaches no line.
TEST_F(CommandSurfaceTest, EveryFrontEndTakesTheStationsDecision) {
  const TGoToCase Cases[] = {
      {0, 45, TRefusal::None, "M045"},
      {0, 360, TRefusal::None, "M000"},
      {0, 0, TRefusal::None, "M000"},
      {0, 359.6, TRefusal::None, "M000"},
      {0, 360.4, TRefusal::OutOfRange, nullptr},
      {0, 361, TRefusal::OutOfRange, nullptr},
      {0, -1, TRefusal::OutOfRange, nullptr},
      {1, 360, TRefusal::None, "M360"},
      {1, 450, TRefusal::None, "M450"},
      {1, 451, TRefusal::OutOfRange, nullptr},
      {2, 10, TRefusal::NotEnabled, nullptr},
      {3, 10, TRefusal::NotOpen, nullptr},
      {4, 10, TRefusal::NoRotator, nullptr},
      {-1, 10, TRefusal::NoRotator, nullptr},
  };
  TOrbalt Automation(*Station);
  TRotctldServers Servers(*Station, {QHostAddress(QHostAddress::LocalHost), 0});
  Servers.Sync();
  ASSERT_EQ(Servers.ServerCount(), 4);
  std::vector<std::unique_ptr<TRawClient>> Clients;
  for (int I = 0; I < 4; ++I) {
    Clients.push_back(std::make_unique<TRawClient>());
    ASSERT_TRUE(Clients.back()->Connect(Servers.Port(I)));
  }
  QUdpSocket Datagrams;

  for (const TGoToCase &C : Cases) {
    SCOPED_TRACE(::testing::Message() << "rotator " << C.Index << " to " << C.Azimuth);
    const bool Done = C.Expected == TRefusal::None;
    Gs232Emulator *Line = C.Index == 1 ? &Wide : &Mast;
    auto SentNow = [&] { return C.Sent && Sent(*Line).contains(QLatin1String(C.Sent)); };

    ClearLogs();
    const TActResult Result = Station->GoToAzimuth(C.Index, C.Azimuth);
    EXPECT_EQ(Result.Refusal, C.Expected) << Result.Reason.toStdString();
    EXPECT_EQ(Result.Reason.isEmpty(), Done);
    if (Done)
      EXPECT_TRUE(WaitFor(SentNow)) << Sent(*Line).join(',').toStdString();

    if (C.Azimuth == std::floor(C.Azimuth))
      EXPECT_EQ(Automation.Move(C.Index, int(C.Azimuth)), Done ? AutomationTrue : AutomationFalse);

    if (C.Index >= 0 && C.Index < 4) {
      // The station's reason follows the code, cut to the line's bounds.
      const QString Code = Done                                 ? QStringLiteral("RPRT 0")
                           : C.Expected == TRefusal::OutOfRange ? QStringLiteral("RPRT -1 ")
                                                                : QStringLiteral("RPRT -9 ");
      const QString Answer = QString::fromUtf8(
          Clients[size_t(C.Index)]->Ask("P " + QByteArray::number(C.Azimuth) + " 0"));
      EXPECT_TRUE(Answer.endsWith(u'\n') &&
                  (Code + Result.Reason).startsWith(Answer.chopped(1)) &&
                  Answer.size() > Code.size())
          << Answer.toStdString();
    }

    // The listener's own format carries 0° to 360°; its rotator -1 stands
    // for the current one.
    if (C.Index >= 0 && C.Azimuth >= 0 && C.Azimuth <= 360) {
      TPstServer Pst(*Station, C.Index);
      ASSERT_TRUE(Pst.Start(QHostAddress(QHostAddress::LocalHost), 0));
      ClearLogs();
      const QByteArray Datagram =
          "<PST><AZIMUTH>" + QByteArray::number(C.Azimuth) + "</AZIMUTH></PST>";
      ASSERT_EQ(
          Datagrams.writeDatagram(Datagram, QHostAddress(QHostAddress::LocalHost), Pst.Port()),
          Datagram.size());
      ASSERT_TRUE(WaitFor([&] { return Pst.Ignored() > 0 || SentNow(); }));
      EXPECT_EQ(Pst.Ignored() == 0, Done) << Pst.LastIgnored().toStdString();
      if (!Done)
        EXPECT_EQ(Pst.LastIgnored(), Result.Reason);
    }
  }
  // Nothing refused reached a line: only the targets of the cases done.
  for (Gs232Emulator *Line : {&Mast, &Wide})
    for (const QString &Command : Sent(*Line))
      EXPECT_TRUE(Command.startsWith('M') || Command == u"S" || Command.isEmpty())
          << Command.toStdString();
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

// Whoever sends a rotator to a target is named with it, in the station's
// status and in the status-line note; the window's own controls are named by
// nobody. A target from the window after another front
// end's, and the end of the movement, leave no name behind.
TEST_F(CommandSurfaceTest, EveryTargetNamesTheFrontEndThatSetIt) {
  TOrbalt Automation(*Station);
  TRotctldServers Servers(*Station, {QHostAddress(QHostAddress::LocalHost), 0});
  Servers.Sync();
  TRawClient Client;
  ASSERT_TRUE(Client.Connect(Servers.Port(0)));
  TPstServer Pst(*Station, 0);
  ASSERT_TRUE(Pst.Start(QHostAddress(QHostAddress::LocalHost), 0));
  TN1mmListener N1mm(*Station, 0);
  ASSERT_TRUE(N1mm.Start(QHostAddress(QHostAddress::LocalHost), 0));
  QUdpSocket Datagrams;
  auto Datagram = [&](const QByteArray &Text, quint16 Port) {
    Datagrams.writeDatagram(Text, QHostAddress(QHostAddress::LocalHost), Port);
  };
  struct TSourceCase {
    const char *Name;
    int Azimuth; // far from the one before, so it is not reached meanwhile
    std::function<void(int)> Send;
    TCommandSource Expected;
    const char *Note;
  };
  const TSourceCase Cases[] = {
      {"window", 200, [&](int Az) { Station->GoToAzimuth(0, Az); }, TCommandSource::Window, ""},
      {"rotctld", 20,
       [&](int Az) { EXPECT_EQ(Client.Ask("P " + QByteArray::number(Az) + " 0"), "RPRT 0\n"); },
       TCommandSource::Rotctld, " (rotctld)"},
      {"window after rotctld", 200, [&](int Az) { Station->GoToAzimuth(0, Az); },
       TCommandSource::Window, ""},
      {"PstRotator", 20,
       [&](int Az) {
         Datagram("<PST><AZIMUTH>" + QByteArray::number(Az) + "</AZIMUTH></PST>", Pst.Port());
       },
       TCommandSource::PstRotator, " (PstRotator)"},
      {"N1MM", 200,
       [&](int Az) {
         Datagram("<N1MMRotor><rotor>Mast</rotor><goazi>" + QByteArray::number(Az) +
                      "</goazi></N1MMRotor>",
                  N1mm.Port());
       },
       TCommandSource::N1MM, " (N1MM)"},
      {"automation", 20, [&](int Az) { EXPECT_EQ(Automation.Move(0, Az), AutomationTrue); },
       TCommandSource::DBus, " (D-Bus)"},
      {"control table", 200, [&](int Az) { Station->GoToTableAzimuth(0, Az, 0); },
       TCommandSource::CtrlTable, " (Control table)"},
  };
  for (const TSourceCase &C : Cases) {
    SCOPED_TRACE(C.Name);
    C.Send(C.Azimuth);
    ASSERT_TRUE(WaitFor([&] { return Station->Status(0)->Target == C.Azimuth; }))
        << Pst.LastIgnored().toStdString() << N1mm.LastIgnored().toStdString();
    const TRotatorStatus Status = *Station->Status(0);
    EXPECT_EQ(Status.TargetSource, C.Expected);
    EXPECT_EQ(Status.TargetSourceNote(), QLatin1String(C.Note));
  }
  // Stopped: no target, and nobody named.
  ASSERT_TRUE(Station->StopRotator(0).Done());
  ASSERT_TRUE(WaitFor([&] { return !Station->Status(0)->Target; }));
  EXPECT_EQ(Station->Status(0)->TargetSource, TCommandSource::Window);
  EXPECT_TRUE(Station->Status(0)->TargetSourceNote().isEmpty());
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

// Opening: a port that another open rotator holds is refused, naming that
// rotator; the automation object gives 0 for it as for any refusal.
TEST_F(CommandSurfaceTest, OpeningIsRefusedForAPortAnotherRotatorHolds) {
  TOrbalt Automation(*Station);
  struct TOpenCase {
    int Index;
    TRefusal Expected;
    int Holder;
  };
  const TOpenCase Cases[] = {
      {3, TRefusal::PortHeld, 0},
      {0, TRefusal::AlreadyOpen, -1},
      {2, TRefusal::NotEnabled, -1},
      {7, TRefusal::NoRotator, -1},
  };
  for (const TOpenCase &C : Cases) {
    SCOPED_TRACE(C.Index);
    const TActResult Result = Station->OpenRotator(C.Index);
    EXPECT_EQ(Result.Refusal, C.Expected) << Result.Reason.toStdString();
    EXPECT_EQ(Result.Holder, C.Holder);
    EXPECT_EQ(Automation.Open(C.Index), AutomationFalse);
  }
  EXPECT_FALSE(Station->Status(3)->Open);
  // Once Mast's port is free, Spare opens there.
  EXPECT_TRUE(Station->CloseRotator(0).Done());
  EXPECT_TRUE(Station->OpenRotator(3).Done());
  EXPECT_TRUE(Station->Status(3)->Open);
  EXPECT_EQ(Station->CloseRotator(0).Refusal, TRefusal::NotOpen);
}

// The window's pending preset: kept without a line, within the travel, and
// sent only by GoToPreset to an open rotator.
TEST_F(CommandSurfaceTest, APendingPresetIsCheckedWhenSetAndSentWhenAskedFor) {
  struct TPresetCase {
    int Index;
    int Azimuth;
    TRefusal Set;
    TRefusal Go;
    const char *Sent;
  };
  const TPresetCase Cases[] = {
      {0, 45, TRefusal::None, TRefusal::None, "M045"},
      {0, 361, TRefusal::OutOfRange, TRefusal::None, nullptr},
      {1, 450, TRefusal::None, TRefusal::None, "M450"},
      {1, 451, TRefusal::OutOfRange, TRefusal::None, nullptr},
      {3, 90, TRefusal::None, TRefusal::NotOpen, nullptr},
      {9, 90, TRefusal::NoRotator, TRefusal::NoRotator, nullptr},
  };
  for (const TPresetCase &C : Cases) {
    SCOPED_TRACE(::testing::Message() << "rotator " << C.Index << " preset " << C.Azimuth);
    Station->ClearPreset(C.Index);
    ClearLogs();
    EXPECT_EQ(Station->SetPreset(C.Index, C.Azimuth).Refusal, C.Set);
    if (C.Set == TRefusal::None)
      EXPECT_EQ(Station->Status(C.Index)->Preset, C.Azimuth);
    else if (C.Set == TRefusal::OutOfRange)
      EXPECT_EQ(Station->Status(C.Index)->Preset, std::nullopt);
    QTest::qWait(150);
    EXPECT_FALSE(Sent(C.Index == 1 ? Wide : Mast).join(',').contains('M'));
    EXPECT_EQ(Station->GoToPreset(C.Index).Refusal, C.Go);
    Gs232Emulator &Line = C.Index == 1 ? Wide : Mast;
    if (C.Sent)
      EXPECT_TRUE(WaitFor([&] { return Sent(Line).contains(QLatin1String(C.Sent)); }))
          << Sent(Line).join(',').toStdString();
  }
}

// The console's exchange reads the controller's answer; a closed rotator,
// or one deleted while the command's list waits, answers nothing.
TEST_F(CommandSurfaceTest, TheConsolesExchangeReadsTheAnswerOfAnOpenRotatorOnly) {
  // The reply as handed over, once it is.
  auto Ask = [this](int Index, const QString &Command, TActResult &Result) {
    auto Reply = std::make_shared<std::optional<QString>>();
    Result = Station->Converse(Index, Command, 20,
                               [Reply](const QString &Text) { *Reply = Text; });
    if (Result.Done())
      WaitFor([&] { return Reply->has_value(); });
    return Reply->value_or(QStringLiteral("none"));
  };
  TActResult Result;
  const QString Answer = Ask(0, QStringLiteral("C\r"), Result);
  EXPECT_TRUE(Result.Done());
  EXPECT_TRUE(Answer.contains(QStringLiteral("+0"))) << Answer.toStdString();

  EXPECT_EQ(Ask(3, QStringLiteral("C\r"), Result), QStringLiteral("none"));
  EXPECT_EQ(Result.Refusal, TRefusal::NotOpen);

  // The list waits; the rotator goes meanwhile, and nothing is read.
  QTimer::singleShot(100, Station.get(), [this] { Station->DeleteRotator(0); });
  EXPECT_EQ(Ask(0, QStringLiteral("C,WAIT500"), Result), QString());
  EXPECT_TRUE(Result.Done());
  EXPECT_EQ(Station->Status(0)->Title, QStringLiteral("Wide"));
}

// Once the closing sequence has begun, nothing new is taken.
TEST_F(CommandSurfaceTest, NothingIsTakenOnceTheStationCloses) {
  Station->Close();
  ClearLogs();
  EXPECT_EQ(Station->GoToAzimuth(0, 10).Refusal, TRefusal::StationClosing);
  EXPECT_EQ(Station->OpenRotator(0).Refusal, TRefusal::StationClosing);
  EXPECT_EQ(TOrbalt(*Station).Move(0, 10), AutomationFalse);
  QTest::qWait(200);
  EXPECT_TRUE(Sent(Mast).isEmpty()) << Sent(Mast).join(',').toStdString();
}

} // namespace
