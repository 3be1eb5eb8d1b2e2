#include "settings/ValueText.h"

#include <QLocale>
#include <cmath>
#include <limits>
#include <type_traits>

TSettingsError::TSettingsError(const QString &Message)
    : std::runtime_error(Message.toUtf8().toStdString()) {}

namespace {

[[noreturn]] void ThrowConvert(const QString &Text, const char *Kind) {
  throw TConvertError(QStringLiteral("'%1' is not a valid %2").arg(Text, QLatin1String(Kind)));
}

int DigitValue(QChar C, int Base) {
  const char16_t U = C.unicode();
  int Value = -1;
  if (U >= u'0' && U <= u'9')
    Value = U - u'0';
  else if (U >= u'a' && U <= u'f')
    Value = U - u'a' + 10;
  else if (U >= u'A' && U <= u'F')
    Value = U - u'A' + 10;
  return Value < Base ? Value : -1;
}

// Reads leading blanks, a sign, an optional hexadecimal prefix and the digits.
// Decimal values must fit the signed range; hexadecimal ones may use the whole
// bit pattern of the type.
template <class T> std::optional<T> ParseWhole(const QString &Text) {
  using U = std::make_unsigned_t<T>;
  const qsizetype N = Text.size();
  qsizetype I = 0;
  while (I < N && Text[I] == u' ')
    ++I;
  bool Negative = false;
  if (I < N && (Text[I] == u'+' || Text[I] == u'-')) {
    Negative = Text[I] == u'-';
    ++I;
  }
  int Base = 10;
  if (I < N && (Text[I] == u'$' || Text[I] == u'x' || Text[I] == u'X')) {
    Base = 16;
    ++I;
  } else if (I + 1 < N && Text[I] == u'0' && (Text[I + 1] == u'x' || Text[I + 1] == u'X')) {
    Base = 16;
    I += 2;
  }
  if (I == N)
    return std::nullopt;
  const quint64 Limit = Base == 16 ? quint64(std::numeric_limits<U>::max())
                        : Negative ? quint64(std::numeric_limits<T>::max()) + 1
                                   : quint64(std::numeric_limits<T>::max());
  quint64 Magnitude = 0;
  for (; I < N; ++I) {
    const int Digit = DigitValue(Text[I], Base);
    if (Digit < 0 || Magnitude > (Limit - quint64(Digit)) / quint64(Base))
      return std::nullopt;
    Magnitude = Magnitude * quint64(Base) + quint64(Digit);
  }
  U Bits = static_cast<U>(Magnitude);
  if (Negative)
    Bits = static_cast<U>(U(0) - Bits);
  return static_cast<T>(Bits);
}

QLocale StrictLocale(QLocale Locale) {
  Locale.setNumberOptions(QLocale::RejectGroupSeparator | QLocale::OmitGroupSeparator);
  return Locale;
}

} // namespace

int TextToInteger(const QString &Text) {
  if (auto Value = ParseWhole<int>(Text))
    return *Value;
  ThrowConvert(Text, "integer value");
}

qint64 TextToInt64(const QString &Text) {
  if (auto Value = ParseWhole<qint64>(Text))
    return *Value;
  ThrowConvert(Text, "integer value");
}

std::optional<double> TryTextToFloat(const QString &Text) {
  const QString Trimmed = Text.trimmed();
  if (Trimmed.isEmpty())
    return std::nullopt;
  bool Ok = false;
  double Value = StrictLocale(QLocale::c()).toDouble(Trimmed, &Ok);
  if (!Ok) {
    const QLocale User;
    if (User.decimalPoint() != QStringLiteral("."))
      Value = StrictLocale(User).toDouble(Trimmed, &Ok);
  }
  if (!Ok)
    return std::nullopt;
  return Value;
}

bool TextToBool(const QString &Text) {
  if (auto Number = TryTextToFloat(Text))
    return *Number != 0;
  if (Text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
    return true;
  if (Text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
    return false;
  ThrowConvert(Text, "boolean value");
}

QString BoolToText(bool Value) { return Value ? QStringLiteral("-1") : QStringLiteral("0"); }

QString FloatToText(double Value) {
  // The shortest text that reads back as the same double.
  return QLocale::c().toString(Value, 'g', QLocale::FloatingPointShortest);
}

double TextToFloat(const QString &Text) {
  if (auto Value = TryTextToFloat(Text))
    return *Value;
  ThrowConvert(Text, "floating point value");
}

QString CurrencyToText(TCurrency Value) {
  const bool Negative = Value.Units < 0;
  const quint64 Magnitude = Negative ? quint64(0) - quint64(Value.Units) : quint64(Value.Units);
  QString Result = QString::number(Magnitude / 10000);
  if (const quint64 Fraction = Magnitude % 10000) {
    QString Decimals = QStringLiteral("%1").arg(Fraction, 4, 10, QLatin1Char('0'));
    while (Decimals.endsWith(u'0'))
      Decimals.chop(1);
    Result += u'.' + Decimals;
  }
  return Negative ? u'-' + Result : Result;
}

TCurrency TextToCurrency(const QString &Text) {
  // The plain decimal form is read exactly; other number forms (an exponent,
  // more than four decimals) go through a double and are rounded.
  const QString Trimmed = Text.trimmed();
  const QString Point = QLocale().decimalPoint();
  QString Whole = Trimmed;
  QString Fraction;
  qsizetype At = Trimmed.indexOf(u'.');
  qsizetype PointLength = 1;
  if (At < 0 && !Point.isEmpty()) {
    At = Trimmed.indexOf(Point);
    PointLength = Point.size();
  }
  if (At >= 0) {
    Whole = Trimmed.left(At);
    Fraction = Trimmed.mid(At + PointLength);
  }
  const bool Signed = Whole.startsWith(u'-') || Whole.startsWith(u'+');
  const QString Digits = Whole.mid(Signed ? 1 : 0);
  auto AllDigits = [](const QString &S) {
    for (QChar C : S)
      if (C < u'0' || C > u'9')
        return false;
    return true;
  };
  if (!(Digits + Fraction).isEmpty() && AllDigits(Digits) && AllDigits(Fraction) &&
      Fraction.size() <= 4) {
    const QString Scaled = (Signed ? Whole.left(1) : QString()) +
                           (Digits.isEmpty() ? QStringLiteral("0") : Digits) +
                           Fraction.leftJustified(4, u'0');
    if (auto Units = ParseWhole<qint64>(Scaled))
      return {*Units};
    ThrowConvert(Text, "floating point value");
  }
  if (auto Number = TryTextToFloat(Text)) {
    const double Units = std::round(*Number * 10000.0);
    if (std::isfinite(Units) && std::fabs(Units) < 9.2e18)
      return {static_cast<qint64>(Units)};
  }
  ThrowConvert(Text, "floating point value");
}

QString DateToText(const QDate &Value) { return Value.toString(QStringLiteral("yyyy-MM-dd")); }

QString TimeToText(const QTime &Value) {
  return Value.toString(Value.msec() ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss"));
}

QString DateTimeToText(const QDateTime &Value) {
  const QString Date = DateToText(Value.date());
  const QTime Time = Value.time();
  if (Time == QTime(0, 0))
    return Date;
  return Date + u' ' + TimeToText(Time);
}

namespace {

QDate TryDate(const QString &Text) {
  QDate Date = QDate::fromString(Text, QStringLiteral("yyyy-MM-dd"));
  const QLocale User;
  if (!Date.isValid())
    Date = User.toDate(Text, QLocale::ShortFormat);
  if (!Date.isValid())
    Date = User.toDate(Text, QLocale::LongFormat);
  return Date;
}

QTime TryTime(const QString &Text) {
  QTime Time;
  for (const char *Format : {"HH:mm:ss.zzz", "HH:mm:ss", "HH:mm"}) {
    Time = QTime::fromString(Text, QLatin1String(Format));
    if (Time.isValid())
      return Time;
  }
  const QLocale User;
  Time = User.toTime(Text, QLocale::LongFormat);
  if (!Time.isValid())
    Time = User.toTime(Text, QLocale::ShortFormat);
  return Time;
}

} // namespace

QDate TextToDate(const QString &Text) {
  const QDate Date = TryDate(Text.trimmed());
  if (!Date.isValid())
    ThrowConvert(Text, "date");
  return Date;
}

QTime TextToTime(const QString &Text) {
  const QTime Time = TryTime(Text.trimmed());
  if (!Time.isValid())
    ThrowConvert(Text, "time");
  return Time;
}

QDateTime TextToDateTime(const QString &Text) {
  const QString Trimmed = Text.trimmed();
  const qsizetype Blank = Trimmed.indexOf(u' ');
  if (Blank > 0) {
    const QDate Date = TryDate(Trimmed.left(Blank));
    const QTime Time = TryTime(Trimmed.mid(Blank + 1).trimmed());
    if (Date.isValid() && Time.isValid())
      return QDateTime(Date, Time);
  } else if (const QDate Date = TryDate(Trimmed); Date.isValid()) {
    return QDateTime(Date, QTime(0, 0));
  } else if (const QTime Time = TryTime(Trimmed); Time.isValid()) {
    return QDateTime(QDate(1899, 12, 30), Time);
  }
  const QLocale User;
  QDateTime Value = User.toDateTime(Trimmed, QLocale::ShortFormat);
  if (!Value.isValid())
    Value = User.toDateTime(Trimmed, QLocale::LongFormat);
  if (!Value.isValid())
    ThrowConvert(Text, "date and time");
  return Value;
}

QString BinaryToText(const QByteArray &Value) {
  QString Text;
  for (qsizetype Start = 0; Start < Value.size(); Start += 16) {
    if (Start > 0)
      Text += QStringLiteral(",\r\n");
    Text += QString::fromLatin1(Value.mid(Start, 16).toHex(',').toUpper());
  }
  return Text;
}

QByteArray TextToBinary(const QString &Text) {
  QString Plain = Text;
  Plain.remove(QStringLiteral("\r\n"));
  Plain.remove(u' ');
  QByteArray Bytes;
  for (const QString &Part : Plain.split(u',')) {
    const QString Piece = Part.trimmed();
    if (Piece.isEmpty())
      continue;
    bool Hex = true;
    for (QChar C : Piece)
      Hex = Hex && DigitValue(C, 16) >= 0;
    const auto Value = Hex ? ParseWhole<int>(u'$' + Piece) : std::nullopt;
    if (!Value)
      ThrowConvert(Piece, "integer value");
    Bytes.append(static_cast<char>(*Value & 0xFF));
  }
  return Bytes;
}

QString ExpandEnvironmentText(const QString &Text) {
  QString Result;
  qsizetype I = 0;
  while (I < Text.size()) {
    const qsizetype Open = Text.indexOf(u'%', I);
    const qsizetype Close = Open < 0 ? -1 : Text.indexOf(u'%', Open + 1);
    if (Close < 0) {
      Result += Text.mid(I);
      break;
    }
    Result += Text.mid(I, Open - I);
    const QString Name = Text.mid(Open + 1, Close - Open - 1);
    if (!Name.isEmpty() && qEnvironmentVariableIsSet(Name.toLocal8Bit().constData())) {
      Result += qEnvironmentVariable(Name.toLocal8Bit().constData());
      I = Close + 1;
    } else {
      // Undefined: keep the text and let the closing "%" open the next reference.
      Result += u'%' + Name;
      I = Close;
    }
  }
  return Result;
}
