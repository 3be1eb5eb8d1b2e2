#pragma once
// The rotator controller's language: what the driver says to a controller
// and what it makes of the controller's answers, as pure functions.
//
// Commands are short upper-case texts; on the line each one is followed by a
// CR (Line). The three models ("GS-232A", "GS-232B", "KELVANE") share the
// command set and the position replies and differ only in the command that
// tells the controller where the middle of the rotator's travel lies.
//
// A position reply comes in one of two styles: "+0aaa" or "+0aaa+0eee", and
// "AZ=aaa" or "AZ=aaa EL=eee" (one or more blanks before "EL="), where aaa
// and eee are three characters each read as a signed decimal number
// (leading blanks allowed). A reply is a reading only when its azimuth is:
// garbled, truncated or empty replies give no reading, never a made-up 0.
// The elevation is read from what there is of it, since the position read
// ends after PositionReplyLen characters ("AZ=123 EL=145" arrives as
// "AZ=123 EL=1" and reads an elevation of 1).
//
// No state, no port: every function may be called from any thread.

#include "rotator/RotatorSettings.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace ControllerLanguage {

enum class TModel { Gs232A, Gs232B, Kelvane };

// The model named Name, compared exactly, case included; any other name
// (empty, "gs-232b") speaks as "GS-232A".
TModel ModelNamed(const QString &Name);

enum class TTurn { Cw, Ccw, Up, Down };

// A position reply is read up to this many characters: "AZ=aaa EL=e".
constexpr int PositionReplyLen = 11;
// The "GS-232B" centre command is answered by a listing, of which this many
// characters are read and thrown away.
constexpr int ListingReplyLen = 30;

// The command as it goes on the line: the text and a CR.
QString Line(const QString &Command);

// Sent by every opening, in order: "K0" only by the first opening of a
// driver, then "S" and "I0".
QStringList OpenCommands(bool FirstOpening);
// The centre-position command, sent after the opening commands and whenever
// the centre changes while open: "ZN" or "ZS" for "KELVANE", "H3" for
// "GS-232B" (whatever the centre), none for "GS-232A".
std::optional<QString> CenterCommand(TModel Model, TCenterPosition Centre);
// The centre-position command is answered by a listing (ListingReplyLen).
bool CenterCommandAnswers(TModel Model);
// Sent by closing: nothing but the CR of Line.
QString CloseCommand();

// The position query: "C2" when the controller has an elevation axis, else "C".
QString PollCommand(bool Elevation);
// "R", "L", "U", "D".
QString TurnCommand(TTurn Turn);
QString StopCommand();
// "M" + the target in controller degrees, zero-padded to three digits
// ("M005", "M450"). Target is already in the rotation range (0 to 450).
QString GoToAzimuth(int Target);
// "W" + azimuth + blank + elevation, each as in GoToAzimuth ("W090 045").
QString GoToAzimuthElevation(int Azimuth, int Elevation);
// "P36" or "P45".
QString RangeCommand(TAzimuthAngle Range);
// "X" + the first character of Speed ("1" to "4"); none for an empty Speed.
std::optional<QString> SpeedCommand(const QString &Speed);

// A position reading in controller degrees, as the controller reported it.
struct TPosition {
  int Azimuth = 0;
  // Absent when the reply carries no elevation, or none that is a number.
  std::optional<int> Elevation;

  friend bool operator==(const TPosition &, const TPosition &) = default;
};

// The reading in a position reply, its line end (CR, LF) included or not;
// none for a reply whose azimuth is garbled, cut short or missing. Text after
// a complete reply is ignored.
std::optional<TPosition> ParsePosition(QStringView Reply);

} // namespace ControllerLanguage
