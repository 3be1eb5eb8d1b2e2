#pragma once
// What an emulated controller received, as the tests compare it.

#include "tools/Gs232Emulator.h"

#include <QStringList>

// Every command, in order.
inline QStringList Commands(const Gs232Emulator &Emulator) {
  QStringList List;
  for (const auto &Received : Emulator.commands())
    List << QString::fromLatin1(Received.command);
  return List;
}

// The commands without the position queries ("C") of the poll.
inline QStringList Sent(const Gs232Emulator &Emulator) {
  QStringList List = Commands(Emulator);
  List.removeAll(QStringLiteral("C"));
  return List;
}
