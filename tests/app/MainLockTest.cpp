// The single-instance lock: held by one lock object at a time, free again
// when its holder has ended, and a second start of the program ending at once.

#include "station/SingleInstance.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The process id recorded in a lock file, or 0.
qint64 LockHolder(const QString &Path) {
  QFile File(Path);
  if (!File.open(QIODevice::ReadOnly))
    return 0;
  return File.readLine().trimmed().toLongLong();
}

} // namespace

TEST(SingleInstanceTest, OnlyOneLockObjectHoldsTheLock) {
  QTemporaryDir Dir;
  const QString Path = Dir.filePath("MutexOrbalt");
  auto First = std::make_unique<TSingleInstance>(Path);
  TSingleInstance Second(Path);
  EXPECT_TRUE(First->TryLock());
  EXPECT_FALSE(Second.TryLock());
  EXPECT_FALSE(Second.Locked());
  // A holder that runs for long keeps the lock, however old the file gets.
  {
    QFile File(Path);
    ASSERT_TRUE(File.open(QIODevice::ReadWrite));
    ASSERT_TRUE(File.setFileTime(QDateTime::currentDateTime().addDays(-2),
                                 QFileDevice::FileModificationTime));
  }
  EXPECT_FALSE(Second.TryLock());

  First.reset();
  EXPECT_TRUE(Second.TryLock());
  EXPECT_TRUE(Second.Locked());
}

TEST(SingleInstanceTest, LockLeftByAnEndedProcessIsFree) {
  QTemporaryDir Dir;
  const QString Path = Dir.filePath("MutexOrbalt");
  // The id of a process that has ended.
  QProcess Ended;
  Ended.start("true", {});
  ASSERT_TRUE(Ended.waitForStarted());
  const qint64 Pid = Ended.processId();
  ASSERT_TRUE(Ended.waitForFinished());
  QFile File(Path);
  ASSERT_TRUE(File.open(QIODevice::WriteOnly));
  File.write(QByteArray::number(Pid) + "\ntrue\n" + QSysInfo::machineHostName().toUtf8() + "\n");
  File.close();

  TSingleInstance Lock(Path);
  EXPECT_TRUE(Lock.TryLock());
  EXPECT_EQ(LockHolder(Path), QCoreApplication::applicationPid());
}

TEST(SingleInstanceTest, DefaultLockLiesInTheRuntimeFolder) {
  QTemporaryDir Run;
  const QByteArray Saved = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", Run.path().toUtf8());
  EXPECT_EQ(TSingleInstance::DefaultLockPath(), QDir(Run.path()).filePath("MutexOrbalt"));
  if (Saved.isNull())
    qunsetenv("XDG_RUNTIME_DIR");
  else
    qputenv("XDG_RUNTIME_DIR", Saved);
}

TEST(SingleInstanceTest, SecondProgramInstanceEndsAtOnce) {
  const QString Program = QCoreApplication::applicationDirPath() + "/orbalt";
  if (!QFileInfo(Program).isExecutable())
    GTEST_SKIP() << "the program is not built beside the tests";
  QTemporaryDir Dir;
  QTemporaryDir Run;
  QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
  Env.insert("XDG_RUNTIME_DIR", Run.path());
  Env.insert("QT_QPA_PLATFORM", "offscreen");
  Env.remove("ORBALT_SETTINGS");
  const QStringList Arguments{"--settings", Dir.filePath("orbalt.xml")};
  const QString LockPath = QDir(Run.path()).filePath("MutexOrbalt");

  QProcess First;
  First.setProcessEnvironment(Env);
  First.start(Program, Arguments);
  ASSERT_TRUE(First.waitForStarted());
  ASSERT_TRUE(QTest::qWaitFor([&] { return LockHolder(LockPath) == First.processId(); }, 30000));

  QProcess Second;
  Second.setProcessEnvironment(Env);
  Second.start(Program, Arguments);
  ASSERT_TRUE(Second.waitForFinished(30000));
  EXPECT_EQ(Second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(Second.exitCode(), 0);
  EXPECT_EQ(First.state(), QProcess::Running);

  // A holder that is killed leaves its lock file behind; the next start
  // takes the lock.
  First.kill();
  ASSERT_TRUE(First.waitForFinished(30000));
  ASSERT_TRUE(QFile::exists(LockPath));
  QProcess Third;
  Third.setProcessEnvironment(Env);
  Third.start(Program, Arguments);
  ASSERT_TRUE(Third.waitForStarted());
  EXPECT_TRUE(QTest::qWaitFor([&] { return LockHolder(LockPath) == Third.processId(); }, 30000));
  EXPECT_EQ(Third.state(), QProcess::Running);
  Third.kill();
  Third.waitForFinished(30000);
}
