#include "settings/StationSettings.h"

#include "settings/XMLIniFile.h"

#include <cmath>
#include <limits>

namespace {

const QString CallsignKey = QStringLiteral("Callsign");
const QString LocatorKey = QStringLiteral("Locator");
const QString LatitudeKey = QStringLiteral("Latitude");
const QString LongitudeKey = QStringLiteral("Longitude");
const QString CountryFileKey = QStringLiteral("CountryFile");

// A coordinate key: unset when missing or empty, or (noted) when it does not
// convert or lies outside -Limit..Limit.
std::optional<double> Coordinate(TKeyReader &Keys, const QString &Key, double Limit) {
  const double NotSet = std::numeric_limits<double>::quiet_NaN();
  const double Value = Keys.Float(Key, NotSet);
  if (std::isnan(Value))
    return std::nullopt;
  if (std::fabs(Value) > Limit) {
    Keys.Note(Key, QStringLiteral("%1 is outside -%2 to %2 degrees").arg(Value).arg(Limit));
    return std::nullopt;
  }
  return Value;
}

void WriteCoordinate(TXMLIniFile &Ini, const QString &Key, std::optional<double> Value) {
  if (Value)
    Ini.WriteFloat(Key, *Value);
  else
    Ini.WriteString(Key, QString());
}

} // namespace

TStationSettings ReadStationSettings(TXMLIniFile &Ini, TLoadProblems &Problems) {
  TStationSettings Settings;
  if (!Ini.NodeExists(StationSection))
    return Settings;
  Ini.OpenNode(StationSection, false);
  TKeyReader Keys(Ini, Ini.CurrentNode(), StationSection, Problems);
  Settings.Callsign = Keys.String(CallsignKey, {}).trimmed();
  Settings.Locator = Keys.String(LocatorKey, {}).trimmed();
  Settings.Latitude = Coordinate(Keys, LatitudeKey, 90);
  Settings.Longitude = Coordinate(Keys, LongitudeKey, 180);
  Settings.CountryFile = Keys.String(CountryFileKey, {}).trimmed();
  return Settings;
}

void WriteStationSettings(TXMLIniFile &Ini, const TStationSettings &Settings) {
  Ini.OpenNode(StationSection, true);
  Ini.WriteString(CallsignKey, Settings.Callsign);
  Ini.WriteString(LocatorKey, Settings.Locator);
  WriteCoordinate(Ini, LatitudeKey, Settings.Latitude);
  WriteCoordinate(Ini, LongitudeKey, Settings.Longitude);
  Ini.WriteString(CountryFileKey, Settings.CountryFile);
  Ini.CloseNode();
}

TStationSettings LoadStationSettings(const QString &XmlName, TLoadProblems &Problems) {
  TXMLIniFile Ini(XmlName);
  return ReadStationSettings(Ini, Problems);
}

void SaveStationSettings(const QString &XmlName, const TStationSettings &Settings) {
  TXMLIniFile Ini(XmlName);
  WriteStationSettings(Ini, Settings);
  Ini.UpdateFile();
}
