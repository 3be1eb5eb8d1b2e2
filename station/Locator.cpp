#include "station/Locator.h"

#include <cmath>

namespace {

// The pairs of a locator: the range of their characters and the size of
// their step in degrees of longitude (latitude steps are half of it).
struct TPair {
  char First;
  char Last;
  double LonStep;
  const char *Name;
};
constexpr TPair Pairs[] = {
    {'A', 'R', 20.0, "field letters (A to R)"},
    {'0', '9', 2.0, "square digits (0 to 9)"},
    {'A', 'X', 2.0 / 24.0, "subsquare letters (A to X)"},
    {'0', '9', 2.0 / 240.0, "extended square digits (0 to 9)"},
};

} // namespace

std::optional<TLatLon> LocatorToLatLon(const QString &Locator, QString *Error) {
  const QString Text = Locator.trimmed().toUpper();
  const auto Fail = [&](const QString &Reason) -> std::optional<TLatLon> {
    if (Error)
      *Error = QStringLiteral("\"%1\" is not a locator: %2").arg(Locator.trimmed(), Reason);
    return std::nullopt;
  };
  if (Text.size() != 4 && Text.size() != 6 && Text.size() != 8)
    return Fail(QStringLiteral("it has 4, 6 or 8 characters, like JO62 or JO62qm"));
  double Lon = -180, Lat = -90, LonStep = 0;
  for (qsizetype P = 0; P < Text.size() / 2; ++P) {
    const TPair &Pair = Pairs[P];
    for (qsizetype I = 2 * P; I < 2 * P + 2; ++I) {
      const QChar C = Text[I];
      if (C.unicode() < uchar(Pair.First) || C.unicode() > uchar(Pair.Last))
        return Fail(QStringLiteral("character %1 (\"%2\") is not one of the %3")
                        .arg(I + 1)
                        .arg(Locator.trimmed()[I])
                        .arg(QString::fromLatin1(Pair.Name)));
    }
    LonStep = Pair.LonStep;
    Lon += (Text[2 * P].unicode() - Pair.First) * LonStep;
    Lat += (Text[2 * P + 1].unicode() - Pair.First) * LonStep / 2;
  }
  return TLatLon{Lat + LonStep / 4, Lon + LonStep / 2};
}
