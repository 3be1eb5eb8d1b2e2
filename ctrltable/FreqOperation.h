#pragma once
// The frequency-driven operation: an azimuth handed over together with the
// radio frequency in use selects the first control-table row whose range
// holds the frequency, turns the row's rotator with the row's offset as its
// temporary offset, and runs the command lists of the row that is left
// (Command2) and of the row that is entered (Command1). The default row's
// lists run at program start (Command1) and end (Command2).
//
// A table command list is a comma-separated list of items "C" + rotator
// digit + ":" + rotator command (C1:Y11,C2:WAIT500), with quoted text and
// CHAR(n) codes expanded first; each command goes to that rotator, which
// runs it as its own command list. Rotators are numbered from 1 here.
//
// Everything works only while the control table switch is on, and stops
// silently otherwise: nothing is reported to the operator or the caller.
//
// Runs on the main thread. A WAIT item lets other work run, a further
// AutoOperation included; the interrupted operation then finishes its lists
// and remembers its own row last.

#include "ctrltable/CtrlTable.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class TFreqOperation {
public:
  // What the operation works on; the owner keeps these alive. All but
  // ShowPreset must be set.
  struct TLinks {
    // The control table switch and the table the owner keeps up to date.
    const bool *CtrlTableEnable = nullptr;
    const TCtrlTable *CtrlTable = nullptr;
    // Number of rotators.
    std::function<int()> RotatorCount;
    // Turns rotator Index (0-based) to Az with Offset as its temporary
    // offset; false when the rotator may not be steered (not open).
    std::function<bool(int Index, int Az, int Offset)> Turn;
    // Sends a command list to rotator Index; Done runs once it has run (at
    // once for a rotator that can't take it).
    std::function<void(int Index, const QString &Commands, std::function<void()> Done)> Send;
    // The "Enable" value of rotator Index's settings.
    std::function<bool(int Index)> RotatorEnabled;
    // Shows Az as the preset of rotator Index where that rotator's page is
    // the visible one (preset edit and needle); optional.
    std::function<void(int Index, int Az)> ShowPreset;
  };

  // Called once a table list has run, its waits included.
  using TDone = std::function<void()>;

  explicit TFreqOperation(TLinks Links);
  // Lists still waiting are dropped: nothing is called back.
  ~TFreqOperation();

  // Turns the rotator of the row that holds AFreq to AAz (whole degrees),
  // then runs the previous row's Command2 unless it equals the new row's,
  // then the new row's Command1 unless it equals the previous row's. A row
  // whose Rotator is 0 turns nothing and runs its lists; a disabled
  // rotator, a closed port or a rotator number out of range stops it before
  // any list runs and leaves the remembered lists as they were.
  void AutoOperation(int AAz, double AFreq);
  // The radio is now on AFreq (band following): when the row that holds it
  // is another than the row followed last, the lists run as AutoOperation
  // runs them on a change of row, but nothing turns, and the row's rotator
  // is returned (0-based; -1 for a row without one). Nothing when no row
  // holds AFreq, the row is the one followed last, or the table is off.
  std::optional<int> FollowFrequency(double AFreq);
  // Runs the default row's Command1 (AtStart) or Command2; the remembered
  // lists stay as they are. Done runs once it has run.
  void RunDefaultCommands(bool AtStart, TDone Done = {});
  // Runs a table command list unless it is empty or equal to Previous, then
  // Done. Items without the rotator prefix ("C" or "c", a digit 1 to 9, ":")
  // and items naming a rotator that does not exist are skipped; the rest
  // runs, each item once the one before has run: a WAIT item delays the
  // items after it, and the call returns meanwhile.
  void RunCommands(const QString &Commands, const QString &Previous, TDone Done = {});

  // Command1 and Command2 of the row whose lists ran last; empty at first.
  QString BeforeCommand1() const { return FBeforeCommand1; }
  QString BeforeCommand2() const { return FBeforeCommand2; }

  // Replaces quoted text by its content (which is not expanded further) and
  // CHAR(n) by the character with the code n modulo 65536 (n decimal, or
  // hexadecimal after $, x or 0x; an unreadable n gives nothing). Both
  // tokens are found in any letter case. An unclosed quote or CHAR( keeps
  // the rest of the text as it stands.
  static QString ExpandCommand(const QString &Text);
  // Splits an expanded list into its items: items end at a comma or a blank
  // (a space or any control character); an item that starts with a double
  // quote runs to the closing one, "" standing for one quote inside it;
  // two commas in a row enclose an empty item, and so does a comma that
  // ends the text.
  static QStringList SplitItems(const QString &Text);

private:
  // Runs the lists of a change of row (the left row's Command2, the entered
  // row's Command1), remembers the entered row's lists, then Done.
  void RunRowLists(const QString &C1, const QString &C2, TDone Done);
  // Runs Items from Next on, each once the one before has run, then Done.
  void RunItems(const std::shared_ptr<QStringList> &Items, qsizetype Next, TDone Done);

  TLinks FLinks;
  // Expires with the operation: lists still waiting then do nothing more.
  std::shared_ptr<bool> FAlive;
  QString FBeforeCommand1;
  QString FBeforeCommand2;
  // The bounds of the row band following entered last: the same row again
  // changes nothing, so the operator may pick another rotator meanwhile.
  std::optional<std::pair<double, double>> FFollowedRow;
};
