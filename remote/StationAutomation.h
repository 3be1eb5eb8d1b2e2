#pragma once
// The automation server of the running program: the automation object over
// the station, offered on the session bus from the moment it is started.
//
// - While clients hold the object, an end asked for by the operator should
//   first ask whether to end (HasClients tells the owner).
// - A program started for a client ends (EndWhenClientsLeave) when the last
//   client has left.

#include "remote/Orbalt.h"
#include "remote/OrbaltDBus.h"

#include <QDBusConnection>

#include <functional>

class TStation;

class TStationAutomation {
public:
  TStationAutomation(TStation &Station, const QDBusConnection &Connection);
  // Leaves the bus.
  ~TStationAutomation();
  TStationAutomation(const TStationAutomation &) = delete;
  TStationAutomation &operator=(const TStationAutomation &) = delete;

  // Takes the bus name; false with the reason in Error.
  bool Start(QString *Error = nullptr);
  // End runs (from the event loop) when the last client has left the bus.
  void EndWhenClientsLeave(std::function<void()> End);
  // Clients hold the object.
  bool HasClients() const { return FServer.ClientCount() > 0; }

  TOrbalt &Orbalt() { return FOrbalt; }
  TOrbaltDBusServer &Server() { return FServer; }

private:
  TOrbalt FOrbalt;
  TOrbaltDBusServer FServer;
};
