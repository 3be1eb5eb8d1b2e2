#include "app/AzimuthDisplay.h"

#include "rotator/RelayArray.h"
#include "station/CommandSurface.h"
#include "base/UiServices.h"

#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace {

constexpr double Pi = std::numbers::pi;

// Rounds to the nearest integer, halves to the even neighbour.
int RoundEven(double Value) { return static_cast<int>(std::nearbyint(Value)); }

// The map shown until a map file has been loaded: a plain azimuthal grid,
// north up, 499 × 498 pixels.
QImage BuiltInMap() {
  QImage Map(499, 498, QImage::Format_RGB32);
  Map.fill(QColor(214, 232, 246));
  QPainter P(&Map);
  P.setRenderHint(QPainter::Antialiasing);
  const QPointF Center(249.5, 249);
  P.setPen(QPen(QColor(90, 120, 150), 2));
  P.setBrush(QColor(232, 240, 222));
  P.drawEllipse(Center, 235, 235);
  P.setBrush(Qt::NoBrush);
  for (int R = 60; R < 235; R += 60)
    P.drawEllipse(Center, R, R);
  for (int Deg = 0; Deg < 360; Deg += 30) {
    const double A = Deg * Pi / 180;
    P.drawLine(Center, Center + QPointF(235 * std::sin(A), -235 * std::cos(A)));
  }
  QFont Font = P.font();
  Font.setPixelSize(28);
  Font.setBold(true);
  P.setFont(Font);
  P.setPen(QColor(40, 60, 90));
  P.drawText(QRectF(Center.x() - 20, 16, 40, 34), Qt::AlignCenter, QStringLiteral("N"));
  P.drawText(QRectF(Center.x() - 20, 448, 40, 34), Qt::AlignCenter, QStringLiteral("S"));
  P.drawText(QRectF(448, Center.y() - 17, 40, 34), Qt::AlignCenter, QStringLiteral("E"));
  P.drawText(QRectF(11, Center.y() - 17, 40, 34), Qt::AlignCenter, QStringLiteral("W"));
  return Map;
}

// A painter on a layer's picture: aliased, so that every pixel drawn has
// exactly the colour asked for and no pale fringe turns (almost) white.
void PrepareAliased(QPainter &P) {
  P.setRenderHint(QPainter::Antialiasing, false);
  P.setRenderHint(QPainter::TextAntialiasing, false);
}

} // namespace

QColor ColorOf(TColor Color) {
  return QColor(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF);
}

QImage WhiteTransparent(const QImage &Picture) {
  QImage Result = Picture.convertToFormat(QImage::Format_ARGB32);
  Result.setAlphaChannel(
      Picture.convertToFormat(QImage::Format_RGB32)
          .createMaskFromColor(qRgb(255, 255, 255), Qt::MaskOutColor));
  return Result;
}

TNeedleLine NeedleLine(int CenterX, int CenterY, int Length, double Angle) {
  const int Inner = static_cast<int>(Length * 0.9);
  const int Tail = Length - Inner;
  // Screen angle: counter-clockwise from the x axis, y pointing up.
  const double Theta = 2 * Pi - Angle + 2 * Pi / 4;
  return {QPoint(CenterX - RoundEven(Tail * std::cos(-Theta)),
                 CenterY - RoundEven(Tail * std::sin(-Theta))),
          QPoint(CenterX + RoundEven(Inner * std::cos(Theta)),
                 CenterY - RoundEven(Inner * std::sin(Theta)))};
}

std::optional<TMapPress> MapPressToAzimuth(int X, int Y, int CenterX, int CenterY,
                                           Qt::MouseButton Button,
                                           Qt::KeyboardModifiers Modifiers) {
  if (Button != Qt::LeftButton && Button != Qt::RightButton)
    return std::nullopt;
  const int Dx = X - CenterX;
  const int Dy = CenterY - Y; // positive upwards
  if (Dx == 0 && Dy == 0)
    return std::nullopt;
  // Clockwise from north, in [0, 2π).
  double A = std::atan2(static_cast<double>(Dx), static_cast<double>(Dy));
  if (A < 0)
    A += 2 * Pi;
  if (Modifiers & Qt::ControlModifier)
    A += 2 * Pi;
  if (Button == Qt::RightButton)
    A += Pi;
  return TMapPress{A, (Modifiers & Qt::ShiftModifier) != 0};
}

// ---------------------------------------------------------------------------

TOverlayLayer::TOverlayLayer(QWidget *Parent) : QWidget(Parent) {
  setAttribute(Qt::WA_NoSystemBackground);
  ResetPicture();
}

void TOverlayLayer::ResetPicture() {
  const qreal Ratio = devicePixelRatioF();
  FPicture = QImage(size().expandedTo(QSize(1, 1)) * Ratio, QImage::Format_RGB32);
  FPicture.setDevicePixelRatio(Ratio);
  FPicture.fill(Qt::white);
  update();
}

void TOverlayLayer::paintEvent(QPaintEvent *) {
  QPainter P(this);
  QImage Shown = WhiteTransparent(FPicture);
  Shown.setDevicePixelRatio(FPicture.devicePixelRatio());
  P.drawImage(QPointF(0, 0), Shown);
}

bool TOverlayLayer::event(QEvent *Event) {
  if (Event->type() == QEvent::ToolTip && ToolTipAt) {
    auto *Help = static_cast<QHelpEvent *>(Event);
    const QString Text = ToolTipAt(Help->pos());
    if (Text.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(Help->globalPos(), Text, this);
    return true;
  }
  return QWidget::event(Event);
}

void TOverlayLayer::mousePressEvent(QMouseEvent *Event) {
  if (OnMousePress)
    OnMousePress(Event);
  Event->accept();
}

// ---------------------------------------------------------------------------

TAzimuthDisplay::TAzimuthDisplay(QWidget *Panel) : FPanel(Panel) {
  imgMap = new QLabel(Panel);
  imgMap->setObjectName(QStringLiteral("imgMap"));
  imgMap->setGeometry(7, 48, 250, 250);
  imgMap->setScaledContents(true);
  imgMap->setPixmap(QPixmap::fromImage(BuiltInMap()));

  auto MakeLayer = [&](const char *Name) {
    auto *Layer = new TOverlayLayer(Panel);
    Layer->setObjectName(QLatin1String(Name));
    Layer->setGeometry(imgMap->geometry());
    Layer->ResetPicture();
    return Layer;
  };
  imgPreset = MakeLayer("imgPreset");
  imgRelay = MakeLayer("imgRelay");
  imgDirection = MakeLayer("imgDirection");
  // The direction layer lies on top and receives every press on the map.
  imgPreset->setAttribute(Qt::WA_TransparentForMouseEvents);
  imgRelay->setAttribute(Qt::WA_TransparentForMouseEvents);
  imgDirection->OnMousePress = [this](QMouseEvent *Event) { MapPressed(Event); };
  // The lamps lie below the direction layer, which gets the mouse.
  imgDirection->ToolTipAt = [this](const QPoint &Pos) { return RelayToolTipAt(Pos); };
}

TAzimuthDisplay::~TAzimuthDisplay() {
  if (imgDirection) {
    imgDirection->OnMousePress = nullptr;
    imgDirection->ToolTipAt = nullptr;
  }
}

void TAzimuthDisplay::Arrange() {
  SetMapBounds(QRect((FPanel->width() - imgMap->width()) / 2, imgMap->y(), imgMap->width(),
                     imgMap->height()));
}

void TAzimuthDisplay::SetMapBounds(const QRect &Map) {
  imgMap->setGeometry(Map);
  for (TOverlayLayer *Layer : {imgPreset.data(), imgRelay.data(), imgDirection.data()}) {
    Layer->setGeometry(Map);
    Layer->raise();
    Layer->ResetPicture();
  }
  FLamps.clear();
  NeedleCenterX = imgMap->width() / 2;
  NeedleCenterY = imgMap->height() / 2;
  NeedleLength = NeedleCenterX * 4 / 5;
  if (!FMapPicture.isNull())
    ShowMap(FMapPicture);
}

int TAzimuthDisplay::NeedleWidth() const {
  return std::max(5, (std::min(imgMap->width(), imgMap->height()) * 5 + 125) / 250);
}

void TAzimuthDisplay::DrawNeedle(bool Overlap, TOverlayLayer &Layer, const QColor &Color,
                                 double Angle) {
  QPainter P(&Layer.Picture());
  PrepareAliased(P);
  if (Overlap) {
    // A small red disc in the top-left corner and the word beside it.
    const QColor Red = ColorOf(clRed);
    P.setPen(QPen(Red, 5, Qt::SolidLine));
    P.setBrush(QBrush(Red, Qt::SolidPattern));
    P.drawEllipse(QRect(10, 10, 10, 10));
    QFont Font = P.font();
    Font.setPointSize(9);
    Font.setStyleStrategy(QFont::NoAntialias);
    P.setFont(Font);
    P.setBackgroundMode(Qt::TransparentMode);
    P.drawText(QRect(26, 7, Layer.Picture().width(), Layer.Picture().height()),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, QStringLiteral("OVERLAP"));
  }
  const TNeedleLine Line = NeedleLine(NeedleCenterX, NeedleCenterY, NeedleLength, Angle);
  P.setPen(QPen(Color, NeedleWidth(), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  P.drawLine(Line.From, Line.To);
  P.end();
  Layer.update();
}

void TAzimuthDisplay::ClearImage(TOverlayLayer &Layer) {
  Layer.Picture().fill(Qt::white);
  Layer.update();
}

void TAzimuthDisplay::DrawDirection(double AzimuthR, bool Overlap, int TempOffsetD,
                                    double TempOffsetR) {
  ClearImage(*imgDirection);
  DrawNeedle(Overlap, *imgDirection, CurrentNeedleColor, AzimuthR);
  if (TempOffsetD != 0)
    DrawNeedle(Overlap, *imgDirection, OffsetNeedleColor, AzimuthR + TempOffsetR);
}

void TAzimuthDisplay::DrawDirection(const TRotatorStatus &Status) {
  const auto Radians = [](int Degrees) { return double(Degrees) * std::numbers::pi / 180.0; };
  DrawDirection(Radians(Status.Azimuth), Status.Overlap, Status.TempOffset,
                Radians(Status.TempOffset));
}

void TAzimuthDisplay::DrawRelays(const TRelayArray &Relays) {
  std::vector<bool> States;
  for (int I = 0; I < Relays.Count(); ++I)
    States.push_back(Relays.GetRelay(I));
  DrawRelays(Relays.Enable(), States);
}

void TAzimuthDisplay::DrawRelays(bool Enabled, const std::vector<bool> &States) {
  ClearImage(*imgRelay);
  FLamps.clear();
  if (!Enabled)
    return;
  QPainter P(&imgRelay->Picture());
  PrepareAliased(P);
  // One row along the bottom, 20 pixels apart; lamps that do not fit on it
  // (more than 12 on the 250-pixel map) go on rows above, so every lamp shows.
  const int PerRow = std::max(1, (imgRelay->width() - 10) / 20);
  for (size_t I = 0; I < States.size(); ++I) {
    const int Row = static_cast<int>(I) / PerRow;
    const int X = 20 * (static_cast<int>(I) % PerRow) + 10;
    const int Y = imgRelay->height() - 20 - 20 * Row;
    const QColor Color = ColorOf(States[I] ? clRed : clGreen);
    P.setPen(QPen(Color, 5, Qt::SolidLine));
    P.setBrush(QBrush(Color, Qt::SolidPattern));
    P.drawEllipse(QRect(X, Y, 10, 10));
    // The pen's width reaches a little beyond the circle.
    FLamps.emplace_back(QRect(X, Y, 10, 10).adjusted(-3, -3, 3, 3), States[I]);
  }
}

QString TAzimuthDisplay::RelayToolTipAt(const QPoint &Pos) const {
  for (size_t I = 0; I < FLamps.size(); ++I)
    if (FLamps[I].first.contains(Pos))
      return QStringLiteral("Relay %1: %2")
          .arg(I + 1)
          .arg(FLamps[I].second ? QStringLiteral("on") : QStringLiteral("off"));
  return QString();
}

void TAzimuthDisplay::ShowPreset(double Angle) {
  ClearImage(*imgPreset);
  DrawNeedle(false, *imgPreset, PresetNeedleColor, Angle);
}

void TAzimuthDisplay::LoadMap(const QString &MapFileName, const QString &DefaultMap) {
  const QString Name = MapFileName.isEmpty() ? DefaultMap : MapFileName;
  // The picture format follows the file's extension, not its contents.
  const QByteArray Format = QFileInfo(Name).suffix().toLower().toLatin1();
  if (Format.isEmpty() || !QImageReader::supportedImageFormats().contains(Format))
    throw std::runtime_error(
        QStringLiteral("%1: unknown picture file extension").arg(Name).toStdString());
  QImageReader Reader(Name, Format);
  Reader.setDecideFormatFromContent(false);
  const QImage Picture = Reader.read();
  if (Picture.isNull())
    throw std::runtime_error(
        QStringLiteral("Cannot load the picture %1: %2").arg(Name, Reader.errorString())
            .toStdString());
  ShowMap(Picture);
}

void TAzimuthDisplay::ShowMap(const QImage &Picture) {
  FMapPicture = Picture;
  // Scaled here to the screen's pixels, smoothly, rather than by the label
  // at paint time.
  const qreal Ratio = imgMap->devicePixelRatioF();
  const QSize Pixels = imgMap->size() * Ratio;
  QPixmap Shown = QPixmap::fromImage(
      Picture.size() == Pixels
          ? Picture
          : Picture.scaled(Pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  Shown.setDevicePixelRatio(Ratio);
  imgMap->setPixmap(Shown);
}

void TAzimuthDisplay::MapPressed(QMouseEvent *Event) {
  const QPoint Pos = Event->position().toPoint();
  const auto Press = MapPressToAzimuth(Pos.x(), Pos.y(), NeedleCenterX, NeedleCenterY,
                                       Event->button(), Event->modifiers());
  if (Press && OnMapPress)
    Guarded([&] { OnMapPress(Press->AzimuthR, Press->Go); });
}
