#pragma once
// The settings of one rotator: the twenty keys of its entry in the settings
// document, as one plain value. The driver applies and returns one, the
// settings document reads and writes one, and the options dialog is filled
// from one and hands one back.
//
// Defaults are those of a rotator entry whose keys are all missing, and of a
// new rotator. Values are held as they are given; the driver holds them to
// what it can use when it applies them (the home azimuth to the rotation
// range, the relay count to its array), and the stored ordinals of the two
// enumerations are read with CenterPositionOf and AzimuthAngleOf.

#include <QString>
#include <QStringList>

enum TAzimuthAngle { az360, az450 };
enum TCenterPosition { cpNorth, cpSouth };

struct TRotatorSettings {
  // Shown as the rotator's tab caption.
  QString Title;
  // The rotator's map picture; empty: the default map.
  QString MapFileName;
  // The rotator is in use: its port can be opened, and the control table and
  // automation may move it.
  bool Enable = false;
  // Open the port at start and after the options are confirmed.
  bool AutoActive = false;
  // "GS-232A", "GS-232B" or "KELVANE".
  QString Model = QStringLiteral("GS-232A");
  TCenterPosition CenterPosition = cpNorth;
  TAzimuthAngle AzimuthAngle = az360;
  // "1" (low) to "4" (high).
  QString RotationSpeed = QStringLiteral("4");
  // Home azimuth in whole degrees, and whether closing the program sends the
  // rotator there.
  int Home = 0;
  bool ReturnHome = false;
  // Azimuth offset in whole degrees.
  int Offset = 0;
  // Command lists run before every movement (B) and after every stop (A).
  QString CommandB;
  QString CommandA;
  // Relays of the relay box on the same line.
  int RelaysCount = 0;
  // Serial line, as text.
  QString Port = QStringLiteral("COM3");
  QString BaudRate = QStringLiteral("9600");
  QString DataBits = QStringLiteral("8");
  QString Parity = QStringLiteral("NONE");
  QString StopBits = QStringLiteral("1");
  QString FlowControl = QStringLiteral("NONE");

  bool operator==(const TRotatorSettings &) const = default;

  // The settings of a new rotator titled Title: everything else default.
  static TRotatorSettings Defaults(const QString &Title);
  // Stored ordinals to enumerations: 0 or less is the first value, anything
  // above the second.
  static TCenterPosition CenterPositionOf(int Ordinal);
  static TAzimuthAngle AzimuthAngleOf(int Ordinal);
};

// The keys of a rotator entry, in the order in which they are written and
// read.
inline const QStringList RotatorKeys = {
    QStringLiteral("Title"),        QStringLiteral("MapFileName"),
    QStringLiteral("Enable"),       QStringLiteral("AutoActive"),
    QStringLiteral("Model"),        QStringLiteral("CenterPosition"),
    QStringLiteral("AzimuthAngle"), QStringLiteral("RotationSpeed"),
    QStringLiteral("Home"),         QStringLiteral("ReturnHome"),
    QStringLiteral("Offset"),       QStringLiteral("CommandB"),
    QStringLiteral("CommandA"),     QStringLiteral("RelaysCount"),
    QStringLiteral("Port"),         QStringLiteral("BaudRate"),
    QStringLiteral("DataBits"),     QStringLiteral("Parity"),
    QStringLiteral("StopBits"),     QStringLiteral("FlowControl"),
};

// The rotator settings block: the four lines "Title=", "MapFileName=",
// "Enable=", "AutoActive=" (Booleans as "-1" or "0"), as the automation
// object reads a rotator's values by name. A line break inside a value
// becomes a blank, so that a value never adds a line.
QStringList RotatorBlock(const TRotatorSettings &Settings);
// The value of the first line whose name (the text before the first "=") is
// Name; empty when there is none.
QString BlockValue(const QStringList &Block, const QString &Name);
