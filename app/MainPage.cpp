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
  TGs232 *Gs232 = Current();
  if (Gs232->Presetting())
    edtPresetD->setText(QString::number(Gs232->AzPresetD()));
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
  const TGs232 *Gs232 = Current();
  if (!Gs232)
    return;
  // The target of a movement under way, else the pending preset.
  if (const std::optional<int> Target = Gs232->MoveTarget())
    Display->ShowPreset(qDegreesToRadians(double(*Target)));
  else if (Gs232->Presetting())
    Display->ShowPreset(Gs232->AzPresetR());
  else
    Display->ClearImage(*Display->imgPreset);
}

void TMain::ShowMap() {
  const TGs232 *Gs232 = Current();
  if (!Gs232)
    return;
  // A rotator's own map picture first; else, where the station is known, the
  // map around it with the path to the place last aimed at; else the rose.
  const auto Home = FStation.Position();
  const TLatLon *Centre = std::get_if<TLatLon>(&Home);
  if (!Gs232->MapFileName().isEmpty() || !Centre) {
    Display->LoadMap(Gs232->MapFileName(), MapName);
    return;
  }
  const int Size = Display->imgMap->width();
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
  const QPointer<TGs232> Gs232 = Current();
  if (!Gs232)
    return;
  const int Index = FStation.IndexOf(Gs232);
  PageControl1->setTabText(Index, Gs232->Title());
  ShowRespondingMark(Index);
  ShowMap();
  SetPresetDisplay();
  DrawRelays();

  ShowPortState();
}

void TMain::ShowPortState() {
  const QPointer<TGs232> Gs232 = Current();
  if (!Gs232)
    return;
  const bool Enabled = Gs232->Enable();
  if (!Enabled && Gs232->Active())
    Gs232->Close();
  if (!Gs232)
    return;
  const bool Active = Gs232->Active();
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
  for (int I = 0; I < 4; ++I)
    StatusPanels[I]->setText(I < FStation.RotatorCount()
                                 ? QStringLiteral("AZ=%1°").arg(FStation.Status(I)->Azimuth)
                                 : QString());
  // One text across the bar instead of the panels: the current rotator's
  // controller does not answer, or a notice (a travel limit reached).
  const TGs232 *Gs232 = Current();
  const bool Silent = Gs232 && Gs232->Active() && !Gs232->Responding();
  QString Text = Silent ? Gs232->Title() + QStringLiteral(" not responding") : FNotice;
  if (Text.isEmpty() && Gs232 && Gs232->MoveTarget()) {
    // While it moves to a target, the current rotator's reading and where it
    // goes, in the same degrees (the reading has no temporary offset).
    const int64_t Goal = int64_t(*Gs232->MoveTarget()) - Gs232->TempOffsetD();
    Text = QStringLiteral("AZ=%1° → %2°").arg(Gs232->AzimuthD()).arg(Goal);
    if (FStation.RotatorCount() > 1)
      Text = Gs232->Title() + QStringLiteral(": ") + Text;
  }
  StatusNotice->setText(Text);
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
  if (TGs232 *Gs232 = Current())
    Display->DrawDirection(*Gs232);
}

void TMain::DrawRelays() {
  if (TGs232 *Gs232 = Current())
    Display->DrawRelays(*Gs232->RelayArray());
}

void TMain::btnOpenCloseClick() {
  TGs232 *Gs232 = Current();
  if (!Gs232)
    return;
  const int Index = FStation.IndexOf(Gs232);
  if (Gs232->Active()) {
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
                       const QString &FileOff, void (TGs232::*Go)()) {
  TGs232 *Gs232 = Current();
  if (!Gs232)
    return;
  Tag = ~Tag;
  const bool On = (Tag & 0xFF) != 0;
  LoadButtonPicture(Button, On ? FileOn : FileOff);
  if (On)
    (Gs232->*Go)();
  else
    Gs232->Stop();
}

void TMain::btnCWClick() { ToggleTurn(FCWTag, btnCW, FileCW_On, FileCW_Off, &TGs232::GoCW); }

void TMain::btnCCWClick() {
  ToggleTurn(FCCWTag, btnCCW, FileCCW_On, FileCCW_Off, &TGs232::GoCCW);
}

void TMain::ResetTurnButtons() {
  FCCWTag = 0;
  FCWTag = 0;
  LoadButtonPicture(btnCCW, FileCCW_Off);
  LoadButtonPicture(btnCW, FileCW_Off);
}

void TMain::btnStopClick() {
  ResetTurnButtons();
  if (TGs232 *Gs232 = Current())
    Gs232->Stop();
}

void TMain::btnPresetClick() {
  if (TGs232 *Gs232 = Current())
    Gs232->GoPreset();
}

bool TMain::eventFilter(QObject *Watched, QEvent *Event) {
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
  TGs232 *Gs232 = Current();
  if (!Gs232)
    return;
  const QString Text = edtPresetD->text();
  if (Text == BeforeValue)
    return;
  if (Text.isEmpty()) {
    FPresetRefused = false;
    Gs232->ResetPreset();
    Display->ClearImage(*Display->imgPreset);
    return;
  }
  bool Ok = false;
  const int Value = Text.toInt(&Ok);
  const int Limit = Gs232->AzimuthAngle() == az450 ? 450 : 360;
  if (!Ok || Value < 0 || Value > Limit) {
    // The field keeps the refused text and gets the focus back; leaving it
    // again checks it again.
    FPresetRefused = true;
    Ui().ShowError(QStringLiteral("Value exceeds the range"));
    edtPresetD->setFocus();
    return;
  }
  FPresetRefused = false;
  Gs232->SetPreset(Value);
  edtPresetD->setText(QString::number(Gs232->AzPresetD()));
  Display->ShowPreset(Gs232->AzPresetR());
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
  if (TGs232 *Gs232 = Current())
    ShowNotice(QStringLiteral("Limit %1° reached").arg(Gs232->AzimuthD()));
}

void TMain::Gs232ReachPreset() {
  // The station has stopped the rotator at its preset; the page shows that
  // no preset is pending any more.
  DrawDirection();
  edtPresetD->clear();
  Display->ClearImage(*Display->imgPreset);
}

void TMain::RelayArrayChangeRelays() {
  TGs232 *Gs232 = Current();
  if (Gs232 && Gs232->RelayArray()->Enable())
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
