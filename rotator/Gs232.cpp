#include "rotator/Gs232.h"

#include "rotator/ControllerLanguage.h"
#include "serial/CPortX.h"
#include "base/UiServices.h"

#include <QDeadlineTimer>
#include <QCoreApplication>
#include <QPointer>
#include <QScopeGuard>
#include <deque>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

namespace Lang = ControllerLanguage;

namespace {

constexpr int PollIntervalMs = 100;
// A controller that does not answer is asked this often.
constexpr int SilentPollIntervalMs = 1000;
// Polls in a row without a reply that make a controller "not responding".
constexpr int MissedPollsLimit = 3;
// A rotator within reach of its preset that comes no closer for this long
// has stopped there: longer than the slowest rotation (1.5° a second) takes
// for one whole degree.
constexpr int PresetSettleMs = 1500;
// The longest a read of a position reply waits when nothing arrives.
constexpr int PositionReadMs = 10 * Lang::PositionReplyLen + 100;
// Characters after "WAIT" that are read as the number of milliseconds.
constexpr int WaitDigitsMax = 32;

double DegToRad(int64_t Degrees) { return static_cast<double>(Degrees) * M_PI / 180.0; }

// A signed decimal integer with optional leading blanks and nothing after its
// digits; false for anything else, an empty text and values beyond int.
bool ParseInt(const QString &Text, int &Value) {
  qsizetype I = 0;
  while (I < Text.size() && Text[I] == u' ')
    ++I;
  bool Negative = false;
  if (I < Text.size() && (Text[I] == u'+' || Text[I] == u'-')) {
    Negative = Text[I] == u'-';
    ++I;
  }
  if (I >= Text.size())
    return false;
  int64_t N = 0;
  for (; I < Text.size(); ++I) {
    const char16_t C = Text[I].unicode();
    if (C < u'0' || C > u'9')
      return false;
    N = N * 10 + (C - u'0');
    if (N > int64_t(std::numeric_limits<int>::max()) + 1)
      return false;
  }
  N = Negative ? -N : N;
  if (N < std::numeric_limits<int>::min() || N > std::numeric_limits<int>::max())
    return false;
  Value = static_cast<int>(N);
  return true;
}

// Only a to z: the rest of a command text goes to the line as typed.
QString UpperAscii(QString Text) {
  for (QChar &C : Text)
    if (C >= u'a' && C <= u'z')
      C = QChar(C.unicode() - (u'a' - u'A'));
  return Text;
}

bool IsBlankOrControl(QChar C) { return C.unicode() >= 1 && C.unicode() <= 32; }

} // namespace

int RadToDeg(double Radians) {
  double Degrees = Radians * 180.0 / M_PI;
  if (!std::isfinite(Degrees))
    return 0;
  Degrees = std::trunc(Degrees + std::copysign(1e-9, Degrees));
  constexpr double Lo = std::numeric_limits<int>::min();
  constexpr double Hi = std::numeric_limits<int>::max();
  return static_cast<int>(std::clamp(Degrees, Lo, Hi));
}

QStringList SplitCommandList(QString Text) {
  if (const qsizetype Nul = Text.indexOf(QChar(0)); Nul >= 0)
    Text.truncate(Nul);
  QStringList Items;
  const qsizetype N = Text.size();
  qsizetype P = 0;
  auto SkipBlanks = [&] {
    while (P < N && IsBlankOrControl(Text[P]))
      ++P;
  };
  SkipBlanks();
  while (P < N) {
    QString Item;
    if (Text[P] == u'"') {
      ++P;
      for (;;) {
        const qsizetype Q = Text.indexOf(u'"', P);
        if (Q < 0) { // no closing quote: the rest of the text
          Item += QStringView(Text).mid(P);
          P = N;
          break;
        }
        Item += QStringView(Text).mid(P, Q - P);
        if (Q + 1 < N && Text[Q + 1] == u'"') {
          Item += u'"';
          P = Q + 2;
          continue;
        }
        P = Q + 1;
        break;
      }
    } else {
      const qsizetype Start = P;
      while (P < N && Text[P].unicode() > 32 && Text[P] != u',')
        ++P;
      Item = Text.mid(Start, P - Start);
    }
    Items.append(Item);
    SkipBlanks();
    if (P < N && Text[P] == u',') {
      if (P + 1 == N)
        Items.append(QString());
      ++P;
      SkipBlanks();
    }
  }
  return Items;
}


// --- Construction ----------------------------------------------------------------

TGs232::TGs232(QObject *Owner)
    : QObject(Owner), ComPort(new TCPortX(this)), Timer1(new QTimer(this)),
      FRelayArray(new TRelayArray(this)) {
  Timer1->setInterval(PollIntervalMs);
  connect(Timer1, &QTimer::timeout, this, &TGs232::Timer1Timer);
  ComPort->OnException = [this](QObject *, TComExceptions, const QString &Message,
                                int64_t WinError, const QString &WinMessage) {
    ComPortException(Message, WinError, WinMessage);
  };
  ComPort->OnError = [this](QObject *, TComErrors Errors) { ComPortError(Errors); };
  connect(ComPort, &TComPortBase::DrainEnded, this, &TGs232::DrainEnded);
}

TGs232::~TGs232() {
  Timer1->stop();
  // The reads and polls asked for end (from the event loop) with nothing.
  EndSession();
  // Releasing the port sends nothing and reports nothing to a driver that is
  // going away.
  ComPort->OnException = [](QObject *, TComExceptions, const QString &, int64_t,
                            const QString &) {};
  ComPort->OnError = [](QObject *, TComErrors) {};
  delete FRelayArray;
  delete ComPort;
  delete Timer1;
}

// --- Opening and closing -----------------------------------------------------------

void TGs232::Release() {
  Timer1->stop();
  // Inert for good: not even the closing is reported.
  blockSignals(true);
  EndSession();
  FActive = false;
  FResponding = true;
  FMessage = nullptr;
  FReachBound = nullptr;
  FReachPreset = nullptr;
  FOpenGate = nullptr;
  FChangeAzEl = nullptr;
  FRelayArray->SetChangeRelays(nullptr);
  ComPort->OnException = [](QObject *, TComExceptions, const QString &, int64_t,
                            const QString &) {};
  ComPort->OnError = [](QObject *, TComErrors) {};
  if (ComPort->Connected())
    ComPort->Close();
}

void TGs232::Open() {
  if (FActive || (FOpenGate && !FOpenGate()))
    return;
  QPointer<TGs232> Self(this);
  // Replies are read only right after their query; anything else that
  // arrives is thrown away by the port.
  ComPort->SetDelimiter(QStringLiteral("\n"));
  ComPort->SetTriggersOnRxChar(false);
  ComPort->Open();
  if (!Self || !ComPort->Connected())
    return;
  ComPort->Clear();
  if (!Self || !ComPort->Connected())
    return;
  const bool FirstOpening = std::exchange(bInitialization, false);
  for (const QString &Command : Lang::OpenCommands(FirstOpening))
    if (!SendRaw(Lang::Line(Command)))
      return;
  iAzBefore = 9999;
  iElBefore = 9999;
  // Where the rotator heads is known only once its reading has changed
  // after this opening.
  FTravelBefore.reset();
  FHeading = bpNone;
  ++FSession;
  FMissedPolls = 0;
  Timer1->start(PollIntervalMs);
  FActive = true;
  const uint64_t Session = FSession;
  SendCenterPosition();
  // Reported once the start-up commands are out: a receiver that closes the
  // port again must not cut them short.
  if (Self && FActive && FSession == Session)
    emit ActiveChanged(true);
}

void TGs232::SendCenterPosition() {
  if (!FActive)
    return;
  const Lang::TModel Model = Lang::ModelNamed(FModel);
  const std::optional<QString> Command = Lang::CenterCommand(Model, FCenterPosition);
  if (!Command)
    return;
  if (!Lang::CenterCommandAnswers(Model)) {
    SendRaw(Lang::Line(*Command));
    return;
  }
  if (!SendRaw(Lang::Line(*Command)))
    return;
  // The notice follows the listing, unless the port was closed meanwhile;
  // the poll timer runs behind the owner's modal box.
  const uint64_t Session = FSession;
  BeginRecv(Lang::ListingReplyLen,
            [this, Self = QPointer<TGs232>(this), Session, Model](const QString &) {
              if (Self && FActive && FSession == Session && Model == Lang::TModel::Gs232B)
                RaiseMessage(QStringLiteral(u"GS-232Bの動作未確認"), mkInformation);
            });
}

void TGs232::Close() {
  Timer1->stop();
  // Commands held behind an awaited reply were sent before the close: they
  // still go out, ahead of the closing CR.
  const QStringList Held = FHeld;
  EndSession();
  QPointer<TGs232> Self(this);
  if (ComPort->Connected()) {
    auto Live = [&] { return Self && ComPort->Connected(); };
    for (const QString &Text : Held) {
      ComPort->SendStr(Text);
      if (!Live())
        break;
    }
    if (Live())
      ComPort->SendStr(Lang::Line(Lang::CloseCommand()));
    if (Live())
      ComPort->ClearInput();
    // The port lets the written bytes leave the device before it purges and
    // closes it.
    if (Live())
      ComPort->Close();
    if (!Self)
      return;
  }
  // Closed first, then reported: a receiver finds the driver closed.
  const bool WasActive = FActive;
  FActive = false;
  ReportClosed(WasActive);
}

bool TGs232::Draining() const { return ComPort->Draining(); }

bool TGs232::SendRaw(const QString &Text) {
  if (!ComPort->Connected())
    return false;
  if (FLine != lnIdle) {
    // A reply is awaited: the command follows that exchange.
    FHeld.append(Text);
    return true;
  }
  QPointer<TGs232> Self(this);
  ComPort->SendStr(Text);
  return Self && ComPort->Connected();
}

bool TGs232::SendStop(const QString &Text) {
  if (!ComPort->Connected())
    return false;
  // A stop waits for nothing: it goes out at once, also while a reply is
  // awaited, right behind the commands held for that exchange, which keep
  // their order.
  QPointer<TGs232> Self(this);
  for (const QString &Held : std::exchange(FHeld, QStringList())) {
    ComPort->SendStr(Held);
    if (!Self || !ComPort->Connected())
      return false;
  }
  ++FStops;
  ComPort->SendStr(Text);
  return Self && ComPort->Connected();
}

void TGs232::EndSession() {
  ++FSession;
  FHeld.clear();
  FLine = lnIdle;
  // Those who asked for a read or a poll get what there is, from the event
  // loop: a close must not call back into them from inside itself.
  QList<TReply> Replies = std::exchange(FReplies, {});
  QList<TDone> Polls = std::exchange(FPollWanted, {}) + std::exchange(FPollWaiters, {});
  if (Replies.isEmpty() && Polls.isEmpty())
    return;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [Replies = std::move(Replies), Polls = std::move(Polls)] {
        for (const TReply &Reply : Replies)
          if (Reply.Done)
            Guarded([&] { Reply.Done(QString()); });
        for (const TDone &Done : Polls)
          if (Done)
            Guarded([&] { Done(); });
      },
      Qt::QueuedConnection);
}

void TGs232::BeginRecv(int Len, TReplyDone Done) {
  if (!FActive) {
    if (Done)
      Done(QString());
    return;
  }
  // Queued behind the exchange that has the line, and started by it as it
  // ends, right after the commands held behind it: no reply can slip by
  // between the command and its read.
  FReplies.append({Len, std::move(Done)});
  if (FLine == lnIdle)
    StartNextReply();
}

void TGs232::PollNow(TDone Done) {
  if (!FActive) {
    if (Done)
      Done();
    return;
  }
  FPollWanted.append(std::move(Done));
  if (FLine == lnIdle)
    StartNextReply();
}

void TGs232::StartNextReply() {
  if (FReplies.isEmpty()) {
    if (!FPollWanted.isEmpty())
      StartPoll(false);
    return;
  }
  TReply Reply = FReplies.takeFirst();
  FLine = lnRead;
  // The port's close ends the read, and the port's destruction drops the
  // callback.
  const uint64_t Session = FSession;
  ComPort->BeginRecv(Reply.Len, false,
                     [this, Session, Done = std::move(Reply.Done)](const QString &Text) {
                       // Kept here: the line's next steps may free the port
                       // and this callback with it.
                       const TReplyDone Caller = Done;
                       if (Session == FSession && FActive && FLine == lnRead)
                         ReleaseLine(false);
                       if (Caller)
                         Caller(Text);
                     });
}

void TGs232::ReleaseLine(bool ClearStaleInput) {
  FLine = lnIdle;
  const QStringList Held = std::exchange(FHeld, QStringList());
  QPointer<TGs232> Self(this);
  const uint64_t Session = FSession;
  auto Live = [&] { return Self && FActive && FSession == Session && FLine == lnIdle; };
  // A reply that comes after its poll gave up on it would otherwise be read
  // as the answer to what follows.
  if (ClearStaleInput && !Held.isEmpty())
    ComPort->ClearInput();
  for (const QString &Text : Held) {
    if (!Live())
      return;
    SendRaw(Text);
  }
  if (!Live())
    return;
  StartNextReply();
}

// --- Failures ---------------------------------------------------------------------

void TGs232::ReportClosed(bool WasActive) {
  QPointer<TGs232> Self(this);
  SetResponding(true);
  if (Self)
    SetMoveTarget(std::nullopt);
  if (Self && WasActive)
    emit ActiveChanged(false);
}

void TGs232::CloseAfterFailure() {
  // Nothing is sent to a port that failed.
  Timer1->stop();
  EndSession();
  const bool WasActive = FActive;
  FActive = false;
  QPointer<TGs232> Self(this);
  if (ComPort->Connected())
    ComPort->Close();
  if (!Self)
    return;
  ReportClosed(WasActive);
}

void TGs232::RaiseMessage(const QString &Text, TMessageKind Kind) {
  if (FMessage)
    FMessage(this, Text, Kind);
}

QString TGs232::ComExceptionText(const QString &ComportMessage, const QString &Port,
                                 int64_t WinError, const QString &WinMessage) {
  QString Text = QStringLiteral("ComException ") + ComportMessage;
  if (WinError <= 0 || WinMessage.isEmpty())
    return Text;
  Text += u'\n' + TComPortBase::DevicePath(Port) + QStringLiteral(": ") + WinMessage;
  if (WinError == EACCES || WinError == EPERM)
    Text += QStringLiteral("\nAdd your user to the dialout group and log in again.");
  return Text;
}

void TGs232::ComPortException(const QString &ComportMessage, int64_t WinError,
                              const QString &WinMessage) {
  if (FReporting)
    return;
  FReporting = true;
  QPointer<TGs232> Self(this);
  CloseAfterFailure();
  if (!Self)
    return;
  FReporting = false;
  RaiseMessage(ComExceptionText(ComportMessage, Port(), WinError, WinMessage), mkInformation);
}

void TGs232::ComPortError(unsigned Errors) {
  if (FReporting)
    return;
  FReporting = true;
  QPointer<TGs232> Self(this);
  CloseAfterFailure();
  if (!Self)
    return;
  FReporting = false;
  RaiseMessage(QStringLiteral("ComError ") + ComErrorsToStr(Errors), mkInformation);
}

// --- Poll ---------------------------------------------------------------------------

void TGs232::Timer1Timer() {
  // The tick runs as a queued call rather than inside the timer's own
  // delivery, so that the timer keeps ticking while a handler of a tick
  // shows a modal box: those ticks then run nested inside the first one.
  if (FTickQueued)
    return;
  FTickQueued = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        FTickQueued = false;
        Guarded([this] { PollTick(); });
      },
      Qt::QueuedConnection);
}

void TGs232::PollTick() {
  // A tick that finds the line taken is skipped: the next one comes soon.
  if (FActive && FLine == lnIdle)
    StartPoll(true);
}

void TGs232::StartPoll(bool FromTick) {
  QPointer<TGs232> Self(this);
  const uint64_t Session = FSession;
  auto Live = [&] { return Self && FActive && FSession == Session; };
  // Whatever waits in the input belongs to an earlier exchange.
  ComPort->ClearInput();
  if (!Live())
    return;
  FLine = lnPoll;
  FPollFromTick = FromTick;
  // Whoever asked for a poll gets this one.
  FPollWaiters += std::exchange(FPollWanted, {});
  FPollBudget = QDeadlineTimer(PositionReadMs, Qt::PreciseTimer);
  ComPort->SendStr(Lang::Line(Lang::PollCommand(FElEnable)));
  // A failure of the write has closed the driver.
  if (Live())
    ReadPositionLine();
}

void TGs232::ReadPositionLine() {
  const uint64_t Session = FSession;
  ComPort->BeginRecv(Lang::PositionReplyLen, true, [this, Session](const QString &Line) {
    PositionLineRead(Session, Line);
  });
}

void TGs232::PositionLineRead(uint64_t Session, const QString &Line) {
  if (Session != FSession || !FActive || FLine != lnPoll)
    return;
  // Line ends of earlier exchanges (a controller answers every command with
  // a CR) may still come in ahead of the reply; they are not part of it. A
  // read that brings nothing else is followed by another while the time one
  // read may take has not passed.
  qsizetype Lead = 0;
  while (Lead < Line.size() && (Line[Lead] == u'\r' || Line[Lead] == u'\n'))
    ++Lead;
  if (Lead == Line.size() && !Line.isEmpty() && !FPollBudget.hasExpired()) {
    ReadPositionLine();
    return;
  }
  FinishPoll(Line.mid(Lead));
}

void TGs232::FinishPoll(const QString &Reply) {
  QPointer<TGs232> Self(this);
  const uint64_t Session = FSession;
  auto Live = [&] { return Self && FActive && FSession == Session; };
  const bool FromTick = FPollFromTick;
  // Those who asked for this poll learn of its end once its checks and
  // reports have run.
  const auto Tell = qScopeGuard([Waiters = std::exchange(FPollWaiters, {})] {
    for (const TDone &Done : Waiters)
      if (Done)
        Guarded([&] { Done(); });
  });
  // A poll without a reply, or with one that is no reading (garbled, cut
  // short), changes no reading and counts as missed: the last known position
  // stands, rather than a made-up 0.
  const std::optional<Lang::TPosition> Reading = Lang::ParsePosition(Reply);
  const bool Answered = Reading.has_value();
  FLine = lnIdle;
  if (Reading) {
    FOrgAzimuthD = Reading->Azimuth;
    FOrgElevationD = Reading->Elevation.value_or(0);
    FAzimuthD = NormalizeAngleD(static_cast<int>(
        std::clamp<int64_t>(int64_t(FOrgAzimuthD) + FAzOffsetD, INT32_MIN, INT32_MAX)));
    FAzimuthR = DegToRad(FAzimuthD);
    FElevationD = NormalizeAngleD(static_cast<int>(
        std::clamp<int64_t>(int64_t(FOrgElevationD) + FElOffsetD, INT32_MIN, INT32_MAX)));
    FElevationR = DegToRad(FElevationD);
  }
  // Commands sent while the reply was awaited go out before anything the
  // checks below, or a receiver of the answering report, send.
  ReleaseLine(!Answered);
  if (!Live())
    return;
  NoteAnswer(Answered);
  if (!Live() || !FromTick || !Answered)
    return;
  FOverlap = FOrgAzimuthD > 360;
  PresetCheck();
  if (!Live())
    return;
  MoveTargetCheck();
  if (!Live())
    return;
  if (FMoving)
    BoundCheck();
  if (!Live())
    return;
  ChangeReport();
}

void TGs232::NoteAnswer(bool Answered) {
  if (Answered) {
    FMissedPolls = 0;
    SetResponding(true);
  } else if (++FMissedPolls >= MissedPollsLimit) {
    SetResponding(false);
  }
}

void TGs232::SetResponding(bool Value) {
  if (FResponding == Value)
    return;
  FResponding = Value;
  if (Value)
    FMissedPolls = 0;
  // A controller that does not answer is asked once a second, so that its
  // line is not kept busy with queries nobody answers.
  Timer1->setInterval(Value ? PollIntervalMs : SilentPollIntervalMs);
  emit RespondingChanged(Value);
}

void TGs232::ParseReply(const QString &Reply, int &OrgAzimuthD, int &OrgElevationD) {
  const std::optional<Lang::TPosition> Reading = Lang::ParsePosition(Reply);
  OrgAzimuthD = Reading ? Reading->Azimuth : 0;
  OrgElevationD = Reading ? Reading->Elevation.value_or(0) : 0;
}

void TGs232::PresetCheck() {
  if (!FPresetting || !FReachPreset) {
    ForgetApproach();
    return;
  }
  // On the circle in the 360° range: a reading of 0 meets a preset of 360.
  const int64_t Off = DegreesOff(int64_t(FAzimuthD) + FTempOffsetD - FAzPresetD);
  if (Off > 2) {
    ForgetApproach();
    return;
  }
  // Within reach the rotator is let go on while it still comes closer: a
  // controller sent to the target stops there by itself, and the stop that
  // answers the arrival must not cut it short. It has arrived once it reads
  // the preset, or comes no closer for a while.
  if (!FClosest || Off < *FClosest) {
    FClosest = Off;
    FClosestSince.start();
  }
  if (Off != 0 && !FClosestSince.hasExpired(PresetSettleMs))
    return;
  // Cleared before the handler runs: its stop command may run a list that
  // waits, and the polls inside that wait must not report the same preset
  // again; a preset the handler sets stays pending.
  FPresetting = false;
  ForgetApproach();
  TReachPresetEvent Handler = FReachPreset;
  Handler(this);
}

void TGs232::ForgetApproach() { FClosest.reset(); }

void TGs232::MoveTargetCheck() {
  if (!FMoveTarget)
    return;
  if (DegreesOff(int64_t(FAzimuthD) + FTempOffsetD - *FMoveTarget) <= 2)
    SetMoveTarget(std::nullopt);
}

int64_t TGs232::DegreesOff(int64_t Difference) const {
  // In the 360° range 0 and 360 are the same place; in the 450° range every
  // reading is a place of its own.
  if (FAzimuthAngle != az360)
    return std::llabs(Difference);
  const int64_t Off = ((Difference % 360) + 360) % 360;
  return std::min<int64_t>(Off, 360 - Off);
}

void TGs232::SetMoveTarget(std::optional<int> Az) {
  if (FMoveTarget == Az)
    return;
  FMoveTarget = Az;
  emit MoveTargetChanged();
}

int TGs232::TravelPosition() const {
  // The raw reading; with the centre north the ends of travel lie south.
  const int A = FOrgAzimuthD;
  if (FCenterPosition == cpNorth)
    return (A < 180 || A > 359) ? A + 180 : A - 180;
  return A;
}

void TGs232::BoundCheck() {
  const int A = TravelPosition();
  TBoundPosition Bound = bpNone;
  if (A >= iAzCwBound)
    Bound = bpCWBound;
  else if (A <= iAzCcwBound)
    Bound = bpCCWBound;
  if (Bound == bpNone)
    return;
  // Only a rotator heading for that end is stopped there: one that rests at
  // an end since the opening, or is turned away from it, goes on.
  TBoundPosition Heading = FHeading;
  if (FTravelBefore && A != *FTravelBefore)
    Heading = A > *FTravelBefore ? bpCWBound : bpCCWBound;
  if (Heading != Bound)
    return;
  QPointer<TGs232> Self(this);
  Stop();
  if (!Self || !FActive)
    return;
  if (TReachBoundEvent Handler = FReachBound)
    Handler(this, Bound);
}

void TGs232::ChangeReport() {
  if (std::abs(iAzBefore - FAzimuthD) < 2 && std::abs(iElBefore - FElevationD) < 2)
    return;
  FMoving = true;
  // The last reading is taken as reported also when nobody listens: else a
  // driver without a handler would count as moving on every tick, and one
  // standing at a bound would be stopped again every 100 ms.
  iAzBefore = FAzimuthD;
  iElBefore = FElevationD;
  const int Travel = TravelPosition();
  if (FTravelBefore && Travel != *FTravelBefore)
    FHeading = Travel > *FTravelBefore ? bpCWBound : bpCCWBound;
  else
    FHeading = bpNone;
  FTravelBefore = Travel;
  if (TChangeAzElEvent Handler = FChangeAzEl)
    Handler(this);
}

// --- Commands -----------------------------------------------------------------------

// The items of a command list still to run. Its caller learns of its end
// once: at the end, when the list is dropped, or, for a list whose driver is
// freed while it waits, from the event loop.
struct TGs232::TListRun {
  struct TItem {
    QString Text;
    // A movement runs CommandB before it, a stop CommandA after it.
    bool WithLists = true;
  };
  std::deque<TItem> Items;
  uint64_t Session = 0;
  // The stops sent before the list began: a stop sent while it waits drops
  // the movements still to come.
  uint64_t Stops = 0;
  TDone Done;

  ~TListRun() {
    if (Done && QCoreApplication::instance())
      QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(Done),
                                Qt::QueuedConnection);
  }
  void Finish() {
    if (TDone Caller = std::exchange(Done, nullptr))
      Guarded([&] { Caller(); });
  }
};

void TGs232::DoCmd(const QString &Cmd, TDone Done) {
  auto Run = std::make_shared<TListRun>();
  Run->Session = FSession;
  Run->Stops = FStops;
  Run->Done = std::move(Done);
  if (FActive)
    for (const QString &Item : SplitCommandList(UpperAscii(Cmd)))
      Run->Items.push_back({Item, true});
  RunList(Run);
}

void TGs232::RunList(const std::shared_ptr<TListRun> &Run) {
  QPointer<TGs232> Self(this);
  // Other work runs during a wait: the driver may be closed, reopened or
  // freed by the time it ends, and then the rest of the list is dropped.
  auto Live = [&] { return Self && FActive && FSession == Run->Session; };
  auto Insert = [&Run](const QString &List, qsizetype At) {
    const QStringList Items = SplitCommandList(UpperAscii(List));
    for (qsizetype I = 0; I < Items.size(); ++I)
      Run->Items.insert(Run->Items.begin() + At + I, {Items[I], false});
  };
  while (!Run->Items.empty() && Live()) {
    const TListRun::TItem Item = Run->Items.front();
    Run->Items.pop_front();
    if (Item.Text.startsWith(QLatin1String("WAIT"))) {
      int Ms = 0;
      if (ParseInt(Item.Text.mid(4, WaitDigitsMax), Ms) && Ms > 0) {
        // Only the rest of this list waits.
        QTimer::singleShot(Ms, Qt::PreciseTimer, this, [this, Run] { RunList(Run); });
        return;
      }
      continue;
    }
    const QChar First = Item.Text.isEmpty() ? QChar() : Item.Text[0];
    const QString Line = Item.Text + u'\r';
    // A stop or a turn by hand ends a movement to a target.
    if (FMoveTarget && (First == u'S' || First == u'A' || First == u'L' || First == u'R')) {
      SetMoveTarget(std::nullopt);
      if (!Live())
        break;
    }
    switch (First.unicode()) {
    case u'L':
    case u'R':
    case u'M':
    case u'U':
    case u'D':
      // A stop sent since the list began supersedes its movements.
      if (Run->Stops != FStops)
        break;
      if (Item.WithLists) {
        // CommandB first, then this movement, before the rest of the list.
        Run->Items.push_front({Item.Text, false});
        Insert(FCommandB, 0);
        continue;
      }
      SendRaw(Line);
      break;
    case u'S':
      if (!SendStop(Line))
        break;
      // The list's own stop does not drop the movements that follow it.
      Run->Stops = FStops;
      if (Item.WithLists)
        Insert(FCommandA, 0);
      break;
    case u'Y': {
      const QChar Digit = Item.Text.size() > 1 ? Item.Text[1] : QChar();
      const int Relay = (Digit >= u'0' && Digit <= u'9') ? Digit.unicode() - u'0' : 0;
      const bool On = Item.Text.size() > 2 && Item.Text[2] == u'1';
      FRelayArray->SetRelay(Relay - 1, On);
      if (!Live())
        break;
      SendRaw(Line);
      break;
    }
    default:
      SendRaw(Line);
      break;
    }
  }
  Run->Items.clear();
  Run->Finish();
}

void TGs232::GoCW() {
  if (FActive)
    DoCmd(Lang::TurnCommand(Lang::TTurn::Cw));
}

void TGs232::GoCCW() {
  if (FActive)
    DoCmd(Lang::TurnCommand(Lang::TTurn::Ccw));
}

void TGs232::GoUp() {
  if (FActive)
    DoCmd(Lang::TurnCommand(Lang::TTurn::Up));
}

void TGs232::GoDown() {
  if (FActive)
    DoCmd(Lang::TurnCommand(Lang::TTurn::Down));
}

void TGs232::Stop() {
  if (!FActive)
    return;
  FMoving = false;
  DoCmd(Lang::StopCommand());
}

// --- Positioning --------------------------------------------------------------------

int TGs232::NormalizeAngleD(int A) const {
  if (FAzimuthAngle == az450 && A >= 0 && A <= 450)
    return A;
  const int M = A % 360;
  return M < 0 ? M + 360 : M;
}

double TGs232::NormalizeAngleR(double X) const {
  constexpr double FullTurn = 2 * M_PI;
  if (FAzimuthAngle == az450 && X >= 0 && X <= 2.5 * M_PI)
    return X;
  double M = std::fmod(X, FullTurn);
  if (M < 0)
    M += FullTurn;
  // A tiny negative remainder plus a full turn rounds to a full turn.
  return M >= FullTurn ? 0.0 : M;
}

int TGs232::Target(int64_t Degrees) const {
  // Normalised in 64 bits, so that no sum of preset and offsets overflows.
  if (FAzimuthAngle == az450 && Degrees >= 0 && Degrees <= 450)
    return static_cast<int>(Degrees);
  const int64_t T = Degrees % 360;
  return static_cast<int>(T < 0 ? T + 360 : T);
}

namespace {

// A go-to-azimuth-and-elevation command as one item of a command list:
// quoted, so that the blank stays inside the one command line.
QString AsListItem(const QString &Command) { return u'"' + Command + u'"'; }

} // namespace

void TGs232::SetPreset(int Az) {
  ForgetApproach();
  FAzPresetD = Az;
  FAzPresetR = DegToRad(Az);
  FPresetting = true;
}

void TGs232::SetPreset(double Az) { SetPreset(RadToDeg(NormalizeAngleR(Az))); }

void TGs232::SetPreset(int Az, int El) {
  ForgetApproach();
  FAzPresetD = Az;
  FAzPresetR = DegToRad(Az);
  FElPresetD = El;
  FElPresetR = DegToRad(El);
  FPresetting = true;
}

void TGs232::ResetPreset() {
  SetPreset(0, 0);
  FPresetting = false;
}

void TGs232::GoPreset() {
  if (!FActive || !FPresetting)
    return;
  ForgetApproach();
  const int Az = Target(int64_t(FAzPresetD) - FAzOffsetD - FTempOffsetD);
  if (FElEnable) {
    const int El = Target(int64_t(FElPresetD) - FElOffsetD);
    GoTo(AsListItem(Lang::GoToAzimuthElevation(Az, El)), FAzPresetD);
  } else {
    GoTo(Lang::GoToAzimuth(Az), FAzPresetD);
  }
}

void TGs232::GoPreset(int Az) {
  if (!FActive)
    return;
  FPresetting = true;
  const int P = NormalizeAngleD(Az);
  if (!GoTo(Lang::GoToAzimuth(Target(int64_t(P) - FAzOffsetD - FTempOffsetD)), P))
    return;
  ForgetApproach();
  FAzPresetD = P;
  FAzPresetR = DegToRad(P);
}

void TGs232::GoPreset(int Az, int El) {
  if (!FActive || !FPresetting)
    return;
  const int P = NormalizeAngleD(Az);
  const int E = NormalizeAngleD(El);
  if (!GoTo(AsListItem(Lang::GoToAzimuthElevation(Target(int64_t(P) - FAzOffsetD - FTempOffsetD),
                                                  Target(int64_t(E) - FElOffsetD))),
            P))
    return;
  ForgetApproach();
  FAzPresetD = P;
  FAzPresetR = DegToRad(P);
  FElPresetD = E;
  FElPresetR = DegToRad(E);
}

bool TGs232::GoTo(const QString &Cmd, int Az, TDone Done) {
  QPointer<TGs232> Self(this);
  const uint64_t Session = FSession;
  // The target is set once the command is out, after the CommandB list. A
  // list that waited may have seen the port closed (and opened again), or a
  // stop: the command did not go out then, and there is no target.
  DoCmd(Cmd, [this, Self, Session, Stops = FStops, Az, Done = std::move(Done)] {
    if (Self && FActive && FSession == Session && FStops == Stops)
      SetMoveTarget(Az);
    if (Done)
      Done();
  });
  return Self;
}

void TGs232::ApplySettings(const TRotatorSettings &Settings) {
  FTitle = Settings.Title;
  FMapFileName = Settings.MapFileName;
  FEnable = Settings.Enable;
  FAutoActive = Settings.AutoActive;
  SetModel(Settings.Model);
  SetCenterPosition(Settings.CenterPosition);
  SetAzimuthAngle(Settings.AzimuthAngle);
  SetRotationSpeed(Settings.RotationSpeed);
  SetHome(Settings.Home, 0);
  SetReturnHome(Settings.ReturnHome);
  SetOffset(Settings.Offset, 0);
  SetCommandB(Settings.CommandB);
  SetCommandA(Settings.CommandA);
  FRelayArray->SetCount(Settings.RelaysCount);
  SetElEnable(false);
  SetPort(Settings.Port);
  SetBaudRate(Settings.BaudRate);
  SetDataBits(Settings.DataBits);
  SetParity(Settings.Parity);
  SetStopBits(Settings.StopBits);
  SetFlowControl(Settings.FlowControl);
}

TRotatorSettings TGs232::Settings() const {
  TRotatorSettings Settings;
  Settings.Title = FTitle;
  Settings.MapFileName = FMapFileName;
  Settings.Enable = FEnable;
  Settings.AutoActive = FAutoActive;
  Settings.Model = FModel;
  Settings.CenterPosition = FCenterPosition;
  Settings.AzimuthAngle = FAzimuthAngle;
  Settings.RotationSpeed = FRotationSpeed;
  Settings.Home = FAzHomeD;
  Settings.ReturnHome = FReturnHome;
  Settings.Offset = FAzOffsetD;
  Settings.CommandB = FCommandB;
  Settings.CommandA = FCommandA;
  Settings.RelaysCount = FRelayArray->Count();
  Settings.Port = Port();
  Settings.BaudRate = BaudRate();
  Settings.DataBits = DataBits();
  Settings.Parity = Parity();
  Settings.StopBits = StopBits();
  Settings.FlowControl = FlowControl();
  return Settings;
}

void TGs232::SetHome(int Az) {
  FAzHomeD = NormalizeAngleD(Az);
  FAzHomeR = DegToRad(FAzHomeD);
}

void TGs232::SetHome(int Az, int El) {
  SetHome(Az);
  FElHomeD = El;
  FElHomeR = DegToRad(El);
}

void TGs232::GoHome(TDone Done) {
  if (!FActive) {
    if (Done)
      Done();
    return;
  }
  // Home takes no temporary offset: in the degrees of a preset it lies that
  // offset further on.
  const int Home = static_cast<int>(
      std::clamp<int64_t>(int64_t(FAzHomeD) + FTempOffsetD, INT32_MIN, INT32_MAX));
  GoTo(Lang::GoToAzimuth(Target(int64_t(FAzHomeD) - FAzOffsetD)), Home, std::move(Done));
}

void TGs232::SetOffset(int Az) {
  FAzOffsetD = Az;
  FAzOffsetR = DegToRad(Az);
}

void TGs232::SetOffset(int Az, int El) {
  SetOffset(Az);
  FElOffsetD = El;
  FElOffsetR = DegToRad(El);
}

void TGs232::SetTempOffsetD(int Value) {
  FTempOffsetD = Value;
  FTempOffsetR = DegToRad(Value);
}

void TGs232::SetTempOffsetR(double Value) {
  FTempOffsetR = Value;
  FTempOffsetD = RadToDeg(Value);
}

// --- Settings -----------------------------------------------------------------------

void TGs232::SetCenterPosition(TCenterPosition Value) {
  FCenterPosition = Value;
  if (FActive)
    SendCenterPosition();
}

void TGs232::SetAzimuthAngle(TAzimuthAngle Value) {
  FAzimuthAngle = Value;
  iAzCcwBound = 0;
  iAzCwBound = Value == az450 ? 450 : 359;
  if (FActive)
    SendRaw(Lang::Line(Lang::RangeCommand(Value)));
}

void TGs232::SetRotationSpeed(const QString &Value) {
  FRotationSpeed = Value;
  // An empty speed has no character to send.
  if (const std::optional<QString> Command = Lang::SpeedCommand(Value); FActive && Command)
    SendRaw(Lang::Line(*Command));
}

QString TGs232::Port() const { return ComPort->Port(); }
void TGs232::SetPort(const QString &Value) { ComPort->SetPort(Value); }
QString TGs232::BaudRate() const { return ComPort->BaudRate(); }
void TGs232::SetBaudRate(const QString &Value) { ComPort->SetBaudRate(Value); }
QString TGs232::DataBits() const { return ComPort->DataBits(); }
void TGs232::SetDataBits(const QString &Value) { ComPort->SetDataBits(Value); }
QString TGs232::Parity() const { return ComPort->Parity(); }
void TGs232::SetParity(const QString &Value) { ComPort->SetParity(Value); }
QString TGs232::StopBits() const { return ComPort->StopBits(); }
void TGs232::SetStopBits(const QString &Value) { ComPort->SetStopBits(Value); }
QString TGs232::FlowControl() const { return ComPort->FlowControl(); }
void TGs232::SetFlowControl(const QString &Value) { ComPort->SetFlowControl(Value); }
