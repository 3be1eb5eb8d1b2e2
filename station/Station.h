#pragma once
// The station: every rotator of the program with its settings and driver,
// the current rotator, the frequency control table with its switch and the
// frequency-driven operation, the settings document they are kept in, and
// the start-up and closing sequences. It needs no window: the main window is
// one view of it, the automation and rotctld servers act on it through
// TCommandSurface, and `orbalt --headless` runs it on its own.
//
// Invariants:
// - Rotator i is driven by Driver(i); its settings are Driver(i).Settings().
//   The drivers stay inside: front ends act through the command surface. The
//   order is the order of the tabs and of the document's entries.
// - New rotators are named "Rotator" + the smallest free number, counted
//   from the titles of the rotators present, so no two new rotators share a
//   name.
// - Every change of the rotator list (insert, delete, move, new settings) is
//   written to the settings document at once. A document that is not
//   well-formed is never replaced: writing it fails and the failure is
//   reported; the closing sequence writes only a document it has read.
//
// Nothing here shows anything: messages for the operator (load problems,
// the drivers' messages) are raised as the Message signal, and the owner
// shows them. Guarded steps report their exceptions through the
// user-interface services' exception dialog.
//
// Everything runs on the main thread. The drivers' command lists resume
// after their WAIT items on timers, and the owner's message boxes run nested
// event loops: the list of rotators may change meanwhile. A removed driver is
// made inert at once and freed through the event loop, so code further up
// the stack that still holds it finds it closed, never freed under its feet.

#include "ctrltable/CtrlTable.h"
#include "ctrltable/FreqOperation.h"
#include "rotator/Gs232.h"
#include "settings/StationSettings.h"
#include "station/CommandSurface.h"
#include "station/Bearing.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>
#include <variant>
#include <vector>

class TStation : public QObject, public TCommandSurface {
  Q_OBJECT
public:
  // A station kept in SettingsFile; the control table "CtrlTable.xml" lies
  // beside it. Nothing is read until Load.
  explicit TStation(const QString &SettingsFile, QObject *Parent = nullptr);
  // Frees the drivers without sending anything.
  ~TStation() override;

  QString SettingsFile() const { return FSettingsFile; }
  QString CtrlTableFile() const { return FCtrlTableFile; }

  // --- Start and close -------------------------------------------------------
  // Releases the rotators it has (RotatorRemoved each), then reads the
  // control-table switch, the control table (a table file that can't be read
  // leaves the table empty) and the rotators (RotatorAdded each); a document
  // without rotators gives one default rotator. Nothing runs the event loop
  // meanwhile: the problems found (a table file that can't be read, keys
  // that did not convert) are reported once the whole station is in, so a
  // client served behind their boxes never sees it half loaded; once the
  // station is closing, the rest of them are dropped. Throws TSettingsError
  // when the document can't be read; the station then has no rotators.
  // Nothing once the station is closing.
  void Load();
  // Opens the rotators that open at start ("AutoActive"), then runs the
  // start lists of the control table's default row. Nothing once the
  // station is closing. With OpenEveryEnabled (a station without a window,
  // where nobody is there to press Open) every enabled rotator is opened
  // too, through OpenRotator's rules. Each rotator opens on its own: a port
  // that fails (its exception shown through the user-interface services) or
  // a refusal becomes that rotator's OpenProblem, and the others still open.
  void Start(bool OpenEveryEnabled = false);
  // The program is ending: from now on no rotator opens, by whoever asks,
  // other than for the closing sequence's home command, so nothing turns or
  // polls after it; Load and Start do nothing. Close begins with it; the
  // owner calls it earlier when the end is asked for while the start-up is
  // still under way.
  void BeginClosing() { FClosing = true; }
  // The command surface takes no new work either.
  bool Closing() const override { return FClosing; }
  // The last failure the driver of rotator Index reported while closed (a
  // port that would not open or was lost), or why the start did not open
  // it; cleared when it opens.
  QString OpenProblem(int Index) const override;
  // The closing sequence, each step on its own so that one failure does not
  // keep the others from running: the default row's stop lists; every
  // rotator with "ReturnHome" opened if need be and sent home; every rotator
  // closed, and what they were sent allowed to leave the lines; the rotators
  // written to the document (when Load read it). Then
  // the drivers are released, last first, each raising RotatorRemoved, and
  // the station has no rotators. Runs once; a later call only adds its
  // Done. From its
  // start the station is closing (see BeginClosing): a rotator that a client
  // asks to open while the sequence runs or waits for the lines stays
  // closed.
  // The sequence runs on the event loop where something waits (a list's
  // WAIT, the lines' drain); Done runs, and ClosingEnded is raised, once it
  // has ended: at once when nothing waited.
  void Close(std::function<void()> Done = {});
  // The closing sequence has begun, and has ended.
  bool CloseBegun() const { return FClosed; }
  bool Closed() const { return FClosingEnded; }
  // Whether Close could not write the rotators to the document (its error
  // was shown as any step's); the document then stays as it was.
  bool ClosingSaveFailed() const { return FClosingSaveFailed; }

  // --- Rotators ----------------------------------------------------------------
  int RotatorCount() const override { return static_cast<int>(FDrivers.size()); }
  TRotatorSettings RotatorSettings(int Index) const override;
  bool RotatorEnabled(int Index) const override;
  // The index of Driver, or -1 when it is none of the station's.
  int IndexOf(const QObject *Driver) const;
  // The rotator whose tab was selected last; the view sets it.
  int CurrentRotator() const override { return FCurrentRotator; }
  void SetCurrentRotator(int Index) { FCurrentRotator = Index; }
  // The view shows rotator Index's page now, or no longer (the rotator's
  // "current" mark); nothing for an index out of range.
  void SetShowing(int Index, bool Showing);
  // "Rotator" and the smallest whole number from 1 up that no title of the
  // form "Rotator<number>" uses: the first gap, or one past the last number.
  QString NextRotatorName() const;

  // A new rotator with default settings and the next free name at Index
  // (0 to RotatorCount()); raises RotatorAdded, then writes the document.
  void InsertRotator(int Index);
  // Removes rotator Index, unless it is the last one left (false); raises
  // RotatorRemoved, then writes the document.
  bool DeleteRotator(int Index);
  // Moves rotator From to To, the others shifting by one place; raises
  // RotatorMoved (not when From is To), then writes the document.
  void MoveRotator(int From, int To);
  // New settings for rotator Index, as the options dialog confirms them: the
  // port is closed, the settings applied, the document written (a failure is
  // reported and the remaining steps run), and the port opened again when
  // the rotator opens automatically.
  void ApplyRotatorSettings(int Index, const TRotatorSettings &Settings);
  // Writes the control-table switch and every rotator to the document.
  void SaveRotators();

  // --- The station's location --------------------------------------------
  // Read by Load from "/Station".
  const TStationSettings &Location() const { return FLocation; }
  // New station settings: written to the document at once (a failure
  // throws TSettingsError and keeps the old ones); raises LocationChanged.
  void SetLocation(const TStationSettings &Settings);
  // The station's position, or why there is none.
  std::variant<TLatLon, QString> Position() const { return StationPosition(FLocation); }
  // Place read (a call through the station's country file, read again when
  // the file changed) and the bearings to it; or what went wrong.
  struct TAim {
    TPlace Place;
    TBearing Bearing;
  };
  std::variant<TAim, QString> Aim(const QString &Place);
  // Turns rotator Index to Place: the short path's bearing, or the long
  // path's, rounded to a whole degree, becomes its preset and it goes there,
  // its offsets applying as for any preset. The rotator must be enabled and
  // open. The azimuth set, or why nothing was done.
  // Source names who asked, as for GoToAzimuth.
  std::variant<double, QString> TurnTo(int Index, const QString &Place, bool LongPath,
                                       TCommandSource Source = TCommandSource::Window);

  // --- Control table -----------------------------------------------------------
  bool CtrlTableEnable() const override { return FCtrlTableEnable; }
  void SetCtrlTableEnable(bool Value) { FCtrlTableEnable = Value; }
  const TCtrlTable &CtrlTable() const { return FCtrlTable; }
  // Reads the table file again when it exists; throws when it can't be read.
  void ReloadCtrlTable();
  void AutoOperation(int Az, double Freq) override;
  // The radio is on Freq (MHz), from band following: the control table's
  // lists run on a change of row (see TFreqOperation::FollowFrequency) and
  // the row's rotator, when it names one, becomes the current rotator
  // (CurrentRotatorFollowed). Nothing turns.
  void FollowFrequency(double Freq);
  TFreqOperation &FreqOperation() { return FFreqOperation; }

signals:
  // Rotator Index was inserted, removed, or moved from From to To.
  void RotatorAdded(int Index);
  void RotatorRemoved(int Index);
  void RotatorMoved(int From, int To);
  // Rotator Index's port was opened or closed, for any reason.
  void RotatorOpened(int Index);
  void RotatorClosed(int Index);
  // Rotator Index's controller stopped answering its polls (Responding
  // false) or answers again (see TGs232::Responding).
  void RotatorRespondingChanged(int Index, bool Responding);
  // Rotator Index was sent to a target, or its movement there ended (see
  // TGs232::MoveTarget), whoever started it.
  void RotatorMoveTargetChanged(int Index);
  // Rotator Index's events: position changed, preset reached (the station
  // has sent the stop with its after-movement list already), a travel bound
  // reached (the driver has stopped it), the relay states changed.
  void AzimuthChanged(int Index);
  void PresetReached(int Index);
  void BoundReached(int Index, TBoundPosition Bound);
  void RelaysChanged(int Index);
  // The closing sequence has ended (see Close).
  void ClosingEnded();
  // The frequency-driven operation turned rotator Index to Az.
  void TablePresetShown(int Index, int Az);
  // A message for the operator.
  void Message(const QString &Text, TMessageKind Kind);
  // Band following made rotator Index the current one; the view shows it.
  void CurrentRotatorFollowed(int Index);
  // The station's settings (its location, its country file) changed.
  void LocationChanged();

protected:
  TGs232 &Driver(int Index) override;
  const TGs232 &Driver(int Index) const;

private:
  // The tests reach the drivers through it (tests/station/StationSeam.h).
  friend struct TStationSeam;

  std::unique_ptr<TGs232> MakeDriver(const TRotatorSettings &Settings);
  // Whether Driver may open now: always, until the station is closing; then
  // only in its own closing step.
  bool MayOpen(const TGs232 *Driver) const;
  // Makes a removed driver inert at once and frees it through the event loop.
  static void Dispose(std::unique_ptr<TGs232> Driver);
  // Releases every driver, last first, each raising RotatorRemoved.
  void ReleaseAll();
  // The drivers as they are now, for loops whose steps may run nested event
  // loops: a driver freed meanwhile reads as null.
  QList<QPointer<TGs232>> Snapshot() const;
  void RaiseProblems(const QString &Text);
  // The closing sequence's steps: the rotators from Next on sent home and
  // closed, each once the one before is done; the wait for the lines'
  // drain; the save and the release; the callers told.
  void CloseRotators(const QList<QPointer<TGs232>> &Drivers, qsizetype Next);
  void WaitForDrains();
  void FinishClosing();
  void EndClosing();

  // The country file of the station settings, read when first needed and
  // again when its name or modification time changed; null with the reason
  // when there is none.
  const TCountryFile *Countries(QString *Error);

  QString FSettingsFile;
  QString FCtrlTableFile;
  TStationSettings FLocation;
  std::optional<TCountryFile> FCountries;
  QString FCountriesName;
  QDateTime FCountriesTime;
  std::vector<std::unique_ptr<TGs232>> FDrivers;
  int FCurrentRotator = 0;
  bool FCtrlTableEnable = false;
  TCtrlTable FCtrlTable;
  TFreqOperation FFreqOperation;
  // The document was read: saving may replace it.
  bool FLoaded = false;
  // Close has begun, and has ended.
  bool FClosed = false;
  bool FClosingEnded = false;
  QList<std::function<void()>> FClosingWaiters;
  bool FClosing = false;
  // The driver whose closing step (home, close) runs: the one that may open.
  QPointer<TGs232> FClosingStep;
  bool FClosingSaveFailed = false;
};
