#pragma once
// Points on the earth and Maidenhead locators.
//
// A locator names a square: two field letters (A..R, 20° of longitude by 10°
// of latitude), two square digits (2° by 1°), optionally two subsquare
// letters (A..X, 5' by 2.5') and two extended digits (30" by 15"). Letter
// case does not matter. The point meant is the centre of the square.

#include <QString>

#include <optional>

// Degrees, north and east positive.
struct TLatLon {
  double Lat = 0;
  double Lon = 0;

  friend bool operator==(const TLatLon &, const TLatLon &) = default;
};

// The centre of Locator's square (blanks around it ignored), or nothing with
// the reason in Error: a wrong length (4, 6 or 8 characters) or a character
// out of its range, named with its place.
std::optional<TLatLon> LocatorToLatLon(const QString &Locator, QString *Error = nullptr);
