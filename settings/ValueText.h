#pragma once
// Text forms of the typed settings values, and the errors of the settings store.
//
// Every TextTo... function throws TConvertError when the text does not convert;
// its message names the text and the wanted type ("'yes' is not a valid
// integer value"). The ...ToText functions produce the forms the matching
// TextTo... function reads back exactly. Numbers, dates and times are written
// in one fixed form, independent of the user's locale, so that a settings file
// stays readable after the locale changes; the reads also accept the user's
// locale forms for hand-edited files.

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <QtGlobal>
#include <compare>
#include <optional>
#include <stdexcept>

// Any failure of the settings store: an unreadable or malformed file, a file
// that can't be written, a refused element name, a key that holds no text.
class TSettingsError : public std::runtime_error {
public:
  explicit TSettingsError(const QString &Message);
  QString Message() const { return QString::fromUtf8(what()); }
};

// A text that does not convert to the wanted type.
class TConvertError : public TSettingsError {
public:
  using TSettingsError::TSettingsError;
};

// Fixed-point amount with four decimals, held as a count of ten-thousandths.
struct TCurrency {
  qint64 Units = 0;
  friend auto operator<=>(const TCurrency &, const TCurrency &) = default;
};

// 32-bit integer: optional leading blanks, an optional sign, then decimal
// digits, or hexadecimal digits after "$", "x" or "0x" (either letter case);
// nothing may follow the digits. Hexadecimal covers the whole 32-bit pattern
// ("$FFFFFFFF" is -1).
int TextToInteger(const QString &Text);
// As TextToInteger, 64-bit.
qint64 TextToInt64(const QString &Text);

// Any number is a Boolean (zero false, every other number true); besides
// numbers "True" and "False" in any letter case. Anything else, the empty text
// included, is a conversion error.
bool TextToBool(const QString &Text);
// "-1" for true, "0" for false.
QString BoolToText(bool Value);

// General format with as many digits as it takes to read back the same
// double, "." as the decimal separator.
QString FloatToText(double Value);
double TextToFloat(const QString &Text);
// The number, or nothing when the text is not one.
std::optional<double> TryTextToFloat(const QString &Text);

// At most four decimals, "." as the decimal separator, no trailing zeros.
QString CurrencyToText(TCurrency Value);
TCurrency TextToCurrency(const QString &Text);

// Dates as yyyy-MM-dd; times as HH:mm:ss, with .zzz when there are
// milliseconds; a date and time as both joined by a blank, the time left out
// when it is exactly midnight. A time alone read as a date and time falls on
// 1899-12-30, the origin of the day count that dates were once stored as.
QString DateToText(const QDate &Value);
QString TimeToText(const QTime &Value);
QString DateTimeToText(const QDateTime &Value);
QDate TextToDate(const QString &Text);
QTime TextToTime(const QString &Text);
QDateTime TextToDateTime(const QString &Text);

// Each byte as two upper-case hexadecimal digits, "," between bytes, and a CR
// LF after the comma that follows every sixteenth byte.
QString BinaryToText(const QByteArray &Value);
// Reads that form back: CR LF pairs and blanks are removed, the rest is split
// at ",", empty pieces are skipped and every other piece is a hexadecimal
// number whose low eight bits are the next byte.
QByteArray TextToBinary(const QString &Text);

// Replaces every %NAME% by the value of the environment variable NAME;
// references to undefined variables stay as written.
QString ExpandEnvironmentText(const QString &Text);
