#pragma once
// The UDP messages logging and contest programs steer rotators with, read
// into plain values. Nothing here sends or acts; a message that can't be
// read gives the reason.
//
// PstRotator's format, one message per datagram, tags in any letter case:
//   <PST><AZIMUTH>85</AZIMUTH></PST>   turn to 85°
//   <PST><STOP>1</STOP></PST>          stop
//   <PST><PARK>1</PARK></PST>          go home
//   <PST><QRA>KN34BJ</QRA></PST>       turn to a locator (short path)
//   <PST>AZ?</PST>                     ask for the azimuth ("AZ:85" back)
// Numbers are read leniently, as far as they make sense: a known client
// sends "85.000000.2", which reads as 85.
//
// N1MM Logger's rotor format, an XML document per datagram:
//   <N1MMRotor><rotor>Mast</rotor><goazi>85.0</goazi><offset>0.0</offset>
//     <bidirectional>0</bidirectional><freqband>14.0</freqband></N1MMRotor>
//   <N1MMRotor><stop><rotor>Mast</rotor><freqband>14</freqband></stop></N1MMRotor>
// "rotor" names a rotator by its title; "freqband" is in MHz.

#include <QByteArray>
#include <QString>

#include <optional>
#include <variant>
#include <vector>

// The largest datagram read; longer ones are refused unread.
constexpr qsizetype MaxRotorDatagram = 2048;

struct TPstCommand {
  enum TKind { Azimuth, Stop, Park, Locator, QueryAzimuth } Kind = Azimuth;
  double Degrees = 0; // Azimuth: 0 to 360
  QString Text;       // Locator: as sent

  friend bool operator==(const TPstCommand &, const TPstCommand &) = default;
};

// The commands of a PstRotator datagram, in their order; or why it was
// refused (too long, not a <PST> message, a number that is none or out of
// range, nothing to do).
std::variant<std::vector<TPstCommand>, QString> ParsePstMessage(const QByteArray &Datagram);

// A leading number of Text, read as far as it is one ("85.000000.2" gives
// 85, " -3.5x" gives -3.5); nothing when Text does not start with one.
std::optional<double> LenientNumber(const QString &Text);

struct TN1mmRotorMessage {
  bool Stop = false;
  QString Rotor;
  std::optional<double> GoAzimuth; // 0 to 360
  double Offset = 0;
  bool Bidirectional = false;
  std::optional<double> FreqBandMHz;

  friend bool operator==(const TN1mmRotorMessage &, const TN1mmRotorMessage &) = default;
};

// An N1MM rotor datagram; or why it was refused (too long, not well-formed,
// not an <N1MMRotor> document, no rotor, a number that is none or out of
// range, neither a heading nor a stop).
std::variant<TN1mmRotorMessage, QString> ParseN1mmMessage(const QByteArray &Datagram);

// The heading report N1MM expects back: "Mast @ 2250" for 225.0°.
QByteArray N1mmHeadingReport(const QString &Rotor, double Degrees);
