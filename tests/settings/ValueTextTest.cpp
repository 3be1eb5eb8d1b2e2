// Text forms of the typed values: what each conversion accepts, what it
// rejects, and the message of a rejection.

#include "settings/ValueText.h"
#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <optional>

namespace {

struct TIntegerCase {
  const char *Text;
  std::optional<qint64> Expected; // nothing: a conversion error
};

TEST(ValueText, IntegerTextsAcceptedAndRejected) {
  const TIntegerCase Cases[] = {
      {"31", 31},
      {" 31", 31},
      {"   -31", -31},
      {"+7", 7},
      {"007", 7},
      {"0x1F", 31},
      {"0X1f", 31},
      {"$1f", 31},
      {"x1F", 31},
      {"-$10", -16},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"$FFFFFFFF", -1}, // the whole 32-bit pattern
      {"31 ", std::nullopt},
      {"abc", std::nullopt},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"-", std::nullopt},
      {"0x", std::nullopt},
      {"$", std::nullopt},
      {"1.5", std::nullopt},
      {"1e3", std::nullopt},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"$100000000", std::nullopt},
      {"$G1", std::nullopt},
      {"3 1", std::nullopt},
  };
  for (const TIntegerCase &Case : Cases) {
    SCOPED_TRACE(Case.Text);
    if (Case.Expected)
      EXPECT_EQ(TextToInteger(QString::fromLatin1(Case.Text)), *Case.Expected);
    else
      EXPECT_THROW(TextToInteger(QString::fromLatin1(Case.Text)), TConvertError);
  }
}

TEST(ValueText, Int64CoversTheWholeRange) {
  EXPECT_EQ(TextToInt64("9223372036854775807"), LLONG_MAX);
  EXPECT_EQ(TextToInt64("-9223372036854775808"), LLONG_MIN);
  EXPECT_EQ(TextToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(TextToInt64(" 0x7fffffffffffffff"), LLONG_MAX);
  EXPECT_THROW(TextToInt64("9223372036854775808"), TConvertError);
  EXPECT_THROW(TextToInt64("$10000000000000000"), TConvertError);
}

TEST(ValueText, BooleanTextsAcceptedAndRejected) {
  const std::pair<const char *, std::optional<bool>> Cases[] = {
      {"1", true},         {"-1", true},
      {"2.5", true},       {"TRUE", true},
      {"true", true},      {"tRuE", true},
      {"0", false},        {"-0", false},
      {"0.0", false},      {"false", false},
      {"FALSE", false},    {"yes", std::nullopt},
      {"", std::nullopt},  {" true", std::nullopt},
      {"T", std::nullopt},
  };
  for (const auto &[Text, Expected] : Cases) {
    SCOPED_TRACE(Text);
    if (Expected)
      EXPECT_EQ(TextToBool(QString::fromLatin1(Text)), *Expected);
    else
      EXPECT_THROW(TextToBool(QString::fromLatin1(Text)), TConvertError);
  }
  EXPECT_EQ(BoolToText(true), "-1");
  EXPECT_EQ(BoolToText(false), "0");
}

// The message names the text and the wanted type.
TEST(ValueText, ConversionErrorsNameTheValueAndTheType) {
  const std::pair<std::function<void()>, const char *> Cases[] = {
      {[] { TextToInteger("yes"); }, "'yes' is not a valid integer value"},
      {[] { TextToInt64("1 2"); }, "'1 2' is not a valid integer value"},
      {[] { TextToBool("yes"); }, "'yes' is not a valid boolean value"},
      {[] { TextToBool(""); }, "'' is not a valid boolean value"},
      {[] { TextToFloat("abc"); }, "'abc' is not a valid floating point value"},
      {[] { TextToCurrency("1.2.3"); }, "'1.2.3' is not a valid floating point value"},
      {[] { TextToDate("tomorrow"); }, "'tomorrow' is not a valid date"},
      {[] { TextToTime("25:00:00"); }, "'25:00:00' is not a valid time"},
      {[] { TextToDateTime("soon"); }, "'soon' is not a valid date and time"},
      {[] { TextToBinary("0A,0G"); }, "'0G' is not a valid integer value"},
  };
  for (const auto &[Convert, Message] : Cases) {
    SCOPED_TRACE(Message);
    try {
      Convert();
      ADD_FAILURE() << "no conversion error";
    } catch (const TConvertError &E) {
      EXPECT_EQ(E.Message(), QString::fromLatin1(Message));
    }
  }
}

TEST(ValueText, CurrencyIsExactToTenThousandths) {
  const std::pair<const char *, qint64> Reads[] = {
      {"12.5", 125000},
      {"-0.0001", -1},
      {"3", 30000},
      {" 3 ", 30000},
      {".5", 5000},
      {"922337203685477.5807", LLONG_MAX},
      {"-922337203685477.5808", LLONG_MIN},
      {"1.23456", 12346}, // more than four decimals: rounded
      {"1e2", 1000000},
  };
  for (const auto &[Text, Units] : Reads) {
    SCOPED_TRACE(Text);
    EXPECT_EQ(TextToCurrency(QString::fromLatin1(Text)).Units, Units);
  }
  for (const char *Text : {"", "abc", "922337203685477.5808", "1.2.3", "--1"}) {
    SCOPED_TRACE(Text);
    EXPECT_THROW(TextToCurrency(QString::fromLatin1(Text)), TConvertError);
  }
  EXPECT_EQ(CurrencyToText({125000}), "12.5");
  EXPECT_EQ(CurrencyToText({-1}), "-0.0001");
  EXPECT_EQ(CurrencyToText({30000}), "3");
  EXPECT_EQ(CurrencyToText({LLONG_MIN}), "-922337203685477.5808");
}

TEST(ValueText, BinaryTextIsReadLeniently) {
  EXPECT_EQ(TextToBinary("0a, 0B ,,ff"), QByteArray::fromHex("0a0bff"));
  EXPECT_EQ(TextToBinary(""), QByteArray());
  // The line break a parser leaves of CR LF is a lone LF.
  EXPECT_EQ(TextToBinary("0E,0F,\n10"), QByteArray::fromHex("0e0f10"));
  EXPECT_EQ(TextToBinary("0E,0F,\r\n10"), QByteArray::fromHex("0e0f10"));
  EXPECT_EQ(TextToBinary("1FF"), QByteArray::fromHex("ff")); // low eight bits
  EXPECT_THROW(TextToBinary("-1"), TConvertError);
  EXPECT_THROW(TextToBinary("0x1"), TConvertError);
}

TEST(ValueText, EnvironmentReferencesAreExpanded) {
  qputenv("ORBALT_TEST_MAPS", "/home/op/maps");
  qunsetenv("ORBALT_TEST_UNDEFINED");
  const std::pair<const char *, const char *> Cases[] = {
      {"%ORBALT_TEST_MAPS%/AzChart.bmp", "/home/op/maps/AzChart.bmp"},
      {"%ORBALT_TEST_UNDEFINED%/a", "%ORBALT_TEST_UNDEFINED%/a"},
      {"50%", "50%"},
      {"%%", "%%"},
      {"100% %ORBALT_TEST_MAPS%", "100% /home/op/maps"},
      {"%ORBALT_TEST_MAPS%%ORBALT_TEST_MAPS%", "/home/op/maps/home/op/maps"},
  };
  for (const auto &[Text, Expected] : Cases) {
    SCOPED_TRACE(Text);
    EXPECT_EQ(ExpandEnvironmentText(QString::fromLatin1(Text)), QString::fromLatin1(Expected));
  }
  qunsetenv("ORBALT_TEST_MAPS");
}

} // namespace
