#pragma once
// Shared pieces of the automation interface tests: a dbus-daemon of the
// session type for the test alone, connections of the test process to it,
// calls of the automation object that keep the event loop running (the server
// under test answers on the same thread), and client programs run to their
// end.
//
// The window's tests include this header too (as "remote/AutomationBusSupport.h"
// through the tests' include root), so that both drive the object the same way.

#include "remote/OrbaltDBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace automation_test {

// Generous: the machine may be slow and loaded.
constexpr int WaitMs = 60000;

inline bool WaitFor(const std::function<bool()> &Condition, int TimeoutMs = WaitMs) {
  return QTest::qWaitFor(Condition, TimeoutMs);
}

// A dbus-daemon of the session type that only this test uses. Activation
// files are looked up in ServiceFolder; programs it starts get Env.
class TPrivateBus {
public:
  ~TPrivateBus() { Stop(); }

  bool Start(const QString &ServiceFolder = {},
             const QProcessEnvironment &Env = QProcessEnvironment::systemEnvironment()) {
    if (!FDir.isValid())
      return false;
    const QString Config = FDir.filePath(QStringLiteral("bus.conf"));
    QFile File(Config);
    if (!File.open(QIODevice::WriteOnly))
      return false;
    QString Text = QStringLiteral(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>unix:dir=%1</listen>\n")
                       .arg(FDir.path().toHtmlEscaped());
    if (!ServiceFolder.isEmpty())
      Text += QStringLiteral("  <servicedir>%1</servicedir>\n").arg(ServiceFolder.toHtmlEscaped());
    // A program started by the bus may take long on a loaded machine.
    Text += QStringLiteral("  <limit name=\"service_start_timeout\">%1</limit>\n").arg(WaitMs);
    Text += QStringLiteral("  <policy context=\"default\">\n"
                           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                           "    <allow eavesdrop=\"true\"/>\n"
                           "    <allow own=\"*\"/>\n"
                           "  </policy>\n"
                           "</busconfig>\n");
    File.write(Text.toUtf8());
    File.close();

    QProcessEnvironment DaemonEnv = Env;
    DaemonEnv.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    FDaemon.setProcessEnvironment(DaemonEnv);
    FDaemon.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + Config, QStringLiteral("--nofork"),
                   QStringLiteral("--print-address")});
    if (!FDaemon.waitForStarted(WaitMs))
      return false;
    while (!FDaemon.canReadLine())
      if (!FDaemon.waitForReadyRead(WaitMs))
        return false;
    Address = QString::fromUtf8(FDaemon.readLine()).trimmed();
    return !Address.isEmpty();
  }

  void Stop() {
    if (FDaemon.state() == QProcess::NotRunning)
      return;
    FDaemon.terminate();
    if (!FDaemon.waitForFinished(WaitMs)) {
      FDaemon.kill();
      FDaemon.waitForFinished();
    }
  }

  // The environment of a client of this bus.
  QProcessEnvironment ClientEnvironment() const {
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Address);
    return Env;
  }

  QString Address;

private:
  QTemporaryDir FDir;
  QProcess FDaemon;
};

// A test suite whose tests share one private bus, started once for the
// suite; every test fails at once when the bus could not be started.
class PrivateBusTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Bus = new TPrivateBus;
    if (!Bus->Start()) {
      delete Bus;
      Bus = nullptr;
    }
  }
  static void TearDownTestSuite() {
    delete Bus;
    Bus = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(Bus) << "dbus-daemon could not be started"; }

  static inline TPrivateBus *Bus = nullptr;
};

// A connection of this process to the bus; it leaves the bus when destroyed
// or by Leave().
class TConnection {
public:
  explicit TConnection(const QString &Address) : FName(NextName()) {
    Connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(Address, FName));
  }
  ~TConnection() { Leave(); }
  TConnection(const TConnection &) = delete;
  TConnection &operator=(const TConnection &) = delete;

  void Leave() {
    if (!Connection)
      return;
    Connection.reset();
    QDBusConnection::disconnectFromBus(FName);
  }
  QDBusConnection &operator*() { return *Connection; }
  QDBusConnection *operator->() { return Connection.get(); }

  std::unique_ptr<QDBusConnection> Connection;

private:
  static QString NextName() {
    static int Count = 0;
    return QStringLiteral("automation-test-%1").arg(++Count);
  }
  QString FName;
};

// Calls an operation of the automation object and waits for the answer while
// the event loop runs, so that a server in this process can answer.
inline QDBusMessage Call(QDBusConnection &Client, const QString &Method,
                         const QVariantList &Args = {}) {
  QDBusMessage Message = QDBusMessage::createMethodCall(OrbaltServiceName, OrbaltObjectPath,
                                                        OrbaltInterfaceName, Method);
  Message.setArguments(Args);
  QDBusPendingCall Pending = Client.asyncCall(Message, WaitMs);
  WaitFor([&] { return Pending.isFinished(); });
  return Pending.reply();
}

// The single value an operation answered; an invalid QVariant for an error.
inline QVariant Value(const QDBusMessage &Reply) {
  if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().size() != 1)
    return {};
  return Reply.arguments().first();
}

struct TRun {
  int Code = -1;
  QString Out;
  QString Err;
};

// Runs a program to its end while the event loop runs; killed when it takes
// too long.
inline TRun RunClient(const QString &Program, const QStringList &Arguments,
                      const QProcessEnvironment &Env) {
  QProcess Process;
  Process.setProcessEnvironment(Env);
  Process.start(Program, Arguments);
  TRun Run;
  if (!Process.waitForStarted(WaitMs))
    return Run;
  if (!WaitFor([&] { return Process.state() == QProcess::NotRunning; })) {
    Process.kill();
    Process.waitForFinished();
    Run.Err = QStringLiteral("timed out");
    return Run;
  }
  Run.Code = Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -2;
  Run.Out = QString::fromUtf8(Process.readAllStandardOutput()).trimmed();
  Run.Err = QString::fromUtf8(Process.readAllStandardError()).trimmed();
  return Run;
}

} // namespace automation_test
