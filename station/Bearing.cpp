#include "station/Bearing.h"

#include "settings/StationSettings.h"

#include <GeographicLib/Geodesic.hpp>

#include <QRegularExpression>

#include <cmath>

namespace {

double Normalized(double Degrees) {
  double D = std::fmod(Degrees, 360.0);
  if (D < 0)
    D += 360.0;
  return D >= 360.0 ? 0.0 : D;
}

} // namespace

int WholeDegrees(double Bearing) {
  return static_cast<int>(std::lround(Normalized(Bearing))) % 360;
}

TBearing BearingBetween(TLatLon From, TLatLon To) {
  const GeographicLib::Geodesic &Earth = GeographicLib::Geodesic::WGS84();
  double Distance = 0, Azimuth1 = 0, Azimuth2 = 0;
  Earth.Inverse(From.Lat, From.Lon, To.Lat, To.Lon, Distance, Azimuth1, Azimuth2);
  if (Distance == 0)
    Azimuth1 = 0; // no direction to a place where one stands
  TBearing Result;
  Result.ShortPath = Normalized(Azimuth1);
  Result.LongPath = Normalized(Azimuth1 + 180.0);
  Result.DistanceKm = Distance / 1000.0;
  return Result;
}

std::variant<TPlace, QString> ResolvePlace(const QString &Place, const TCountryFile *Countries) {
  const QString Text = Place.trimmed();
  if (Text.isEmpty())
    return QStringLiteral("No place given: type a locator, \"latitude longitude\" or a call");

  // Two numbers: latitude and longitude.
  static const QRegularExpression Numbers(
      QStringLiteral("^([-+]?\\d+(?:\\.\\d*)?)\\s*[,\\s]\\s*([-+]?\\d+(?:\\.\\d*)?)$"));
  if (const QRegularExpressionMatch Match = Numbers.match(Text); Match.hasMatch()) {
    const double Lat = Match.captured(1).toDouble();
    const double Lon = Match.captured(2).toDouble();
    if (std::fabs(Lat) > 90 || std::fabs(Lon) > 180)
      return QStringLiteral("\"%1\": latitude is -90 to 90 and longitude -180 "
                            "to 180 degrees")
          .arg(Text);
    return TPlace{{Lat, Lon}, QStringLiteral("%1 %2").arg(Lat, 0, 'f', 4).arg(Lon, 0, 'f', 4)};
  }

  // A locator: a field and a square at least, letters and digits in turn.
  static const QRegularExpression LocatorShape(
      QStringLiteral("^[A-Za-z]{2}\\d{2}([A-Za-z]{2}(\\d{2})?)?$"));
  if (LocatorShape.match(Text).hasMatch()) {
    QString Error;
    if (const auto Position = LocatorToLatLon(Text, &Error))
      return TPlace{*Position, Text};
    // "AS12" shaped like a locator but with a letter beyond R may be a call.
    if (!Countries || !Countries->Find(Text))
      return Error;
  }

  // A callsign: letters, digits and "/", with a digit somewhere.
  static const QRegularExpression CallShape(QStringLiteral("^[A-Za-z0-9/]*\\d[A-Za-z0-9/]*$"));
  if (!CallShape.match(Text).hasMatch() ||
      !Text.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))))
    return QStringLiteral("\"%1\" is neither a locator, nor \"latitude "
                          "longitude\", nor a call")
        .arg(Text);
  if (!Countries)
    return QStringLiteral("The call %1 can't be looked up: no country file is set in the "
                          "station settings")
        .arg(Text.toUpper());
  const auto Entry = Countries->Find(Text);
  if (!Entry)
    return QStringLiteral("The call %1 is not in the country file").arg(Text.toUpper());
  return TPlace{Entry->Position, QStringLiteral("%1: %2").arg(Text.toUpper(), Entry->Name)};
}

std::variant<TLatLon, QString> StationPosition(const TStationSettings &Settings) {
  if (!Settings.Locator.isEmpty()) {
    QString Error;
    if (const auto Position = LocatorToLatLon(Settings.Locator, &Error))
      return *Position;
    return QStringLiteral("The station's locator is wrong: %1").arg(Error);
  }
  if (Settings.Latitude && Settings.Longitude)
    return TLatLon{*Settings.Latitude, *Settings.Longitude};
  return QStringLiteral("The station's location is not set: give its locator, or its latitude "
                        "and longitude, in the station settings");
}
