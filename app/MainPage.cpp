#include "app/Main.h"

#include "app/AzimuthalMap.h"
#include "app/LargeMap.h"

#include "app/AzimuthDisplay.h"
#include "base/UiServices.h"
#include "station/Station.h"

#include <QDir>
#include <QFocusEvent>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QtMath>

#include <cmath>
#include <stdexcept>

// --- Rotator page ---------------------------------------------------------------------

void TMain::SetPresetDisplay() {
  const std::optional<TRotatorStatus> Status = FStation.Status(Current());
  if (Status && Status->Preset)
    edtPresetD->setText(QString::number(*Status->Preset));
  else
    edtPresetD->clear();
  ShowPresetNeedle();
}

void TMain::SetAimedAt(std::optional<TLatLon> Place) {
  FAimedAt = Place;
  if (FLargeMap)
    FLargeMap->SetAimedAt(Place);
  Guarded([this] { ShowMap(); });
}

void TMain::ShowPresetNeedle() {
  if (FLargeMap)
    FLargeMap->update();
  const std::optional<TRotatorStatus> Status = FStation.Status(Current());
  if (!Status)
    return;
  ForgetOtherAim(*Status);
  // The target of a movement under way, else the pending preset.
  if (const std::optional<int> Preset = Status->Target ? Status->Target : Status->Preset)
    Display->ShowPreset(qDegreesToRadians(double(*Preset)));
  else
    Display->ClearImage(*Display->imgPreset);
}

void TMain::ForgetOtherAim(const TRotatorStatus &Status) {
  // The path shows where "Turn to" sent the rotator; once the rotator that
  // was aimed has another preset or target, the path no longer tells it.
  if (!FAimedAt || FStation.RotatorId(Current()) != FAimedRotator)
    return;
  const auto Other = [this](const std::optional<int> &Degrees) {
    return Degrees && Degrees != FAimedPreset;
  };
  if (Other(Status.Preset) || Other(Status.Target))
    SetAimedAt(std::nullopt);
}

void TMain::ShowMap() {
  const std::optional<TRotatorStatus> Status = FStation.Status(Current());
  if (!Status)
    return;
  // A rotator's own map picture first; else, where the station is known, the
  // map around it with the path to the place last aimed at; else the rose.
  const auto Home = FStation.Position();
  const TLatLon *Centre = std::get_if<TLatLon>(&Home);
  if (!Status->MapFile.isEmpty() || !Centre) {
    FStationMapShown = false;
    Display->LoadMap(Status->MapFile, MapName);
    return;
  }
  FStationMapShown = true;
  // Drawn in the screen's pixels, so that it stays sharp at any scale.
  const int Size = qRound(Display->imgMap->width() * Display->imgMap->devicePixelRatioF());
  if (FStationMap.isNull() || FStationMap.width() != Size || FStationMapCentre != *Centre) {
    FStationMap = DrawAzimuthalMap(TLandOutlines::Program(), *Centre, Size);
    FStationMapCentre = *Centre;
  }
  QImage Map = FStationMap;
  if (FAimedAt)
    DrawPath(Map, *Centre, *FAimedAt);
  Display->ShowMap(Map);
}

void TMain::RefreshRotatorPage() {
  const int Index = Current();
  if (Index < 0)
    return;
  PageControl1->setTabText(Index, FStation.Status(Index)->Title);
  ShowRespondingMark(Index);
  ShowMap();
  SetPresetDisplay();
  DrawRelays();

  ShowPortState();
}

void TMain::ShowPortState() {
  const int Index = Current();
  if (Index < 0)
    return;
  const bool Enabled = FStation.Status(Index)->Enabled;
  // A rotator switched off does not stay open.
  if (!Enabled && FStation.Status(Index)->Open)
    FStation.CloseRotator(Index);
  const std::optional<TRotatorStatus> Status = FStation.Status(Index);
  if (!Status)
    return;
  const bool Active = Status->Open;
  // A closed rotator turns no more, whatever closed it (a lost controller
  // too): the turn buttons show it.
  if (!Active && (FCWTag != 0 || FCCWTag != 0))
    ResetTurnButtons();
  btnOpenClose->setEnabled(Enabled);
  btnOpenClose->setText(Enabled && Active ? QStringLiteral("Close") : QStringLiteral("Open"));
  const bool Moving = Enabled && Active;
  for (QPushButton *Button : {btnPreset, btnCCW, btnCW, btnStop})
    Button->setEnabled(Moving);
  if (Enabled)
    edtPresetD->setEnabled(Active);
  UpdateStatusBar();
}

void TMain::UpdateStatusBar() {
  for (int I = 0; I < 4; ++I) {
    const std::optional<TRotatorStatus> Panel =
        I < FStation.RotatorCount() ? FStation.Status(I) : std::nullopt;
    // A rotator switched off has no reading: a dash instead of an azimuth.
    StatusPanels[I]->setText(!Panel            ? QString()
                             : Panel->Enabled ? QStringLiteral("AZ=%1°").arg(Panel->Azimuth)
                                              : QStringLiteral("—"));
    StatusPanels[I]->setToolTip(Panel ? Panel->Title + (Panel->Enabled ? QString()
                                                                       : QStringLiteral(": disabled"))
                                      : QString());
  }
  // One text across the bar instead of the panels: the current rotator's
  // controller does not answer, or a notice (a travel limit reached).
  const std::optional<TRotatorStatus> Status = FStation.Status(Current());
  const bool Silent = Status && Status->Open && !Status->Responding;
  QString Text = Silent ? Status->Title + QStringLiteral(" not responding") : FNotice;
  if (Text.isEmpty() && Status && Status->Target) {
    // While it moves to a target, the current rotator's reading and where it
    // goes, in the same degrees (the reading has no temporary offset).
    const int64_t Goal = int64_t(*Status->Target) - Status->TempOffset;
    Text = QStringLiteral("AZ=%1° → %2°").arg(Status->Azimuth).arg(Goal);
    Text += Status->TargetSourceNote();
    if (FStation.RotatorCount() > 1)
      Text = Status->Title + QStringLiteral(": ") + Text;
  }
  StatusNotice->setText(Text);
  // The whole text also where a narrow window cuts it.
  StatusNotice->setToolTip(Text);
  StatusNotice->setVisible(!Text.isEmpty());
  for (QLabel *Panel : StatusPanels)
    Panel->setVisible(Text.isEmpty());
}

void TMain::ShowNotice(const QString &Text) {
  FNotice = Text;
  FNoticeTimer.start();
  UpdateStatusBar();
}

void TMain::ShowRespondingMark(int Index) {
  if (Index < 0 || Index >= FStation.RotatorCount())
    return;
  const TRotatorStatus Status = *FStation.Status(Index);
  const bool Silent = Status.Open && !Status.Responding;
  PageControl1->setTabIcon(Index, Silent ? style()->standardIcon(QStyle::SP_MessageBoxWarning)
                                         : QIcon());
  PageControl1->setTabToolTip(Index, Silent ? QStringLiteral("Not responding") : QString());
}

void TMain::DrawDirection() {
  const std::optional<TRotatorStatus> Status = FStation.Status(Current());
  if (!Status)
    return;
  // A rotator switched off has no reading: no needle stands for one.
  if (Status->Enabled)
    Display->DrawDirection(*Status);
  else
    Display->ClearImage(*Display->imgDirection);
}

void TMain::DrawRelays() {
  if (const std::optional<TRotatorStatus> Status = FStation.Status(Current()))
    Display->DrawRelays(Status->RelayBox, {Status->Relays.begin(), Status->Relays.end()});
}

void TMain::btnOpenCloseClick() {
  const int Index = Current();
  if (Index < 0)
    return;
  if (FStation.Status(Index)->Open) {
    FStation.CloseRotator(Index);
  } else if (FStation.OpenRotator(Index).Refusal == TRefusal::PortHeld) {
    Ui().ShowError(QStringLiteral("The port is already open"));
    return;
  }
  RefreshRotatorPage();
}

void TMain::LoadButtonPicture(QPushButton *Button, const QString &FileName) {
  QImageReader Reader(FileName);
  const QImage Picture = Reader.read();
  if (Picture.isNull())
    throw std::runtime_error(QStringLiteral("Cannot load the picture %1: %2")
                                 .arg(QDir::toNativeSeparators(FileName), Reader.errorString())
                                 .toStdString());
  Button->setIcon(QIcon(QPixmap::fromImage(Picture)));
}

void TMain::ToggleTurn(int &Tag, QPushButton *Button, const QString &FileOn,
                       const QString &FileOff, TTurn Direction) {
  const int Index = Current();
  if (Index < 0)
    return;
  Tag = ~Tag;
  const bool On = (Tag & 0xFF) != 0;
  LoadButtonPicture(Button, On ? FileOn : FileOff);
  if (On)
    FStation.TurnRotator(Index, Direction);
  else
    FStation.StopRotator(Index);
}

void TMain::btnCWClick() { ToggleTurn(FCWTag, btnCW, FileCW_On, FileCW_Off, TTurn::Clockwise); }

void TMain::btnCCWClick() {
  ToggleTurn(FCCWTag, btnCCW, FileCCW_On, FileCCW_Off, TTurn::CounterClockwise);
}

void TMain::ResetTurnButtons() {
  FCCWTag = 0;
  FCWTag = 0;
  LoadButtonPicture(btnCCW, FileCCW_Off);
  LoadButtonPicture(btnCW, FileCW_Off);
}

void TMain::btnStopClick() {
  ResetTurnButtons();
  if (const int Index = Current(); Index >= 0)
    FStation.StopRotator(Index);
}

void TMain::btnPresetClick() {
  if (const int Index = Current(); Index >= 0)
    FStation.GoToPreset(Index);
}

bool TMain::eventFilter(QObject *Watched, QEvent *Event) {
  if (Watched == centralWidget() && Event->type() == QEvent::Resize)
    LayOut();
  if (Watched == edtPresetD && !FClosed &&
      (Event->type() == QEvent::FocusIn || Event->type() == QEvent::FocusOut)) {
    // Only a move of the focus inside the window enters or leaves the field;
    // switching to another window or opening a menu does not.
    const Qt::FocusReason Reason = static_cast<QFocusEvent *>(Event)->reason();
    if (Reason != Qt::ActiveWindowFocusReason && Reason != Qt::PopupFocusReason) {
      if (Event->type() == QEvent::FocusIn)
        Guarded([this] { edtPresetDEnter(); });
      else
        Guarded([this] { edtPresetDExit(); });
    }
  }
  return QMainWindow::eventFilter(Watched, Event);
}

void TMain::edtPresetDEnter() {
  if (!FPresetRefused)
    BeforeValue = edtPresetD->text();
  FPresetRefused = false;
}

void TMain::edtPresetDExit() {
  const int Index = Current();
  if (Index < 0)
    return;
  const QString Text = edtPresetD->text();
  if (Text == BeforeValue)
    return;
  if (Text.isEmpty()) {
    FPresetRefused = false;
    FStation.ClearPreset(Index);
    Display->ClearImage(*Display->imgPreset);
    return;
  }
  bool Ok = false;
  const int Value = Text.toInt(&Ok);
  if (!Ok || FStation.SetPreset(Index, Value).Refusal == TRefusal::OutOfRange) {
    // The field keeps the refused text and gets the focus back; leaving it
    // again checks it again.
    FPresetRefused = true;
    Ui().ShowError(QStringLiteral("Value exceeds the range"));
    edtPresetD->setFocus();
    return;
  }
  FPresetRefused = false;
  edtPresetD->setText(QString::number(Value));
  Display->ShowPreset(qDegreesToRadians(double(Value)));
  if (const std::optional<TRotatorStatus> Status = FStation.Status(Index))
    ForgetOtherAim(*Status);
}

void TMain::edtPresetDReturn() {
  // Enter takes the typed preset as leaving the field would, and moves there.
  edtPresetDExit();
  if (FPresetRefused)
    return;
  BeforeValue = edtPresetD->text();
  if (!BeforeValue.isEmpty())
    btnPresetClick();
}

// --- Driver events ------------------------------------------------------------------------

void TMain::Gs232ChangeAzEl() {
  if (!btnCW->isEnabled())
    btnCW->setEnabled(true);
  if (!btnCCW->isEnabled())
    btnCCW->setEnabled(true);
  DrawDirection();
  UpdateStatusBar();
}

void TMain::Gs232ReachBound(TBoundPosition Bound) {
  if (Bound == bpCWBound && btnCW->isEnabled())
    btnCW->setEnabled(false);
  else if (Bound == bpCCWBound && btnCCW->isEnabled())
    btnCCW->setEnabled(false);
  DrawDirection();
  btnStopClick();
  // The driver has stopped the rotator: the operator is told why, without a
  // box that would wait for an answer.
  if (const std::optional<TRotatorStatus> Status = FStation.Status(Current()))
    ShowNotice(QStringLiteral("Limit %1° reached").arg(Status->Azimuth));
}

void TMain::Gs232ReachPreset() {
  // The station has stopped the rotator at its preset; the page shows that
  // no preset is pending any more.
  DrawDirection();
  edtPresetD->clear();
  Display->ClearImage(*Display->imgPreset);
}

void TMain::RelayArrayChangeRelays() {
  const std::optional<TRotatorStatus> Status = FStation.Status(Current());
  if (Status && Status->RelayBox)
    DrawRelays();
}

void TMain::ShowTablePreset(int Index, int Az) {
  // The preset is shown only on the visible rotator page; the driver's own
  // preset is not changed by this display.
  if (!IsConnected(Index) || PageControl1->currentIndex() != Index)
    return;
  edtPresetD->setText(QString::number(Az));
  Display->ShowPreset(static_cast<float>(Az * M_PI / 180.0));
}
