#include "rotator/RotatorSettings.h"

namespace {

QString LineValue(QString Value) {
  Value.replace(u'\r', u' ');
  Value.replace(u'\n', u' ');
  return Value;
}

QString BoolText(bool Value) { return Value ? QStringLiteral("-1") : QStringLiteral("0"); }

} // namespace

TRotatorSettings TRotatorSettings::Defaults(const QString &Title) {
  TRotatorSettings Settings;
  Settings.Title = Title;
  return Settings;
}

TCenterPosition TRotatorSettings::CenterPositionOf(int Ordinal) {
  return Ordinal <= 0 ? cpNorth : cpSouth;
}

TAzimuthAngle TRotatorSettings::AzimuthAngleOf(int Ordinal) {
  return Ordinal <= 0 ? az360 : az450;
}

QStringList RotatorBlock(const TRotatorSettings &Settings) {
  return {QStringLiteral("Title=") + LineValue(Settings.Title),
          QStringLiteral("MapFileName=") + LineValue(Settings.MapFileName),
          QStringLiteral("Enable=") + BoolText(Settings.Enable),
          QStringLiteral("AutoActive=") + BoolText(Settings.AutoActive)};
}

QString BlockValue(const QStringList &Block, const QString &Name) {
  for (const QString &Line : Block) {
    const qsizetype Equals = Line.indexOf(u'=');
    if (Equals >= 0 && QStringView(Line).left(Equals) == Name)
      return Line.mid(Equals + 1);
  }
  return {};
}
