#include "app/AzimuthalMap.h"

#include "base/DataFolder.h"

#include <GeographicLib/AzimuthalEquidistant.hpp>
#include <GeographicLib/Geodesic.hpp>

#include <QDir>
#include <QFile>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

#include <cmath>
#include <numbers>

namespace {

// Half the equator: the farthest a place can be, where the rim lies.
constexpr double RimKm = 20037.5;

const GeographicLib::AzimuthalEquidistant &Projection() {
  static const GeographicLib::AzimuthalEquidistant P(GeographicLib::Geodesic::WGS84());
  return P;
}

// Twice the signed area of a ring in map pixels, y down: negative when it
// runs clockwise on the screen.
double SignedArea(const QPolygonF &Ring) {
  double Sum = 0;
  for (qsizetype I = 0, N = Ring.size(); I < N; ++I) {
    const QPointF &A = Ring[I];
    const QPointF &B = Ring[(I + 1) % N];
    Sum += A.x() * B.y() - B.x() * A.y();
  }
  return Sum;
}

// A ring on the map. Near the antipode a short step on the earth becomes a
// long one on the map: both ends lie close to the rim and the step really
// runs along it. Long steps are drawn around the map's centre (the distance
// from it and the bearing changing evenly, the bearing the short way round),
// so that the outline follows the rim instead of cutting across the map.
QPolygonF ProjectRing(const TMapProjection &Map, const TLandOutlines::TRing &Ring) {
  QPolygonF Points;
  Points.reserve(static_cast<qsizetype>(Ring.size()));
  const QPointF C = Map.MapCentre();
  const double Longest = Map.RimRadius() * 0.02;
  for (const TLatLon &Point : Ring) {
    const QPointF At = Map.Project(Point);
    if (!Points.isEmpty()) {
      const QPointF Before = Points.back();
      const double Step = std::hypot(At.x() - Before.x(), At.y() - Before.y());
      if (Step > Longest) {
        const double R0 = std::hypot(Before.x() - C.x(), Before.y() - C.y());
        const double R1 = std::hypot(At.x() - C.x(), At.y() - C.y());
        const double A0 = std::atan2(Before.x() - C.x(), C.y() - Before.y());
        double Turn = std::atan2(At.x() - C.x(), C.y() - At.y()) - A0;
        if (Turn > std::numbers::pi)
          Turn -= 2 * std::numbers::pi;
        else if (Turn < -std::numbers::pi)
          Turn += 2 * std::numbers::pi;
        const int Pieces = std::min(1024, static_cast<int>(std::ceil(Step / Longest)));
        for (int K = 1; K < Pieces; ++K) {
          const double F = double(K) / Pieces;
          const double R = R0 + F * (R1 - R0);
          const double A = A0 + F * Turn;
          Points << QPointF(C.x() + R * std::sin(A), C.y() - R * std::cos(A));
        }
      }
    }
    Points << At;
  }
  return Points;
}

} // namespace

// --- Land
// ---------------------------------------------------------------------------

std::optional<TLandOutlines> TLandOutlines::Load(const QString &FileName, QString *Error) {
  const auto Fail = [&](const QString &Reason) -> std::optional<TLandOutlines> {
    if (Error)
      *Error = QStringLiteral("The land file %1 %2").arg(FileName, Reason);
    return std::nullopt;
  };
  QFile File(FileName);
  if (!File.open(QIODevice::ReadOnly))
    return Fail(QStringLiteral("can't be read: %1").arg(File.errorString()));
  const QByteArray Data = File.readAll();
  qsizetype At = 8;
  const auto Count = [&](quint32 &Value) {
    if (At + 4 > Data.size())
      return false;
    Value = qFromLittleEndian<quint32>(Data.constData() + At);
    At += 4;
    return true;
  };
  if (!Data.startsWith("ORBLAND1"))
    return Fail(QStringLiteral("is not a land file"));
  TLandOutlines Land;
  quint32 Polygons = 0;
  if (!Count(Polygons))
    return Fail(QStringLiteral("is cut short"));
  for (quint32 P = 0; P < Polygons; ++P) {
    quint32 Rings = 0;
    if (!Count(Rings))
      return Fail(QStringLiteral("is cut short"));
    TPolygon Polygon;
    for (quint32 R = 0; R < Rings; ++R) {
      quint32 Points = 0;
      if (!Count(Points) || Points > quint32(Data.size() - At) / 4)
        return Fail(QStringLiteral("is cut short"));
      TRing Ring(Points);
      for (TLatLon &Point : Ring) {
        Point.Lon = qFromLittleEndian<qint16>(Data.constData() + At) * 180.0 / 32767;
        Point.Lat = qFromLittleEndian<qint16>(Data.constData() + At + 2) * 90.0 / 32767;
        At += 4;
      }
      Polygon.push_back(std::move(Ring));
    }
    Land.FPolygons.push_back(std::move(Polygon));
  }
  return Land;
}

const TLandOutlines *TLandOutlines::Program() {
  static const std::optional<TLandOutlines> Land =
      Load(QDir(DataFolder()).filePath(QStringLiteral("land-50m.bin")));
  return Land ? &*Land : nullptr;
}

// --- Projection
// --------------------------------------------------------------------

TMapProjection::TMapProjection(TLatLon Centre, int Size)
    : FCentre(Centre), FMapCentre(Size / 2.0, Size / 2.0), FRim(Size * 118.0 / 250.0),
      FScale(FRim / RimKm) {}

QPointF TMapProjection::Project(TLatLon Point) const {
  double X = 0, Y = 0;
  Projection().Forward(FCentre.Lat, FCentre.Lon, Point.Lat, Point.Lon, X, Y);
  return {FMapCentre.x() + X / 1000 * FScale, FMapCentre.y() - Y / 1000 * FScale};
}

std::optional<double> TMapProjection::BearingAt(QPointF Pixel) const {
  const double Dx = Pixel.x() - FMapCentre.x();
  const double Dy = FMapCentre.y() - Pixel.y();
  if (Dx == 0 && Dy == 0)
    return std::nullopt;
  double Degrees = std::atan2(Dx, Dy) * 180.0 / std::numbers::pi;
  if (Degrees < 0)
    Degrees += 360;
  return Degrees >= 360 ? 0.0 : Degrees;
}

// --- Drawing
// -----------------------------------------------------------------------

QPointF MapPoint(QPointF Centre, double Radius, double AzimuthD) {
  const double A = AzimuthD * std::numbers::pi / 180.0;
  return {Centre.x() + Radius * std::sin(A), Centre.y() - Radius * std::cos(A)};
}

void DrawHaloText(QPainter &Painter, const QString &Text, const QFont &Font, QPointF At,
                  const QColor &Colour) {
  QPainterPath Path;
  Path.addText(0, 0, Font, Text);
  Path.translate(At - Path.boundingRect().center());
  Painter.strokePath(Path, QPen(QColor(255, 255, 255, 220), 3));
  Painter.fillPath(Path, Colour);
}

QImage DrawAzimuthalMap(const TLandOutlines *Land, TLatLon Centre, int Size) {
  const TMapProjection Map(Centre, Size);
  const QPointF C = Map.MapCentre();
  const double Rim = Map.RimRadius();
  QImage Picture(Size, Size, QImage::Format_RGB32);
  Picture.fill(TMapColours::Outside);
  QPainter P(&Picture);
  P.setRenderHint(QPainter::Antialiasing);

  QPainterPath Disk;
  Disk.addEllipse(C, Rim, Rim);
  P.fillPath(Disk, TMapColours::Sea);
  P.setClipPath(Disk);

  if (Land) {
    // Projection keeps the turning sense of a ring, so an outline that winds
    // the other way on the map encloses the antipode: its land is what lies
    // between it and the rim.
    P.setPen(QPen(TMapColours::Coast, Size >= 500 ? 0.8 : 0.5));
    P.setBrush(TMapColours::Land);
    for (const TLandOutlines::TPolygon &Polygon : Land->Polygons()) {
      QPainterPath Path;
      Path.setFillRule(Qt::OddEvenFill);
      for (size_t R = 0; R < Polygon.size(); ++R) {
        const QPolygonF Ring = ProjectRing(Map, Polygon[R]);
        // Outlines run clockwise on the map (y down: positive area), holes
        // the other way.
        const bool Outline = R == 0;
        if ((SignedArea(Ring) > 0) != Outline)
          Path.addEllipse(C, Rim, Rim);
        Path.addPolygon(Ring);
        Path.closeSubpath();
      }
      P.drawPath(Path);
    }
  }

  // Distance rings every 5,000 km, labelled where they cross the bearing of
  // 150 degrees (on a light halo, like the cardinal letters below).
  QFont Small(QStringLiteral("DejaVu Sans"));
  Small.setPixelSize(std::max(11, Size / 36));
  P.setBrush(Qt::NoBrush);
  P.setPen(QPen(TMapColours::Rings, 0.8, Qt::DashLine));
  for (int Km = 5000; Km <= 15000; Km += 5000)
    P.drawEllipse(C, Km * Map.PixelsPerKm(), Km * Map.PixelsPerKm());
  P.setClipping(false);
  if (Size >= 400)
    for (int Km = 5000; Km <= 15000; Km += 5000)
      DrawHaloText(P, QStringLiteral("%1 km").arg(Km), Small,
                   MapPoint(C, Km * Map.PixelsPerKm(), 150), TMapColours::Ink);

  P.setPen(QPen(TMapColours::Ink, 1.2));
  P.drawEllipse(C, Rim, Rim);
  for (int D = 0; D < 360; D += 10)
    P.drawLine(MapPoint(C, Rim, D), MapPoint(C, Rim - (D % 30 == 0 ? 7 : 4), D));

  // The cardinal letters inside the rim, on a light halo so that land under
  // them does not hide them.
  QFont Bold(QStringLiteral("DejaVu Sans"));
  Bold.setPixelSize(std::max(12, Size / 20));
  Bold.setBold(true);
  const double LabelRadius = Rim - Bold.pixelSize() * 0.9 - 4;
  for (const auto &[Letter, Azimuth] :
       {std::pair{"N", 0}, std::pair{"E", 90}, std::pair{"S", 180}, std::pair{"W", 270}})
    DrawHaloText(P, QString::fromLatin1(Letter), Bold, MapPoint(C, LabelRadius, Azimuth),
                 TMapColours::Ink);
  // The bearings between them every 30 degrees, as on the compass rose.
  QFont Degrees(QStringLiteral("DejaVu Sans"));
  Degrees.setPixelSize(std::max(9, Bold.pixelSize() * 2 / 3));
  for (int Azimuth = 30; Azimuth < 360; Azimuth += 30)
    if (Azimuth % 90 != 0)
      DrawHaloText(P, QString::number(Azimuth), Degrees, MapPoint(C, LabelRadius, Azimuth),
                   TMapColours::Ink);

  // The station.
  P.setPen(QPen(TMapColours::Ink, 1.5));
  P.setBrush(Qt::white);
  P.drawEllipse(C, 3, 3);
  return Picture;
}

void DrawPath(QImage &Map, TLatLon Centre, TLatLon Target) {
  const TMapProjection Projection(Centre, Map.width());
  const QPointF C = Projection.MapCentre();
  const QPointF To = Projection.Project(Target);
  QPainter P(&Map);
  P.setRenderHint(QPainter::Antialiasing);
  const auto Bearing = Projection.BearingAt(To);
  if (!Bearing)
    return; // the station itself
  P.setPen(QPen(TMapColours::ShortPath, 1.2, Qt::DashLine));
  P.drawLine(C, MapPoint(C, Projection.RimRadius(), *Bearing + 180));
  P.setPen(QPen(TMapColours::ShortPath, 2));
  P.drawLine(C, To);
  P.setBrush(TMapColours::ShortPath);
  P.drawEllipse(To, 3, 3);
}
