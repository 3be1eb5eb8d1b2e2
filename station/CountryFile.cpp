#include "station/CountryFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace {

// "<lat/lon>" in an alias, with the file's west-positive longitude.
std::optional<TLatLon> PositionOverride(const QString &Alias) {
  static const QRegularExpression Pattern(QStringLiteral("<([-+0-9.]+)/([-+0-9.]+)>"));
  const QRegularExpressionMatch Match = Pattern.match(Alias);
  if (!Match.hasMatch())
    return std::nullopt;
  bool LatOk = false, LonOk = false;
  const double Lat = Match.captured(1).toDouble(&LatOk);
  const double Lon = Match.captured(2).toDouble(&LonOk);
  if (!LatOk || !LonOk)
    return std::nullopt;
  return TLatLon{Lat, -Lon};
}

// An alias without its overrides: "=DL0ABC(14)[28]" gives "=DL0ABC".
QString BareAlias(const QString &Alias) {
  qsizetype End = 0;
  while (End < Alias.size() && !QStringLiteral("([<{~").contains(Alias[End]))
    ++End;
  return Alias.left(End).trimmed().toUpper();
}

// The part of a call with "/" that names where it is operated from.
QString CallToLookUp(const QString &Call) {
  const QStringList Parts = Call.split(u'/', Qt::SkipEmptyParts);
  if (Parts.size() < 2)
    return Call;
  static const QStringList Suffixes = {QStringLiteral("P"),   QStringLiteral("M"),
                                       QStringLiteral("MM"),  QStringLiteral("AM"),
                                       QStringLiteral("QRP"), QStringLiteral("A")};
  // "K1ABC/P", "K1ABC/7": the call itself; "EA8/DL1ABC": the shorter part.
  if (Suffixes.contains(Parts[1]) || (Parts[1].size() == 1 && Parts[1][0].isDigit()))
    return Parts[0];
  return Parts[0].size() <= Parts[1].size() ? Parts[0] : Parts[1];
}

} // namespace

std::optional<TCountryFile> TCountryFile::Load(const QString &FileName, QString *Error) {
  QFile File(FileName);
  if (!File.open(QIODevice::ReadOnly)) {
    if (Error)
      *Error =
          QStringLiteral("The country file %1 can't be read: %2").arg(FileName, File.errorString());
    return std::nullopt;
  }
  TCountryFile Countries = Parse(QString::fromLatin1(File.readAll()));
  if (Countries.Size() == 0) {
    if (Error)
      *Error = QStringLiteral("The country file %1 holds no entries").arg(FileName);
    return std::nullopt;
  }
  return Countries;
}

TCountryFile TCountryFile::Parse(const QString &Text) {
  TCountryFile Countries;
  // Records end with ";"; within one, the header's fields end with ":".
  for (const QString &Record : Text.split(u';', Qt::SkipEmptyParts)) {
    const QStringList Fields = Record.split(u':');
    if (Fields.size() < 9)
      continue;
    bool LatOk = false, LonOk = false;
    TEntry Entry;
    Entry.Name = Fields[0].trimmed();
    Entry.Position.Lat = Fields[4].trimmed().toDouble(&LatOk);
    Entry.Position.Lon = -Fields[5].trimmed().toDouble(&LonOk);
    Entry.Prefix = Fields[7].trimmed().remove(u'*').toUpper();
    if (!LatOk || !LonOk || Entry.Name.isEmpty())
      continue;
    // The aliases follow the eighth ":"; a stray ":" in them is kept.
    const QString Aliases = Fields.mid(8).join(u':');
    for (const QString &Alias : Aliases.split(u',', Qt::SkipEmptyParts)) {
      TEntry Own = Entry;
      if (const auto Position = PositionOverride(Alias))
        Own.Position = *Position;
      const QString Bare = BareAlias(Alias);
      if (Bare.startsWith(u'='))
        Countries.FCalls.insert(Bare.mid(1), Own);
      else if (!Bare.isEmpty()) {
        Countries.FPrefixes.insert(Bare, Own);
        Countries.FLongestPrefix = std::max(Countries.FLongestPrefix, int(Bare.size()));
      }
    }
  }
  return Countries;
}

std::optional<TCountryFile::TEntry> TCountryFile::Find(const QString &Call) const {
  const QString Upper = Call.trimmed().toUpper();
  if (const auto It = FCalls.constFind(Upper); It != FCalls.cend())
    return *It;
  const QString Key = CallToLookUp(Upper);
  if (const auto It = FCalls.constFind(Key); It != FCalls.cend())
    return *It;
  for (qsizetype Length = std::min<qsizetype>(Key.size(), FLongestPrefix); Length > 0; --Length)
    if (const auto It = FPrefixes.constFind(Key.left(Length)); It != FPrefixes.cend())
      return *It;
  return std::nullopt;
}
