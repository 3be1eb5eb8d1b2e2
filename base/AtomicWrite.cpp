#include "base/AtomicWrite.h"

#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace {

// Forces what was written onto the disk: some file systems (network ones,
// and those that allocate late) report a lack of room only here. A file that
// can't be synced at all, such as one on a file system without a disk, is
// no failure.
bool SyncToDisk(QSaveFile &File, QString *Error) {
#ifdef Q_OS_UNIX
  int Result;
  do {
    Result = ::fsync(File.handle());
  } while (Result != 0 && errno == EINTR);
  if (Result == 0 || errno == EINVAL || errno == EROFS || errno == ENOTSUP)
    return true;
  *Error = qt_error_string(errno);
  return false;
#else
  // Elsewhere QSaveFile's commit syncs where the system can.
  Q_UNUSED(File);
  Q_UNUSED(Error);
  return true;
#endif
}

} // namespace

bool WriteFileAtomically(const QString &FileName, const QByteArray &Data, QString *Error) {
  // On every failure below, File goes without a commit: that removes the
  // temporary file and leaves the old one alone.
  QSaveFile File(FileName);
  // Unbuffered, so that each write reaches the system here and its failure
  // is seen. Buffered, QSaveFile would keep the bytes until commit, and a
  // failure to write them there does not stop it from replacing the old file
  // with the incomplete one.
  if (!File.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    *Error = File.errorString();
    return false;
  }
  // A write may store only part of what it was given (the disk filling up):
  // the rest is written again, and the write that stores nothing tells why.
  for (qint64 Done = 0; Done < Data.size();) {
    const qint64 Written = File.write(Data.constData() + Done, Data.size() - Done);
    if (Written <= 0) {
      *Error = File.errorString();
      return false;
    }
    Done += Written;
  }
  if (!SyncToDisk(File, Error))
    return false;
  if (!File.commit()) {
    *Error = File.errorString();
    return false;
  }
  return true;
}
