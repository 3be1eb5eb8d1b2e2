// Reading command lines and writing answers of the rotctld protocol.

#include "remote/RotctldProtocol.h"

#include <gtest/gtest.h>

namespace {

TRotctldRequest Parse(const char *Line) {
  const std::optional<TRotctldRequest> Request = ParseRotctldLine(QByteArray(Line));
  EXPECT_TRUE(Request.has_value()) << Line;
  return Request.value_or(TRotctldRequest{});
}

} // namespace

TEST(RotctldProtocol, ReadsCommandsByLetterAndByLongName) {
  struct Case {
    const char *Line;
    TRotctldCommand Command;
    char Separator;
    QStringList Args;
  };
  const Case Cases[] = {
      {"p", TRotctldCommand::GetPos, 0, {}},
      {"\\get_pos", TRotctldCommand::GetPos, 0, {}},
      {"P 90.5 0", TRotctldCommand::SetPos, 0, {"90.5", "0"}},
      {"\\set_pos\t135  10", TRotctldCommand::SetPos, 0, {"135", "10"}},
      {"S", TRotctldCommand::Stop, 0, {}},
      {"K", TRotctldCommand::Park, 0, {}},
      {"\\park", TRotctldCommand::Park, 0, {}},
      {"M 16 50", TRotctldCommand::Move, 0, {"16", "50"}},
      {"w M090", TRotctldCommand::SendCmd, 0, {"M090"}},
      {"_", TRotctldCommand::GetInfo, 0, {}},
      {"1", TRotctldCommand::DumpCaps, 0, {}},
      {"\\dump_state", TRotctldCommand::DumpState, 0, {}},
      {"s", TRotctldCommand::GetStatus, 0, {}},
      {"q", TRotctldCommand::Quit, 0, {}},
      {"Q", TRotctldCommand::Quit, 0, {}},
      // The extended response protocol: "+" answers line by line, the other
      // punctuation characters join the answer on one line.
      {"+\\get_pos", TRotctldCommand::GetPos, '\n', {}},
      {"+p", TRotctldCommand::GetPos, '\n', {}},
      {";\\set_pos 1 2", TRotctldCommand::SetPos, ';', {"1", "2"}},
      {"|P 1 2", TRotctldCommand::SetPos, '|', {"1", "2"}},
      {",S", TRotctldCommand::Stop, ',', {}},
      // Long names need the backslash; letters are case-sensitive; "get_pos"
      // without it and unknown names are unknown commands.
      {"get_pos", TRotctldCommand::Unknown, 0, {}},
      {"\\get_something", TRotctldCommand::Unknown, 0, {}},
      {"k", TRotctldCommand::Unknown, 0, {}},
      {"C speed 4", TRotctldCommand::Unknown, 0, {"speed", "4"}},
      {"_ extra", TRotctldCommand::GetInfo, 0, {"extra"}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Line);
    const TRotctldRequest Request = Parse(C.Line);
    EXPECT_EQ(Request.Command, C.Command);
    EXPECT_EQ(Request.Separator, C.Separator);
    EXPECT_EQ(Request.Args, C.Args);
  }
}

TEST(RotctldProtocol, LinesWithoutACommandAreSkipped) {
  for (const char *Line : {"", "   ", "\t", "+", " ; "})
    EXPECT_FALSE(ParseRotctldLine(QByteArray(Line)).has_value()) << '"' << Line << '"';
}

TEST(RotctldProtocol, SendCmdKeepsItsTextWithBlanks) {
  const TRotctldRequest Request = Parse("w   \"W090 045\", WAIT100  ");
  EXPECT_EQ(Request.ArgText, "\"W090 045\", WAIT100");
}

TEST(RotctldProtocol, NumbersAreStrictAndFinite) {
  struct Case {
    const char *Text;
    std::optional<double> Value;
  };
  const Case Cases[] = {
      {"90", 90.0},       {"90.5", 90.5},  {"-0.25", -0.25}, {"+45", 45.0},
      {".5", 0.5},        {"1e2", 100.0},  {"359.", 359.0},  {"", std::nullopt},
      {"90,5", std::nullopt}, {"ninety", std::nullopt}, {"nan", std::nullopt},
      {"inf", std::nullopt},  {"1e999", std::nullopt}, {"0x10", std::nullopt},
      {"12abc", std::nullopt}, {"--1", std::nullopt},
  };
  for (const Case &C : Cases)
    EXPECT_EQ(ParseRotctldNumber(QString::fromLatin1(C.Text)), C.Value) << C.Text;

  EXPECT_EQ(ParseRotctldInteger(QStringLiteral("16")), 16);
  EXPECT_EQ(ParseRotctldInteger(QStringLiteral("-1")), -1);
  EXPECT_EQ(ParseRotctldInteger(QStringLiteral("8.0")), std::nullopt);
  EXPECT_EQ(ParseRotctldInteger(QStringLiteral("9999999999")), std::nullopt);
}

TEST(RotctldProtocol, AnswersInTheDefaultProtocol) {
  const TRotctldReply Position{RotctldOk, {{"Azimuth", "90.000000"}, {"Elevation", "0.000000"}}};
  EXPECT_EQ(FormatRotctldReply(Parse("p"), Position), "90.000000\n0.000000\n");
  // A command without values answers RPRT 0; any failure answers its code
  // alone, also for a command that would have values.
  EXPECT_EQ(FormatRotctldReply(Parse("P 1 0"), TRotctldReply{}), "RPRT 0\n");
  EXPECT_EQ(FormatRotctldReply(Parse("p"), TRotctldReply::Error(RotctldRejected)), "RPRT -9\n");
}

// An error's reason follows its code on the RPRT line as one line of text
// that keeps the record separator out and stays within the 64 bytes that
// clients read for a line; the code stands first, as clients read it.
TEST(RotctldProtocol, AnErrorsReasonFollowsItsCode) {
  const QString Long = QStringLiteral("Tower is not open: ") + QString(60, u'x');
  struct Case {
    const char *Line;
    TRotctldReply Reply;
    QByteArray Answer;
  };
  const Case Cases[] = {
      {"p", TRotctldReply::Error(RotctldRejected, "Tower is not open"),
       "RPRT -9 Tower is not open\n"},
      // A reply with values but an error code answers the code and reason.
      {"p", TRotctldReply{RotctldRejected, {{"Azimuth", "1"}}, "Tower is not open"},
       "RPRT -9 Tower is not open\n"},
      {"+p", TRotctldReply::Error(RotctldRejected, "Tower is not open"),
       "get_pos:\nRPRT -9 Tower is not open\n"},
      // Line ends and the separator become blanks, runs of blanks one.
      {"P 1 0", TRotctldReply::Error(RotctldRejected, "two\r\nlines,\tand a comma"),
       "RPRT -9 two lines, and a comma\n"},
      {",S", TRotctldReply::Error(RotctldRejected, "one, two"), "stop:,RPRT -9 one two\n"},
      {"P 1 0", TRotctldReply::Error(RotctldRejected, " \n "), "RPRT -9\n"},
      // Done: no reason, whatever was given.
      {"S", TRotctldReply{RotctldOk, {}, "ignored"}, "RPRT 0\n"},
      // Cut to 63 bytes before the line end, never inside a character.
      {"S", TRotctldReply::Error(RotctldRejected, Long),
       ("RPRT -9 " + Long).left(63).toUtf8() + '\n'},
      {"S", TRotctldReply::Error(RotctldInvalidParameter, QString(54, u'x') + QStringLiteral("°")),
       "RPRT -1 " + QByteArray(54, 'x') + "\n"},
  };
  for (const Case &C : Cases)
    EXPECT_EQ(FormatRotctldReply(Parse(C.Line), C.Reply), C.Answer) << C.Line;
}

TEST(RotctldProtocol, AnswersInTheExtendedProtocol) {
  const TRotctldReply Position{RotctldOk, {{"Azimuth", "90.000000"}, {"Elevation", "0.000000"}}};
  struct Case {
    const char *Line;
    TRotctldReply Reply;
    const char *Answer;
  };
  const Case Cases[] = {
      {"+\\get_pos", Position, "get_pos:\nAzimuth: 90.000000\nElevation: 0.000000\nRPRT 0\n"},
      {"+p", Position, "get_pos:\nAzimuth: 90.000000\nElevation: 0.000000\nRPRT 0\n"},
      {";\\get_pos", Position, "get_pos:;Azimuth: 90.000000;Elevation: 0.000000;RPRT 0\n"},
      {"|\\get_pos", Position, "get_pos:|Azimuth: 90.000000|Elevation: 0.000000|RPRT 0\n"},
      {"+P 90 45", TRotctldReply{}, "set_pos: 90 45\nRPRT 0\n"},
      {"|\\set_pos 135 22.5", TRotctldReply{}, "set_pos: 135 22.5|RPRT 0\n"},
      {",S", TRotctldReply::Error(RotctldRejected), "stop:,RPRT -9\n"},
      // A failed read gives the header and the code, no values.
      {"+p", TRotctldReply{RotctldRejected, Position.Values}, "get_pos:\nRPRT -9\n"},
      // An unknown command is named as written.
      {"+\\frobnicate 1", TRotctldReply::Error(RotctldNotImplemented),
       "frobnicate: 1\nRPRT -4\n"},
      // Listing lines stand as they are.
      {"+\\dump_state", TRotctldReply{RotctldOk, {{"", "1"}, {"", "done"}}},
       "dump_state:\n1\ndone\nRPRT 0\n"},
  };
  for (const Case &C : Cases)
    EXPECT_EQ(FormatRotctldReply(Parse(C.Line), C.Reply), QByteArray(C.Answer)) << C.Line;
}

TEST(RotctldProtocol, OnlyPrintableAsciiAndLineEndsAreAllowed) {
  for (char Byte : {'a', ' ', '\t', '\r', '\n', '~', '\\'})
    EXPECT_TRUE(RotctldByteAllowed(Byte)) << int(Byte);
  for (char Byte : {'\0', '\x1b', '\x7f', '\x80', '\xff', '\x08'})
    EXPECT_FALSE(RotctldByteAllowed(Byte)) << int(Byte);
}
