#pragma once
// Helpers shared by the settings tests: readable printing of Qt values in
// failure messages and access to files in a temporary folder.

#include "settings/ValueText.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QTime>
#include <ostream>

inline void PrintTo(const QString &Value, std::ostream *Out) {
  *Out << '"' << Value.toStdString() << '"';
}
inline void PrintTo(const QByteArray &Value, std::ostream *Out) {
  *Out << "bytes[" << Value.toHex(' ').toStdString() << ']';
}
inline void PrintTo(const QDate &Value, std::ostream *Out) {
  *Out << Value.toString(Qt::ISODate).toStdString();
}
inline void PrintTo(const QTime &Value, std::ostream *Out) {
  *Out << Value.toString(Qt::ISODateWithMs).toStdString();
}
inline void PrintTo(const QDateTime &Value, std::ostream *Out) {
  *Out << Value.toString(Qt::ISODateWithMs).toStdString();
}
inline void PrintTo(const TCurrency &Value, std::ostream *Out) {
  *Out << CurrencyToText(Value).toStdString();
}

inline QByteArray FileBytes(const QString &FileName) {
  QFile File(FileName);
  if (!File.open(QIODevice::ReadOnly))
    return QByteArray("<unreadable>");
  return File.readAll();
}

inline void WriteFileBytes(const QString &FileName, const QByteArray &Bytes) {
  QFile File(FileName);
  if (File.open(QIODevice::WriteOnly | QIODevice::Truncate))
    File.write(Bytes);
}

// A file name whose temporary sibling (the name plus a suffix) is longer than
// a file system allows: the file itself can be created and read, but no
// atomic replacement of it can be written. This makes a real write failure
// even for root, who ignores permissions.
inline QString UnreplaceableName(const QString &Folder) {
  return Folder + u'/' + QString(250, u'x') + QStringLiteral(".xml");
}
