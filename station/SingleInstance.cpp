#include "station/SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

namespace {
const QString LockName = QStringLiteral("MutexOrbalt");
}

TSingleInstance::TSingleInstance() : TSingleInstance(DefaultLockPath()) {}

TSingleInstance::TSingleInstance(const QString &LockPath)
    : FLockPath(LockPath), FLock(std::make_unique<QLockFile>(LockPath)) {
  // A running instance may hold the lock for days without touching the file:
  // only a holder that has ended makes the lock stale, never the file's age.
  FLock->setStaleLockTime(0);
}

TSingleInstance::~TSingleInstance() = default;

bool TSingleInstance::TryLock() {
  if (FLock->isLocked())
    return true;
  // tryLock removes a lock file whose process is no longer running and takes
  // the lock afresh.
  return FLock->tryLock(0);
}

bool TSingleInstance::Locked() const { return FLock->isLocked(); }

QString TSingleInstance::DefaultLockPath() {
  QString Folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (Folder.isEmpty() || !QDir(Folder).exists())
    Folder = QDir::tempPath();
  return QDir(Folder).filePath(LockName);
}
