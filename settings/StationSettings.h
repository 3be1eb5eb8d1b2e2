#pragma once
// The station's own settings in the settings document: where the station is
// and where to look calls up.
//
//   /Station   "Callsign" (string), "Locator" (string, a Maidenhead locator),
//              "Latitude", "Longitude" (degrees, north and east positive;
//              empty when not set), "CountryFile" (path of a country file)
//
// The section is read and written on its own, like "/Network": the other
// readers and writers of the document leave it alone. Values are kept as
// the operator typed them; the station checks them when it uses them.

#include "settings/SettingsDocument.h"

#include <QString>

#include <optional>

inline const QString StationSection = QStringLiteral("/Station");

struct TStationSettings {
  QString Callsign;
  QString Locator;
  std::optional<double> Latitude;
  std::optional<double> Longitude;
  QString CountryFile;

  friend bool operator==(const TStationSettings &, const TStationSettings &) = default;
};

// Reads "/Station" without creating it. A missing key is empty; a latitude
// or longitude that does not convert, or lies outside -90..90 or -180..180,
// is noted in Problems and left unset.
TStationSettings ReadStationSettings(TXMLIniFile &Ini, TLoadProblems &Problems);
// Writes every key under "/Station" (created when missing).
void WriteStationSettings(TXMLIniFile &Ini, const TStationSettings &Settings);

// Whole operations on the file, each on a store of its own; both throw
// TSettingsError when the file can't be read, is not well-formed XML or
// can't be written.
TStationSettings LoadStationSettings(const QString &XmlName, TLoadProblems &Problems);
void SaveStationSettings(const QString &XmlName, const TStationSettings &Settings);
