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
  QString Reason;
  // Each command is decided on its own: an earlier one may have waited.
  for (const TPstCommand &Command : std::get<std::vector<TPstCommand>>(Parsed)) {
    QString Why;
    switch (Command.Kind) {
    case TPstCommand::Azimuth:
      Why = FStation.GoToAzimuth(Index, Command.Degrees, TCommandSource::PstRotator).Reason;
      break;
    case TPstCommand::Stop:
      Why = FStation.StopRotator(Index).Reason;
      break;
    case TPstCommand::Park:
      Why = FStation.GoHome(Index, TCommandSource::PstRotator).Reason;
      break;
    case TPstCommand::Locator: {
      const auto Turned =
          FStation.TurnTo(Index, Command.Text, false, TCommandSource::PstRotator);
      if (const QString *Error = std::get_if<QString>(&Turned))
        Why = *Error;
      break;
    }
    case TPstCommand::QueryAzimuth:
      // Answered for an open rotator only, to the sender's port + 1, which
      // must exist.
      Why = FStation.Steerable(Index).Reason;
      if (Why.isEmpty() && SenderPort < 65535)
        FSocket.writeDatagram("AZ:" + QByteArray::number(FStation.Status(Index)->Azimuth), Sender,
                              static_cast<quint16>(SenderPort + 1));
      break;
    }
    if (!Why.isEmpty())
      Reason = Why;
  }
  return Reason;
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
    if (FStation.Status(I)->Title.compare(Title, Qt::CaseInsensitive) == 0)
      return I;
  return -1;
}

void TN1mmListener::Report(int Index) {
  if (FStatusPort == 0)
    return;
  const auto Status = FStation.Status(Index);
  if (!Status || !Status->Open)
    return;
  FReports.writeDatagram(N1mmHeadingReport(Status->Title, Status->Azimuth),
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
  if (Message.Stop)
    return FStation.StopRotator(Index).Reason;
  if (!Message.GoAzimuth)
    return {};
  // A two-way beam needs to turn at most half a circle.
  double Heading = *Message.GoAzimuth;
  if (Message.Bidirectional && Heading >= 180)
    Heading -= 180;
  return FStation.GoToAzimuth(Index, Heading, TCommandSource::N1MM).Reason;
}
