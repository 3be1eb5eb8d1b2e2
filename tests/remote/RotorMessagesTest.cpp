// The UDP rotor messages of PstRotator's and N1MM Logger's formats: what each
// kind of datagram reads as, and the malformed ones that are refused.

#include "remote/RotorMessages.h"

#include <gtest/gtest.h>

#include <variant>

namespace {

using TPst = std::vector<TPstCommand>;

TEST(RotorMessagesTest, PstMessagesReadAsTheirCommands) {
  struct TCase {
    const char *Datagram;
    TPst Expected;
  };
  const TCase Cases[] = {
      {"<PST><AZIMUTH>85</AZIMUTH></PST>", {{TPstCommand::Azimuth, 85, {}}}},
      {"<PST><AZIMUTH>85.000000.2</AZIMUTH></PST>", {{TPstCommand::Azimuth, 85, {}}}},
      {"<pst><azimuth> 359.5 </azimuth></pst>\r\n", {{TPstCommand::Azimuth, 359.5, {}}}},
      {"<PST><STOP>1</STOP></PST>", {{TPstCommand::Stop, 0, {}}}},
      {"<PST><PARK>1</PARK></PST>", {{TPstCommand::Park, 0, {}}}},
      {"<PST><QRA>KN34BJ</QRA></PST>", {{TPstCommand::Locator, 0, "KN34BJ"}}},
      {"<PST>AZ?</PST>", {{TPstCommand::QueryAzimuth, 0, {}}}},
      {"<PST><ELEVATION>10</ELEVATION><AZIMUTH>0</AZIMUTH></PST>", {{TPstCommand::Azimuth, 0, {}}}},
  };
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(Case.Datagram);
    const auto Result = ParsePstMessage(Case.Datagram);
    ASSERT_TRUE(std::holds_alternative<TPst>(Result)) << std::get<QString>(Result).toStdString();
    EXPECT_EQ(std::get<TPst>(Result), Case.Expected);
  }
}

TEST(RotorMessagesTest, N1mmMessagesReadAsHeadingBandOrStop) {
  const auto Read = [](const char *Datagram) { return ParseN1mmMessage(Datagram); };
  auto Result = Read("<?xml version=\"1.0\" "
                     "encoding=\"utf-8\"?>\n<N1MMRotor><rotor>Mast</rotor>"
                     "<goazi>225.0</goazi><offset>0.0</offset><bidirectional>0</bidirectional>"
                     "<freqband>14.0</freqband></N1MMRotor>");
  ASSERT_TRUE(std::holds_alternative<TN1mmRotorMessage>(Result))
      << std::get<QString>(Result).toStdString();
  TN1mmRotorMessage Expected;
  Expected.Rotor = "Mast";
  Expected.GoAzimuth = 225.0;
  Expected.FreqBandMHz = 14.0;
  EXPECT_EQ(std::get<TN1mmRotorMessage>(Result), Expected);

  Result = Read("<N1MMRotor><stop><rotor>Tower "
                "2</rotor><freqband>7</freqband></stop></N1MMRotor>");
  ASSERT_TRUE(std::holds_alternative<TN1mmRotorMessage>(Result))
      << std::get<QString>(Result).toStdString();
  EXPECT_TRUE(std::get<TN1mmRotorMessage>(Result).Stop);
  EXPECT_EQ(std::get<TN1mmRotorMessage>(Result).Rotor, "Tower 2");
  EXPECT_EQ(N1mmHeadingReport("Mast", 225.04), "Mast @ 2250");
}

TEST(RotorMessagesTest, MalformedDatagramsAreRefusedWithTheReason) {
  struct TCase {
    QByteArray Datagram;
    bool N1mm;
    const char *Reason;
  };
  const TCase Cases[] = {
      {QByteArray(3000, 'x'), false, "longer than 2048"},
      {"<PST><AZIMUTH>85</AZIMUTH>", false, "not a <PST>"},
      {"hello", false, "not a <PST>"},
      {"<PST><AZIMUTH>400</AZIMUTH></PST>", false, "not 0 to 360"},
      {"<PST><AZIMUTH>-5</AZIMUTH></PST>", false, "not 0 to 360"},
      {"<PST><AZIMUTH>north</AZIMUTH></PST>", false, "not 0 to 360"},
      {"<PST><QRA></QRA></PST>", false, "empty locator"},
      {"<PST><STOP>0</STOP></PST>", false, "nothing to do"},
      {"<PST></PST>", false, "nothing to do"},
      {"<N1MMRotor><rotor>Mast</rotor><goazi>85", true, "not well-formed"},
      {"<Other><rotor>Mast</rotor></Other>", true, "not an <N1MMRotor>"},
      {"<N1MMRotor><goazi>85</goazi></N1MMRotor>", true, "no rotor"},
      {"<N1MMRotor><rotor>Mast</rotor><goazi>999</goazi></N1MMRotor>", true, "not 0 to 360"},
      {"<N1MMRotor><rotor>Mast</rotor><goazi>85</goazi><offset>x</offset></"
       "N1MMRotor>",
       true, "offset"},
      {"<N1MMRotor><rotor>Mast</rotor><freqband>-1</freqband></N1MMRotor>", true, "no frequency"},
      {"<N1MMRotor><rotor>Mast</rotor></N1MMRotor>", true, "neither a heading nor a stop"},
      {QByteArray(3000, ' '), true, "longer than 2048"},
  };
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(Case.Datagram.left(60).toStdString());
    const QString Reason = Case.N1mm ? std::get<QString>(ParseN1mmMessage(Case.Datagram))
                                     : std::get<QString>(ParsePstMessage(Case.Datagram));
    EXPECT_TRUE(Reason.contains(QString::fromLatin1(Case.Reason))) << Reason.toStdString();
  }
}

} // namespace
