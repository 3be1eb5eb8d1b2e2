#include "app/LargeMap.h"

#include "app/AzimuthalMap.h"
#include "base/UiServices.h"
#include "settings/XMLIniFile.h"
#include "station/Station.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>
#include <numbers>

namespace {

const QString Section = QStringLiteral("/LargeMap");

} // namespace

TLargeMapWindow::TLargeMapWindow(TStation &Station, QString DefaultMap, QWidget *Parent)
    : QWidget(Parent, Qt::Window), FStation(Station), FDefaultMap(std::move(DefaultMap)) {
  setObjectName(QStringLiteral("LargeMap"));
  setWindowTitle(QStringLiteral("Map"));
  setMinimumSize(300, 300);
  resize(700, 700);
  const auto Repaint = [this] { update(); };
  connect(&Station, &TStation::AzimuthChanged, this, Repaint);
  connect(&Station, &TStation::RotatorAdded, this, Repaint);
  connect(&Station, &TStation::RotatorRemoved, this, Repaint);
  connect(&Station, &TStation::RotatorMoved, this, Repaint);
  connect(&Station, &TStation::RotatorMoveTargetChanged, this, Repaint);
  connect(&Station, &TStation::LocationChanged, this, [this] {
    FAimedAt.reset();
    update();
  });
}

void TLargeMapWindow::SetAimedAt(std::optional<TLatLon> Place) {
  FAimedAt = Place;
  FMap = QImage(); // drawn again with the new path
  update();
}

QColor TLargeMapWindow::NeedleColour(int Index, int Current) {
  if (Index == Current)
    return CurrentColour;
  // Neither black, blue nor green (the current rotator's) nor red (the
  // marker of the overlap range).
  static const QColor Colours[] = {{0x8E, 0x44, 0xAD}, {0xD3, 0x54, 0x00}, {0x16, 0xA0, 0x85},
                                   {0x7F, 0x8C, 0x8D}, {0xB0, 0x3A, 0x7A}, {0x8B, 0x5A, 0x2B}};
  return Colours[Index % int(std::size(Colours))];
}

QRect TLargeMapWindow::MapRect() const {
  const int Side = std::min(width(), height());
  return {(width() - Side) / 2, (height() - Side) / 2, Side, Side};
}

void TLargeMapWindow::UpdateMap() {
  const int Side = MapRect().width();
  const auto Home = FStation.Position();
  const TLatLon *Found = std::get_if<TLatLon>(&Home);
  const std::optional<TLatLon> Centre = Found ? std::optional<TLatLon>(*Found) : std::nullopt;
  if (!FMap.isNull() && FMap.width() == Side && FMapCentre == Centre)
    return;
  FMapCentre = Centre;
  if (!Centre) {
    FMap = QImage(FDefaultMap).scaled(Side, Side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return;
  }
  FMap = DrawAzimuthalMap(TLandOutlines::Program(), *Centre, Side);
  if (FAimedAt)
    DrawPath(FMap, *Centre, *FAimedAt);
}

void TLargeMapWindow::paintEvent(QPaintEvent *) {
  UpdateMap();
  QPainter P(this);
  P.fillRect(rect(), palette().window());
  const QRect Area = MapRect();
  P.drawImage(Area.topLeft(), FMap);
  P.setRenderHint(QPainter::Antialiasing);

  const QPointF Centre = QRectF(Area).center();
  const double Length = NeedleLength();
  QFont Font = P.font();
  Font.setPixelSize(std::max(11, Area.width() / 50));
  Font.setBold(true);
  P.setFont(Font);
  // The current rotator's preset (or the target of its movement).
  const int Current = FStation.CurrentRotator();
  if (Current >= 0 && Current < FStation.RotatorCount()) {
    const TRotatorStatus Status = *FStation.Status(Current);
    if (const std::optional<int> Preset = Status.Target ? Status.Target : Status.Preset) {
      P.setPen(QPen(PresetColour, 2.5, Qt::SolidLine, Qt::RoundCap));
      P.drawLine(Centre, MapPoint(Centre, Length, *Preset));
    }
  }
  // The needle of every rotator that is switched on, with its title at the
  // tip; the current one wider, and drawn last so that it lies on top. A
  // rotator switched off has no reading to show.
  std::vector<int> Order;
  for (int I = 0; I < FStation.RotatorCount(); ++I)
    if (I != Current)
      Order.push_back(I);
  if (Current >= 0 && Current < FStation.RotatorCount())
    Order.push_back(Current);
  for (const int I : Order) {
    const TRotatorStatus Status = *FStation.Status(I);
    if (!Status.Enabled)
      continue;
    const QColor Colour = NeedleColour(I, Current);
    const QPointF Tip = MapPoint(Centre, Length, Status.Azimuth);
    if (I == Current && Status.TempOffset != 0) {
      P.setPen(QPen(OffsetColour, 3, Qt::SolidLine, Qt::RoundCap));
      P.drawLine(Centre, MapPoint(Centre, Length, Status.Azimuth + Status.TempOffset));
    }
    P.setPen(QPen(Colour, I == Current ? 4 : 2.5, Qt::SolidLine, Qt::RoundCap));
    P.drawLine(Centre, Tip);
    DrawHaloText(P, Status.Title, Font, MapPoint(Tip, Font.pixelSize(), Status.Azimuth), Colour);
  }
}

void TLargeMapWindow::mousePressEvent(QMouseEvent *Event) {
  if (Event->button() != Qt::LeftButton || !OnPress)
    return;
  const QRectF Area = MapRect();
  const QPointF At = Event->position() - Area.topLeft();
  const TMapProjection Map({0, 0}, Area.width());
  const auto Bearing = Map.BearingAt(At);
  if (!Bearing)
    return;
  const bool Go = Event->modifiers() & Qt::ShiftModifier;
  Guarded([&] { OnPress(*Bearing * std::numbers::pi / 180.0, Go); });
}

void TLargeMapWindow::closeEvent(QCloseEvent *Event) {
  Guarded([this] { SaveGeometry(); });
  Event->accept();
}

bool TLargeMapWindow::RestoreGeometry() {
  TXMLIniFile Ini(FStation.SettingsFile());
  if (!Ini.NodeExists(Section))
    return false;
  Ini.OpenNode(Section, false);
  const int W = Ini.ReadInteger(QStringLiteral("Width"), width());
  const int H = Ini.ReadInteger(QStringLiteral("Height"), height());
  resize(std::max(W, minimumWidth()), std::max(H, minimumHeight()));
  move(Ini.ReadInteger(QStringLiteral("Left"), x()), Ini.ReadInteger(QStringLiteral("Top"), y()));
  return true;
}

void TLargeMapWindow::PlaceBeside(const QWidget &Other) {
  const QScreen *Screen = Other.screen() ? Other.screen() : QGuiApplication::primaryScreen();
  if (!Screen)
    return;
  const QRect Area = Screen->availableGeometry();
  const QRect Beside = Other.frameGeometry();
  // This window's frame is not known before it is shown: take the other's.
  const QSize Frame = Beside.size() - Other.size();
  const int Right = Area.right() - Beside.right() - Frame.width();
  const int Left = Beside.left() - Area.left() - Frame.width();
  const int Room = Right >= minimumWidth() || Right >= Left ? Right : Left;
  const int Side = std::clamp(std::min({width(), height(), Room, Area.height() - Frame.height()}),
                              minimumWidth(), std::max(width(), height()));
  resize(Side, Side);
  const int X = Room == Right ? std::min(Beside.right() + 1, Area.right() + 1 - Side - Frame.width())
                              : std::max(Area.left(), Beside.left() - Side - Frame.width());
  const int Y = std::clamp(Beside.top(), Area.top(),
                           std::max(Area.top(), Area.bottom() + 1 - Side - Frame.height()));
  move(X, Y);
}

void TLargeMapWindow::SaveGeometry() const {
  TXMLIniFile Ini(FStation.SettingsFile());
  Ini.OpenNode(Section, true);
  Ini.WriteInteger(QStringLiteral("Left"), x());
  Ini.WriteInteger(QStringLiteral("Top"), y());
  Ini.WriteInteger(QStringLiteral("Width"), width());
  Ini.WriteInteger(QStringLiteral("Height"), height());
  Ini.CloseNode();
  Ini.UpdateFile();
}
