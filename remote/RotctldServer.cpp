#include "remote/RotctldServer.h"

#include "base/UiServices.h"
#include "rotator/Gs232.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cmath>
#include <exception>
#include <initializer_list>

namespace {

// A connection that is closing gets this long to hand over its last answer.
constexpr int CloseGraceMs = 5000;

// The most a socket holds of its client's input beyond what is taken from it;
// the kernel's buffers keep the rest, and TCP holds the sender back.
constexpr qint64 SocketReadBuffer = 4096;

// Closes a socket after its pending output and frees it then; a peer that
// does not take the output is cut off after the grace time.
void CloseAndFree(QTcpSocket *Socket) {
  QObject::connect(Socket, &QAbstractSocket::disconnected, Socket, &QObject::deleteLater);
  QTimer::singleShot(CloseGraceMs, Socket, [Socket] { Socket->abort(); });
  Socket->disconnectFromHost();
  if (Socket->state() == QAbstractSocket::UnconnectedState)
    Socket->deleteLater();
}

// Lines in Buffer that are complete (a line end after other bytes).
int CountLines(const QByteArray &Buffer) {
  int Count = 0;
  bool InLine = false;
  for (const char Byte : Buffer) {
    if (Byte == '\n' || Byte == '\r') {
      if (InLine)
        ++Count;
      InLine = false;
    } else {
      InLine = true;
    }
  }
  return Count;
}

// The bytes after the last line end of Buffer: the line still arriving.
qsizetype UnfinishedLength(const QByteArray &Buffer) {
  const qsizetype Last = std::max(Buffer.lastIndexOf('\n'), Buffer.lastIndexOf('\r'));
  return Buffer.size() - (Last + 1);
}

} // namespace

// --- Connection ----------------------------------------------------------------------

TRotctldConnection::TRotctldConnection(TRotctldServer &Server, QTcpSocket *Socket)
    : QObject(&Server), FServer(Server), FSocket(Socket) {
  FSocket->setParent(this);
  FSocket->setReadBufferSize(SocketReadBuffer);
  FIdleTimer.setSingleShot(true);
  FIdleTimer.setInterval(Server.Owner().Options().IdleTimeoutMs);
  connect(&FIdleTimer, &QTimer::timeout, this, [this] { IdleTimeout(); });
  connect(FSocket, &QIODevice::readyRead, this, [this] { ReadInput(); });
  connect(FSocket, &QAbstractSocket::disconnected, this, [this] { Disconnected(); });
  Touch();
}

void TRotctldConnection::ReadInput() {
  if (FFinished) {
    FSocket->readAll();
    return;
  }
  Touch();
  TakeInput();
  RunLines();
}

void TRotctldConnection::TakeInput() {
  while (!FFinished && FSocket->bytesAvailable() > 0 &&
         CountLines(FBuffer) < TRotctldServers::MaxPendingLines &&
         UnfinishedLength(FBuffer) <= RotctldMaxLineLength) {
    QByteArray Chunk = FSocket->read(SocketReadBuffer);
    RotctldDropNul(Chunk);
    FBuffer += Chunk;
  }
}

void TRotctldConnection::RunLines() {
  // A command that waits processes events; lines arriving meanwhile wait
  // for it here.
  if (FRunning || FFinished)
    return;
  FRunning = true;
  int Handled = 0;
  while (!FFinished) {
    qsizetype End = RotctldLineEnd(FBuffer);
    if (End < 0) {
      TakeInput();
      End = RotctldLineEnd(FBuffer);
    }
    if (End < 0) {
      // A line without end that has already grown too long.
      if (FBuffer.size() > RotctldMaxLineLength)
        Fail(RotctldProtocolError);
      break;
    }
    // After a batch of lines the other clients and the answers' sending get
    // their turn; the rest follows once control is back in the event loop.
    if (Handled == TRotctldServers::MaxPendingLines) {
      QTimer::singleShot(0, this, [this] { RunLines(); });
      break;
    }
    ++Handled;
    const QByteArray Line = FBuffer.left(End);
    FBuffer.remove(0, End + 1);
    if (Line.size() > RotctldMaxLineLength) {
      Fail(RotctldProtocolError);
      break;
    }
    bool Close = false;
    QByteArray Answer;
    if (!RotctldLineAllowed(Line)) {
      Answer = RotctldReport(RotctldProtocolError);
    } else {
      const std::optional<TRotctldRequest> Request = ParseRotctldLine(Line);
      if (!Request)
        continue;
      TRotctldServers &Owner = FServer.Owner();
      Owner.BeginCommand();
      TRotctldReply Reply;
      try {
        Reply = FServer.Execute(*Request, Close);
      } catch (const std::exception &E) {
        qWarning("rotctld command failed: %s", E.what());
        Reply = TRotctldReply::Error(RotctldInternalError);
      } catch (...) {
        Reply = TRotctldReply::Error(RotctldInternalError);
      }
      Owner.EndCommand();
      if (FFinished)
        break;
      // quit answers only in the extended protocol.
      if (Request->Command != TRotctldCommand::Quit || Request->Separator != 0)
        Answer = FormatRotctldReply(*Request, Reply);
    }
    FSocket->write(Answer);
    if (Close || FSocket->bytesToWrite() > TRotctldServers::MaxUnreadAnswers) {
      Finish();
      break;
    }
  }
  FRunning = false;
  // The idle time counts from the end of the last command.
  if (!FFinished)
    Touch();
}

void TRotctldConnection::Fail(int Code) {
  if (FFinished)
    return;
  FSocket->write(RotctldReport(Code));
  Finish();
}

void TRotctldConnection::Finish() {
  if (FFinished)
    return;
  FFinished = true;
  FBuffer.clear();
  FIdleTimer.stop();
  QTimer::singleShot(CloseGraceMs, this, [this] { FSocket->abort(); });
  FSocket->disconnectFromHost();
  if (FSocket->state() == QAbstractSocket::UnconnectedState)
    Disconnected();
}

void TRotctldConnection::Disconnected() {
  FFinished = true;
  FBuffer.clear();
  FIdleTimer.stop();
  if (!FDisposed) {
    FDisposed = true;
    FServer.Owner().Dispose(this);
  }
}

void TRotctldConnection::Touch() {
  FLastActive = FServer.NextActivity();
  FIdleTimer.start();
}

void TRotctldConnection::IdleTimeout() {
  // A command that waits is not idle; its end starts the idle time anew.
  if (!FRunning)
    Finish();
}

// --- Server of one rotator --------------------------------------------------------------

TRotctldServer::TRotctldServer(TRotctldServers &Owner, int Index, quint64 Rotator)
    : QObject(&Owner), FOwner(Owner), FIndex(Index), FRotator(Rotator),
      FServer(new QTcpServer(this)) {
  connect(FServer, &QTcpServer::newConnection, this, [this] { AcceptConnections(); });
}

TRotctldServer::~TRotctldServer() = default;

bool TRotctldServer::Listen(const QHostAddress &Address, quint16 Port) {
  return FServer->listen(Address, Port);
}

QString TRotctldServer::ErrorString() const { return FServer->errorString(); }

quint16 TRotctldServer::Port() const { return FServer->isListening() ? FServer->serverPort() : 0; }

int TRotctldServer::ClientCount() const {
  return static_cast<int>(std::count_if(FConnections.begin(), FConnections.end(),
                                        [](const auto &C) { return C && !C->Finished(); }));
}

TRotctldConnection *TRotctldServer::LongestIdle() const {
  TRotctldConnection *Result = nullptr;
  for (const auto &C : FConnections)
    if (C && !C->Finished() && !C->Running() && (!Result || C->LastActive() < Result->LastActive()))
      Result = C.data();
  return Result;
}

void TRotctldServer::AcceptConnections() {
  while (FServer->hasPendingConnections()) {
    QTcpSocket *Socket = FServer->nextPendingConnection();
    // A full server makes room by closing the connection idle longest.
    if (!FRetired && ClientCount() >= TRotctldServers::MaxClients)
      if (TRotctldConnection *Idle = LongestIdle())
        Idle->Finish();
    if (FRetired || ClientCount() >= TRotctldServers::MaxClients) {
      Socket->write(RotctldReport(RotctldRejected));
      CloseAndFree(Socket);
      continue;
    }
    std::erase_if(FConnections, [](const auto &C) { return !C || C->Finished(); });
    FConnections.emplace_back(new TRotctldConnection(*this, Socket));
  }
}

void TRotctldServer::Rebind(quint64 Rotator) {
  FRotator = Rotator;
  for (const auto &Connection : FConnections)
    if (Connection)
      Connection->Finish();
}

void TRotctldServer::Retire() {
  FRetired = true;
  FServer->close();
  for (const auto &Connection : FConnections)
    if (Connection)
      Connection->Finish();
}

bool TRotctldServer::IsCurrent() const {
  TCommandSurface &Surface = FOwner.Surface();
  return !FRetired && FRotator != 0 && Surface.RotatorId(FIndex) == FRotator;
}

TRotctldReply TRotctldServer::Answer(const TActResult &Result) {
  if (Result.Done())
    return {};
  // A value the rotator can't take is the client's error; anything else is
  // the rotator refusing.
  return TRotctldReply::Error(
      Result.Refusal == TRefusal::OutOfRange ? RotctldInvalidParameter : RotctldRejected,
      Result.Reason);
}

TRotctldReply TRotctldServer::Execute(const TRotctldRequest &Request, bool &Close) {
  if (Request.Command == TRotctldCommand::Quit) {
    Close = true;
    return {};
  }
  if (Request.Command == TRotctldCommand::Unknown)
    return TRotctldReply::Error(RotctldNotImplemented);
  if (!IsCurrent()) {
    // The rotator this connection was made to has gone from its place.
    Close = true;
    FOwner.ScheduleSync();
    return TRotctldReply::Error(RotctldRejected,
                                QStringLiteral("Another rotator took this port's place"));
  }
  return Run(Request, *FOwner.Surface().Status(FIndex));
}

TRotctldReply TRotctldServer::Run(const TRotctldRequest &Request, const TRotatorStatus &Status) {
  const QStringList &Args = Request.Args;
  auto Expect = [&](qsizetype Count) { return Args.size() == Count; };
  const TRotctldReply Invalid = TRotctldReply::Error(RotctldInvalidParameter);
  TCommandSurface &Station = FOwner.Surface();
  // A read of a rotator that is not open: refused with the station's reason.
  const auto Closed = [&] {
    return TRotctldReply::Error(RotctldRejected, Station.Steerable(FIndex).Reason);
  };

  switch (Request.Command) {
  case TRotctldCommand::GetPos:
    if (!Expect(0))
      return Invalid;
    // A closed port reads nothing, and a controller that does not answer
    // gives no position: its last azimuth would be stale.
    if (!Status.Open)
      return Closed();
    if (!Status.Responding)
      return TRotctldReply::Error(RotctldTimeout);
    return {RotctldOk,
            {{QStringLiteral("Azimuth"), FormatRotctldNumber(Status.Azimuth)},
             {QStringLiteral("Elevation"), FormatRotctldNumber(0)}}};

  case TRotctldCommand::SetPos: {
    if (!Expect(2))
      return Invalid;
    const std::optional<double> Azimuth = ParseRotctldNumber(Args[0]);
    // The rotator turns in azimuth only; the elevation must be a number and
    // is not used.
    const std::optional<double> Elevation = ParseRotctldNumber(Args[1]);
    if (!Azimuth || !Elevation)
      return Invalid;
    return Answer(Station.GoToAzimuth(FIndex, *Azimuth, TCommandSource::Rotctld));
  }

  case TRotctldCommand::Stop:
    if (!Expect(0))
      return Invalid;
    return Answer(Station.StopRotator(FIndex));

  case TRotctldCommand::Park:
    if (!Expect(0))
      return Invalid;
    return Answer(Station.GoHome(FIndex, TCommandSource::Rotctld));

  case TRotctldCommand::Move: {
    if (!Expect(2))
      return Invalid;
    const std::optional<int> Direction = ParseRotctldInteger(Args[0]);
    const std::optional<int> Speed = ParseRotctldInteger(Args[1]);
    // The speed (1 to 100, or -1 for no change) is checked but not used: the
    // controller turns at the speed of the rotator's settings.
    if (!Direction || !Speed || (*Speed != -1 && (*Speed < 1 || *Speed > 100)))
      return Invalid;
    if (*Direction == RotctldMoveUp || *Direction == RotctldMoveDown)
      return TRotctldReply::Error(RotctldNotAvailable);
    if (*Direction != RotctldMoveCCW && *Direction != RotctldMoveCW)
      return Invalid;
    return Answer(Station.TurnRotator(FIndex, *Direction == RotctldMoveCW
                                                  ? TTurn::Clockwise
                                                  : TTurn::CounterClockwise));
  }

  case TRotctldCommand::SendCmd:
    if (Request.ArgText.isEmpty())
      return Invalid;
    return Answer(Station.SendCommands(FIndex, Request.ArgText));

  case TRotctldCommand::GetInfo:
    if (!Expect(0))
      return Invalid;
    return {RotctldOk,
            {{QStringLiteral("Info"),
              QStringLiteral("%1 (%2)").arg(
                  FOwner.Automation().GetRotatorValue(FIndex, QStringLiteral("Title")),
                  Status.Model)}}};

  case TRotctldCommand::DumpCaps: {
    if (!Expect(0))
      return Invalid;
    const QString Max = FormatRotctldNumber(Status.MaxAzimuth);
    const QString Title = FOwner.Automation().GetRotatorValue(FIndex, QStringLiteral("Title"));
    TRotctldReply Reply;
    for (const auto &[Key, Value] : std::initializer_list<std::pair<const char *, QString>>{
             {"Model name", QStringLiteral("Orbalt rotator")},
             {"Rotator title", Title},
             {"Controller model", Status.Model},
             {"Rotator type", QStringLiteral("Az")},
             {"Min azimuth", FormatRotctldNumber(0)},
             {"Max azimuth", Max},
             {"Min elevation", FormatRotctldNumber(0)},
             {"Max elevation", FormatRotctldNumber(0)},
             {"Can set position", QStringLiteral("Y")},
             {"Can get position", QStringLiteral("Y")},
             {"Can stop", QStringLiteral("Y")},
             {"Can park", QStringLiteral("Y")},
             {"Can move", QStringLiteral("Y (CCW 8, CW 16)")},
             {"Can send raw commands", QStringLiteral("Y")},
             {"Can get info", QStringLiteral("Y")},
             {"Can get status", QStringLiteral("Y")}})
      Reply.Values.emplace_back(QString(), QLatin1String(Key) + QStringLiteral(": ") + Value);
    return Reply;
  }

  case TRotctldCommand::DumpState: {
    if (!Expect(0))
      return Invalid;
    // Protocol version 1: the version, the model number of a network
    // rotator, then name=value lines up to "done". Clients keep their
    // set_pos requests inside min_az to max_az.
    TRotctldReply Reply;
    for (const QString &Line :
         {QStringLiteral("1"), QStringLiteral("2"),
          QStringLiteral("min_az=") + FormatRotctldNumber(0),
          QStringLiteral("max_az=") + FormatRotctldNumber(Status.MaxAzimuth),
          QStringLiteral("min_el=") + FormatRotctldNumber(0),
          QStringLiteral("max_el=") + FormatRotctldNumber(0), QStringLiteral("south_zero=0"),
          QStringLiteral("rot_type=Az"), QStringLiteral("done")})
      Reply.Values.emplace_back(QString(), Line);
    return Reply;
  }

  case TRotctldCommand::GetStatus: {
    if (!Expect(0))
      return Invalid;
    if (!Status.Open)
      return Closed();
    // The reading beyond 360° in the overlap is what the driver knows for
    // certain.
    return {RotctldOk,
            {{QStringLiteral("Status"),
              Status.Overlap ? QStringLiteral("OVERLAP_RIGHT") : QStringLiteral("NONE")}}};
  }

  case TRotctldCommand::Quit:
  case TRotctldCommand::Unknown:
    break;
  }
  return TRotctldReply::Error(RotctldNotImplemented);
}

// --- All servers ---------------------------------------------------------------------------

TRotctldServers::TRotctldServers(TCommandSurface &Surface, const TOptions &Options,
                                 QObject *Parent)
    : QObject(Parent), FSurface(Surface), FOrbalt(Surface), FOptions(Options) {
  FSyncTimer.setSingleShot(true);
  FSyncTimer.setInterval(0);
  connect(&FSyncTimer, &QTimer::timeout, this, [this] { Guarded([this] { Sync(); }); });
}

TRotctldServers::~TRotctldServers() {
  for (const auto &Server : FServers)
    delete Server.data();
  for (const auto &Object : FDisposed)
    delete Object.data();
}

TRotctldServer *TRotctldServers::Server(int Index) const {
  return Index >= 0 && Index < ServerCount() ? FServers[static_cast<size_t>(Index)].data()
                                             : nullptr;
}

quint16 TRotctldServers::Port(int Index) const {
  const TRotctldServer *S = Server(Index);
  return S ? S->Port() : 0;
}

int TRotctldServers::WantedPort(int Index) const {
  if (FOptions.BasePort == 0)
    return 0;
  const qint64 Port = static_cast<qint64>(FOptions.BasePort) + 2 * static_cast<qint64>(Index);
  return Port > 65535 ? -1 : static_cast<int>(Port);
}

void TRotctldServers::ScheduleSync() {
  if (!FStopped)
    FSyncTimer.start();
}

void TRotctldServers::Stop() {
  FStopped = true;
  FSyncTimer.stop();
  Sync();
}

void TRotctldServers::Sync() {
  const int Count = FStopped ? 0 : FSurface.RotatorCount();
  QStringList Problems;
  for (int I = 0; I < Count; ++I) {
    const quint64 Rotator = FSurface.RotatorId(I);
    if (I < ServerCount() && FServers[static_cast<size_t>(I)]) {
      TRotctldServer &S = *FServers[static_cast<size_t>(I)];
      if (S.Rotator() != Rotator)
        S.Rebind(Rotator);
      continue;
    }
    auto *S = new TRotctldServer(*this, I, Rotator);
    if (I < ServerCount())
      FServers[static_cast<size_t>(I)] = S;
    else
      FServers.emplace_back(S);
    const QString Title = FOrbalt.GetRotatorValue(I, QStringLiteral("Title"));
    const int Port = WantedPort(I);
    if (Port < 0)
      Problems << QStringLiteral("The rotctld server of rotator \"%1\" has no port: %2 + 2 × %3 "
                                 "lies beyond the last port 65535.")
                      .arg(Title)
                      .arg(FOptions.BasePort)
                      .arg(I);
    else if (!S->Listen(FOptions.Address, static_cast<quint16>(Port)))
      Problems << QStringLiteral("The rotctld server of rotator \"%1\" can't listen on %2 port "
                                 "%3: %4")
                      .arg(Title, FOptions.Address.toString())
                      .arg(Port)
                      .arg(S->ErrorString());
  }
  while (ServerCount() > Count) {
    TRotctldServer *S = FServers.back();
    FServers.pop_back();
    if (S) {
      S->Retire();
      Dispose(S);
    }
  }
  // Raised last: the owner's message box processes events, and a command or
  // another Sync may run while it is open.
  if (!Problems.isEmpty())
    emit Message(Problems.join(u'\n'));
}

void TRotctldServers::Dispose(QObject *Object) {
  if (FRunning == 0)
    Object->deleteLater();
  else
    FDisposed.emplace_back(Object);
}

void TRotctldServers::EndCommand() {
  if (--FRunning > 0)
    return;
  for (const auto &Object : FDisposed)
    if (Object)
      Object->deleteLater();
  FDisposed.clear();
}
