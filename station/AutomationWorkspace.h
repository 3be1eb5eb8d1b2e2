#pragma once
// The rotator workspace as the automation servers see it: what the
// automation object and the rotctld servers read and act on. The station
// implements it; tests may give the servers a workspace of their own.

#include "rotator/RotatorSettings.h"

class TGs232;

class TAutomationWorkspace {
public:
  virtual ~TAutomationWorkspace() = default;

  // The frequency control table is in use.
  virtual bool CtrlTableEnable() const = 0;
  // The number of rotators.
  virtual int RotatorCount() const = 0;
  // The index of the rotator whose tab was selected last.
  virtual int CurrentRotator() const = 0;
  // The driver of rotator Index (0 <= Index < RotatorCount()); throws for
  // any other index.
  virtual TGs232 &Driver(int Index) = 0;
  // The settings of rotator Index; throws for an index out of range.
  virtual TRotatorSettings RotatorSettings(int Index) const = 0;
  // Rotator Index is enabled ("Enable"); false for an index out of range.
  virtual bool RotatorEnabled(int Index) const = 0;
  // The frequency-driven operation: turns the rotator of the control-table
  // row that holds Freq to Az and runs the lists of the rows left and entered.
  virtual void AutoOperation(int Az, double Freq) = 0;
};
