#pragma once
// The azimuth display of the rotator page: the map picture with three
// transparent layers stacked over it (preset needle, relay lamps, direction
// needles with the "OVERLAP" marker), and the conversion of a press on the map
// into a preset azimuth.
//
// How the main window uses it:
//
//   Display = std::make_unique<TAzimuthDisplay>(pnlRotator);  // creates imgMap & co.
//   ... after pnlRotator has its final size:
//   Display->Arrange();           // centre imgMap, stack and clear the layers,
//                                 // compute NeedleCenterX/Y and NeedleLength
//   Display->OnMapPress = [this](double AzimuthR, bool Go) {
//     Station.SetPreset(Index, RadToDeg(AzimuthR));       // whole degrees
//     edtPresetD->setText(...); Display->ShowPreset(...);  // the preset set
//     if (Go) Station.GoToPreset(Index);                   // Shift was held
//   };
//   RefreshRotatorPage:  Display->LoadMap(MapFileName, MapName);   // throws on failure
//                        Display->ShowPreset(preset in radians) or
//                        Display->ClearImage(*Display->imgPreset);
//                        Display->DrawRelays(Status.RelayBox, Status.Relays);
//   ChangeAzEl, ReachBound, ReachPreset, entering a tab:
//                        Display->DrawDirection(Status);
//
// Every drawing operation takes plain values; the overloads taking a
// rotator's status or a relay array read the values the display needs and
// call them.
// Drawing never throws; LoadMap throws when the file can't be read (the caller
// skips the rest of the page refresh). The press callback runs guarded, so an
// exception it throws is shown in the error dialog and does not reach the
// event loop.

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QLabel;
struct TRotatorStatus;
class TRelayArray;

// A colour given as 0x00BBGGRR (blue in the high byte).
using TColor = std::uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clWhite = 0xFFFFFF;

// The QColor of a 0x00BBGGRR value.
QColor ColorOf(TColor Color);

// A copy of Picture in which every white pixel is fully transparent and every
// other pixel opaque.
QImage WhiteTransparent(const QImage &Picture);

// Needle end points for an angle in radians, clockwise from north, on a layer
// whose needle centre and length are given: the line starts a tenth of the
// length behind the centre and ends nine tenths ahead of it.
struct TNeedleLine {
  QPoint From;
  QPoint To;
};
TNeedleLine NeedleLine(int CenterX, int CenterY, int Length, double Angle);

// What a press on the map asks for: the preset azimuth in radians and whether
// the move starts at once.
struct TMapPress {
  double AzimuthR;
  bool Go;
};

// The azimuth of a press at (X, Y) on a layer with the needle centre
// (CenterX, CenterY). Left button: the direction of the press, in [0, 2π);
// right button: the opposite direction (adds π); Ctrl adds 2π (the overlap
// range beyond 360°); Shift asks to go at once. The middle button, any other
// button and a press on the exact centre give nothing.
std::optional<TMapPress> MapPressToAzimuth(int X, int Y, int CenterX, int CenterY,
                                           Qt::MouseButton Button,
                                           Qt::KeyboardModifiers Modifiers);

// One overlay layer: a picture of the widget's size in which white is the
// transparent colour. It reports mouse presses through OnMousePress.
class TOverlayLayer : public QWidget {
  Q_OBJECT
public:
  explicit TOverlayLayer(QWidget *Parent = nullptr);

  // The layer's picture (RGB32, white = transparent).
  QImage &Picture() { return FPicture; }
  const QImage &Picture() const { return FPicture; }
  // Makes the picture the widget's size in the screen's pixels (its device
  // pixel ratio that of the widget, so that drawing on it in the widget's
  // coordinates comes out sharp) and fills it with white.
  void ResetPicture();

  std::function<void(QMouseEvent *Event)> OnMousePress;
  // The tooltip at a point of the layer; none where it gives an empty text.
  std::function<QString(const QPoint &Pos)> ToolTipAt;

protected:
  bool event(QEvent *Event) override;
  void paintEvent(QPaintEvent *Event) override;
  void mousePressEvent(QMouseEvent *Event) override;

private:
  QImage FPicture;
};

class TAzimuthDisplay {
public:
  // Creates imgMap at (7, 48), 250 × 250, showing the built-in map picture,
  // and the three cleared layers above it with the same bounds, all children
  // of Panel. The needle geometry starts as that of a 250 × 250 map.
  explicit TAzimuthDisplay(QWidget *Panel);
  ~TAzimuthDisplay();
  TAzimuthDisplay(const TAzimuthDisplay &) = delete;
  TAzimuthDisplay &operator=(const TAzimuthDisplay &) = delete;

  // Centres imgMap horizontally in the panel, gives the layers its bounds,
  // stacks them imgPreset, imgRelay, imgDirection from below, clears them
  // and computes the needle geometry. Run once the panel has its size.
  void Arrange();
  // Gives imgMap and the layers the bounds Map (a square in the panel),
  // clears the layers, computes the needle geometry for the new size and
  // shows the map picture shown last at it. The needles are drawn again by
  // the caller.
  void SetMapBounds(const QRect &Map);
  // The needles' width in pixels: 5 on the 250-pixel map, wider on a larger
  // one.
  int NeedleWidth() const;

  // Draws one needle (and first the red "OVERLAP" marker when Overlap is set)
  // on Layer, without clearing it.
  void DrawNeedle(bool Overlap, TOverlayLayer &Layer, const QColor &Color, double Angle);
  // Fills Layer with white and repaints it.
  void ClearImage(TOverlayLayer &Layer);
  // Redraws imgDirection: the black needle at AzimuthR, and when TempOffsetD
  // is not 0 the green needle at AzimuthR + TempOffsetR.
  void DrawDirection(double AzimuthR, bool Overlap, int TempOffsetD, double TempOffsetR);
  // The rotator's needles from its status.
  void DrawDirection(const TRotatorStatus &Status);
  // Redraws imgRelay: when Enabled, one lamp per relay along the bottom, red
  // when on, green when off; otherwise the layer stays empty.
  void DrawRelays(bool Enabled, const std::vector<bool> &States);
  void DrawRelays(const TRelayArray &Relays);
  // The tooltip of the relay lamp at Pos (layer pixels), "Relay 2: on";
  // empty where there is no lamp.
  QString RelayToolTipAt(const QPoint &Pos) const;
  // Clears imgPreset and draws the blue preset needle at Angle.
  void ShowPreset(double Angle);

  // Loads the map picture from MapFileName, or from DefaultMap when that is
  // empty, stretched to imgMap. The file is read on every call. A missing or
  // unreadable file, or an extension that names no picture format, throws
  // std::runtime_error with the reason and leaves the picture shown before.
  void LoadMap(const QString &MapFileName, const QString &DefaultMap);
  // Shows Picture as the map, stretched to imgMap in the screen's pixels.
  void ShowMap(const QImage &Picture);

  // Called for a press on the map that asks for a preset (not for the middle
  // button or the exact centre). Runs guarded.
  std::function<void(double AzimuthR, bool Go)> OnMapPress;

  // The four stacked pictures, bottom to top.
  QPointer<QLabel> imgMap;
  QPointer<TOverlayLayer> imgPreset;
  QPointer<TOverlayLayer> imgRelay;
  QPointer<TOverlayLayer> imgDirection;

  // Needle geometry in pixels of the layers, set by Arrange.
  int NeedleCenterX = 125;
  int NeedleCenterY = 125;
  int NeedleLength = 100;

  QColor CurrentNeedleColor = ColorOf(clBlack);
  QColor PresetNeedleColor = ColorOf(clBlue);
  QColor OffsetNeedleColor = ColorOf(clGreen);

private:
  QWidget *FPanel;
  // The map picture shown last, as loaded; scaled again for a new size.
  QImage FMapPicture;
  // The lamps drawn last: where each lies and whether it is on.
  std::vector<std::pair<QRect, bool>> FLamps;
  void MapPressed(QMouseEvent *Event);
};
