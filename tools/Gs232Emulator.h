#pragma once
// A rotator controller emulator on a pseudo-terminal. The program under test
// opens devicePath() as it would a real serial device; the emulator answers
// from its own thread, so it can be used in-process by tests and by the
// gs232emu program.

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
  // Waits until at least Count commands have been received.
  bool waitForCommands(size_t Count, std::chrono::milliseconds Timeout) const;

  double azimuth() const;
  void setAzimuth(double Degrees);
  double elevation() const;
  // Current speed 1..4 and travel limit 360 or 450.
  int speed() const;
  int maxAzimuth() const;
  bool moving() const;

  // Sends bytes from the controller side as they stand (unasked output).
  void sendRaw(const QByteArray &Bytes);

  // Fault switches.
  void setSilent(bool Silent);                       // never answers
  void setGarbage(const QByteArray &Reply);          // answers data queries with this (empty: off)
  void setReplyDelay(std::chrono::milliseconds Delay); // waits before each answer
  void hangUp();                                     // the device goes away

private:
  struct Impl;
  std::unique_ptr<Impl> d;
};
