#include "remote/StationAutomation.h"

#include "remote/StationDBus.h"
#include "station/Station.h"

TStationAutomation::TStationAutomation(TStation &Station, const QDBusConnection &Connection)
    : FOrbalt(Station), FServer(FOrbalt, Connection) {
  // The station's own interface on the same object (owned by the server).
  new TStationDBusAdaptor(&FServer, Station);
}

TStationAutomation::~TStationAutomation() { FServer.Stop(); }

bool TStationAutomation::Start(QString *Error) { return FServer.Start(Error); }

void TStationAutomation::EndWhenClientsLeave(std::function<void()> End) {
  // Queued: the end never runs inside the handling of a bus message.
  QObject::connect(&FServer, &TOrbaltDBusServer::LastClientLeft, &FServer, std::move(End),
                   Qt::QueuedConnection);
}
