#pragma once
// Writes a file as a whole or not at all: the new contents go to a temporary
// file beside it, which replaces the old file only once every byte has been
// written and synced to the disk. A write that fails part-way through (the
// disk full, a quota or size limit reached) leaves the old file exactly as it
// was and removes the temporary file.

#include <QByteArray>
#include <QString>

// Replaces FileName by Data. False when it could not, with the reason in
// *Error (the system's words, such as "No space left on device"); the old
// file, if any, is then unchanged. Never throws.
bool WriteFileAtomically(const QString &FileName, const QByteArray &Data, QString *Error);
