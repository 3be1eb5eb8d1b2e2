// Draws the program's bitmaps and saves them as BMP files into the folder
// given as the only argument:
//   AzChart.bmp   250 x 250  the default map: a north-up azimuthal compass
//                            with range rings, 30 degree spokes, ticks every
//                            10 degrees, N/E/S/W and degree labels
//   CW_On.bmp,    60 x 25    pictures of the clockwise turn button, pressed
//   CW_Off.bmp               (lit) and idle
//   CCW_On.bmp,   60 x 25    the same for counter-clockwise, mirrored
//   CCW_Off.bmp
// The map matches the map control (250 x 250, needle centre at 125, 125), so
// it is shown without scaling; the button pictures fit inside the 68 x 33
// buttons with room for their frames.

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cmath>
#include <numbers>

namespace {

// A point at Radius pixels from Centre in the direction of the azimuth
// (degrees clockwise from north, north up).
QPointF Polar(QPointF Centre, double Radius, double AzimuthD) {
  const double A = AzimuthD * std::numbers::pi / 180.0;
  return {Centre.x() + Radius * std::sin(A), Centre.y() - Radius * std::cos(A)};
}

QFont LabelFont(int PixelSize, bool Bold) {
  QFont Font(QStringLiteral("DejaVu Sans"));
  Font.setStyleHint(QFont::SansSerif);
  Font.setPixelSize(PixelSize);
  Font.setBold(Bold);
  return Font;
}

void DrawCentredText(QPainter &P, QPointF At, const QString &Text) {
  P.drawText(QRectF(At.x() - 20, At.y() - 10, 40, 20), Qt::AlignCenter, Text);
}

QImage MakeMap() {
  constexpr int Size = 250;
  const QPointF Centre(125, 125);
  constexpr double Rim = 118;       // outer circle
  constexpr double SpokeEnd = 92;   // spokes stop short of the labels
  constexpr double LabelRadius = 103;
  const QColor Outside(0xDD, 0xE6, 0xEE), Inside(0xF7, 0xFA, 0xFD);
  const QColor Line(0x6D, 0x82, 0x99), Faint(0xBF, 0xCC, 0xDA), Ink(0x2B, 0x3E, 0x52);

  QImage Map(Size, Size, QImage::Format_RGB32);
  Map.fill(Outside);
  QPainter P(&Map);
  P.setRenderHint(QPainter::Antialiasing);
  P.setRenderHint(QPainter::TextAntialiasing);

  P.setPen(QPen(Line, 2));
  P.setBrush(Inside);
  P.drawEllipse(Centre, Rim, Rim);

  P.setBrush(Qt::NoBrush);
  P.setPen(QPen(Faint, 1));
  for (double R : {30.0, 60.0, 90.0})
    P.drawEllipse(Centre, R, R);
  for (int A = 0; A < 360; A += 30)
    P.drawLine(Centre, Polar(Centre, SpokeEnd, A));

  for (int A = 0; A < 360; A += 10) {
    const bool Major = A % 30 == 0;
    P.setPen(QPen(Line, Major ? 2 : 1));
    P.drawLine(Polar(Centre, Rim - (Major ? 8 : 4), A), Polar(Centre, Rim, A));
  }

  P.setPen(Ink);
  P.setFont(LabelFont(8, false));
  for (int A = 30; A < 360; A += 30)
    if (A % 90 != 0)
      DrawCentredText(P, Polar(Centre, LabelRadius, A), QString::number(A));
  P.setFont(LabelFont(12, true));
  const char *Cardinals[] = {"N", "E", "S", "W"};
  for (int I = 0; I < 4; ++I)
    DrawCentredText(P, Polar(Centre, LabelRadius, 90 * I), QString::fromLatin1(Cardinals[I]));

  P.setPen(Qt::NoPen);
  P.setBrush(Line);
  P.drawEllipse(Centre, 2.5, 2.5);
  return Map;
}

// The clockwise button picture: a three-quarter circle running clockwise
// from east round to north, with the arrow head at the top pointing east.
// Pressed: a lit green face with a white arrow; idle: a grey face.
QImage MakeClockwiseButton(bool Pressed) {
  constexpr int Width = 60, Height = 25;
  QImage Picture(Width, Height, QImage::Format_RGB32);
  QPainter P(&Picture);
  P.setRenderHint(QPainter::Antialiasing);

  QLinearGradient Face(0, 0, 0, Height);
  Face.setColorAt(0, Pressed ? QColor(0x5C, 0xCB, 0x6E) : QColor(0xF4, 0xF4, 0xF4));
  Face.setColorAt(1, Pressed ? QColor(0x2A, 0x91, 0x3E) : QColor(0xD4, 0xD4, 0xD4));
  P.fillRect(Picture.rect(), Face);
  P.setPen(QPen(Pressed ? QColor(0x1E, 0x6B, 0x2D) : QColor(0xA0, 0xA0, 0xA0), 1));
  P.setBrush(Qt::NoBrush);
  P.drawRect(QRectF(0.5, 0.5, Width - 1, Height - 1));

  const QColor Arrow = Pressed ? QColor(Qt::white) : QColor(0x4A, 0x4A, 0x4A);
  const QPointF Centre(Width / 2.0, Height / 2.0 + 1);
  constexpr double Radius = 7;
  const QRectF Circle(Centre.x() - Radius, Centre.y() - Radius, 2 * Radius, 2 * Radius);
  QPainterPath Arc;
  Arc.arcMoveTo(Circle, 0);
  Arc.arcTo(Circle, 0, -270);
  P.setPen(QPen(Arrow, 2.5, Qt::SolidLine, Qt::FlatCap));
  P.drawPath(Arc);

  const QPointF Top(Centre.x(), Centre.y() - Radius);
  P.setPen(Qt::NoPen);
  P.setBrush(Arrow);
  P.drawPolygon(QPolygonF({Top + QPointF(5, 0), Top + QPointF(-1, -4.5), Top + QPointF(-1, 4.5)}));
  return Picture;
}

} // namespace

int main(int argc, char *argv[]) {
  // Nothing is shown: draw on the offscreen platform, also when run by hand.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication App(argc, argv);
  QTextStream Err(stderr);
  if (argc != 2) {
    Err << "usage: orbalt_mkassets OUTPUT_FOLDER\n";
    return 2;
  }
  const QString Folder = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');

  const QImage CwOn = MakeClockwiseButton(true);
  const QImage CwOff = MakeClockwiseButton(false);
  const std::pair<const char *, QImage> Files[] = {
      {"AzChart.bmp", MakeMap()},
      {"CW_On.bmp", CwOn},
      {"CW_Off.bmp", CwOff},
      {"CCW_On.bmp", CwOn.mirrored(true, false)},
      {"CCW_Off.bmp", CwOff.mirrored(true, false)},
  };
  for (const auto &[Name, Picture] : Files) {
    const QString Path = Folder + QString::fromLatin1(Name);
    if (!Picture.save(Path, "BMP")) {
      Err << "orbalt_mkassets: cannot write " << Path << '\n';
      return 1;
    }
  }
  return 0;
}
