#pragma once
// The main window's rotator workspace as the automation object sees it: the
// drivers, the settings blocks, the current rotator and the control-table
// switch of a TMain, and its frequency-driven operation.

#include "remote/Orbalt.h"
#include "remote/OrbaltDBus.h"

#include <QDBusConnection>

#include <functional>

class TMain;

class TMainAutomation : public TAutomationWorkspace {
public:
  explicit TMainAutomation(TMain &Main) : FMain(Main) {}

  bool CtrlTableEnable() const override;
  int RotatorCount() const override;
  int CurrentRotator() const override;
  TGs232 &Driver(int Index) override;
  QString RotatorBlock(int Index) const override;
  bool RotatorEnabled(int Index) const override;
  void AutoOperation(int Az, double Freq) override;
  // Brings the rotator page (button caption, preset field) and the status bar
  // up to date when the rotator is the current one; the status bar otherwise.
  void RotatorOpenedOrClosed(int Index) override;

private:
  TMain &FMain;
};

// The automation server of the running program: the automation object over
// the window's workspace, offered on the session bus, and its part in the
// program's end.
//
// - While clients hold the object, closing the window first asks the operator
//   (the warning box); No keeps the program and its window.
// - A program started for a client ends (EndWhenClientsLeave) when the last
//   client has left, without the window's closing sequence.
class TMainAutomationServer {
public:
  TMainAutomationServer(TMain &Main, const QDBusConnection &Connection);
  // Leaves the bus and lets the window close without asking.
  ~TMainAutomationServer();
  TMainAutomationServer(const TMainAutomationServer &) = delete;
  TMainAutomationServer &operator=(const TMainAutomationServer &) = delete;

  // Takes the bus name; false with the reason in Error.
  bool Start(QString *Error = nullptr);
  // End runs (from the event loop) when the last client has left the bus.
  void EndWhenClientsLeave(std::function<void()> End);

  // The automation object, also for the program's other automation servers.
  TOrbalt &Orbalt() { return FOrbalt; }
  TOrbaltDBusServer &Server() { return FServer; }

private:
  TMain &FMain;
  TMainAutomation FWorkspace;
  TOrbalt FOrbalt;
  TOrbaltDBusServer FServer;
};
