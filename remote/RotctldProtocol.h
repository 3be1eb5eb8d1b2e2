#pragma once
// The text protocol of rotctld, the network rotator control used by
// satellite trackers and logging programs: one command per line, by its
// letter ("p") or by its long name after a backslash ("\get_pos"), arguments
// separated by blanks.
//
// Answers, each line ended by LF:
// - Default protocol: a command that reads something answers its values, one
//   per line; every other command answers "RPRT 0"; a failure answers
//   "RPRT -n" with the protocol's error code, followed by the reason in
//   words when there is one ("RPRT -9 Tower is not open").
// - Extended response protocol, chosen by a punctuation character in front of
//   the command ("+", ";", "|", ","): the long name and the arguments as
//   received ("set_pos: 90 0"), then each value as "Key: value", then
//   "RPRT n". With "+" each record is a line of its own; with any other
//   character the records are joined by that character on one line.
//
// This part only reads lines and writes answers; what the commands do is the
// server's.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

// Error codes of the protocol, as they stand after "RPRT".
enum TRotctldCode : int {
  RotctldOk = 0,
  // A missing, surplus or malformed argument, or a value out of range.
  RotctldInvalidParameter = -1,
  // A command this server does not know.
  RotctldNotImplemented = -4,
  // The controller does not answer: the rotator's position is not known now.
  RotctldTimeout = -5,
  // Something failed inside the server.
  RotctldInternalError = -7,
  // A line that breaks the protocol: too long, or holding bytes other than
  // printable text.
  RotctldProtocolError = -8,
  // The rotator refuses: it is disabled or its port is closed, or it is no
  // longer the rotator this connection was made to.
  RotctldRejected = -9,
  // The rotator has no such function (it turns in azimuth only).
  RotctldNotAvailable = -11,
};

enum class TRotctldCommand {
  Unknown,
  GetPos,
  SetPos,
  Stop,
  Park,
  Move,
  SendCmd,
  GetInfo,
  DumpCaps,
  DumpState,
  GetStatus,
  Quit,
};

// Direction numbers of the move command.
constexpr int RotctldMoveUp = 2;
constexpr int RotctldMoveDown = 4;
constexpr int RotctldMoveCCW = 8;
constexpr int RotctldMoveCW = 16;

// The longest line the server reads, without its line end.
constexpr int RotctldMaxLineLength = 1024;

struct TRotctldRequest {
  // The record separator of the extended response protocol; 0 for the
  // default protocol ("+" gives LF).
  char Separator = 0;
  TRotctldCommand Command = TRotctldCommand::Unknown;
  // The command as written, without the backslash of a long name.
  QString Token;
  // The blank-separated arguments, and all of them as one trimmed text.
  QStringList Args;
  QString ArgText;
};

// What a command answers: its values, or an error code.
struct TRotctldReply {
  int Code = RotctldOk;
  // Key and value of each value; a value without a key is a line of its own
  // (the listings of dump_caps and dump_state).
  std::vector<std::pair<QString, QString>> Values;
  // With an error: why, in words; it follows the code on the "RPRT" line.
  QString Reason;

  static TRotctldReply Error(int Code, const QString &Reason = {}) {
    return TRotctldReply{Code, {}, Reason};
  }
};

// The longest "RPRT" line written, without its LF: clients read an answer
// line into a buffer of 64 bytes, so a reason is cut to fit.
constexpr int RotctldMaxReportLength = 63;

// The long name of a command ("get_pos"); empty for Unknown.
QString RotctldLongName(TRotctldCommand Command);

// Whether a byte may stand in a command line: printable ASCII, blank, tab,
// and the line ends CR and LF.
bool RotctldByteAllowed(char Byte);

// Input as it arrives, before it is split into lines: NUL bytes are dropped
// wherever they stand (clients written in C may send the NUL that ends a
// string after a command).
void RotctldDropNul(QByteArray &Input);
// Where the first line of Input ends: the position of its CR or LF; -1 while
// no line end has arrived.
qsizetype RotctldLineEnd(const QByteArray &Input);
// Whether a line (without its line end) may be parsed: every byte allowed. A
// line that may not is answered "RPRT -8" by itself and not run.
bool RotctldLineAllowed(const QByteArray &Line);

// Reads one line (without its line end). Nothing for a line that holds no
// command (empty, blanks only, or a protocol prefix alone).
std::optional<TRotctldRequest> ParseRotctldLine(const QByteArray &Line);

// A number argument: optional sign, digits with an optional decimal point
// and exponent, "." as the decimal separator; nothing else, and only finite
// values.
std::optional<double> ParseRotctldNumber(const QString &Text);
// A whole-number argument: optional sign and up to nine digits.
std::optional<int> ParseRotctldInteger(const QString &Text);
// A value as the protocol writes it: six decimals ("90.000000").
QString FormatRotctldNumber(double Value);

// The answer to Request as it goes on the line.
QByteArray FormatRotctldReply(const TRotctldRequest &Request, const TRotctldReply &Reply);
// "RPRT n" and LF: the answer to a line that could not be read at all.
QByteArray RotctldReport(int Code);
// "RPRT n", and after an error its reason: "RPRT -9 Tower is not open". The
// reason is made one line of printable text without Separator (the extended
// protocol's record separator, 0 for none) and cut so that the line stays
// within RotctldMaxReportLength bytes; clients read the number that follows
// "RPRT" and pass over the rest. No line end.
QString RotctldReportLine(int Code, const QString &Reason, char Separator = 0);
