#pragma once
// The network control settings of the settings document: the section
// "/Network" with the servers of the rotctld protocol.
//
//   /Network   "RotctldEnable" (Boolean), "RotctldPort" (integer),
//              "RotctldAddress" (string); the loggers' UDP messages:
//              "PstEnable" (Boolean), "PstPort", "PstRotator" (integer; -1
//              steers the current rotator), "N1mmEnable" (Boolean),
//              "N1mmPort", "N1mmStatusPort" (integer), "UdpAddress"
//              (string, where both listen); band following:
//              "RigctldEnable" (Boolean), "RigctldHost" (string),
//              "RigctldPort" (integer); the web page: "WebEnable" (Boolean),
//              "WebPort" (integer), "WebAddress" (string), "WebPassword"
//              (string: the password's salted hash, empty for none),
//              "WebCertificate", "WebKey" (strings: PEM files for HTTPS,
//              both empty for plain HTTP)
//
// The section is read and written on its own: the other readers and writers
// of the document leave it alone, and a document without it gives the
// defaults (everything off, the usual ports, the loopback address).

#include <QString>
#include <QStringList>

#include "settings/SettingsDocument.h"


inline const QString NetworkSection = QStringLiteral("/Network");

// The protocol's own default port; rotator i listens on the base port + 2 i.
constexpr int DefaultRotctldPort = 4533;
inline const QString DefaultRotctldAddress = QStringLiteral("127.0.0.1");
constexpr int DefaultWebPort = 8080;

struct TNetworkSettings {
  bool RotctldEnable = false;
  // Base port; 0 lets every server take any free port.
  int RotctldPort = DefaultRotctldPort;
  QString RotctldAddress = DefaultRotctldAddress;
  bool PstEnable = false;
  int PstPort = 12000;
  int PstRotator = -1;
  bool N1mmEnable = false;
  int N1mmPort = 12040;
  int N1mmStatusPort = 13010;
  QString UdpAddress = DefaultRotctldAddress;
  bool RigctldEnable = false;
  QString RigctldHost = DefaultRotctldAddress;
  int RigctldPort = 4532;
  bool WebEnable = false;
  int WebPort = DefaultWebPort;
  QString WebAddress = DefaultRotctldAddress;
  // The password as "pbkdf2-sha256$iterations$salt$hash"; never the clear
  // text. Empty: no password, and the page is served on loopback only.
  QString WebPassword;
  QString WebCertificate;
  QString WebKey;

  friend bool operator==(const TNetworkSettings &, const TNetworkSettings &) = default;
};

// Reads "/Network" without creating it. A key that is missing, or whose text
// does not convert (noted in Problems), takes its default; so does a port
// outside 0 to 65535 or an empty address.
TNetworkSettings ReadNetworkSettings(TXMLIniFile &Ini, TLoadProblems &Problems);
// Writes the three keys under "/Network" (created when missing).
void WriteNetworkSettings(TXMLIniFile &Ini, const TNetworkSettings &Settings);

// Whole operations on the file, each on a store of its own. Loading notes
// the keys that took their defaults in Problems; both throw TSettingsError when
// the file can't be read, is not well-formed XML or can't be written.
TNetworkSettings LoadNetworkSettings(const QString &XmlName, TLoadProblems &Problems);
void SaveNetworkSettings(const QString &XmlName, const TNetworkSettings &Settings);
