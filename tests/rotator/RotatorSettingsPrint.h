#pragma once
// Readable rotator settings in failure messages: every key of the entry as
// "Key=value", in the order of the settings document. Used by the rotator
// and the settings tests.

#include "rotator/RotatorSettings.h"

#include <QStringList>

#include <ostream>

inline void PrintTo(const TRotatorSettings &S, std::ostream *Out) {
  auto Bool = [](bool B) { return B ? QStringLiteral("true") : QStringLiteral("false"); };
  const QStringList Values = {
      S.Title,
      S.MapFileName,
      Bool(S.Enable),
      Bool(S.AutoActive),
      S.Model,
      S.CenterPosition == cpNorth ? QStringLiteral("north") : QStringLiteral("south"),
      S.AzimuthAngle == az360 ? QStringLiteral("360") : QStringLiteral("450"),
      S.RotationSpeed,
      QString::number(S.Home),
      Bool(S.ReturnHome),
      QString::number(S.Offset),
      S.CommandB,
      S.CommandA,
      QString::number(S.RelaysCount),
      S.Port,
      S.BaudRate,
      S.DataBits,
      S.Parity,
      S.StopBits,
      S.FlowControl,
  };
  *Out << '{';
  for (qsizetype I = 0; I < Values.size(); ++I)
    *Out << (I ? ", " : "") << RotatorKeys.value(I).toStdString() << "=\""
         << Values[I].toStdString() << '"';
  *Out << '}';
}
