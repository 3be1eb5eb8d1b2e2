#pragma once
// A rotator controller emulator on a pseudo-terminal. The program under test
// opens devicePath() as it would a real serial device; the emulator answers
// from its own thread, so it can be used in-process by tests and by the
// gs232emu program.
//
// Commands end with CR (LF is ignored) and may be typed in either case. "C",
// "C2" and "B" answer the position as "+0aaa", "+0aaa+0eee", "+0eee" (or
// "AZ=aaa", "AZ=aaa EL=eee", "EL=eee" with styleB) followed by CR LF (CR alone
// without crlf); "H" answers a help listing of several such lines. Every other
// known command (R L A U D E S Maaa "Waaa eee" X1..X4 P36 P45 H3 K0 I0 ZN ZS,
// and a bare CR) answers a bare CR while ackCR is on; relay items "Y" + digits
// get no answer; anything else answers "?>" and the line end.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>
#include <vector>

class Gs232Emulator {
public:
  using Clock = std::chrono::steady_clock;

  struct Options {
    // Reply style: false "+0aaa" / "+0aaa+0eee"; true "AZ=aaa" / "AZ=aaa EL=eee".
    bool styleB = false;
    // End of a data reply line: CR LF (true) or CR alone (false).
    bool crlf = true;
    // A bare CR answers every command that has no data reply.
    bool ackCR = true;
    // Rotation speed in degrees per second for speeds X1..X4.
    double speedDegPerSec[4] = {1.5, 3.0, 4.5, 6.0};
    // Multiplies the emulated time: 10 makes the rotator turn ten times as fast.
    double timeScale = 1.0;
    // Initial azimuth and elevation in degrees.
    double azimuth = 0.0;
    double elevation = 0.0;
    // Initial speed 1..4 (as set by X1..X4).
    int speed = 4;
  };

  struct Received {
    QByteArray command;   // the command without its CR, as received
    Clock::time_point at; // when its CR arrived
  };

  Gs232Emulator();
  explicit Gs232Emulator(const Options &Opts);
  ~Gs232Emulator();
  Gs232Emulator(const Gs232Emulator &) = delete;
  Gs232Emulator &operator=(const Gs232Emulator &) = delete;

  // Opens the pseudo-terminal and starts the thread; false on failure.
  bool start();
  void stop();
  // Path of the device the program opens (the pseudo-terminal's slave side).
  QString devicePath() const;

  // Every command received, in order; the raw bytes received.
  std::vector<Received> commands() const;
  QByteArray rawReceived() const;
  void clearLog();
  // Returns the commands received so far and clears the log (raw bytes too),
  // so that a long-running emulator does not pile up its history.
  std::vector<Received> takeCommands();
  // Waits until at least Count commands have been received.
  bool waitForCommands(size_t Count, std::chrono::milliseconds Timeout) const;

  // Present position, exact at the moment of the call. Setting it moves the
  // rotator there at once; a movement in progress goes on from there.
  double azimuth() const;
  void setAzimuth(double Degrees);
  double elevation() const;
  void setElevation(double Degrees);
  // Current speed 1..4 and travel limit 360 or 450.
  int speed() const;
  int maxAzimuth() const;
  bool moving() const;

  // Sends bytes from the controller side as they stand (unasked output), at
  // once and whatever the fault switches say.
  void sendRaw(const QByteArray &Bytes);

  // Fault switches.
  void setSilent(bool Silent);                       // never answers
  void setGarbage(const QByteArray &Reply);          // answers data queries with this (empty: off)
  void setReplyDelay(std::chrono::milliseconds Delay); // waits before each answer
  // The device goes away: the pseudo-terminal is closed, so the program's
  // reads and writes on the device fail; nothing is served afterwards.
  void hangUp();

private:
  struct Impl;
  std::unique_ptr<Impl> d;
};
