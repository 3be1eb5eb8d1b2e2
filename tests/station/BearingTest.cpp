// Where to point: locators, the country file, the places an operator types,
// and bearings and distances checked against GeographicLib's own solver
// program (GeodSolve), run as an independent oracle.

#include "station/Bearing.h"

#include "settings/StationSettings.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>
#include <variant>

namespace {

// The angle between two bearings, 0 to 180.
double AngleBetween(double A, double B) {
  const double D = std::fmod(std::fabs(A - B), 360.0);
  return D > 180 ? 360 - D : D;
}

TEST(BearingTest, ShortAndLongPathAndDistanceAgreeWithTheIndependentSolver) {
  struct TCase {
    const char *Name;
    TLatLon From, To;
  };
  const TCase Cases[] = {
      {"London to New York", {51.5074, -0.1278}, {40.7128, -74.0060}},
      {"Berlin to Sydney", {52.52, 13.405}, {-33.8688, 151.2093}},
      {"near the antipode", {0, 0}, {0.5, 179.7}},
      {"near the antipode, off the equator", {45, 10}, {-44.8, -170.3}},
      {"across the date line", {-18.14, 178.44}, {-13.83, -171.76}},
      {"from the north pole", {90, 0}, {50, 10}},
      {"from the south pole", {-90, 0}, {-33.9, 18.4}},
      {"to the north pole", {40, -105}, {90, 0}},
      {"due south", {10, 20}, {-10, 20}},
  };
  const QString Solver = QStandardPaths::findExecutable(QStringLiteral("GeodSolve"));
  ASSERT_FALSE(Solver.isEmpty()) << "GeodSolve (geographiclib-tools) is missing";
  QByteArray Input;
  for (const TCase &Case : Cases)
    Input += QStringLiteral("%1 %2 %3 %4\n")
                 .arg(Case.From.Lat, 0, 'f', 6)
                 .arg(Case.From.Lon, 0, 'f', 6)
                 .arg(Case.To.Lat, 0, 'f', 6)
                 .arg(Case.To.Lon, 0, 'f', 6)
                 .toLatin1();
  QProcess Process;
  Process.start(Solver, {QStringLiteral("-i")});
  Process.write(Input);
  Process.closeWriteChannel();
  ASSERT_TRUE(Process.waitForFinished(60000));
  const QStringList Lines =
      QString::fromLatin1(Process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(Lines.size(), std::size(Cases));

  for (size_t I = 0; I < std::size(Cases); ++I) {
    SCOPED_TRACE(Cases[I].Name);
    const QStringList Fields = Lines[I].split(u' ', Qt::SkipEmptyParts);
    ASSERT_EQ(Fields.size(), 3) << Lines[I].toStdString();
    const double Azimuth = Fields[0].toDouble();
    const double DistanceKm = Fields[2].toDouble() / 1000;
    const TBearing B = BearingBetween(Cases[I].From, Cases[I].To);
    EXPECT_LT(AngleBetween(B.ShortPath, Azimuth), 0.1) << B.ShortPath << " vs " << Azimuth;
    EXPECT_LT(AngleBetween(B.LongPath, Azimuth + 180), 0.1) << B.LongPath;
    EXPECT_NEAR(B.DistanceKm, DistanceKm, 1.0);
    EXPECT_GE(B.ShortPath, 0);
    EXPECT_LT(B.ShortPath, 360);
    EXPECT_GE(B.LongPath, 0);
    EXPECT_LT(B.LongPath, 360);
  }
}

TEST(BearingTest, SamePlaceIsNorthAtNoDistance) {
  const TBearing B = BearingBetween({48.1, 11.6}, {48.1, 11.6});
  EXPECT_EQ(B.ShortPath, 0);
  EXPECT_EQ(B.LongPath, 180);
  EXPECT_EQ(B.DistanceKm, 0);
}

TEST(LocatorTest, CentreOfTheSquareOrTheReason) {
  struct TCase {
    const char *Text;
    double Lat, Lon; // NaN: refused
    const char *Reason;
  };
  const double No = std::nan("");
  const TCase Cases[] = {
      {"JO62", 52.5, 13.0, ""},
      {"JO62qm", 52.520833, 13.375, ""},
      {"jo62QM", 52.520833, 13.375, ""},
      {" FN31pr ", 41.729167, -72.708333, ""},
      {"JO62qm45", 52.522917, 13.370833, ""},
      {"AA00aa00", -89.997917, -179.995833, ""},
      {"RR99xx99", 89.997917, 179.995833, ""},
      {"JO6", No, No, "4, 6 or 8 characters"},
      {"JO62q", No, No, "4, 6 or 8 characters"},
      {"", No, No, "4, 6 or 8 characters"},
      {"JS62", No, No, "character 2 (\"S\") is not one of the field letters"},
      {"JOA2", No, No, "character 3 (\"A\") is not one of the square digits"},
      {"JO62qy", No, No, "character 6 (\"y\") is not one of the subsquare letters"},
      {"JO62qmx5", No, No, "character 7 (\"x\") is not one of the extended square digits"},
  };
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(Case.Text);
    QString Error;
    const auto Point = LocatorToLatLon(QString::fromLatin1(Case.Text), &Error);
    if (std::isnan(Case.Lat)) {
      EXPECT_FALSE(Point);
      EXPECT_TRUE(Error.contains(QString::fromLatin1(Case.Reason))) << Error.toStdString();
    } else {
      ASSERT_TRUE(Point) << Error.toStdString();
      EXPECT_NEAR(Point->Lat, Case.Lat, 1e-5);
      EXPECT_NEAR(Point->Lon, Case.Lon, 1e-5);
    }
  }
}

// A small country file in the downloaded format: longitudes west positive,
// an exact call with its own position, prefixes nested in longer ones.
const char CountryText[] =
    "Fed. Rep. of Germany:     14:  28:  EU:   51.00:   -10.00:    -1.0:  DL:\n"
    "    DA,DB,DC,DD,DE,DF,DG,DH,DI,DJ,DK,DL,DM,DN,DO,DP,DQ,DR,=DL0ABC(15);\n"
    "United States:            05:  08:  NA:   37.53:    91.67:     5.0:  K:\n"
    "    AA,K,N,W,=KH6XX<21.30/157.80>;\n"
    "Hawaii:                   31:  61:  OC:   21.12:   157.48:    10.0:  "
    "KH6:\n"
    "    AH6,KH6,NH6,WH6;\n"
    "Canary Islands:           33:  36:  AF:   28.32:    15.85:     0.0:  "
    "EA8:\n"
    "    AM8,AN8,EA8,EB8;\n"
    "Spain:                    14:  37:  EU:   40.37:     4.88:    -1.0:  EA:\n"
    "    AM,AN,AO,EA,EB,EC,ED,EE,EF,EG,EH;\n";

TEST(CountryFileTest, ExactCallFirstThenTheLongestPrefix) {
  const TCountryFile Countries = TCountryFile::Parse(QString::fromLatin1(CountryText));
  struct TCase {
    const char *Call;
    const char *Entity; // empty: unknown
    double Lat, Lon;
  };
  const TCase Cases[] = {
      {"DL1ABC", "Fed. Rep. of Germany", 51.0, 10.0},
      {"dk9xx", "Fed. Rep. of Germany", 51.0, 10.0},
      {"W1AW", "United States", 37.53, -91.67},
      {"KH6ABC", "Hawaii", 21.12, -157.48},            // KH6 beats K
      {"KH6XX", "United States", 21.30, -157.80},      // the exact call beats KH6
      {"EA8ABC", "Canary Islands", 28.32, -15.85},     // EA8 beats EA
      {"EA8/DL1ABC", "Canary Islands", 28.32, -15.85}, // operated from EA8
      {"DL1ABC/P", "Fed. Rep. of Germany", 51.0, 10.0},
      {"DL0ABC", "Fed. Rep. of Germany", 51.0, 10.0},
      {"Q1XYZ", "", 0, 0},
      {"", "", 0, 0},
  };
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(Case.Call);
    const auto Entry = Countries.Find(QString::fromLatin1(Case.Call));
    if (!*Case.Entity) {
      EXPECT_FALSE(Entry);
      continue;
    }
    ASSERT_TRUE(Entry);
    EXPECT_EQ(Entry->Name, QString::fromLatin1(Case.Entity));
    EXPECT_NEAR(Entry->Position.Lat, Case.Lat, 1e-9);
    EXPECT_NEAR(Entry->Position.Lon, Case.Lon, 1e-9);
  }
}

TEST(PlaceTest, LocatorNumbersOrCallElseWhatIsWrong) {
  const TCountryFile Countries = TCountryFile::Parse(QString::fromLatin1(CountryText));
  struct TCase {
    const char *Text;
    bool WithCountries;
    double Lat, Lon;     // when read
    const char *Message; // when refused: part of the message
  };
  const TCase Cases[] = {
      {"JO62qm", false, 52.520833, 13.375, nullptr},
      {"52.5 13.4", false, 52.5, 13.4, nullptr},
      {"-33.87, 151.21", false, -33.87, 151.21, nullptr},
      {"DL1ABC", true, 51.0, 10.0, nullptr},
      {"91 10", false, 0, 0, "latitude is -90 to 90"},
      {"10 181", false, 0, 0, "longitude -180 to 180"},
      {"JS62", false, 0, 0, "not a locator"},
      {"DL1ABC", false, 0, 0, "no country file is set"},
      {"Q1XYZ", true, 0, 0, "not in the country file"},
      {"hello world", true, 0, 0, "neither a locator"},
      {"  ", true, 0, 0, "No place given"},
  };
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(Case.Text);
    const auto Result =
        ResolvePlace(QString::fromLatin1(Case.Text), Case.WithCountries ? &Countries : nullptr);
    if (Case.Message) {
      ASSERT_TRUE(std::holds_alternative<QString>(Result));
      EXPECT_TRUE(std::get<QString>(Result).contains(QString::fromLatin1(Case.Message)))
          << std::get<QString>(Result).toStdString();
    } else {
      ASSERT_TRUE(std::holds_alternative<TPlace>(Result))
          << std::get<QString>(Result).toStdString();
      EXPECT_NEAR(std::get<TPlace>(Result).Position.Lat, Case.Lat, 1e-5);
      EXPECT_NEAR(std::get<TPlace>(Result).Position.Lon, Case.Lon, 1e-5);
    }
  }
}

TEST(PlaceTest, StationPositionFromItsLocatorElseItsCoordinates) {
  TStationSettings S;
  EXPECT_TRUE(std::get<QString>(StationPosition(S)).contains(QStringLiteral("not set")));
  S.Latitude = 48.0;
  EXPECT_TRUE(std::holds_alternative<QString>(StationPosition(S))); // a longitude is missing
  S.Longitude = 11.5;
  EXPECT_NEAR(std::get<TLatLon>(StationPosition(S)).Lon, 11.5, 1e-9);
  S.Locator = QStringLiteral("JO62");
  EXPECT_NEAR(std::get<TLatLon>(StationPosition(S)).Lon, 13.0,
              1e-9); // the locator wins
  S.Locator = QStringLiteral("JZ62");
  EXPECT_TRUE(std::get<QString>(StationPosition(S)).contains(QStringLiteral("locator")));
}

} // namespace
