#pragma once
// The automation object: the operations other programs on the desktop use to
// drive the rotators (the D-Bus interface "Orbalt.IOrbalt", the rotctld
// server). It has no state of its own; every operation reads or acts through
// the station's command surface (TCommandSurface) and gives its result
// as an automation Boolean.
//
// Conventions:
// - A rotator index is the 0-based position of the rotator (its tab).
// - A Boolean result is an automation Boolean: -1 (all 16 bits set) for
//   true, 0 for false.
// - Azimuths are whole degrees.
// - An index outside the range gives 0, 0 or an empty text, never an error.
//
// Everything runs on the main thread.

#include <QString>
#include <QtGlobal>

#include "station/CommandSurface.h"

// Automation Booleans.
constexpr qint16 AutomationTrue = -1;
constexpr qint16 AutomationFalse = 0;

class TOrbalt {
public:
  explicit TOrbalt(TCommandSurface &Surface) : FSurface(Surface) {}

  // --- Status form: errors leave as exceptions (std::exception) ---------------
  // -1 when the control table switch is on, 0 when off.
  qint16 Enable() const;
  // The number of rotators while the switch is on; 0 while it is off.
  int RotatorCount() const;
  // The index of the current rotator, whatever the switch.
  int RotatorIndex() const;
  // The value of "Title" in the rotator's settings block; empty for an index
  // outside the range.
  QString GetRotatorTitle(int RotatorIndex) const;

  // --- Direct form: never throw -----------------------------------------------
  // -1 when the rotator's port is open; 0 when closed or the index is invalid.
  qint16 GetRotatorActive(int RotatorIndex) const noexcept;
  // The rotator's azimuth in whole degrees; 0 for an invalid index.
  int GetRotatorAzumuth(int RotatorIndex) const noexcept;
  // For a valid, enabled rotator with an open port and an azimuth within its
  // travel: sets the preset to Azimuth, starts the move and gives -1.
  // Otherwise 0 and nothing happens. The rotator's temporary offset stays
  // and applies.
  qint16 Move(int RotatorIndex, int Azimuth) noexcept;
  // For a valid, enabled rotator with a closed port that no other open
  // rotator holds: opens it and gives -1, whatever the opening achieves.
  // Otherwise 0.
  qint16 Open(int RotatorIndex) noexcept;
  // For a valid, enabled rotator with an open port: closes it and gives -1.
  // Otherwise 0.
  qint16 Close(int RotatorIndex) noexcept;
  // With the switch on: the frequency-driven operation for Azimuth and Freq,
  // -1 whether or not a row matched. With the switch off: 0, nothing done.
  qint16 Rotate(int Azimuth, double Freq) noexcept;

  // The value of Key in the settings block of rotator Index; empty for an
  // invalid index or a missing key.
  QString GetRotatorValue(int Index, const QString &Key) const;

private:
  bool ValidIndex(int Index) const;

  TCommandSurface &FSurface;
};
