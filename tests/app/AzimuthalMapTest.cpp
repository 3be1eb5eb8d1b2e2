// The generated azimuthal map: the land of the program's data file where the
// projection puts known places, the station in the centre, north up, and the
// short path drawn toward the place "Turn to" chose.

#include "app/AzimuthalMap.h"

#include "station/Bearing.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

const TLatLon Berlin{52.52, 13.40};

const TLandOutlines *Land() {
  static const std::optional<TLandOutlines> Loaded =
      TLandOutlines::Load(QDir(QStringLiteral(ORBALT_TEST_ASSET_DIR)).filePath("land-50m.bin"));
  return Loaded ? &*Loaded : nullptr;
}

QColor At(const QImage &Map, QPointF Point) {
  return Map.pixelColor(static_cast<int>(std::lround(Point.x())),
                        static_cast<int>(std::lround(Point.y())));
}

TEST(AzimuthalMapTest, KnownPlacesFallOnLandAndOpenOceanOnSea) {
  ASSERT_NE(Land(), nullptr);
  struct TCase {
    const char *Name;
    TLatLon Station;
    TLatLon Place;
    bool Land;
  };
  const TCase Cases[] = {
      {"Madrid from Berlin", Berlin, {40.42, -3.70}, true},
      {"Chicago from Berlin", Berlin, {41.88, -87.63}, true},
      {"Johannesburg from Berlin", Berlin, {-26.20, 28.05}, true},
      {"Brasilia from Berlin", Berlin, {-15.79, -47.88}, true},
      {"Novosibirsk from Berlin", Berlin, {55.03, 82.92}, true},
      {"the middle of the Atlantic from Berlin", Berlin, {30.0, -40.0}, false},
      {"the south Indian Ocean from Berlin", Berlin, {-30.0, 80.0}, false},
      // Seen from Madrid, New Zealand lies next to the antipode: its land
      // wraps around the rim rather than flooding the map.
      {"Alice Springs from Wellington", {-41.29, 174.78}, {-23.70, 133.88}, true},
      {"Madrid from Wellington", {-41.29, 174.78}, {40.42, -3.70}, true},
      {"the Pacific from Wellington", {-41.29, 174.78}, {0.0, -150.0}, false},
      {"the Atlantic off Madrid from Madrid", {40.42, -3.70}, {40.0, -30.0}, false},
  };
  for (const int Size : {250, 700}) {
    for (const TCase &Case : Cases) {
      SCOPED_TRACE(Case.Name);
      SCOPED_TRACE(Size);
      const QImage Map = DrawAzimuthalMap(Land(), Case.Station, Size);
      const TMapProjection Projection(Case.Station, Size);
      // Sea may lie under a distance ring; land never does here.
      EXPECT_EQ(At(Map, Projection.Project(Case.Place)) == TMapColours::Land, Case.Land);
    }
  }
}

TEST(AzimuthalMapTest, StationInTheCentreNorthUpAndBearingsReadOffTheMap) {
  const TMapProjection Map(Berlin, 250);
  const QPointF Centre = Map.Project(Berlin);
  EXPECT_NEAR(Centre.x(), 125, 1e-6);
  EXPECT_NEAR(Centre.y(), 125, 1e-6);
  const QPointF North = Map.Project({Berlin.Lat + 10, Berlin.Lon});
  EXPECT_NEAR(North.x(), 125, 1e-6);
  EXPECT_LT(North.y(), 125);
  // The straight line to a place leaves the centre at its bearing; the
  // antipode lies on the rim.
  const TLatLon NewYork{40.71, -74.01};
  EXPECT_NEAR(*Map.BearingAt(Map.Project(NewYork)), BearingBetween(Berlin, NewYork).ShortPath,
              1e-6);
  const QPointF Far = Map.Project({-52.0, -166.0});
  EXPECT_NEAR(std::hypot(Far.x() - 125, Far.y() - 125), Map.RimRadius(), 2.0);
  EXPECT_FALSE(Map.BearingAt(Centre));
}

TEST(AzimuthalMapTest, PathRunsFromTheStationToThePlace) {
  const TLatLon Tokyo{35.68, 139.69};
  const QImage Plain = DrawAzimuthalMap(Land(), Berlin, 250);
  QImage WithPath = Plain;
  DrawPath(WithPath, Berlin, Tokyo);
  const TMapProjection Map(Berlin, 250);
  const QPointF Centre = Map.MapCentre();
  const QPointF To = Map.Project(Tokyo);
  // Halfway along the line the path's colour, where the plain map had none.
  const QPointF Middle = (Centre + To) / 2;
  EXPECT_EQ(At(WithPath, Middle), TMapColours::ShortPath);
  EXPECT_NE(At(Plain, Middle), TMapColours::ShortPath);
}

// The bearings every 30 degrees stand inside the rim between the cardinal
// letters, as on the compass rose; between them there is no text. Without
// land, only the numbers are drawn dark within the ring below the ticks.
TEST(AzimuthalMapTest, BearingsEveryThirtyDegreesAreWrittenInsideTheRim) {
  for (const int Size : {250, 700}) {
    const QImage Map = DrawAzimuthalMap(nullptr, Berlin, Size);
    const TMapProjection Projection(Berlin, Size);
    const QPointF C = Projection.MapCentre();
    const double Rim = Projection.RimRadius();
    const auto InkNear = [&](double Azimuth) {
      int Count = 0;
      for (double R = Rim * 0.7; R < Rim - 9; R += 0.5)
        for (double A = Azimuth - 5; A <= Azimuth + 5; A += 0.25) {
          // Ink, or nearly: small letters are smoothed into the sea.
          Count += At(Map, MapPoint(C, R, A)).lightness() < 120;
        }
      return Count;
    };
    for (const int Azimuth : {30, 60, 120, 150, 210, 240, 300, 330})
      EXPECT_GT(InkNear(Azimuth), 0) << Size << " at " << Azimuth;
    for (const int Azimuth : {15, 45, 75, 195, 285})
      EXPECT_EQ(InkNear(Azimuth), 0) << Size << " at " << Azimuth;
  }
}

TEST(AzimuthalMapTest, LandFileThatIsNoneIsRefusedWithItsName) {
  QString Error;
  EXPECT_FALSE(TLandOutlines::Load(QStringLiteral("/nonexistent/land.bin"), &Error));
  EXPECT_TRUE(Error.contains("/nonexistent/land.bin")) << Error.toStdString();
  EXPECT_FALSE(TLandOutlines::Load(QStringLiteral(ORBALT_TEST_ASSET_DIR "/AzChart.bmp"), &Error));
  EXPECT_TRUE(Error.contains("not a land file")) << Error.toStdString();
}

} // namespace
