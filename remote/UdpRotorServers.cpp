#include "remote/UdpRotorServers.h"

#include "remote/RotorMessages.h"
#include "station/Station.h"

#include <QNetworkDatagram>

#include <exception>

#include <variant>

// --- Shared
// ----------------------------------------------------------------------------

TUdpRotorServer::TUdpRotorServer(TStation &Station, QObject *Parent)
    : QObject(Parent), FStation(Station) {
  connect(&FSocket, &QUdpSocket::readyRead, this, &TUdpRotorServer::ReadPending);
}

bool TUdpRotorServer::Start(const QHostAddress &Address, quint16 Port, QString *Error) {
  if (FSocket.bind(Address, Port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
    return true;
  if (Error)
    *Error = FSocket.errorString();
  return false;
}

void TUdpRotorServer::ReadPending() {
  while (FSocket.hasPendingDatagrams()) {
    const QNetworkDatagram Datagram = FSocket.receiveDatagram(MaxRotorDatagram + 1);
    QString Reason;
    // A failure inside (a line that can't be written) stays here: it makes
    // the datagram one that was not carried out.
    ++FHandling;
    try {
      Reason = Datagram.data().size() > MaxRotorDatagram
                   ? QStringLiteral("longer than %1 bytes").arg(MaxRotorDatagram)
                   : Handle(Datagram.data(), Datagram.senderAddress(),
                            static_cast<quint16>(Datagram.senderPort()));
    } catch (const std::exception &E) {
      Reason = QString::fromUtf8(E.what());
    }
    --FHandling;
    if (!Reason.isEmpty()) {
      FLastIgnored = Reason;
      emit IgnoredChanged(++FIgnored);
    }
  }
}

QString TUdpRotorServer::Unsteerable(int Index) const {
  if (Index < 0 || Index >= FStation.RotatorCount())
    return QStringLiteral("no rotator %1").arg(Index);
  if (!FStation.RotatorEnabled(Index))
    return QStringLiteral("%1 is not enabled").arg(FStation.Driver(Index).Settings().Title);
  if (!FStation.Driver(Index).Active())
    return QStringLiteral("%1 is not open").arg(FStation.Driver(Index).Settings().Title);
  return {};
}

QString TUdpRotorServer::Steer(int Index, double Degrees) {
  if (const QString Reason = Unsteerable(Index); !Reason.isEmpty())
    return Reason;
  TGs232 &Driver = FStation.Driver(Index);
  Driver.SetPreset(WholeDegrees(Degrees));
  Driver.GoPreset();
  return {};
}

// --- PstRotator
// ------------------------------------------------------------------------

TPstServer::TPstServer(TStation &Station, int Rotator, QObject *Parent)
    : TUdpRotorServer(Station, Parent), FRotator(Rotator) {}

QString TPstServer::Handle(const QByteArray &Datagram, const QHostAddress &Sender,
                           quint16 SenderPort) {
  const auto Parsed = ParsePstMessage(Datagram);
  if (const QString *Reason = std::get_if<QString>(&Parsed))
    return *Reason;
  const int Index = FRotator >= 0 ? FRotator : FStation.CurrentRotator();
  QString Ignored;
  for (const TPstCommand &Command : std::get<std::vector<TPstCommand>>(Parsed)) {
    // Each command is checked on its own: an earlier one may have waited.
    QString Reason = Unsteerable(Index);
    if (Reason.isEmpty()) {
      TGs232 &Driver = FStation.Driver(Index);
      switch (Command.Kind) {
      case TPstCommand::Azimuth:
        Reason = Steer(Index, Command.Degrees);
        break;
      case TPstCommand::Stop:
        Driver.Stop();
        break;
      case TPstCommand::Park:
        Driver.GoHome();
        break;
      case TPstCommand::Locator: {
        const auto Turned = FStation.TurnTo(Index, Command.Text, false);
        if (const QString *Error = std::get_if<QString>(&Turned))
          Reason = *Error;
        break;
      }
      case TPstCommand::QueryAzimuth:
        // The answer goes to the sender's port + 1, which must exist.
        if (SenderPort < 65535)
          FSocket.writeDatagram("AZ:" + QByteArray::number(std::lround(Driver.AzimuthD())), Sender,
                                static_cast<quint16>(SenderPort + 1));
        break;
      }
    }
    if (!Reason.isEmpty())
      Ignored = Reason;
  }
  return Ignored;
}

// --- N1MM
// ------------------------------------------------------------------------------

TN1mmListener::TN1mmListener(TStation &Station, quint16 StatusPort, QObject *Parent)
    : TUdpRotorServer(Station, Parent), FStatusPort(StatusPort) {
  // While a rotator moves its heading goes out as it changes; every few
  // seconds every open rotator's goes out, moving or not.
  connect(&Station, &TStation::AzimuthChanged, this, &TN1mmListener::Report);
  connect(&FStillReports, &QTimer::timeout, this, &TN1mmListener::ReportAll);
  FStillReports.start(3000);
}

int TN1mmListener::RotatorTitled(const QString &Title) const {
  for (int I = 0; I < FStation.RotatorCount(); ++I)
    if (FStation.Driver(I).Settings().Title.compare(Title, Qt::CaseInsensitive) == 0)
      return I;
  return -1;
}

void TN1mmListener::Report(int Index) {
  if (FStatusPort == 0 || Index < 0 || Index >= FStation.RotatorCount())
    return;
  const TGs232 &Driver = FStation.Driver(Index);
  if (!Driver.Active())
    return;
  FReports.writeDatagram(N1mmHeadingReport(Driver.Settings().Title, Driver.AzimuthD()),
                         QHostAddress(QHostAddress::LocalHost), FStatusPort);
}

void TN1mmListener::ReportAll() {
  for (int I = 0; I < FStation.RotatorCount(); ++I)
    Report(I);
}

QString TN1mmListener::Handle(const QByteArray &Datagram, const QHostAddress &, quint16) {
  const auto Parsed = ParseN1mmMessage(Datagram);
  if (const QString *Reason = std::get_if<QString>(&Parsed))
    return *Reason;
  const TN1mmRotorMessage &Message = std::get<TN1mmRotorMessage>(Parsed);
  if (RotatorTitled(Message.Rotor) < 0)
    return QStringLiteral("no rotator is titled \"%1\"").arg(Message.Rotor.left(40));
  // The band first: its lists may select relays before the rotator turns.
  if (Message.FreqBandMHz)
    FStation.FollowFrequency(*Message.FreqBandMHz);
  // Found again: the lists may have waited while the rotators changed.
  const int Index = RotatorTitled(Message.Rotor);
  if (Message.Stop) {
    if (const QString Reason = Unsteerable(Index); !Reason.isEmpty())
      return Reason;
    FStation.Driver(Index).Stop();
    return {};
  }
  if (!Message.GoAzimuth)
    return {};
  // A two-way beam needs to turn at most half a circle.
  double Heading = *Message.GoAzimuth;
  if (Message.Bidirectional && Heading >= 180)
    Heading -= 180;
  return Steer(Index, Heading);
}
