// The loggers' links on a station whose rotators hang on emulated
// controllers: raw datagrams in PstRotator's and N1MM's formats with the
// exact commands on the controllers' lines, the replies read where the
// clients listen, band following from N1MM's band and from Hamlib's rigctld
// (its dummy rig, set with rigctl), and malformed datagrams that reach
// nothing.

#include "station/StationSeam.h"
#include "remote/UdpRotorServers.h"
#include "common/RecordingUiServices.h"
#include "common/EmulatorLog.h"
#include "ctrltable/CtrlTable.h"
#include "remote/RigctldFollower.h"
#include "settings/SettingsDocument.h"
#include "station/Station.h"
#include "tools/Gs232Emulator.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int WaitMs = 20000;


class UdpRotorServersTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    for (auto &Emulator : Emulators) {
      Gs232Emulator::Options Options;
      Options.timeScale = 10;
      Emulator = std::make_unique<Gs232Emulator>(Options);
      ASSERT_TRUE(Emulator->start());
    }
    QList<TRotatorSettings> List;
    for (int I = 0; I < 2; ++I) {
      TRotatorSettings S = TRotatorSettings::Defaults(I == 0 ? "Mast" : "Tower");
      S.Enable = true;
      S.AutoActive = true;
      S.Port = Emulators[I]->devicePath();
      List << S;
    }
    SaveRotators(Dir.filePath("orbalt.xml"), true, List);
    // 20 m selects relay 1 of the mast and makes the tower current; 40 m
    // leaves with relay 1 off and selects relay 2.
    TCtrlRow Forty, Twenty;
    Forty.LowerFreq = 7.0;
    Forty.UpperFreq = 7.3;
    Forty.Rotator = 1;
    Forty.Command1 = QStringLiteral("C1:Y21");
    Forty.Command2 = QStringLiteral("C1:Y20");
    Twenty.LowerFreq = 14.0;
    Twenty.UpperFreq = 14.35;
    Twenty.Rotator = 2;
    Twenty.Command1 = QStringLiteral("C1:Y11");
    Twenty.Command2 = QStringLiteral("C1:Y10");
    TCtrlTable Table;
    Table.Rows = {Forty, Twenty};
    Table.Save(Dir.filePath("CtrlTable.xml"));
    Station = std::make_unique<TStation>(Dir.filePath("orbalt.xml"));
    Station->Load();
    Station->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Driver(0).Active() && Driver(1).Active(); }, WaitMs));
    // The opening's own commands (the last is I0) are on the lines before a
    // test looks at what its datagrams sent.
    for (auto &Emulator : Emulators)
      ASSERT_TRUE(QTest::qWaitFor([&] { return Sent(*Emulator).contains("I0"); }, WaitMs));
    ASSERT_TRUE(Client.bind(QHostAddress(QHostAddress::LocalHost), 0));
  }

  void TearDown() override {
    Station.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  TGs232 &Driver(int Index) { return TStationSeam::Driver(*Station, Index); }

  void Send(const QByteArray &Datagram, quint16 Port) {
    ASSERT_EQ(Client.writeDatagram(Datagram, QHostAddress(QHostAddress::LocalHost), Port),
              Datagram.size());
  }

  bool Arrives(Gs232Emulator &Emulator, const QString &Command) {
    return QTest::qWaitFor([&] { return Sent(Emulator).contains(Command); }, WaitMs);
  }

  // The next datagram on Socket's port, or empty.
  static QByteArray Receive(QUdpSocket &Socket) {
    if (!QTest::qWaitFor([&] { return Socket.hasPendingDatagrams(); }, WaitMs))
      return {};
    return Socket.receiveDatagram().data();
  }

  TScopedRecordingUi Ui;
  QTemporaryDir Dir;
  std::unique_ptr<Gs232Emulator> Emulators[2];
  std::unique_ptr<TStation> Station;
  QUdpSocket Client;
};

TEST_F(UdpRotorServersTest, PstMessagesTurnStopParkAndAnswerTheCurrentRotator) {
  TPstServer Server(*Station);
  ASSERT_TRUE(Server.Start(QHostAddress(QHostAddress::LocalHost), 0));
  // Replies go to the sender's port + 1.
  QUdpSocket Replies;
  ASSERT_TRUE(Replies.bind(QHostAddress(QHostAddress::LocalHost), Client.localPort() + 1));
  Emulators[0]->clearLog();

  Send("<PST><AZIMUTH>85.000000.2</AZIMUTH></PST>", Server.Port());
  EXPECT_TRUE(Arrives(*Emulators[0], "M085")) << Sent(*Emulators[0]).join(' ').toStdString();
  Send("<PST><STOP>1</STOP></PST>", Server.Port());
  EXPECT_TRUE(Arrives(*Emulators[0], "S")) << Sent(*Emulators[0]).join(' ').toStdString();
  Emulators[0]->setAzimuth(123);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Driver(0).AzimuthD() == 123; }, WaitMs));
  Send("<PST>AZ?</PST>", Server.Port());
  EXPECT_EQ(Receive(Replies), "AZ:123");
  Send("<PST><PARK>1</PARK></PST>", Server.Port());
  EXPECT_TRUE(Arrives(*Emulators[0],
                      QStringLiteral("M%1").arg(Driver(0).Settings().Home, 3, 10, QChar(u'0'))))
      << Sent(*Emulators[0]).join(' ').toStdString();
  // A locator needs the station's location first.
  Send("<PST><QRA>FN31pr</QRA></PST>", Server.Port());
  EXPECT_TRUE(QTest::qWaitFor([&] { return Server.Ignored() == 1; }, WaitMs));
  EXPECT_TRUE(Server.LastIgnored().contains("location is not set"))
      << Server.LastIgnored().toStdString();
  TStationSettings Location;
  Location.Locator = QStringLiteral("JO62qm");
  Station->SetLocation(Location);
  Send("<PST><QRA>FN31pr</QRA></PST>", Server.Port());
  EXPECT_TRUE(Arrives(*Emulators[0], "M296")) << Sent(*Emulators[0]).join(' ').toStdString();

  // The current rotator is the one steered.
  Station->SetCurrentRotator(1);
  Send("<PST><AZIMUTH>10</AZIMUTH></PST>", Server.Port());
  EXPECT_TRUE(Arrives(*Emulators[1], "M010")) << Sent(*Emulators[1]).join(' ').toStdString();
  EXPECT_EQ(Server.Ignored(), 1);
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

TEST_F(UdpRotorServersTest, N1mmMessagesTurnTheNamedRotatorFollowTheBandAndGetHeadings) {
  QUdpSocket Status;
  ASSERT_TRUE(Status.bind(QHostAddress(QHostAddress::LocalHost), 0));
  TN1mmListener Listener(*Station, Status.localPort());
  ASSERT_TRUE(Listener.Start(QHostAddress(QHostAddress::LocalHost), 0));
  Station->SetCtrlTableEnable(true);
  for (auto &Emulator : Emulators)
    Emulator->clearLog();

  Send("<?xml version=\"1.0\" "
       "encoding=\"utf-8\"?>\n<N1MMRotor><rotor>Tower</rotor>"
       "<goazi>225.0</goazi><offset>0.0</offset><bidirectional>0</bidirectional>"
       "<freqband>14.0</freqband></N1MMRotor>",
       Listener.Port());
  EXPECT_TRUE(Arrives(*Emulators[1], "M225")) << Sent(*Emulators[1]).join(' ').toStdString();
  // The 20 m row's list ran on the mast's line and the tower became current.
  EXPECT_TRUE(Arrives(*Emulators[0], "Y11")) << Sent(*Emulators[0]).join(' ').toStdString();
  EXPECT_EQ(Station->CurrentRotator(), 1);
  EXPECT_FALSE(Sent(*Emulators[0]).contains("M225"));

  // The heading comes back as the title and tenths of degrees.
  Emulators[1]->setAzimuth(225);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        while (Status.hasPendingDatagrams())
          if (Status.receiveDatagram().data() == "Tower @ 2250")
            return true;
        return false;
      },
      WaitMs));

  // A bidirectional beam turns the near way; the stop form stops.
  Send("<N1MMRotor><rotor>Mast</rotor><goazi>270</goazi><bidirectional>1</"
       "bidirectional>"
       "<freqband>7</freqband></N1MMRotor>",
       Listener.Port());
  EXPECT_TRUE(Arrives(*Emulators[0], "M090")) << Sent(*Emulators[0]).join(' ').toStdString();
  EXPECT_TRUE(Arrives(*Emulators[0], "Y10"));
  EXPECT_TRUE(Arrives(*Emulators[0], "Y21"));
  Send("<N1MMRotor><stop><rotor>Mast</rotor></stop></N1MMRotor>", Listener.Port());
  EXPECT_TRUE(Arrives(*Emulators[0], "S")) << Sent(*Emulators[0]).join(' ').toStdString();
  EXPECT_EQ(Listener.Ignored(), 0) << Listener.LastIgnored().toStdString();
}

// Datagrams that are too long, malformed, out of range or for no rotator of
// the station are counted and reach no line.
TEST_F(UdpRotorServersTest, MalformedDatagramsReachNothing) {
  TPstServer Pst(*Station);
  TN1mmListener N1mm(*Station, 0);
  ASSERT_TRUE(Pst.Start(QHostAddress(QHostAddress::LocalHost), 0));
  ASSERT_TRUE(N1mm.Start(QHostAddress(QHostAddress::LocalHost), 0));
  Station->SetCtrlTableEnable(true);
  const QByteArray Pad(2100, ' ');
  const std::pair<QByteArray, bool> Cases[] = {
      {"<PST><AZIMUTH>85</AZIMUTH></PST>" + Pad, false},
      {"<PST><AZIMUTH>361</AZIMUTH></PST>", false},
      {"<PST><AZIMUTH>x</AZIMUTH>", false},
      {QByteArray("\xff\xfe\x00garbage", 10), false},
      {"<N1MMRotor><rotor>Nobody</rotor><goazi>85</goazi></N1MMRotor>", true},
      {"<N1MMRotor><rotor>Mast</rotor><goazi>85", true},
      {"<N1MMRotor><rotor>Mast</rotor><goazi>-1</goazi></N1MMRotor>", true},
      {"<N1MMRotor><rotor>Mast</rotor><goazi>85</goazi></N1MMRotor>" + Pad, true},
      {"<N1MMRotor><rotor>Nobody</rotor><freqband>14</freqband></N1MMRotor>", true},
  };
  for (auto &Emulator : Emulators)
    Emulator->clearLog();
  int PstCount = 0, N1mmCount = 0;
  for (const auto &[Datagram, ForN1mm] : Cases) {
    Send(Datagram, ForN1mm ? N1mm.Port() : Pst.Port());
    ++(ForN1mm ? N1mmCount : PstCount);
  }
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Pst.Ignored() == PstCount && N1mm.Ignored() == N1mmCount; }, WaitMs))
      << Pst.Ignored() << " " << N1mm.Ignored();
  // A last good one shows the line was listening all along.
  Send("<PST><AZIMUTH>45</AZIMUTH></PST>", Pst.Port());
  ASSERT_TRUE(Arrives(*Emulators[0], "M045"));
  EXPECT_EQ(Sent(*Emulators[0]), QStringList{"M045"});
  EXPECT_TRUE(Sent(*Emulators[1]).isEmpty()) << Sent(*Emulators[1]).join(' ').toStdString();
  EXPECT_EQ(Station->CurrentRotator(), 0);
}

} // namespace

namespace {

// Hamlib's rigctld with its dummy rig on a free port, and rigctl setting its
// frequency the way a logging program would.
class TDummyRig {
public:
  ~TDummyRig() { Stop(); }
  bool Start(quint16 Port) {
    Process.start(QStringLiteral("rigctld"),
                  {QStringLiteral("-m"), QStringLiteral("1"), QStringLiteral("-T"),
                   QStringLiteral("127.0.0.1"), QStringLiteral("-t"), QString::number(Port)});
    return Process.waitForStarted(WaitMs) &&
           QTest::qWaitFor(
               [&] {
                 QTcpSocket Probe;
                 Probe.connectToHost(QHostAddress::LocalHost, Port);
                 return Probe.waitForConnected(500);
               },
               WaitMs);
  }
  void Stop() {
    if (Process.state() != QProcess::NotRunning) {
      Process.kill();
      Process.waitForFinished(WaitMs);
    }
  }
  static bool SetFrequency(quint16 Port, const QString &Hz) {
    return QProcess::execute(QStringLiteral("rigctl"),
                             {QStringLiteral("-m"), QStringLiteral("2"), QStringLiteral("-r"),
                              QStringLiteral("127.0.0.1:%1").arg(Port), QStringLiteral("F"), Hz}) ==
           0;
  }
  QProcess Process;
};

quint16 FreeTcpPort() {
  QTcpServer Probe;
  return Probe.listen(QHostAddress(QHostAddress::LocalHost), 0) ? Probe.serverPort() : 0;
}

// Band following from the rig: a change of band runs the rows' lists on the
// controllers' lines and makes the row's rotator current, nothing turns; a
// rigctld that goes away is found again when it is back.
TEST_F(UdpRotorServersTest, RigFrequencyFromRigctldFollowsTheBands) {
  const quint16 Port = FreeTcpPort();
  TDummyRig Rig;
  ASSERT_TRUE(Rig.Start(Port)) << Rig.Process.readAllStandardError().toStdString();
  Station->SetCtrlTableEnable(true);
  for (auto &Emulator : Emulators)
    Emulator->clearLog();
  TRigctldFollower Follower(*Station, QStringLiteral("127.0.0.1"), Port);
  Follower.Start();

  ASSERT_TRUE(TDummyRig::SetFrequency(Port, QStringLiteral("14025000")));
  EXPECT_TRUE(Arrives(*Emulators[0], "Y11")) << Sent(*Emulators[0]).join(' ').toStdString();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Station->CurrentRotator() == 1; }, WaitMs));
  EXPECT_EQ(Follower.Frequency(), 14025000);
  EXPECT_TRUE(Follower.State().contains(QStringLiteral("14.025000 MHz")))
      << Follower.State().toStdString();
  // The operator may pick another rotator while the band stays.
  Station->SetCurrentRotator(0);
  QTest::qWait(1500);
  EXPECT_EQ(Station->CurrentRotator(), 0);

  Rig.Stop();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Follower.State().contains(QStringLiteral("not reachable")); }, WaitMs))
      << Follower.State().toStdString();
  ASSERT_TRUE(Rig.Start(Port));
  ASSERT_TRUE(TDummyRig::SetFrequency(Port, QStringLiteral("7100000")));
  EXPECT_TRUE(Arrives(*Emulators[0], "Y21")) << Sent(*Emulators[0]).join(' ').toStdString();
  EXPECT_TRUE(Sent(*Emulators[0]).contains("Y10"));
  for (auto &Emulator : Emulators)
    for (const QString &Command : Sent(*Emulator))
      EXPECT_FALSE(Command.startsWith(u'M')) << Command.toStdString();
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

} // namespace
