#include "remote/StationDBus.h"

#include "remote/OrbaltDBus.h"
#include "station/Station.h"

#include <exception>

TStationDBusAdaptor::TStationDBusAdaptor(TOrbaltDBusServer *Server, TStation &Station)
    : QDBusAbstractAdaptor(Server), FServer(Server), FStation(Station) {
  setAutoRelaySignals(false);
}

void TStationDBusAdaptor::Fail(const QString &Message) {
  if (FServer->calledFromDBus())
    FServer->sendErrorReply(OrbaltErrorFailed, Message);
}

double TStationDBusAdaptor::Bearing(const QString &place, double &longPath, double &distanceKm) {
  FServer->NoteCaller();
  const auto Aimed = FStation.Aim(place);
  if (const QString *Error = std::get_if<QString>(&Aimed)) {
    Fail(*Error);
    return 0;
  }
  const TBearing &B = std::get<TStation::TAim>(Aimed).Bearing;
  longPath = B.LongPath;
  distanceKm = B.DistanceKm;
  return B.ShortPath;
}

double TStationDBusAdaptor::TurnTo(int rotator, const QString &place, bool longPath) {
  FServer->NoteCaller();
  // A failure inside (a line that can't be written) is the caller's answer.
  std::variant<double, QString> Turned = QString();
  try {
    Turned = FStation.TurnTo(rotator, place, longPath, TCommandSource::DBus);
  } catch (const std::exception &E) {
    Turned = QString::fromUtf8(E.what());
  }
  if (const QString *Error = std::get_if<QString>(&Turned)) {
    Fail(*Error);
    return 0;
  }
  return std::get<double>(Turned);
}
