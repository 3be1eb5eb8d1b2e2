#pragma once
// The generated map: an azimuthal-equidistant map centred on the station,
// north up, as hams use to aim beams. Every straight line from the centre is
// a great circle, so a bearing reads off the map directly and the short path
// to a place is the straight line to it; the rim is the station's antipode,
// about 20,000 km away.
//
// The land comes from the data file "land-50m.bin" (Natural Earth outlines,
// see assets/LAND.md), read once. Drawing projects every point with
// GeographicLib's azimuthal-equidistant projection on WGS84 and takes about
// a tenth of a second; callers keep the picture until the station or the size
// changes.

#include "station/Locator.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointF>
#include <QString>

#include <optional>
#include <vector>

class QPainter;

class TLandOutlines {
public:
  // A polygon's first ring is its outline, the others its holes.
  using TRing = std::vector<TLatLon>;
  using TPolygon = std::vector<TRing>;

  // Reads a land file; nothing with the reason in Error when it can't be
  // read or is not one.
  static std::optional<TLandOutlines> Load(const QString &FileName, QString *Error = nullptr);
  // The land file of the program's data folder, read at the first call;
  // null when it can't be read.
  static const TLandOutlines *Program();

  const std::vector<TPolygon> &Polygons() const { return FPolygons; }

private:
  std::vector<TPolygon> FPolygons;
};

// Where points land on a square map of Size pixels around Centre.
class TMapProjection {
public:
  TMapProjection(TLatLon Centre, int Size);

  QPointF Project(TLatLon Point) const;
  // The bearing from the centre of a pixel of the map (degrees, 0 to <360),
  // or nothing for the centre itself.
  std::optional<double> BearingAt(QPointF Pixel) const;

  TLatLon Centre() const { return FCentre; }
  QPointF MapCentre() const { return FMapCentre; }
  double RimRadius() const { return FRim; }
  double PixelsPerKm() const { return FScale; }

private:
  TLatLon FCentre;
  QPointF FMapCentre;
  double FRim;   // pixels from the centre to the antipode
  double FScale; // pixels per kilometre
};

// The colours of the map, for callers that look at its pixels.
struct TMapColours {
  static inline const QColor Outside{0xDD, 0xE6, 0xEE};
  static inline const QColor Sea{0xE4, 0xF0, 0xFA};
  static inline const QColor Land{0xC9, 0xDB, 0xB2};
  static inline const QColor Coast{0x7E, 0x95, 0x6B};
  static inline const QColor Rings{0x9A, 0xAE, 0xC2};
  static inline const QColor Ink{0x2B, 0x3E, 0x52};
  static inline const QColor ShortPath{0xD0, 0x2B, 0x1B};
};

// The point Radius pixels from Centre in the direction of AzimuthD (degrees
// clockwise from north, north up).
QPointF MapPoint(QPointF Centre, double Radius, double AzimuthD);

// Draws Text centred on At in Colour, on a light halo that keeps it
// readable over land and lines.
void DrawHaloText(QPainter &Painter, const QString &Text, const QFont &Font, QPointF At,
                  const QColor &Colour);

// The map of Size x Size pixels: the land (none when Land is null), distance
// rings every 5,000 km, ticks every 10 degrees, the cardinal letters (12 px)
// with the bearings every 30 degrees between them, and the station's mark in
// the centre.
QImage DrawAzimuthalMap(const TLandOutlines *Land, TLatLon Centre, int Size);

// Draws on a map from DrawAzimuthalMap the short path to Target (a solid line
// to it, with a mark) and the long path (dashed, the other way to the rim).
void DrawPath(QImage &Map, TLatLon Centre, TLatLon Target);
