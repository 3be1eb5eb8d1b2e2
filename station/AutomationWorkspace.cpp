#include "station/AutomationWorkspace.h"

#include <cmath>

TActResult TAutomationWorkspace::Refused(TRefusal Why, const QString &Reason, int Holder) {
  return {Why, Holder, Reason};
}

TActResult TAutomationWorkspace::Usable(int Index) const {
  if (Closing())
    return Refused(TRefusal::StationClosing, QStringLiteral("The station is closing"));
  if (Index < 0 || Index >= RotatorCount())
    return Refused(TRefusal::NoRotator, QStringLiteral("There is no rotator %1").arg(Index));
  if (!RotatorEnabled(Index))
    return Refused(TRefusal::NotEnabled,
                   QStringLiteral("%1 is not enabled").arg(Driver(Index).Title()));
  return {};
}

TActResult TAutomationWorkspace::Steerable(int Index) const {
  if (TActResult Result = Usable(Index); !Result.Done())
    return Result;
  if (!Driver(Index).Active())
    return Refused(TRefusal::NotOpen, QStringLiteral("%1 is not open").arg(Driver(Index).Title()));
  return {};
}

TActResult TAutomationWorkspace::OpenRotator(int Index) {
  if (TActResult Result = Usable(Index); !Result.Done())
    return Result;
  TGs232 &D = Driver(Index);
  if (D.Active())
    return Refused(TRefusal::AlreadyOpen, QStringLiteral("%1 is already open").arg(D.Title()));
  // One device, one rotator: a second open of the same line would mix two
  // rotators' exchanges.
  for (int I = 0; I < RotatorCount(); ++I)
    if (I != Index && Driver(I).Active() && Driver(I).Port() == D.Port())
      return Refused(
          TRefusal::PortHeld,
          QStringLiteral("The port %1 is already open for %2").arg(D.Port(), Driver(I).Title()), I);
  // A port that fails to open is the driver's to report; the open was made.
  D.Open();
  return {};
}

TActResult TAutomationWorkspace::Act(int Index, const std::function<void(TGs232 &)> &Action) {
  if (TActResult Result = Steerable(Index); !Result.Done())
    return Result;
  Action(Driver(Index));
  return {};
}

TActResult TAutomationWorkspace::CloseRotator(int Index) {
  return Act(Index, [](TGs232 &D) { D.Close(); });
}

TActResult TAutomationWorkspace::StopRotator(int Index) {
  return Act(Index, [](TGs232 &D) { D.Stop(); });
}

TActResult TAutomationWorkspace::TurnRotator(int Index, TTurn Direction) {
  return Act(Index, [Direction](TGs232 &D) {
    if (Direction == TTurn::Clockwise)
      D.GoCW();
    else
      D.GoCCW();
  });
}

TActResult TAutomationWorkspace::GoToAzimuth(int Index, double Azimuth) {
  if (TActResult Result = Steerable(Index); !Result.Done())
    return Result;
  TGs232 &D = Driver(Index);
  const bool Wide = D.AzimuthAngle() == az450;
  const double Max = Wide ? 450.0 : 360.0;
  if (!std::isfinite(Azimuth) || Azimuth < 0 || Azimuth > Max)
    return Refused(TRefusal::OutOfRange,
                   QStringLiteral("%1° is outside the travel of %2 (0° to %3°)")
                       .arg(Azimuth)
                       .arg(D.Title())
                       .arg(Max));
  int Whole = static_cast<int>(std::lround(Azimuth));
  // With a 360° travel north is 0: a preset of 360 would never be reached.
  if (!Wide && Whole == 360)
    Whole = 0;
  // The rotator's temporary offset stays as it is and applies to the move.
  D.SetPreset(Whole);
  D.GoPreset();
  return {};
}

TActResult TAutomationWorkspace::GoHome(int Index) {
  return Act(Index, [](TGs232 &D) { D.GoHome(); });
}

TActResult TAutomationWorkspace::SendCommands(int Index, const QString &Commands) {
  return Act(Index, [&Commands](TGs232 &D) { D.DoCmd(Commands); });
}

std::optional<TRotatorStatus> TAutomationWorkspace::Status(int Index) const {
  if (Index < 0 || Index >= RotatorCount())
    return std::nullopt;
  const TGs232 &D = Driver(Index);
  TRotatorStatus S;
  S.Title = D.Title();
  S.Model = D.Model();
  S.Enabled = RotatorEnabled(Index);
  S.Open = D.Active();
  S.Responding = D.Responding();
  S.Azimuth = D.AzimuthD();
  S.Target = D.MoveTarget();
  S.Moving = D.Moving();
  S.Overlap = D.Overlap();
  S.MaxAzimuth = D.AzimuthAngle() == az450 ? 450 : 360;
  const TRelayArray &Relays = *D.RelayArray();
  for (int I = 0; I < Relays.Count(); ++I)
    S.Relays << Relays.GetRelay(I);
  return S;
}
