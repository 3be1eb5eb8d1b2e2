#pragma once
// Shared pieces of the network control tests: a raw protocol client on a
// socket, the protocol's own client program run as a child process, and what
// a controller emulator received apart from the polls. Every wait keeps the
// main thread's events running, since the servers live on it.

#include <QByteArray>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include "tools/Gs232Emulator.h"

#include <gtest/gtest.h>

#include <functional>

namespace rotctld_test {

// Generous: the machine may be slow and loaded.
constexpr int kWaitMs = 15000;

inline bool WaitFor(const std::function<bool()> &Done, int TimeoutMs = kWaitMs) {
  return QTest::qWaitFor(Done, TimeoutMs);
}

// What the controller received, without the polls.
inline QStringList Received(const Gs232Emulator &Emu) {
  QStringList Out;
  for (const auto &C : Emu.commands())
    if (C.command != "C" && C.command != "C2")
      Out << QString::fromLatin1(C.command);
  return Out;
}

inline bool WaitForReceived(const Gs232Emulator &Emu, const QString &Command) {
  return WaitFor([&] { return Received(Emu).contains(Command); });
}

// A client that speaks the protocol over a plain socket.
class TRawClient {
public:
  TRawClient() {
    QObject::connect(&FSocket, &QIODevice::readyRead, [this] {
      if (FFirstArrival < 0)
        FFirstArrival = ++Arrivals;
      FReceived += FSocket.readAll();
    });
  }

  bool Connect(quint16 Port) {
    FSocket.connectToHost(QHostAddress(QHostAddress::LocalHost), Port);
    return WaitFor([&] { return FSocket.state() == QAbstractSocket::ConnectedState; });
  }

  void Send(const QByteArray &Bytes) { FSocket.write(Bytes); }

  // Waits until Count more lines have come (or the connection has ended) and
  // returns them, line ends included.
  QByteArray Lines(int Count) {
    WaitFor([&] { return FReceived.count('\n') >= Count || Closed(); });
    QByteArray Out;
    for (int I = 0; I < Count; ++I) {
      const qsizetype End = FReceived.indexOf('\n');
      if (End < 0)
        break;
      Out += FReceived.left(End + 1);
      FReceived.remove(0, End + 1);
    }
    return Out;
  }

  // Sends one line and returns the Count lines of its answer.
  QByteArray Ask(const QByteArray &Line, int Count = 1) {
    Send(Line + '\n');
    return Lines(Count);
  }

  bool Closed() const { return FSocket.state() == QAbstractSocket::UnconnectedState; }
  bool WaitClosed() { return WaitFor([&] { return Closed(); }); }
  // Everything received and not yet taken by Lines.
  QByteArray Rest() const { return FReceived; }
  // The order in which clients first received something: 1 for the first
  // client of the test program, and so on; -1 while nothing came.
  int FirstArrival() const { return FFirstArrival; }

private:
  static inline int Arrivals = 0;
  int FFirstArrival = -1;
  QTcpSocket FSocket;
  QByteArray FReceived;
};

struct TRotctlRun {
  int ExitCode = -1;
  bool Finished = false;
  QString Output; // standard output
  QString Errors; // standard error
};

// Runs the protocol's client program ("rotctl -m 2") against 127.0.0.1:Port
// with Commands. The servers answer on this thread, so the wait runs an event
// loop instead of blocking; a client still running after the timeout is
// killed.
inline TRotctlRun RunRotctl(quint16 Port, const QStringList &Commands) {
  TRotctlRun Run;
  const QString Program = QStandardPaths::findExecutable(QStringLiteral("rotctl"));
  if (Program.isEmpty()) {
    ADD_FAILURE() << "rotctl not found: install libhamlib-utils (scripts/deps.sh)";
    return Run;
  }
  QProcess Process;
  Process.setProgram(Program);
  Process.setArguments(QStringList{QStringLiteral("-m"), QStringLiteral("2"),
                                   QStringLiteral("-r"),
                                   QStringLiteral("127.0.0.1:%1").arg(Port)} +
                       Commands);
  QEventLoop Loop;
  QObject::connect(&Process, &QProcess::finished, &Loop, &QEventLoop::quit);
  QObject::connect(&Process, &QProcess::errorOccurred, &Loop, [&](QProcess::ProcessError E) {
    if (E == QProcess::FailedToStart)
      Loop.quit();
  });
  QTimer::singleShot(kWaitMs * 2, &Loop, &QEventLoop::quit);
  Process.start();
  Loop.exec();
  if (Process.state() != QProcess::NotRunning) {
    Process.kill();
    Process.waitForFinished(kWaitMs);
    ADD_FAILURE() << "rotctl did not finish";
  } else {
    Run.Finished = Process.exitStatus() == QProcess::NormalExit;
    Run.ExitCode = Process.exitCode();
  }
  Run.Output = QString::fromUtf8(Process.readAllStandardOutput());
  Run.Errors = QString::fromUtf8(Process.readAllStandardError());
  return Run;
}

} // namespace rotctld_test
