#include "remote/RigctldFollower.h"

#include "base/UiServices.h"
#include "station/Station.h"

namespace {
constexpr int PollMs = 500;
constexpr int RetryMs = 3000;
// An answer later than this counts as a lost connection.
constexpr int AnswerMs = 5000;
} // namespace

TRigctldFollower::TRigctldFollower(TStation &Station, QString Host, quint16 Port, QObject *Parent)
    : QObject(Parent), FStation(Station), FHost(std::move(Host)), FPort(Port) {
  FPoll.setInterval(PollMs);
  FRetry.setInterval(RetryMs);
  FRetry.setSingleShot(true);
  connect(&FPoll, &QTimer::timeout, this, &TRigctldFollower::Ask);
  connect(&FRetry, &QTimer::timeout, this, &TRigctldFollower::Connect);
  connect(&FSocket, &QTcpSocket::connected, this, [this] {
    SetState(QStringLiteral("rigctld %1:%2: connected").arg(FHost).arg(FPort));
    FWaiting = false;
    Ask();
    FPoll.start();
  });
  connect(&FSocket, &QTcpSocket::readyRead, this, &TRigctldFollower::Read);
  connect(&FSocket, &QTcpSocket::errorOccurred, this, [this] { Lost(); });
  connect(&FSocket, &QTcpSocket::disconnected, this, [this] { Lost(); });
}

TRigctldFollower::~TRigctldFollower() {
  // The socket is freed after the timers; closing it here, unheard, keeps
  // its end from reaching handlers that use them.
  FSocket.disconnect(this);
  FSocket.abort();
}

void TRigctldFollower::Start() { Connect(); }

void TRigctldFollower::Connect() {
  if (FSocket.state() != QAbstractSocket::UnconnectedState)
    FSocket.abort();
  SetState(QStringLiteral("rigctld %1:%2: connecting").arg(FHost).arg(FPort));
  FSocket.connectToHost(FHost, FPort);
}

void TRigctldFollower::Lost() {
  FPoll.stop();
  FWaiting = false;
  if (FRetry.isActive())
    return;
  SetState(QStringLiteral("rigctld %1:%2: not reachable, trying again").arg(FHost).arg(FPort));
  FRetry.start();
}

void TRigctldFollower::Ask() {
  if (FSocket.state() != QAbstractSocket::ConnectedState)
    return;
  if (FWaiting) {
    if (FAsked.elapsed() > AnswerMs) {
      FSocket.abort();
      Lost();
    }
    return;
  }
  FSocket.write("f\n");
  FWaiting = true;
  FAsked.start();
}

void TRigctldFollower::Read() {
  while (FSocket.canReadLine()) {
    const QByteArray Line = FSocket.readLine().trimmed();
    if (!FWaiting)
      continue;
    FWaiting = false;
    // The frequency in Hz; an error ("RPRT -n") or anything else is skipped.
    bool Ok = false;
    const double Hz = Line.toDouble(&Ok);
    if (!Ok || !(Hz > 0 && Hz <= 1e12)) // also "nan"
      continue;
    FFrequency = static_cast<qint64>(Hz);
    SetState(
        QStringLiteral("rigctld %1:%2: %3 MHz").arg(FHost).arg(FPort).arg(Hz / 1e6, 0, 'f', 6));
    // The lists' failures are the operator's to see, as any list's.
    ++FHandling;
    Guarded([&] { FStation.FollowFrequency(Hz / 1e6); });
    --FHandling;
  }
  // A line far too long for a frequency ends the connection.
  if (FSocket.bytesAvailable() > 256) {
    FSocket.abort();
    Lost();
  }
}

void TRigctldFollower::SetState(const QString &State) {
  if (State == FState)
    return;
  FState = State;
  emit StateChanged(State);
}
