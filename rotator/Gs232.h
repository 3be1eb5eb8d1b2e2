#pragma once
// Driver of one rotator controller on a serial line.
//
// The driver owns its port, a 100 ms poll timer and a relay array. While open
// it asks the controller for its position every 100 ms ("C" or "C2"), turns
// the reply into azimuth and elevation in whole degrees and radians, and
// reports a changed position, a reached preset and a reached travel bound
// (for a rotator heading for that bound, never for one resting at it). A
// reply that is no reading counts as a missed poll. The command texts and the
// reading of replies are those of ControllerLanguage.
//
// Every command sent on behalf of a caller goes through DoCmd, whose command
// lists may carry several commands, WAIT pauses and relay ("Y") items, and run
// the CommandB list before every movement and the CommandA list after every
// stop.
//
// Every angle is held twice: whole degrees in an int (names ending in D) and
// radians in a double (names ending in R).
//
// Exchanges on the line run one at a time, in order, and never make the main
// thread wait inside a read or write: a poll sends its query and returns, and
// its reply is taken (and the position, preset and bound checks run) when the
// reply line is complete or its time is up. A command sent while a reply is
// awaited is held and goes out right after that exchange, but for a stop,
// which goes out at once. Nothing waits in a nested event loop: a command
// list's WAIT item is a timer that resumes the list, and the operations that
// hand a reply to their caller (BeginRecv, PollNow, the "GS-232B" start-up
// read) end through a callback. A driver closed or freed meanwhile sends
// nothing more.
//
// Everything runs on the main thread. Port failures and line errors never
// reach the callers: the driver closes itself and raises one message event,
// which its owner shows. The driver itself never shows anything.

#include "base/UiServices.h"
#include "rotator/RelayArray.h"
#include "rotator/RotatorSettings.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QTimer;
class TCPortX;

enum TBoundPosition { bpNone, bpCWBound, bpCCWBound };

using TReachPresetEvent = std::function<void(QObject *Sender)>;
using TReachBoundEvent = std::function<void(QObject *Sender, TBoundPosition Bound)>;
using TChangeAzElEvent = std::function<void(QObject *Sender)>;
using TMessageEvent =
    std::function<void(QObject *Sender, const QString &Text, TMessageKind Kind)>;

// Radians to whole degrees, truncated toward zero. A value that is a whole
// number of degrees but for the rounding of pi (5 pi / 4 giving 224.99999...)
// counts as that whole number.
int RadToDeg(double Radians);

// Splits a command list into its items. Items end at a comma, a blank or a
// control character; blanks and control characters between items are
// skipped. An item that starts with a double quote runs to the next lone
// double quote (two double quotes stand for one inside it). Two commas in a
// row give an empty item, and so does a comma that ends the text. A NUL ends
// the text.
QStringList SplitCommandList(QString Text);

class TGs232 : public QObject {
  Q_OBJECT
public:
  explicit TGs232(QObject *Owner = nullptr);
  // Releases the port without sending anything; does not call Close.
  ~TGs232() override;

  // --- Opening and closing ---------------------------------------------------
  // Opens the port, sends the start-up commands of the model and starts the
  // poll. Called only while not Active. A port that cannot be opened is
  // reported by a message and leaves the driver closed. Nothing happens while
  // the owner's gate (SetOpenGate) refuses.
  void Open();
  // Asked by Open before anything is done: false refuses the opening. The
  // owner keeps its rules there (the station refuses once it is closing).
  void SetOpenGate(std::function<bool()> MayOpen) { FOpenGate = std::move(MayOpen); }
  // Stops the poll, sends the commands still held behind an awaited reply
  // and a lone CR, discards the input and closes the port, which lets the
  // written bytes leave the line first (see Draining). No stop.
  void Close();
  // Port open and poll running.
  bool Active() const { return FActive; }
  // False ("not responding") once three polls in a row went without a reply
  // while open: the readings keep their last values and the controller is
  // asked once a second until it answers again. True while closed.
  bool Responding() const { return FResponding; }
  // Makes the driver inert for good without sending anything: stops the poll,
  // drops the event handlers and port reports and closes the port. For a
  // driver about to be freed; a command list waiting meanwhile stops.
  void Release();

  // --- Commands ----------------------------------------------------------------
  // Called once a command list, a read or a poll asked for has ended.
  using TDone = std::function<void()>;
  using TReplyDone = std::function<void(const QString &Reply)>;

  // Runs Cmd as a command list (CommandB before movements, CommandA after
  // stops). Nothing when not Active. The items run at once, up to a WAIT
  // item, whose pause delays only the rest of this list: the call returns,
  // and polls, other lists and callers go on meanwhile. Done runs once the
  // list has ended: run to its end, or dropped by a close (the rest of a
  // list is not sent once the port closes); when the driver is freed first,
  // it runs from the event loop.
  void DoCmd(const QString &Cmd, TDone Done = {});
  // Reads up to Len characters from the line with the port's read bounds,
  // once the exchanges before it are done, and hands them to Done; empty
  // when not Active (Done runs at once). A close meanwhile ends the read
  // with what had arrived.
  void BeginRecv(int Len, TReplyDone Done);
  // One poll exchange (query, read, parse) after the exchanges before it,
  // then Done; at once when not Active.
  void PollNow(TDone Done = {});

  void GoCW();
  void GoRight() { GoCW(); }
  void GoCCW();
  void GoLeft() { GoCCW(); }
  void GoUp();
  void GoDown();
  // Moving := false, then "S" with the CommandA list. Nothing when not Active.
  // The "S" waits for nothing: it goes out at once, also while a poll or a
  // console read has the line, right behind the commands held for that
  // exchange; the movements of command lists that still wait (a CommandB
  // list's pause) are dropped. The CommandA list follows in the line's order.
  void Stop();

  // --- Positioning ---------------------------------------------------------------
  // Store a preset (not normalised) and mark it pending; nothing is sent.
  void SetPreset(int Az);
  void SetPreset(double Az); // radians
  void SetPreset(int Az, int El);
  // Clears the preset and the pending mark.
  void ResetPreset();
  // Sends the stored preset when Active and a preset is pending.
  void GoPreset();
  // Marks a preset pending, sends "M" + target and then stores the normalised
  // azimuth as the preset. Nothing when not Active.
  void GoPreset(int Az);
  // Sends "W" + azimuth + blank + elevation when Active and a preset is pending.
  void GoPreset(int Az, int El);
  void SetHome(int Az);
  void SetHome(int Az, int El);
  // Sends "M" + the home target (no temporary offset). Nothing when not Active.
  // Done runs once the home command is out (see DoCmd).
  void GoHome(TDone Done = {});
  void SetOffset(int Az);
  void SetOffset(int Az, int El);

  // Whole degrees: 0 to 450 kept in az450 mode, otherwise modulo 360 into 0..359.
  int NormalizeAngleD(int A) const;
  // Radians: 0 to 2.5 pi kept in az450 mode, otherwise modulo 2 pi into [0, 2 pi).
  double NormalizeAngleR(double X) const;

  // Raw position reply to raw azimuth and elevation ("AZ=aaa EL=eee" or
  // "+0aaa+0eee", see ControllerLanguage::ParsePosition); a reply that is no
  // reading, and an elevation that is missing or not a number, give 0. The
  // poll itself takes a reply that is no reading as a missed poll.
  static void ParseReply(const QString &Reply, int &OrgAzimuthD, int &OrgElevationD);

  // The message of a port failure: "ComException " + the port's message, and
  // on a second line the device and the system's reason ("/dev/ttyUSB0:
  // Permission denied"), with the fix for a permission failure.
  static QString ComExceptionText(const QString &ComportMessage, const QString &Port,
                                  int64_t WinError, const QString &WinMessage);

  // --- Readings (read-only) ----------------------------------------------------
  int AzimuthD() const { return FAzimuthD; }
  double AzimuthR() const { return FAzimuthR; }
  int ElevationD() const { return FElevationD; }
  double ElevationR() const { return FElevationR; }
  int AzPresetD() const { return FAzPresetD; }
  double AzPresetR() const { return FAzPresetR; }
  int ElPresetD() const { return FElPresetD; }
  double ElPresetR() const { return FElPresetR; }
  int AzHomeD() const { return FAzHomeD; }
  double AzHomeR() const { return FAzHomeR; }
  int ElHomeD() const { return FElHomeD; }
  double ElHomeR() const { return FElHomeR; }
  int AzOffsetD() const { return FAzOffsetD; }
  double AzOffsetR() const { return FAzOffsetR; }
  int ElOffsetD() const { return FElOffsetD; }
  double ElOffsetR() const { return FElOffsetR; }
  int OrgAzimuthD() const { return FOrgAzimuthD; }
  int OrgElevationD() const { return FOrgElevationD; }
  // Raw azimuth above 360.
  bool Overlap() const { return FOverlap; }
  // The readings changed since the last Stop.
  bool Moving() const { return FMoving; }
  // A preset is pending. It is reached (ReachPreset) once the reading is
  // within 2° of it (on the circle in the 360° range, so that a reading of 0
  // meets a preset of 360; along the line in the 450° range) and either
  // reads the preset or has come no closer for 1.5 s: a rotator still coming
  // closer is let go on, so that the stop answering the arrival does not
  // leave it short of its target.
  bool Presetting() const { return FPresetting; }
  // Where the rotator was last sent by GoPreset or GoHome, in the degrees of
  // the preset (temporary offset included), until it gets within 2° of it, a
  // stop or turn command goes out, or the port closes. Empty otherwise.
  std::optional<int> MoveTarget() const { return FMoveTarget; }
  TRelayArray *RelayArray() const { return FRelayArray; }

  // --- Settings (read-write) ---------------------------------------------------
  // Takes every value of Settings, in the order of the settings document's
  // keys; elevation is switched off. The controller settings send their
  // commands when Active, so owners apply settings to a closed driver.
  void ApplySettings(const TRotatorSettings &Settings);
  // The settings as they are now ("Home" and "Offset" in whole degrees, the
  // home azimuth normalised to the rotation range).
  TRotatorSettings Settings() const;
  // The values the driver keeps for its owner.
  QString Title() const { return FTitle; }
  QString MapFileName() const { return FMapFileName; }
  bool Enable() const { return FEnable; }
  bool AutoActive() const { return FAutoActive; }

  // "GS-232A", "GS-232B" or "KELVANE"; decides the centre-position command.
  QString Model() const { return FModel; }
  void SetModel(const QString &Value) { FModel = Value; }
  // Sends the centre-position command when Active.
  TCenterPosition CenterPosition() const { return FCenterPosition; }
  void SetCenterPosition(TCenterPosition Value);
  // Sets the travel bounds; sends "P36" or "P45" when Active.
  TAzimuthAngle AzimuthAngle() const { return FAzimuthAngle; }
  void SetAzimuthAngle(TAzimuthAngle Value);
  // "1" (low) to "4" (high); sends "X" + its first character when Active.
  QString RotationSpeed() const { return FRotationSpeed; }
  void SetRotationSpeed(const QString &Value);
  // The controller has an elevation axis: poll with "C2", preset with "W".
  bool ElEnable() const { return FElEnable; }
  void SetElEnable(bool Value) { FElEnable = Value; }
  bool ReturnHome() const { return FReturnHome; }
  void SetReturnHome(bool Value) { FReturnHome = Value; }
  // The owner's mark for the rotator on the visible tab.
  bool Current() const { return FCurrent; }
  void SetCurrent(bool Value) { FCurrent = Value; }
  // Command list run before every movement command.
  QString CommandB() const { return FCommandB; }
  void SetCommandB(const QString &Value) { FCommandB = Value; }
  // Command list run after every stop command.
  QString CommandA() const { return FCommandA; }
  void SetCommandA(const QString &Value) { FCommandA = Value; }
  // Temporary azimuth offset used by presets; radians become degrees by
  // truncation toward zero.
  int TempOffsetD() const { return FTempOffsetD; }
  void SetTempOffsetD(int Value);
  double TempOffsetR() const { return FTempOffsetR; }
  void SetTempOffsetR(double Value);

  // Serial settings, read from and written to the port as text.
  QString Port() const;
  void SetPort(const QString &Value);
  QString BaudRate() const;
  void SetBaudRate(const QString &Value);
  QString DataBits() const;
  void SetDataBits(const QString &Value);
  QString Parity() const;
  void SetParity(const QString &Value);
  QString StopBits() const;
  void SetStopBits(const QString &Value);
  QString FlowControl() const;
  void SetFlowControl(const QString &Value);

  // --- Events ------------------------------------------------------------------
  // Raised on the main thread when a poll's reply has been read, in this
  // order.
  const TReachPresetEvent &ReachPreset() const { return FReachPreset; }
  void SetReachPreset(TReachPresetEvent Handler) { FReachPreset = std::move(Handler); }
  const TReachBoundEvent &ReachBound() const { return FReachBound; }
  void SetReachBound(TReachBoundEvent Handler) { FReachBound = std::move(Handler); }
  const TChangeAzElEvent &ChangeAzEl() const { return FChangeAzEl; }
  void SetChangeAzEl(TChangeAzElEvent Handler) { FChangeAzEl = std::move(Handler); }
  // A message for the operator: the "GS-232B" notice of Open and the report
  // of a port failure or line error (at most one per failure). The owner
  // shows it; the handler may run a nested event loop (a modal box), during
  // which the driver may be closed or freed.
  const TMessageEvent &Message() const { return FMessage; }
  void SetMessage(TMessageEvent Handler) { FMessage = std::move(Handler); }

signals:
  // The port was opened (Active true) or closed, by Close or by a failure.
  // Release reports nothing: the driver is inert from then on.
  void ActiveChanged(bool Active);
  // Responding() changed: the controller stopped answering, answered again,
  // or the driver opened or closed while it was not answering.
  void RespondingChanged(bool Responding);
  // MoveTarget() changed: a movement to a target was sent, or ended.
  void MoveTargetChanged();
  // Draining() became false: what was written before the close has left, or
  // was given up.
  void DrainEnded();

public:
  // The port still transmits what was written before Close (see
  // TComPortBase::Draining); owners that end the program wait for it.
  bool Draining() const;

private:
  // Writes the held commands and a stop at once, whoever has the line;
  // false when the port is (or got) closed.
  bool SendStop(const QString &Text);
  // Who has the line: nobody, a poll awaiting its reply, or a caller's read.
  enum TLine { lnIdle, lnPoll, lnRead };

  void Timer1Timer();
  void PollTick();
  // Discards stale input, sends the position query and starts reading the
  // reply; the poll ends in FinishPoll.
  void StartPoll(bool FromTick);
  void ReadPositionLine();
  void PositionLineRead(uint64_t Session, const QString &Line);
  void FinishPoll(const QString &Reply);
  // Counts polls without a reply and sets Responding.
  void NoteAnswer(bool Answered);
  void SetResponding(bool Value);
  // The line is free again: held commands go out (stale input discarded
  // first after a poll that got no reply), then the next queued read or
  // asked-for poll starts.
  void ReleaseLine(bool ClearStaleInput);
  // Starts the first queued reply read, if any, else a poll asked for by
  // PollNow; the line is free.
  void StartNextReply();
  // Ends the exchanges of an open period: nothing held, the line free; the
  // reads and polls asked for end with what they have.
  void EndSession();
  void SendCenterPosition();
  // A command list on its way: its items still to run, in order.
  struct TListRun;
  // Runs the items of Run up to its end, or up to a WAIT, after which a
  // timer runs the rest.
  void RunList(const std::shared_ptr<TListRun> &Run);
  // Writes Text to the port while the driver's port is open, or holds it
  // while a reply is awaited (it goes out when that exchange ends); false
  // when the driver is gone, the port failed or is closed afterwards.
  bool SendRaw(const QString &Text);
  void PresetCheck();
  // Starts the watch of the approach to the preset anew (a new preset, or the
  // rotator sent again).
  void ForgetApproach();
  // Ends the movement target once the reading is within 2° of it.
  void MoveTargetCheck();
  void SetMoveTarget(std::optional<int> Az);
  // Runs a go-to command and, when it went out, keeps Az (degrees of a
  // preset) as the movement target. False when the driver was freed meanwhile.
  bool GoTo(const QString &Cmd, int Az, TDone Done = {});
  // Reports a close once the driver is closed: answering again, no target,
  // and ActiveChanged when it was open.
  void ReportClosed(bool WasActive);
  // Stops the rotator and reports the bound when the reading lies at or beyond
  // a travel bound and the rotator heads for it.
  void BoundCheck();
  // The raw azimuth along the travel: 0 at the counter-clockwise end, growing
  // clockwise (the reading moved by half a turn when the centre is north).
  int TravelPosition() const;
  // How far apart two azimuths Difference apart lie: on the circle in the
  // 360° range, along the line in the 450° range.
  int64_t DegreesOff(int64_t Difference) const;
  void ChangeReport();
  void ComPortException(const QString &ComportMessage, int64_t WinError,
                        const QString &WinMessage);
  void ComPortError(unsigned Errors);
  void CloseAfterFailure();
  void RaiseMessage(const QString &Text, TMessageKind Kind);
  // Degrees as a target in the rotation range.
  int Target(int64_t Degrees) const;

  bool bInitialization = true;
  TCPortX *ComPort;
  QTimer *Timer1;
  int iAzBefore = 0;
  int iElBefore = 0;
  // Travel bounds in controller degrees. They follow the rotation range from
  // the start, so that a driver whose range is never assigned does not stop
  // itself at every movement.
  int iAzCwBound = 359;
  int iAzCcwBound = 0;
  bool FActive = false;
  bool FResponding = true;
  int FAzimuthD = 0;
  double FAzimuthR = 0;
  int FAzOffsetD = 0;
  double FAzOffsetR = 0;
  int FAzPresetD = 0;
  double FAzPresetR = 0;
  int FAzHomeD = 0;
  double FAzHomeR = 0;
  int FElevationD = 0;
  double FElevationR = 0;
  int FElOffsetD = 0;
  double FElOffsetR = 0;
  int FElPresetD = 0;
  double FElPresetR = 0;
  int FElHomeD = 0;
  double FElHomeR = 0;
  TAzimuthAngle FAzimuthAngle = az360;
  bool FElEnable = false;
  TCenterPosition FCenterPosition = cpNorth;
  bool FReturnHome = false;
  QString FRotationSpeed;
  QString FModel;
  QString FCommandB;
  QString FCommandA;
  int FOrgElevationD = 0;
  int FOrgAzimuthD = 0;
  bool FOverlap = false;
  TReachBoundEvent FReachBound;
  TReachPresetEvent FReachPreset;
  TChangeAzElEvent FChangeAzEl;
  TMessageEvent FMessage;
  std::function<bool()> FOpenGate;
  QString FTitle;
  QString FMapFileName;
  bool FEnable = false;
  bool FAutoActive = false;
  bool FMoving = false;
  bool FPresetting = false;
  // Within reach of the preset: the closest the reading came (degrees off)
  // and since when.
  std::optional<int64_t> FClosest;
  QElapsedTimer FClosestSince;
  std::optional<int> FMoveTarget;
  // The travel position (TravelPosition) at the last change report, unknown
  // until the first report after an opening, and the bound the rotator
  // headed for in that report's change (bpNone: no azimuth change known).
  std::optional<int> FTravelBefore;
  TBoundPosition FHeading = bpNone;
  TRelayArray *FRelayArray;
  bool FCurrent = false;
  int FTempOffsetD = 0;
  double FTempOffsetR = 0;

  // Counts the open periods: bumped by every open and every close, so that a
  // command list, a wait or a read's callback of an earlier period does
  // nothing.
  uint64_t FSession = 0;
  // Stops sent so far (see TListRun::Stops).
  uint64_t FStops = 0;
  // A poll tick is queued and not yet run.
  bool FTickQueued = false;
  TLine FLine = lnIdle;
  // Commands sent while the line was taken, in order.
  QStringList FHeld;
  // Reads for callers waiting for the line, in order.
  struct TReply {
    int Len = 0;
    TReplyDone Done;
  };
  QList<TReply> FReplies;
  // Callers of PollNow waiting for a poll to start, and for the poll under
  // way to end.
  QList<TDone> FPollWanted;
  QList<TDone> FPollWaiters;
  // The time a poll's reply may take, reads of earlier line ends included.
  QDeadlineTimer FPollBudget;
  bool FPollFromTick = false;
  // Polls in a row without a reply.
  int FMissedPolls = 0;
  // A failure report is being handled; reports raised by closing the failed
  // port are part of it.
  bool FReporting = false;
};
