#pragma once
// Shared pieces of the fuzz targets: the input as text, a scratch file, and
// a check that ends the run with a message when a property does not hold.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// A property that must hold for every input; a violation is a finding.
#define FUZZ_CHECK(Condition, Text)                                                           \
  do {                                                                                        \
    if (!(Condition)) {                                                                       \
      std::fprintf(stderr, "property violated: %s (%s:%d)\n", Text, __FILE__, __LINE__);     \
      std::abort();                                                                           \
    }                                                                                         \
  } while (false)

inline QByteArray Bytes(const uint8_t *Data, size_t Size) {
  return QByteArray(reinterpret_cast<const char *>(Data), static_cast<qsizetype>(Size));
}

// A file in a folder of its own that lives as long as the process.
inline QString ScratchFile(const char *Name) {
  static QTemporaryDir Dir;
  return Dir.filePath(QString::fromLatin1(Name));
}

inline bool WriteBytes(const QString &Path, const QByteArray &Data) {
  QFile File(Path);
  return File.open(QIODevice::WriteOnly | QIODevice::Truncate) && File.write(Data) == Data.size();
}
