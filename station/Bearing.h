#pragma once
// Where to point from the station: bearings and distance on the WGS84
// ellipsoid, and the places an operator types.
//
// A place is a Maidenhead locator ("JO62qm"), two numbers "lat lon" in
// degrees (north and east positive; a comma may separate them), or a
// callsign looked up in the country file. Every failure is a value: a
// message that says what was wrong, never an exception.

#include "station/CountryFile.h"
#include "station/Locator.h"

#include <QString>

#include <variant>

struct TStationSettings;

struct TBearing {
  double ShortPath = 0;  // degrees clockwise from true north, 0 to <360
  double LongPath = 0;   // the opposite direction
  double DistanceKm = 0; // along the short path
};

// A bearing as a rotator's preset: rounded to a whole degree, 0 to 359.
int WholeDegrees(double Bearing);

// The geodesic from From to To. The same place gives 0° and 180° at 0 km.
TBearing BearingBetween(TLatLon From, TLatLon To);

// A resolved place: its position and how it was read ("JO62qm", "52.50
// 13.40", "DL1ABC: Fed. Rep. of Germany").
struct TPlace {
  TLatLon Position;
  QString Description;
};

// Reads Place. Countries may be null when no country file is set; a
// callsign then fails with a message saying so.
std::variant<TPlace, QString> ResolvePlace(const QString &Place, const TCountryFile *Countries);

// The station's position: its locator when one is set, else its latitude and
// longitude when both are set; otherwise the reason.
std::variant<TLatLon, QString> StationPosition(const TStationSettings &Settings);
