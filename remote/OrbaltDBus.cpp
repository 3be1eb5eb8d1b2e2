#include "remote/OrbaltDBus.h"


#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QMetaObject>

#include <exception>

// --- Server ---------------------------------------------------------------------------

TOrbaltDBusServer::TOrbaltDBusServer(TOrbalt &Object, const QDBusConnection &Connection,
                                     QObject *Parent)
    : QObject(Parent), FObject(Object), FConnection(Connection),
      FWatcher(new QDBusServiceWatcher(this)) {
  new TOrbaltDBusAdaptor(this);
  FWatcher->setConnection(FConnection);
  FWatcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
  connect(FWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
          &TOrbaltDBusServer::ClientLeft);
}

TOrbaltDBusServer::~TOrbaltDBusServer() { Stop(); }

bool TOrbaltDBusServer::Start(QString *Error) {
  auto Fail = [Error](const QString &Reason) {
    if (Error)
      *Error = Reason;
    return false;
  };
  if (FStarted)
    return true;
  if (!FConnection.isConnected())
    return Fail(QStringLiteral("The session bus can't be reached: %1")
                    .arg(FConnection.lastError().message()));
  // The object first: a call queued for the name while the program was being
  // started is delivered as soon as the name is taken.
  if (!FConnection.registerObject(OrbaltObjectPath, this, QDBusConnection::ExportAdaptors))
    return Fail(QStringLiteral("The object %1 can't be registered on the session bus")
                    .arg(OrbaltObjectPath));
  if (!FConnection.registerService(OrbaltServiceName)) {
    const QString Reason = FConnection.lastError().isValid()
                               ? FConnection.lastError().message()
                               : QStringLiteral("another program owns it");
    FConnection.unregisterObject(OrbaltObjectPath);
    return Fail(QStringLiteral("The bus name %1 can't be taken: %2")
                    .arg(OrbaltServiceName, Reason));
  }
  FStarted = true;
  return true;
}

void TOrbaltDBusServer::Stop() {
  if (!FStarted)
    return;
  FStarted = false;
  FConnection.unregisterService(OrbaltServiceName);
  FConnection.unregisterObject(OrbaltObjectPath);
}

void TOrbaltDBusServer::NoteCaller() {
  if (!calledFromDBus())
    return;
  const QString Name = message().service();
  if (Name.isEmpty() || FClients.contains(Name))
    return;
  FClients.insert(Name);
  FWatcher->addWatchedService(Name);
  emit ClientsChanged(ClientCount());
  // A client that sent its call without waiting for the answer may have left
  // before the watch was set; its departure would then never be reported. The
  // bus handles our requests in order, so once the watch is in place this
  // answer tells whether the client is still there.
  QDBusConnectionInterface *Bus = FConnection.interface();
  if (Bus && !Bus->isServiceRegistered(Name).value())
    QMetaObject::invokeMethod(
        this, [this, Name] { ClientLeft(Name); }, Qt::QueuedConnection);
}

void TOrbaltDBusServer::ClientLeft(const QString &Name) {
  if (!FClients.remove(Name))
    return;
  FWatcher->removeWatchedService(Name);
  emit ClientsChanged(ClientCount());
  if (FClients.isEmpty())
    emit LastClientLeft();
}

// --- Adaptor --------------------------------------------------------------------------

TOrbaltDBusAdaptor::TOrbaltDBusAdaptor(TOrbaltDBusServer *Server)
    : QDBusAbstractAdaptor(Server), FServer(Server) {
  setAutoRelaySignals(false);
}

template <class F> auto TOrbaltDBusAdaptor::Status(F &&Operation) -> decltype(Operation()) {
  FServer->NoteCaller();
  QString Message;
  try {
    return Operation();
  } catch (const std::exception &E) {
    Message = QString::fromUtf8(E.what());
  } catch (...) {
    Message = QStringLiteral("Unknown error");
  }
  // The error goes back instead of the value.
  if (FServer->calledFromDBus())
    FServer->sendErrorReply(OrbaltErrorFailed, Message);
  return {};
}

qint16 TOrbaltDBusAdaptor::Enable() {
  return Status([this] { return FServer->Object().Enable(); });
}

int TOrbaltDBusAdaptor::RotatorCount() {
  return Status([this] { return FServer->Object().RotatorCount(); });
}

int TOrbaltDBusAdaptor::RotatorIndex() {
  return Status([this] { return FServer->Object().RotatorIndex(); });
}

qint16 TOrbaltDBusAdaptor::GetRotatorActive(int RotatorIndex) {
  FServer->NoteCaller();
  return FServer->Object().GetRotatorActive(RotatorIndex);
}

QString TOrbaltDBusAdaptor::GetRotatorTitle(int RotatorIndex) {
  return Status([this, RotatorIndex] { return FServer->Object().GetRotatorTitle(RotatorIndex); });
}

int TOrbaltDBusAdaptor::GetRotatorAzumuth(int RotatorIndex) {
  FServer->NoteCaller();
  return FServer->Object().GetRotatorAzumuth(RotatorIndex);
}

qint16 TOrbaltDBusAdaptor::Move(int RotatorIndex, int Azimuth) {
  FServer->NoteCaller();
  return FServer->Object().Move(RotatorIndex, Azimuth);
}

qint16 TOrbaltDBusAdaptor::Open(int RotatorIndex) {
  FServer->NoteCaller();
  return FServer->Object().Open(RotatorIndex);
}

qint16 TOrbaltDBusAdaptor::Close(int RotatorIndex) {
  FServer->NoteCaller();
  return FServer->Object().Close(RotatorIndex);
}

qint16 TOrbaltDBusAdaptor::Rotate(int Azimuth, double Freq) {
  FServer->NoteCaller();
  return FServer->Object().Rotate(Azimuth, Freq);
}
