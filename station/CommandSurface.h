#pragma once
// The station's command surface: the one way the front ends act on a
// rotator. The window, the automation object, the rotctld servers, the
// loggers' UDP listeners and whatever front end comes next call these
// operations and only translate their results into their own terms (a
// Boolean of the automation interface, an "RPRT" code, a reason a datagram
// was ignored, a message box).
//
// Rotators are addressed by index, 0 to RotatorCount() - 1. Every action
// returns a TActResult: done, or the one reason it was not done. The rules
// live here once:
// - the rotator must exist and be enabled ("Enable" in its settings); a
//   rotator switched off while open may still be closed;
// - opening needs a closed port that no other open rotator of the station
//   holds; every other action needs the port open (a pending preset, which
//   sends nothing, needs neither);
// - a target azimuth must lie within the rotator's travel: 0° to 360° for a
//   360° rotator (360° is north, sent as 0°), 0° to 450° for a 450° rotator;
//   it is rounded to a whole degree and sent with the rotator's offsets;
// - nothing is done once the station has begun its closing sequence.
// Arrival at a target is the station's too: whoever sent the rotator there,
// the arrival is answered with the stop and its after-movement list. The
// actions that send a rotator to a target take the front end that asked
// (TCommandSource); the status carries it with the target until the
// movement ends, so every view can say who is steering.
//
// Reads do not act: Status gives a rotator's state as one value, and
// RotatorId names the rotator at an index for as long as the program runs, so
// that a front end holding an index can tell when another rotator took it.
//
// The station implements the primitives below (count, driver, settings);
// tests may give the servers a surface of their own, which gets the same
// rules. The drivers themselves are not part of the surface: only the
// surface and the station reach them.
//
// Everything runs on the main thread. An action returns once it has been
// started; a command list with a WAIT item goes on after its pause while
// other work runs.

#include "rotator/Gs232.h"
#include "rotator/RotatorSettings.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Why an action was not done.
enum class TRefusal {
  None,
  NoRotator,     // no rotator at that index
  NotEnabled,    // "Enable" is off
  AlreadyOpen,   // open asked for an open port
  NotOpen,       // the port is closed
  PortHeld,      // another open rotator holds the port (TActResult::Holder)
  OutOfRange,    // the azimuth lies outside the rotator's travel
  StationClosing // the closing sequence has begun
};

struct TActResult {
  TRefusal Refusal = TRefusal::None;
  // With PortHeld: the index of the rotator that holds the port.
  int Holder = -1;
  // Why, in words for the operator or a log; empty when done.
  QString Reason;

  bool Done() const { return Refusal == TRefusal::None; }
};

// Who sent a rotator to its target: the window's own controls, or another
// front end acting through the surface.
enum class TCommandSource { Window, PstRotator, N1MM, Rotctld, DBus, CtrlTable };

// The front end's name for the operator ("PstRotator", "N1MM", "rotctld",
// "D-Bus", "Control table"); empty for the window's own controls.
QString CommandSourceName(TCommandSource Source);

// A rotator's state at one moment.
struct TRotatorStatus {
  QString Title;
  QString Model;
  // The serial device of the controller.
  QString Port;
  bool Enabled = false;
  bool Open = false;
  // Why the port is not open: what went wrong when it was last opened or
  // lost. Empty while open, and when nothing went wrong.
  QString Problem;
  // The controller answers its polls (only meaningful while open).
  bool Responding = false;
  // The reading with the rotator's offset, whole degrees.
  int Azimuth = 0;
  // Where it was last sent, until it gets there (see TGs232::MoveTarget).
  std::optional<int> Target;
  // Who sent it there; Window while there is no target.
  TCommandSource TargetSource = TCommandSource::Window;
  // The pending preset (see SetPreset), in the same degrees as Target.
  std::optional<int> Preset;
  // The temporary offset the control table gave it, whole degrees: the
  // direction the antenna points is Azimuth + TempOffset.
  int TempOffset = 0;
  // The rotator's own map picture; empty for the program's map.
  QString MapFile;
  bool Moving = false;
  // The raw reading lies beyond 360°.
  bool Overlap = false;
  // The largest azimuth the rotator accepts: 360 or 450.
  int MaxAzimuth = 360;
  // The relay box is in use, and its states, one per relay.
  bool RelayBox = false;
  QList<bool> Relays;

  // " (PstRotator)" after a target that another front end than the window
  // set, for a status text; empty otherwise.
  QString TargetSourceNote() const;
};

enum class TTurn { Clockwise, CounterClockwise };

class TCommandSurface {
public:
  virtual ~TCommandSurface() = default;

  // --- Actions -------------------------------------------------------------------
  TActResult OpenRotator(int Index);
  TActResult CloseRotator(int Index);
  TActResult StopRotator(int Index);
  // Starts turning; it goes on until a stop or a travel bound.
  TActResult TurnRotator(int Index, TTurn Direction);
  // Sends the rotator to Azimuth (degrees, the map's directions): it becomes
  // the rotator's preset, and its offsets apply as for every preset. Source
  // names who asked; the rotator's status carries it with the target (so for
  // each action that sends a rotator to a target).
  TActResult GoToAzimuth(int Index, double Azimuth,
                         TCommandSource Source = TCommandSource::Window);
  // Sends the rotator to its home position.
  TActResult GoHome(int Index, TCommandSource Source = TCommandSource::Window);
  // Sends a command or a command list as typed on the console.
  TActResult SendCommands(int Index, const QString &Commands);
  // Sends Command as SendCommands does, then reads up to ReplyLength
  // characters of the controller's answer and hands them to OnReply (the
  // console's exchange), once the command's list has run; nothing is read
  // for a ReplyLength of 0, and a rotator gone meanwhile answers nothing.
  // OnReply is not called when the exchange is refused.
  TActResult Converse(int Index, const QString &Command, int ReplyLength,
                      std::function<void(const QString &Reply)> OnReply);
  // The frequency-driven operation's move: Offset becomes the rotator's
  // temporary offset and Azimuth (any whole number, brought into the
  // rotator's travel) its preset, and it goes there.
  TActResult GoToTableAzimuth(int Index, int Azimuth, int Offset,
                              TCommandSource Source = TCommandSource::CtrlTable);

  // --- The pending preset ------------------------------------------------------------
  // A preset kept for a later GoToPreset, as the operator types or clicks it;
  // nothing is sent, and the port may be closed. Azimuth must lie within the
  // rotator's travel (0° to 360° or 450°) and is kept as given.
  TActResult SetPreset(int Index, int Azimuth);
  // Forgets the pending preset.
  TActResult ClearPreset(int Index);
  // Sends the rotator to its pending preset; nothing is sent when there is
  // none.
  TActResult GoToPreset(int Index, TCommandSource Source = TCommandSource::Window);

  // --- Reads ---------------------------------------------------------------------
  // The state of rotator Index; nothing for an index out of range.
  std::optional<TRotatorStatus> Status(int Index) const;
  // Why rotator Index may not be steered (not there, not enabled, the
  // station closing, not open), or a result that is done.
  TActResult Steerable(int Index) const;
  // A number that names rotator Index for the program's lifetime and is
  // never given to another rotator; 0 for an index out of range.
  quint64 RotatorId(int Index) const;
  // The index of the rotator named Id, or -1 when it is gone.
  int IndexOfId(quint64 Id) const;

  // --- What the station provides ---------------------------------------------------
  // The frequency control table is in use.
  virtual bool CtrlTableEnable() const = 0;
  // The number of rotators.
  virtual int RotatorCount() const = 0;
  // The index of the rotator whose tab was selected last.
  virtual int CurrentRotator() const = 0;
  // The settings of rotator Index; throws for an index out of range.
  virtual TRotatorSettings RotatorSettings(int Index) const = 0;
  // Rotator Index is enabled ("Enable"); false for an index out of range.
  virtual bool RotatorEnabled(int Index) const = 0;
  // The closing sequence has begun: no new work is taken.
  virtual bool Closing() const { return false; }
  // What went wrong when rotator Index was last opened or lost its port, in
  // words for the operator; empty when nothing did or it is open again.
  virtual QString OpenProblem(int Index) const {
    (void)Index;
    return {};
  }
  // The frequency-driven operation: turns the rotator of the control-table
  // row that holds Freq to Az and runs the lists of the rows left and entered.
  virtual void AutoOperation(int Az, double Freq) = 0;

protected:
  // The driver of rotator Index (0 <= Index < RotatorCount()); throws for
  // any other index. Only the surface and the station use it.
  virtual TGs232 &Driver(int Index) = 0;
  const TGs232 &Driver(int Index) const {
    return const_cast<TCommandSurface *>(this)->Driver(Index);
  }
  // Who sent Driver to its target; kept on the driver. The station forgets it
  // when the movement ends.
  static void SetTargetSource(TGs232 &Driver, TCommandSource Source);
  static TCommandSource TargetSource(const TGs232 &Driver);

private:
  // Steerable but for the port: there, enabled, the station not closing.
  TActResult Usable(int Index) const;
  // Azimuth lies within the travel of rotator Index (which exists).
  TActResult InTravel(int Index, double Azimuth) const;
  // Runs Action on the driver of rotator Index when it may be steered.
  TActResult Act(int Index, const std::function<void(TGs232 &)> &Action);
  // Act for an action that sends the rotator to a target: Source is noted
  // first, so that whoever hears of the new target finds who set it, and
  // again after it, as the driver may have ended the former movement on the
  // way.
  TActResult Send(int Index, TCommandSource Source, const std::function<void(TGs232 &)> &Action);
  static TActResult Refused(TRefusal Why, const QString &Reason, int Holder = -1);
};
