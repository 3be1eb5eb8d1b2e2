#pragma once
// The large map window (View menu): the station's map at the window's size
// with the needles of the rotators that are switched on and their titles,
// the current rotator's preset, and the path "Turn to" chose. The current
// rotator is drawn in the colours of the rotator page (its needle, its
// offset needle, its preset); the others each in a colour of their own that
// none of those uses. A click sets the current
// rotator's preset to the bearing clicked, a click with Shift also sends it
// there, as on the small map. The window is resizable; its place and size are
// kept in the settings document ("/LargeMap"); the first time it opens
// beside the main window, so that it covers none of its controls.
//
// It only shows the station: it redraws on the station's signals and asks
// its owner (OnPress) to act on a click. Without a station location it shows
// the default map picture instead of the generated map.

#include "station/Locator.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <optional>

class TStation;

class TLargeMapWindow : public QWidget {
  Q_OBJECT
public:
  // DefaultMap is the picture shown without a station location.
  TLargeMapWindow(TStation &Station, QString DefaultMap, QWidget *Parent = nullptr);

  // The place last aimed at, whose path is drawn; nothing for none.
  void SetAimedAt(std::optional<TLatLon> Place);
  // A click on the map: the bearing in radians, and whether to go there.
  std::function<void(double AzimuthR, bool Go)> OnPress;

  // Reads and writes the window's place and size in the settings document;
  // false when none was stored.
  bool RestoreGeometry();
  // Places the window beside Other's frame on its screen: at its right, else
  // at its left, smaller where the room asks for it, and on the side with
  // more room where neither has enough.
  void PlaceBeside(const QWidget &Other);
  void SaveGeometry() const;

  // The colour of rotator Index's needle while rotator Current is the
  // current one.
  static QColor NeedleColour(int Index, int Current);
  // The colours of the current rotator, the same as on the rotator page.
  static inline const QColor CurrentColour{0x00, 0x00, 0x00};
  static inline const QColor OffsetColour{0x00, 0x80, 0x00};
  static inline const QColor PresetColour{0x00, 0x00, 0xFF};
  // The square the map takes inside the window.
  QRect MapRect() const;
  // The needles' length in pixels: inside the cardinal letters.
  double NeedleLength() const { return MapRect().width() * 0.33; }

protected:
  void paintEvent(QPaintEvent *Event) override;
  void mousePressEvent(QMouseEvent *Event) override;
  void closeEvent(QCloseEvent *Event) override;

private:
  // Draws the map (with the path) again when the location or the size
  // changed, or it was dropped for a new path.
  void UpdateMap();

  TStation &FStation;
  QString FDefaultMap;
  std::optional<TLatLon> FAimedAt;
  QImage FMap;
  std::optional<TLatLon> FMapCentre;
};
