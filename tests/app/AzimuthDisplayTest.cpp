// The azimuth display: needle geometry and pixels, the transparent layers,
// relay lamps, the map picture and presses on the map.

#include "app/AzimuthDisplay.h"
#include "common/RecordingUiServices.h"
#include "rotator/RelayArray.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace {

constexpr double Pi = std::numbers::pi;

QRgb Pixel(const TOverlayLayer &Layer, int X, int Y) { return Layer.Picture().pixel(X, Y); }

const QRgb White = qRgb(255, 255, 255);
const QRgb Black = qRgb(0, 0, 0);
const QRgb Red = qRgb(255, 0, 0);
const QRgb Green = qRgb(0, 128, 0);
const QRgb Blue = qRgb(0, 0, 255);

// Number of pixels of the layer with the given colour.
int CountPixels(const TOverlayLayer &Layer, QRgb Color) {
  const QImage &P = Layer.Picture();
  int N = 0;
  for (int Y = 0; Y < P.height(); ++Y)
    for (int X = 0; X < P.width(); ++X)
      N += P.pixel(X, Y) == Color;
  return N;
}

// The rotator page's panel as the main window lays it out (269 - 4 wide).
class AzimuthDisplayTest : public ::testing::Test {
protected:
  AzimuthDisplayTest() {
    Panel.resize(265, 370);
    Display.Arrange();
  }
  QWidget Panel;
  TAzimuthDisplay Display{&Panel};
  TScopedRecordingUi Recording;
};

} // namespace

TEST(AzimuthDisplayColours, BlueInTheHighByteComesOutAsRgb) {
  EXPECT_EQ(ColorOf(clBlack).rgb(), Black);
  EXPECT_EQ(ColorOf(clRed).rgb(), Red);
  EXPECT_EQ(ColorOf(clGreen).rgb(), Green);
  EXPECT_EQ(ColorOf(clBlue).rgb(), Blue);
  EXPECT_EQ(ColorOf(0x00336699).rgb(), qRgb(0x99, 0x66, 0x33));
}

TEST(AzimuthDisplayNeedle, EndPointsForAnglesAroundTheCircle) {
  struct Case {
    double Angle;
    QPoint From, To;
  } Cases[] = {
      {0, {125, 135}, {125, 35}},
      {Pi / 2, {115, 125}, {215, 125}},
      {Pi, {125, 115}, {125, 215}},
      {3 * Pi / 2, {135, 125}, {35, 125}},
      // Angles outside [0, 2π) still give a needle.
      {2 * Pi + Pi / 2, {115, 125}, {215, 125}},
      {-Pi / 2, {135, 125}, {35, 125}},
      {Pi / 4, {118, 132}, {189, 61}},
  };
  for (const Case &C : Cases) {
    const TNeedleLine Line = NeedleLine(125, 125, 100, C.Angle);
    EXPECT_EQ(Line.From, C.From) << "angle " << C.Angle;
    EXPECT_EQ(Line.To, C.To) << "angle " << C.Angle;
  }
  // A length that does not divide evenly: inner 9 * 0.9 = 8.1 -> 8, tail 1.
  const TNeedleLine Short = NeedleLine(10, 10, 9, 0);
  EXPECT_EQ(Short.From, QPoint(10, 11));
  EXPECT_EQ(Short.To, QPoint(10, 2));
}

TEST_F(AzimuthDisplayTest, LayersAreStackedOverTheCentredMap) {
  EXPECT_EQ(Display.imgMap->geometry(), QRect(7, 48, 250, 250));
  for (auto *Layer : {Display.imgPreset.data(), Display.imgRelay.data(),
                      Display.imgDirection.data()}) {
    EXPECT_EQ(Layer->geometry(), Display.imgMap->geometry());
    EXPECT_EQ(Layer->Picture().size(), QSize(250, 250));
    EXPECT_EQ(CountPixels(*Layer, White), 250 * 250);
  }
  // Bottom to top.
  const QObjectList &Order = Panel.children();
  EXPECT_LT(Order.indexOf(Display.imgMap), Order.indexOf(Display.imgPreset));
  EXPECT_LT(Order.indexOf(Display.imgPreset), Order.indexOf(Display.imgRelay));
  EXPECT_LT(Order.indexOf(Display.imgRelay), Order.indexOf(Display.imgDirection));
  EXPECT_EQ(Panel.childAt(132, 173), Display.imgDirection.data());
  EXPECT_EQ(Display.NeedleCenterX, 125);
  EXPECT_EQ(Display.NeedleCenterY, 125);
  EXPECT_EQ(Display.NeedleLength, 100);
}

TEST_F(AzimuthDisplayTest, NorthNeedleIsBlackAndTheRestStaysTransparent) {
  Display.DrawDirection(0, false, 0, 0);
  const TOverlayLayer &Layer = *Display.imgDirection;
  for (int Y : {35, 60, 100, 125, 135})
    EXPECT_EQ(Pixel(Layer, 125, Y), Black) << "y " << Y;
  // Five pixels wide.
  EXPECT_EQ(Pixel(Layer, 123, 80), Black);
  EXPECT_EQ(Pixel(Layer, 127, 80), Black);
  // Nothing beyond the ends or beside the line.
  for (QPoint P : {QPoint(125, 29), QPoint(125, 141), QPoint(131, 80), QPoint(119, 80),
                   QPoint(200, 125), QPoint(15, 15)})
    EXPECT_EQ(Pixel(Layer, P.x(), P.y()), White) << P.x() << "," << P.y();

  // White shows what lies beneath; the needle covers it.
  const QImage Shown = WhiteTransparent(Layer.Picture());
  EXPECT_EQ(qAlpha(Shown.pixel(200, 125)), 0);
  EXPECT_EQ(Shown.pixel(125, 80), qRgba(0, 0, 0, 255));
  int Transparent = 0;
  for (int Y = 0; Y < Shown.height(); ++Y)
    for (int X = 0; X < Shown.width(); ++X)
      Transparent += qAlpha(Shown.pixel(X, Y)) == 0;
  EXPECT_EQ(Transparent, CountPixels(Layer, White));
}

TEST_F(AzimuthDisplayTest, SouthNeedleReplacesTheNorthNeedle) {
  Display.DrawDirection(0, false, 0, 0);
  Display.DrawDirection(Pi, false, 0, 0);
  const TOverlayLayer &Layer = *Display.imgDirection;
  for (int Y : {115, 150, 215})
    EXPECT_EQ(Pixel(Layer, 125, Y), Black) << "y " << Y;
  EXPECT_EQ(Pixel(Layer, 125, 60), White);
  EXPECT_EQ(Pixel(Layer, 125, 221), White);
}

TEST_F(AzimuthDisplayTest, OffsetNeedleIsGreenOnlyWithATemporaryOffset) {
  Display.DrawDirection(0, false, 90, Pi / 2);
  const TOverlayLayer &Layer = *Display.imgDirection;
  EXPECT_EQ(Pixel(Layer, 125, 60), Black);
  EXPECT_EQ(Pixel(Layer, 190, 125), Green);
  EXPECT_EQ(Pixel(Layer, 215, 125), Green);

  // The degree value decides, not the radians.
  Display.DrawDirection(0, false, 0, Pi / 2);
  EXPECT_EQ(CountPixels(Layer, Green), 0);
  EXPECT_EQ(Pixel(Layer, 125, 60), Black);
}

TEST_F(AzimuthDisplayTest, OverlapMarkerIsRedAndOnlyOnTheDirectionLayer) {
  Display.DrawDirection(Pi / 2, true, 0, 0);
  const TOverlayLayer &Layer = *Display.imgDirection;
  EXPECT_EQ(Pixel(Layer, 15, 15), Red);
  // The text beside the disc is red, without pale edges.
  int RedText = 0;
  for (int Y = 5; Y < 30; ++Y)
    for (int X = 26; X < 110; ++X) {
      const QRgb P = Pixel(Layer, X, Y);
      EXPECT_TRUE(P == Red || P == White) << X << "," << Y;
      RedText += P == Red;
    }
  EXPECT_GT(RedText, 20);
  EXPECT_EQ(Pixel(Layer, 200, 125), Black);
  EXPECT_EQ(CountPixels(*Display.imgPreset, Red), 0);

  Display.DrawDirection(Pi / 2, false, 0, 0);
  EXPECT_EQ(CountPixels(Layer, Red), 0);
}

TEST_F(AzimuthDisplayTest, PresetNeedleIsBlueOnItsOwnLayer) {
  Display.DrawDirection(0, false, 0, 0);
  Display.ShowPreset(Pi / 2);
  EXPECT_EQ(Pixel(*Display.imgPreset, 200, 125), Blue);
  EXPECT_EQ(Pixel(*Display.imgPreset, 125, 60), White);
  EXPECT_EQ(Pixel(*Display.imgDirection, 125, 60), Black);

  Display.ShowPreset(Pi);
  EXPECT_EQ(Pixel(*Display.imgPreset, 200, 125), White);
  EXPECT_EQ(Pixel(*Display.imgPreset, 125, 200), Blue);

  Display.ClearImage(*Display.imgPreset);
  EXPECT_EQ(CountPixels(*Display.imgPreset, White), 250 * 250);
}

TEST_F(AzimuthDisplayTest, RelayLampsRedWhenOnGreenWhenOff) {
  TRelayArray Relays;
  Relays.SetCount(3);
  Relays.SetRelay(1, true);
  Display.DrawRelays(Relays);
  const TOverlayLayer &Layer = *Display.imgRelay;
  // Lamps in the boxes (10, 230), (30, 230), (50, 230), 10 pixels each.
  EXPECT_EQ(Pixel(Layer, 15, 235), Green);
  EXPECT_EQ(Pixel(Layer, 35, 235), Red);
  EXPECT_EQ(Pixel(Layer, 55, 235), Green);
  EXPECT_EQ(Pixel(Layer, 75, 235), White);
  EXPECT_EQ(Pixel(Layer, 35, 215), White);

  // Each lamp names itself and its state.
  EXPECT_EQ(Display.RelayToolTipAt({15, 235}), QStringLiteral("Relay 1: off"));
  EXPECT_EQ(Display.RelayToolTipAt({35, 235}), QStringLiteral("Relay 2: on"));
  EXPECT_EQ(Display.RelayToolTipAt({125, 125}), QString());
  // The direction layer on top, which gets the mouse, shows it.
  QHelpEvent Help(QEvent::ToolTip, {35, 235}, Display.imgDirection->mapToGlobal(QPoint(35, 235)));
  QCoreApplication::sendEvent(Display.imgDirection, &Help);
  EXPECT_EQ(QToolTip::text(), QStringLiteral("Relay 2: on"));

  // A disabled array leaves the layer empty, also after lamps were shown.
  Relays.SetCount(0);
  Display.DrawRelays(Relays);
  EXPECT_EQ(CountPixels(Layer, White), 250 * 250);
  EXPECT_EQ(Display.RelayToolTipAt({15, 235}), QString());
}

// A full relay array (16) shows every lamp: twelve along the bottom as with
// fewer relays, the rest on a row above; none overlaps another or leaves the
// map, and each names its own relay.
TEST_F(AzimuthDisplayTest, SixteenRelayLampsAllShow) {
  TRelayArray Relays;
  Relays.SetCount(16);
  Relays.SetRelay(15, true);
  Display.DrawRelays(Relays);
  const TOverlayLayer &Layer = *Display.imgRelay;
  EXPECT_EQ(Pixel(Layer, 235, 235), Green); // lamp 12, the last of the bottom row
  EXPECT_EQ(Pixel(Layer, 15, 215), Green);  // lamp 13, above lamp 1
  EXPECT_EQ(Pixel(Layer, 75, 215), Red);    // lamp 16
  EXPECT_EQ(Pixel(Layer, 95, 215), White);
  for (int Lamp = 1; Lamp <= 16; ++Lamp) {
    const int Row = (Lamp - 1) / 12;
    const QPoint Centre(20 * ((Lamp - 1) % 12) + 15, 235 - 20 * Row);
    EXPECT_TRUE(Layer.rect().contains(Centre + QPoint(8, 8))) << Lamp;
    EXPECT_EQ(Display.RelayToolTipAt(Centre),
              QStringLiteral("Relay %1: %2").arg(Lamp).arg(Lamp == 16 ? "on" : "off"));
  }
}

TEST(AzimuthDisplayPress, PressesBecomeAzimuths) {
  constexpr auto None = Qt::NoModifier;
  struct Case {
    const char *Name;
    int X, Y;
    Qt::MouseButton Button;
    Qt::KeyboardModifiers Modifiers;
    std::optional<double> Azimuth;
    bool Go;
  } Cases[] = {
      {"east, left", 225, 125, Qt::LeftButton, None, Pi / 2, false},
      {"east, right: west", 225, 125, Qt::RightButton, None, 3 * Pi / 2, false},
      {"east, ctrl", 225, 125, Qt::LeftButton, Qt::ControlModifier, Pi / 2 + 2 * Pi, false},
      {"east, ctrl and right", 225, 125, Qt::RightButton, Qt::ControlModifier,
       Pi / 2 + 2 * Pi + Pi, false},
      {"east, shift", 225, 125, Qt::LeftButton, Qt::ShiftModifier, Pi / 2, true},
      {"north", 125, 25, Qt::LeftButton, None, 0.0, false},
      {"south", 125, 225, Qt::LeftButton, None, Pi, false},
      {"west", 25, 125, Qt::LeftButton, None, 3 * Pi / 2, false},
      {"north-west", 25, 25, Qt::LeftButton, None, 7 * Pi / 4, false},
      {"south-east", 225, 225, Qt::LeftButton, None, 3 * Pi / 4, false},
      {"north, right: south", 125, 25, Qt::RightButton, None, Pi, false},
      {"just left of north", 124, 25, Qt::LeftButton, None, 2 * Pi - std::atan(0.01), false},
      {"middle button", 225, 125, Qt::MiddleButton, Qt::ShiftModifier, std::nullopt, false},
      {"centre", 125, 125, Qt::LeftButton, Qt::ShiftModifier, std::nullopt, false},
      {"centre, right", 125, 125, Qt::RightButton, None, std::nullopt, false},
  };
  for (const Case &C : Cases) {
    const auto Press = MapPressToAzimuth(C.X, C.Y, 125, 125, C.Button, C.Modifiers);
    ASSERT_EQ(Press.has_value(), C.Azimuth.has_value()) << C.Name;
    if (!Press)
      continue;
    EXPECT_NEAR(Press->AzimuthR, *C.Azimuth, 1e-12) << C.Name;
    EXPECT_EQ(Press->Go, C.Go) << C.Name;
  }
}

TEST_F(AzimuthDisplayTest, PressOnTheMapReachesTheCallback) {
  std::vector<std::pair<double, bool>> Presses;
  Display.OnMapPress = [&](double A, bool Go) { Presses.emplace_back(A, Go); };
  QTest::mousePress(Display.imgDirection, Qt::LeftButton, Qt::ShiftModifier, QPoint(225, 125));
  QTest::mousePress(Display.imgDirection, Qt::MiddleButton, {}, QPoint(225, 125));
  QTest::mousePress(Display.imgDirection, Qt::LeftButton, {}, QPoint(125, 125));
  QTest::mousePress(Display.imgDirection, Qt::RightButton, {}, QPoint(125, 25));
  ASSERT_EQ(Presses.size(), 2u);
  EXPECT_NEAR(Presses[0].first, Pi / 2, 1e-12);
  EXPECT_TRUE(Presses[0].second);
  EXPECT_NEAR(Presses[1].first, Pi, 1e-12);
  EXPECT_FALSE(Presses[1].second);

  // An error of the handler is shown, not passed on.
  Display.OnMapPress = [](double, bool) { throw std::runtime_error("no driver"); };
  QTest::mousePress(Display.imgDirection, Qt::LeftButton, {}, QPoint(225, 125));
  EXPECT_EQ(Recording->shown(), QStringList{"no driver"});
}

TEST_F(AzimuthDisplayTest, MapFileIsLoadedAndABadOneKeepsThePreviousPicture) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  auto Save = [&](const QString &Name, const QColor &Color, const char *Format) {
    QImage Picture(40, 30, QImage::Format_RGB32);
    Picture.fill(Color);
    const QString Path = Dir.filePath(Name);
    EXPECT_TRUE(Picture.save(Path, Format));
    return Path;
  };
  const QString Default = Save("AzChart.bmp", Qt::red, "BMP");
  const QString Own = Save("Own.bmp", Qt::darkGreen, "BMP");
  auto ShownColor = [&] { return Display.imgMap->pixmap().toImage().pixel(5, 5); };

  // An empty file name takes the default map.
  Display.LoadMap("", Default);
  EXPECT_EQ(ShownColor(), qRgb(255, 0, 0));
  Display.LoadMap(Own, Default);
  EXPECT_EQ(ShownColor(), QColor(Qt::darkGreen).rgb());

  QFile Garbage(Dir.filePath("Garbage.bmp"));
  ASSERT_TRUE(Garbage.open(QIODevice::WriteOnly));
  Garbage.write("not a picture");
  Garbage.close();
  const QString Bad[] = {
      Dir.filePath("Missing.bmp"),
      Garbage.fileName(),
      Save("Png.bmp", Qt::blue, "PNG"), // the extension decides the format
      Dir.filePath("Map.xyz"),
      Dir.filePath("Map"),
  };
  for (const QString &Name : Bad) {
    Recording->clear();
    const bool Done = Guarded([&] { Display.LoadMap(Name, Default); });
    EXPECT_FALSE(Done) << Name.toStdString();
    ASSERT_EQ(Recording->shown().size(), 1) << Name.toStdString();
    EXPECT_TRUE(Recording->shown().front().contains(Name)) << Name.toStdString();
    EXPECT_EQ(ShownColor(), QColor(Qt::darkGreen).rgb()) << Name.toStdString();
  }
}
