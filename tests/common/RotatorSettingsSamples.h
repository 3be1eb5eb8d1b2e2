#pragma once
// Rotator settings for the rotator and settings tests: a value built by
// changing a few fields of another, one with every key away from its default,
// and readable settings in failure messages (every key as "Key=value", in the
// order of the settings document).

#include "rotator/RotatorSettings.h"

#include <QStringList>

#include <functional>
#include <ostream>

inline TRotatorSettings With(TRotatorSettings S,
                             const std::function<void(TRotatorSettings &)> &Change) {
  Change(S);
  return S;
}

// Every key away from its default, with text that markup and "=" could
// break: the home azimuth fits the 450° range.
inline TRotatorSettings EveryKeyChanged() {
  return With({}, [](TRotatorSettings &S) {
    S.Title = "Tower & <mast>";
    S.MapFileName = "/maps/a=b.bmp";
    S.Enable = true;
    S.Model = "KELVANE";
    S.CenterPosition = cpSouth;
    S.AzimuthAngle = az450;
    S.RotationSpeed = "2";
    S.Home = 400;
    S.ReturnHome = true;
    S.Offset = -15;
    S.CommandB = "Y11,WAIT500";
    S.CommandA = "Y10 \"S\"";
    S.RelaysCount = 8;
    S.Port = "/dev/ttyUSB0";
    S.BaudRate = "4800";
    S.DataBits = "7";
    S.Parity = "Even";
    S.StopBits = "2";
    S.FlowControl = "Hardware";
  });
}

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
