#pragma once
// A country file in the cty.dat format that logging programs download: the
// DXCC entities with their position and the prefixes and calls that belong
// to them.
//
// Each entity is a header line of eight fields ended by ":" (name, CQ zone,
// ITU zone, continent, latitude, longitude, UTC offset, primary prefix)
// followed by its aliases, separated by commas and ended by ";". An alias is
// a prefix ("DL") or, with "=", a whole call ("=DL0ABC"); it may carry
// overrides in brackets, of which only a position "<lat/lon>" matters here.
// Longitudes in the file are positive to the west; they are turned to east
// positive when read.

#include "station/Locator.h"

#include <QHash>
#include <QString>

#include <optional>

class TCountryFile {
public:
  struct TEntry {
    QString Name;   // the entity's name ("Fed. Rep. of Germany")
    QString Prefix; // its primary prefix ("DL")
    TLatLon Position;
  };

  // Reads the file; nothing with the reason in Error when it can't be read
  // or holds no entity.
  static std::optional<TCountryFile> Load(const QString &FileName, QString *Error = nullptr);
  // Reads the file's text. Lines it can't understand are skipped.
  static TCountryFile Parse(const QString &Text);

  // The entry of Call: an exact-call alias first, then the longest matching
  // prefix. A call with "/" is looked up by its prefix part ("EA8/DL1ABC"
  // by "EA8") or, for a suffix such as "/P", by the call before it.
  std::optional<TEntry> Find(const QString &Call) const;

  qsizetype Size() const { return FPrefixes.size() + FCalls.size(); }

private:
  QHash<QString, TEntry> FPrefixes;
  QHash<QString, TEntry> FCalls;
  int FLongestPrefix = 0;
};
