#pragma once
// The single-instance lock: a lock file named "MutexOrbalt" in the user's
// runtime folder (the temporary folder when there is none). A lock left by a
// process that has ended counts as free; the lock is held until this object
// is destroyed or the process ends.

#include <QLockFile>
#include <QString>

#include <memory>

class TSingleInstance {
public:
  // The lock in the default folder.
  TSingleInstance();
  // The lock file at LockPath (tests use a folder of their own).
  explicit TSingleInstance(const QString &LockPath);
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance &) = delete;
  TSingleInstance &operator=(const TSingleInstance &) = delete;

  // Takes the lock without waiting. False when another running process (or
  // another lock object of this process) holds it.
  bool TryLock();
  bool Locked() const;
  QString LockPath() const { return FLockPath; }

  // The path of the lock file in the default folder.
  static QString DefaultLockPath();

private:
  QString FLockPath;
  std::unique_ptr<QLockFile> FLock;
};
