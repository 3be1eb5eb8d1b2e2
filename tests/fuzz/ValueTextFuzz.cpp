// The settings' value texts, in the C locale and in a German one (decimal
// comma, day.month.year dates): a text either does not convert or gives a
// value that written and read again stays the same.

#include "FuzzSupport.h"

#include "settings/ValueText.h"

#include <QLocale>

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size == 0)
    return 0;
  QLocale::setDefault(Data[0] & 1 ? QLocale(QLocale::German, QLocale::Germany) : QLocale::c());
  const QString Text = QString::fromUtf8(Bytes(Data + 1, Size - 1));

  try {
    const int I = TextToInteger(Text);
    FUZZ_CHECK(TextToInteger(QString::number(I)) == I, "an integer reads back");
  } catch (const TConvertError &) {
  }
  try {
    const qint64 I = TextToInt64(Text);
    FUZZ_CHECK(TextToInt64(QString::number(I)) == I, "a 64-bit integer reads back");
  } catch (const TConvertError &) {
  }
  try {
    const bool B = TextToBool(Text);
    FUZZ_CHECK(TextToBool(BoolToText(B)) == B, "a Boolean reads back");
  } catch (const TConvertError &) {
  }
  if (const std::optional<double> F = TryTextToFloat(Text)) {
    const std::optional<double> Again = TryTextToFloat(FloatToText(*F));
    FUZZ_CHECK(Again.has_value(), "a written number reads");
    FUZZ_CHECK((std::isnan(*F) && std::isnan(*Again)) || *Again == *F, "a number reads back exactly");
  }
  try {
    const TCurrency C = TextToCurrency(Text);
    FUZZ_CHECK(TextToCurrency(CurrencyToText(C)) == C, "a currency reads back");
  } catch (const TConvertError &) {
  }
  try {
    const QByteArray B = TextToBinary(Text);
    FUZZ_CHECK(TextToBinary(BinaryToText(B)) == B, "binary data reads back");
  } catch (const TConvertError &) {
  }
  try {
    const QDateTime D = TextToDateTime(Text);
    if (D.isValid())
      FUZZ_CHECK(TextToDateTime(DateTimeToText(D)) == D, "a date and time reads back");
  } catch (const TConvertError &) {
  }
  return 0;
}
