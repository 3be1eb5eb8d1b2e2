#include "rotator/ControllerLanguage.h"

#include <QLatin1Char>

namespace ControllerLanguage {

namespace {

// Three digits at least, zero-padded.
QString Degrees(int Value) { return QStringLiteral("%1").arg(Value, 3, 10, QLatin1Char('0')); }

// A signed decimal number with optional leading blanks and nothing after its
// digits; none for anything else and for an empty text. The fields of a
// reply are three characters, so no value comes near the bounds of int.
std::optional<int> Number(QStringView Text) {
  qsizetype I = 0;
  while (I < Text.size() && Text[I] == u' ')
    ++I;
  bool Negative = false;
  if (I < Text.size() && (Text[I] == u'+' || Text[I] == u'-')) {
    Negative = Text[I] == u'-';
    ++I;
  }
  if (I >= Text.size() || Text.size() - I > 9)
    return std::nullopt;
  int N = 0;
  for (; I < Text.size(); ++I) {
    const char16_t C = Text[I].unicode();
    if (C < u'0' || C > u'9')
      return std::nullopt;
    N = N * 10 + (C - u'0');
  }
  return Negative ? -N : N;
}

// Characters of the azimuth (and of the elevation) field of a reply.
constexpr qsizetype FieldLen = 3;

} // namespace

TModel ModelNamed(const QString &Name) {
  if (Name == QLatin1String("GS-232B"))
    return TModel::Gs232B;
  if (Name == QLatin1String("KELVANE"))
    return TModel::Kelvane;
  return TModel::Gs232A;
}

QString Line(const QString &Command) { return Command + u'\r'; }

QStringList OpenCommands(bool FirstOpening) {
  QStringList Commands;
  if (FirstOpening)
    Commands << QStringLiteral("K0");
  Commands << StopCommand() << QStringLiteral("I0");
  return Commands;
}

std::optional<QString> CenterCommand(TModel Model, TCenterPosition Centre) {
  switch (Model) {
  case TModel::Kelvane:
    return Centre == cpNorth ? QStringLiteral("ZN") : QStringLiteral("ZS");
  case TModel::Gs232B:
    return QStringLiteral("H3");
  case TModel::Gs232A:
    break;
  }
  return std::nullopt;
}

bool CenterCommandAnswers(TModel Model) { return Model == TModel::Gs232B; }

QString CloseCommand() { return QString(); }

QString PollCommand(bool Elevation) {
  return Elevation ? QStringLiteral("C2") : QStringLiteral("C");
}

QString TurnCommand(TTurn Turn) {
  switch (Turn) {
  case TTurn::Cw:
    return QStringLiteral("R");
  case TTurn::Ccw:
    return QStringLiteral("L");
  case TTurn::Up:
    return QStringLiteral("U");
  case TTurn::Down:
    return QStringLiteral("D");
  }
  return QString();
}

QString StopCommand() { return QStringLiteral("S"); }

QString GoToAzimuth(int Target) { return u'M' + Degrees(Target); }

QString GoToAzimuthElevation(int Azimuth, int Elevation) {
  return u'W' + Degrees(Azimuth) + u' ' + Degrees(Elevation);
}

QString RangeCommand(TAzimuthAngle Range) {
  return Range == az450 ? QStringLiteral("P45") : QStringLiteral("P36");
}

std::optional<QString> SpeedCommand(const QString &Speed) {
  if (Speed.isEmpty())
    return std::nullopt;
  return u'X' + QString(Speed[0]);
}

std::optional<TPosition> ParsePosition(QStringView Reply) {
  while (!Reply.isEmpty() && (Reply.back() == u'\r' || Reply.back() == u'\n'))
    Reply.chop(1);
  qsizetype AzAt = 0;
  // Where the elevation field starts; none when the reply has no elevation.
  qsizetype ElAt = -1;
  if (Reply.startsWith(u"+0")) { // +0aaa+0eee
    AzAt = 2;
    if (Reply.mid(AzAt + FieldLen).startsWith(u"+0"))
      ElAt = AzAt + FieldLen + 2;
  } else if (Reply.startsWith(u"AZ=")) { // AZ=aaa EL=eee, one or more blanks
    AzAt = 3;
    qsizetype P = AzAt + FieldLen;
    while (P < Reply.size() && Reply[P] == u' ')
      ++P;
    if (P > AzAt + FieldLen && Reply.mid(P).startsWith(u"EL="))
      ElAt = P + 3;
  } else {
    return std::nullopt;
  }
  // An azimuth cut short ("AZ=12") is no reading, even where its digits
  // would make a number.
  if (Reply.size() < AzAt + FieldLen)
    return std::nullopt;
  const std::optional<int> Azimuth = Number(Reply.mid(AzAt, FieldLen));
  if (!Azimuth)
    return std::nullopt;
  TPosition Position;
  Position.Azimuth = *Azimuth;
  if (ElAt >= 0)
    Position.Elevation = Number(Reply.mid(ElAt, FieldLen));
  return Position;
}

} // namespace ControllerLanguage
