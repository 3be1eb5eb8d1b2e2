#include "station/CommandSurface.h"

#include <QPointer>
#include <QVariant>

#include <cmath>

namespace {

// The driver's property that holds who sent it to its target.
constexpr char TargetSourceProperty[] = "orbaltTargetSource";

} // namespace

QString CommandSourceName(TCommandSource Source) {
  switch (Source) {
  case TCommandSource::Window:
    return {};
  case TCommandSource::PstRotator:
    return QStringLiteral("PstRotator");
  case TCommandSource::N1MM:
    return QStringLiteral("N1MM");
  case TCommandSource::Rotctld:
    return QStringLiteral("rotctld");
  case TCommandSource::DBus:
    return QStringLiteral("D-Bus");
  case TCommandSource::CtrlTable:
    return QStringLiteral("Control table");
  }
  return {};
}

QString TRotatorStatus::TargetSourceNote() const {
  const QString Name = Target ? CommandSourceName(TargetSource) : QString();
  return Name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(Name);
}

void TCommandSurface::SetTargetSource(TGs232 &Driver, TCommandSource Source) {
  Driver.setProperty(TargetSourceProperty, static_cast<int>(Source));
}

TCommandSource TCommandSurface::TargetSource(const TGs232 &Driver) {
  const QVariant Value = Driver.property(TargetSourceProperty);
  return Value.isValid() ? static_cast<TCommandSource>(Value.toInt()) : TCommandSource::Window;
}

TActResult TCommandSurface::Refused(TRefusal Why, const QString &Reason, int Holder) {
  return {Why, Holder, Reason};
}

TActResult TCommandSurface::Usable(int Index) const {
  if (Closing())
    return Refused(TRefusal::StationClosing, QStringLiteral("The station is closing"));
  if (Index < 0 || Index >= RotatorCount())
    return Refused(TRefusal::NoRotator, QStringLiteral("There is no rotator %1").arg(Index));
  if (!RotatorEnabled(Index))
    return Refused(TRefusal::NotEnabled,
                   QStringLiteral("%1 is not enabled").arg(Driver(Index).Title()));
  return {};
}

TActResult TCommandSurface::Steerable(int Index) const {
  if (TActResult Result = Usable(Index); !Result.Done())
    return Result;
  if (!Driver(Index).Active()) {
    // The client learns why, not only that: the failure of the last opening.
    QString Reason = QStringLiteral("%1 is not open").arg(Driver(Index).Title());
    if (const QString Problem = OpenProblem(Index); !Problem.isEmpty())
      Reason += QStringLiteral(": ") + Problem;
    return Refused(TRefusal::NotOpen, Reason);
  }
  return {};
}

TActResult TCommandSurface::OpenRotator(int Index) {
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

TActResult TCommandSurface::Act(int Index, const std::function<void(TGs232 &)> &Action) {
  if (TActResult Result = Steerable(Index); !Result.Done())
    return Result;
  Action(Driver(Index));
  return {};
}

TActResult TCommandSurface::Send(int Index, TCommandSource Source,
                                  const std::function<void(TGs232 &)> &Action) {
  return Act(Index, [Source, &Action](TGs232 &D) {
    const QPointer<TGs232> Self = &D;
    SetTargetSource(D, Source);
    Action(D);
    // A command list may have waited and the rotator gone meanwhile.
    if (Self && D.MoveTarget())
      SetTargetSource(D, Source);
  });
}

TActResult TCommandSurface::CloseRotator(int Index) {
  // A rotator switched off while open may still be closed.
  if (TActResult Result = Usable(Index);
      !Result.Done() && Result.Refusal != TRefusal::NotEnabled)
    return Result;
  TGs232 &D = Driver(Index);
  if (!D.Active())
    return Refused(TRefusal::NotOpen, QStringLiteral("%1 is not open").arg(D.Title()));
  D.Close();
  return {};
}

TActResult TCommandSurface::StopRotator(int Index) {
  return Act(Index, [](TGs232 &D) { D.Stop(); });
}

TActResult TCommandSurface::TurnRotator(int Index, TTurn Direction) {
  return Act(Index, [Direction](TGs232 &D) {
    if (Direction == TTurn::Clockwise)
      D.GoCW();
    else
      D.GoCCW();
  });
}

TActResult TCommandSurface::InTravel(int Index, double Azimuth) const {
  const TGs232 &D = Driver(Index);
  const double Max = D.AzimuthAngle() == az450 ? 450.0 : 360.0;
  if (!std::isfinite(Azimuth) || Azimuth < 0 || Azimuth > Max)
    return Refused(TRefusal::OutOfRange,
                   QStringLiteral("%1° is outside the travel of %2 (0° to %3°)")
                       .arg(Azimuth)
                       .arg(D.Title())
                       .arg(Max));
  return {};
}

TActResult TCommandSurface::GoToAzimuth(int Index, double Azimuth, TCommandSource Source) {
  if (TActResult Result = Steerable(Index); !Result.Done())
    return Result;
  if (TActResult Result = InTravel(Index, Azimuth); !Result.Done())
    return Result;
  return Send(Index, Source, [Azimuth](TGs232 &D) {
    const bool Wide = D.AzimuthAngle() == az450;
    int Whole = static_cast<int>(std::lround(Azimuth));
    // With a 360° travel north is 0: a preset of 360 would never be reached.
    if (!Wide && Whole == 360)
      Whole = 0;
    // The rotator's temporary offset stays as it is and applies to the move.
    D.SetPreset(Whole);
    D.GoPreset();
  });
}

TActResult TCommandSurface::GoHome(int Index, TCommandSource Source) {
  return Send(Index, Source, [](TGs232 &D) { D.GoHome(); });
}

TActResult TCommandSurface::SendCommands(int Index, const QString &Commands) {
  return Act(Index, [&Commands](TGs232 &D) { D.DoCmd(Commands); });
}

TActResult TCommandSurface::Converse(int Index, const QString &Command, int ReplyLength,
                                     std::function<void(const QString &Reply)> OnReply) {
  if (TActResult Result = Steerable(Index); !Result.Done())
    return Result;
  // The command's list may wait, and the rotator be deleted meanwhile: the
  // reply is then read from nothing.
  Driver(Index).DoCmd(Command, [D = QPointer<TGs232>(&Driver(Index)), ReplyLength,
                                OnReply = std::move(OnReply)] {
    if (D && ReplyLength > 0)
      D->BeginRecv(ReplyLength, OnReply);
    else if (OnReply)
      OnReply(QString());
  });
  return {};
}

TActResult TCommandSurface::GoToTableAzimuth(int Index, int Azimuth, int Offset,
                                              TCommandSource Source) {
  return Send(Index, Source, [Azimuth, Offset](TGs232 &D) {
    D.SetTempOffsetD(Offset);
    D.GoPreset(Azimuth);
  });
}

TActResult TCommandSurface::SetPreset(int Index, int Azimuth) {
  // A pending preset sends nothing: the rotator need not be open or enabled.
  if (TActResult Result = Usable(Index);
      !Result.Done() && Result.Refusal != TRefusal::NotEnabled)
    return Result;
  if (TActResult Result = InTravel(Index, Azimuth); !Result.Done())
    return Result;
  Driver(Index).SetPreset(Azimuth);
  return {};
}

TActResult TCommandSurface::ClearPreset(int Index) {
  if (TActResult Result = Usable(Index);
      !Result.Done() && Result.Refusal != TRefusal::NotEnabled)
    return Result;
  Driver(Index).ResetPreset();
  return {};
}

TActResult TCommandSurface::GoToPreset(int Index, TCommandSource Source) {
  if (TActResult Result = Steerable(Index); !Result.Done())
    return Result;
  // Without a pending preset nothing is sent, and the present target keeps
  // its source.
  if (!Driver(Index).Presetting())
    return {};
  return Send(Index, Source, [](TGs232 &D) { D.GoPreset(); });
}

quint64 TCommandSurface::RotatorId(int Index) const {
  if (Index < 0 || Index >= RotatorCount())
    return 0;
  // Kept on the driver itself, so that it goes with it through moves and
  // goes away with it; handed out on first asking, never twice.
  static constexpr char Property[] = "orbaltRotatorId";
  auto &D = const_cast<TGs232 &>(Driver(Index));
  QVariant Id = D.property(Property);
  if (!Id.isValid()) {
    static quint64 Next = 0;
    Id = ++Next;
    D.setProperty(Property, Id);
  }
  return Id.toULongLong();
}

int TCommandSurface::IndexOfId(quint64 Id) const {
  for (int I = 0; I < RotatorCount(); ++I)
    if (RotatorId(I) == Id)
      return I;
  return -1;
}

std::optional<TRotatorStatus> TCommandSurface::Status(int Index) const {
  if (Index < 0 || Index >= RotatorCount())
    return std::nullopt;
  const TGs232 &D = Driver(Index);
  TRotatorStatus S;
  S.Title = D.Title();
  S.Model = D.Model();
  S.Port = D.Port();
  S.Enabled = RotatorEnabled(Index);
  S.Open = D.Active();
  if (!S.Open)
    S.Problem = OpenProblem(Index);
  S.Responding = D.Responding();
  S.Azimuth = D.AzimuthD();
  S.Target = D.MoveTarget();
  if (S.Target)
    S.TargetSource = TargetSource(D);
  if (D.Presetting())
    S.Preset = D.AzPresetD();
  S.TempOffset = D.TempOffsetD();
  S.MapFile = D.MapFileName();
  S.Moving = D.Moving();
  S.Overlap = D.Overlap();
  S.MaxAzimuth = D.AzimuthAngle() == az450 ? 450 : 360;
  const TRelayArray &Relays = *D.RelayArray();
  S.RelayBox = Relays.Enable();
  for (int I = 0; I < Relays.Count(); ++I)
    S.Relays << Relays.GetRelay(I);
  return S;
}
