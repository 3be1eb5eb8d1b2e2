// The controller's language without a port: the command texts of each model
// and the readings of position replies, as tables.

#include "rotator/ControllerLanguage.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

namespace Lang = ControllerLanguage;

namespace ControllerLanguage {
// Readable readings in failure messages.
inline void PrintTo(const TPosition &P, std::ostream *Out) {
  *Out << "az " << P.Azimuth << " el ";
  if (P.Elevation)
    *Out << *P.Elevation;
  else
    *Out << "none";
}
} // namespace ControllerLanguage

namespace {

// What one model sends: on the first and a later opening, for each centre,
// and the commands all models share.
struct TModelCase {
  const char *Name;
  Lang::TModel Model;
  const char *CenterNorth; // nullptr: none
  const char *CenterSouth;
  bool CenterAnswers;
};

TEST(ControllerLanguage, CommandsOfEachModel) {
  const TModelCase Cases[] = {
      {"GS-232A", Lang::TModel::Gs232A, nullptr, nullptr, false},
      {"GS-232B", Lang::TModel::Gs232B, "H3", "H3", true},
      {"KELVANE", Lang::TModel::Kelvane, "ZN", "ZS", false},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    const Lang::TModel Model = Lang::ModelNamed(QString::fromLatin1(C.Name));
    ASSERT_EQ(Model, C.Model);

    EXPECT_EQ(Lang::OpenCommands(true), (QStringList{"K0", "S", "I0"}));
    EXPECT_EQ(Lang::OpenCommands(false), (QStringList{"S", "I0"}));
    auto Center = [&](TCenterPosition Centre) {
      const std::optional<QString> Command = Lang::CenterCommand(Model, Centre);
      return Command ? Command->toStdString() : std::string("none");
    };
    EXPECT_EQ(Center(cpNorth), C.CenterNorth ? C.CenterNorth : "none");
    EXPECT_EQ(Center(cpSouth), C.CenterSouth ? C.CenterSouth : "none");
    EXPECT_EQ(Lang::CenterCommandAnswers(Model), C.CenterAnswers);

    // The rest of the command set is the same for every model.
    EXPECT_EQ(Lang::PollCommand(false), "C");
    EXPECT_EQ(Lang::PollCommand(true), "C2");
    EXPECT_EQ(Lang::TurnCommand(Lang::TTurn::Cw), "R");
    EXPECT_EQ(Lang::TurnCommand(Lang::TTurn::Ccw), "L");
    EXPECT_EQ(Lang::TurnCommand(Lang::TTurn::Up), "U");
    EXPECT_EQ(Lang::TurnCommand(Lang::TTurn::Down), "D");
    EXPECT_EQ(Lang::StopCommand(), "S");
    EXPECT_EQ(Lang::GoToAzimuth(0), "M000");
    EXPECT_EQ(Lang::GoToAzimuth(5), "M005");
    EXPECT_EQ(Lang::GoToAzimuth(45), "M045");
    EXPECT_EQ(Lang::GoToAzimuth(359), "M359");
    EXPECT_EQ(Lang::GoToAzimuth(450), "M450");
    EXPECT_EQ(Lang::GoToAzimuthElevation(90, 45), "W090 045");
    EXPECT_EQ(Lang::GoToAzimuthElevation(400, 0), "W400 000");
    EXPECT_EQ(Lang::RangeCommand(az360), "P36");
    EXPECT_EQ(Lang::RangeCommand(az450), "P45");
    EXPECT_EQ(Lang::SpeedCommand("1"), QStringLiteral("X1"));
    EXPECT_EQ(Lang::SpeedCommand("4"), QStringLiteral("X4"));
    EXPECT_EQ(Lang::SpeedCommand(""), std::nullopt);
    // On the line: each command and a CR; closing sends the CR alone.
    EXPECT_EQ(Lang::Line("M045"), "M045\r");
    EXPECT_EQ(Lang::Line(Lang::CloseCommand()), "\r");
  }
}

TEST(ControllerLanguage, ModelNamesAreComparedExactly) {
  // A name written otherwise, or none, speaks as "GS-232A": no centre command.
  for (const char *Name : {"gs-232b", "Kelvane", "KELVANE ", "", "GS-232"}) {
    SCOPED_TRACE(Name);
    const Lang::TModel Model = Lang::ModelNamed(QString::fromLatin1(Name));
    EXPECT_EQ(Model, Lang::TModel::Gs232A);
    EXPECT_EQ(Lang::CenterCommand(Model, cpSouth), std::nullopt);
  }
}

struct TReplyCase {
  const char *Reply;
  std::optional<Lang::TPosition> Reading;
};

constexpr std::optional<Lang::TPosition> None = std::nullopt;
Lang::TPosition Az(int A) { return {A, std::nullopt}; }
Lang::TPosition AzEl(int A, int E) { return {A, E}; }

// Both reply styles read the same way whatever the model: "+0aaa" is the
// style of "GS-232A" and "KELVANE", "AZ=aaa" that of "GS-232B".
TEST(ControllerLanguage, PositionReplies) {
  const TReplyCase Cases[] = {
      // Well formed, with or without elevation and line end.
      {"+0123", Az(123)},
      {"+0123\r\n", Az(123)},
      {"+0123\r", Az(123)},
      {"+0123+0045\r\n", AzEl(123, 45)},
      {"+0123+0045", AzEl(123, 45)},
      {"+0400", Az(400)},
      {"+0000+0000", AzEl(0, 0)},
      {"AZ=090", Az(90)},
      {"AZ=090\r\n", Az(90)},
      {"AZ=123 EL=145", AzEl(123, 145)},
      {"AZ=123 EL=145\r\n", AzEl(123, 145)},
      {"AZ=123  EL=145", AzEl(123, 145)},
      {"AZ=123    EL=145\r\n", AzEl(123, 145)},
      // The position read ends after 11 characters: only the first elevation
      // digit, or none, falls inside it.
      {"AZ=123 EL=1", AzEl(123, 1)},
      {"AZ=123  EL=", Az(123)},
      {"+0123+0045\r", AzEl(123, 45)},
      // Leading blanks and a sign are part of a number.
      {"+0 12", Az(12)},
      {"AZ=-05", Az(-5)},
      {"AZ=  7 EL= 30", AzEl(7, 30)},
      // Text after a complete reply is not part of it.
      {"+0123+0045xyz", AzEl(123, 45)},
      {"+0123 trailing", Az(123)},
      // An elevation that is not a number reads as none; the azimuth stands.
      {"+0123+0abc", Az(123)},
      {"AZ=123 EL=x45", Az(123)},
      {"AZ=123EL=145", Az(123)},
      // Cut short inside the azimuth: no reading, though "12" is a number.
      {"+012\r\n", None},
      {"+012", None},
      {"AZ=12", None},
      {"AZ=", None},
      {"+0", None},
      {"+", None},
      // Garbled azimuth: no reading, also when an elevation follows.
      {"+0abc+0045", None},
      {"AZ=1x3", None},
      {"+0   ", None},
      {"+0+-1", None},
      // Neither style, or nothing at all.
      {"?>\r\n", None},
      {"?>", None},
      {"\r", None},
      {"\r\n", None},
      {"", None},
      {"0123", None},
      {"az=123", None},
      {"EL=045", None},
      {"x\xff?", None},
  };
  for (const auto &C : Cases) {
    EXPECT_EQ(Lang::ParsePosition(QString::fromLatin1(C.Reply)), C.Reading)
        << "reply \"" << QString::fromLatin1(C.Reply).toUtf8().toStdString() << '"';
  }
}

} // namespace
