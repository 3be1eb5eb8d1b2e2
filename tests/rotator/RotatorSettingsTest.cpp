// The settings of one rotator: the four-line block read by name, and the
// driver taking a settings value and giving it back.

#include "RotatorTestSupport.h"

#include <climits>

namespace {

TEST(RotatorSettings, BlockHoldsFourLinesThatBlockValueReadsByName) {
  const QStringList Block{"AutoActive=1", "MapFileName=C:\\maps\\a=b.bmp", "Title=",
                          "Enable=True",  "no equals sign",               "Title=second"};
  // The name ends at the first "="; the first line of a name counts; a name
  // is matched whole.
  EXPECT_EQ(BlockValue(Block, "MapFileName"), "C:\\maps\\a=b.bmp");
  EXPECT_EQ(BlockValue(Block, "Title"), "");
  EXPECT_EQ(BlockValue(Block, "Missing"), "");
  EXPECT_EQ(BlockValue(Block, "Map"), "");
  EXPECT_EQ(BlockValue(Block, "no equals sign"), "");

  TRotatorSettings S = TRotatorSettings::Defaults("T");
  S.Enable = true;
  EXPECT_EQ(RotatorBlock(S), QStringList({"Title=T", "MapFileName=", "Enable=-1", "AutoActive=0"}));

  // A line break inside a value becomes a blank, so that no value adds or
  // overrides a line of the block.
  S = TRotatorSettings::Defaults("T\nEnable=-1");
  S.MapFileName = "a\r\nAutoActive=-1";
  S.AutoActive = false;
  const QStringList Broken = RotatorBlock(S);
  EXPECT_EQ(Broken.size(), 4);
  EXPECT_EQ(BlockValue(Broken, "Title"), "T Enable=-1");
  EXPECT_EQ(BlockValue(Broken, "MapFileName"), "a  AutoActive=-1");
  EXPECT_EQ(BlockValue(Broken, "Enable"), "0");
  EXPECT_EQ(BlockValue(Broken, "AutoActive"), "0");
}

struct TApplyCase {
  const char *What;
  TRotatorSettings Applied;
  TRotatorSettings Expected;
};

// Settings away from the defaults, elevation included, that a driver holds
// before a case is applied: a setting that ApplySettings leaves alone, or
// takes in the wrong order, shows against either this or a fresh driver.
void HoldOtherSettings(TGs232 &D) {
  TRotatorSettings Other;
  Other.Title = "old";
  Other.MapFileName = "old.bmp";
  Other.Enable = true;
  Other.AutoActive = true;
  Other.Model = "KELVANE";
  Other.CenterPosition = cpSouth;
  Other.AzimuthAngle = az450;
  Other.RotationSpeed = "3";
  Other.Home = 430;
  Other.ReturnHome = true;
  Other.Offset = 33;
  Other.CommandB = "Y31";
  Other.CommandA = "Y30";
  Other.RelaysCount = 12;
  Other.Port = "COM9";
  Other.BaudRate = "57600";
  Other.DataBits = "6";
  Other.Parity = "Space";
  Other.StopBits = "1.5";
  Other.FlowControl = "Software";
  D.ApplySettings(Other);
  ASSERT_EQ(D.Settings(), Other);
  D.SetElEnable(true);
  D.SetHome(D.AzHomeD(), 12);
  D.SetOffset(D.AzOffsetD(), 7);
}

TEST(Gs232Settings, ApplyThenSettingsGivesTheValueBack) {
  const TRotatorSettings Wide = EveryKeyChanged();
  const TRotatorSettings North = With({}, [](TRotatorSettings &S) {
    S.Title = QStringLiteral(u"第一ローテーター");
    S.MapFileName = QStringLiteral(u"C:\\地図\\map.bmp");
    S.AutoActive = true;
    S.Model = "GS-232B";
    S.Home = 359;
    S.Offset = INT_MIN;
    S.CommandB = "\"W090 045\",WAIT0,,Y21";
    S.RelaysCount = TRelayArray::MaxRelays;
    S.Port = "COM10";
    S.BaudRate = "115200";
    S.DataBits = "5";
    S.Parity = "Mark";
    S.StopBits = "1.5";
    S.FlowControl = "Software";
  });
  const TRotatorSettings OddPort = With({}, [](TRotatorSettings &S) {
    S.Title = "Upper\nLower";
    S.Model = "";
    S.RotationSpeed = "";
    S.CommandA = "S, Y10 ,WAIT100";
    S.Port = QStringLiteral(u"/dev/serial/by-id/usb-Ünï Côde_ポート-if00");
    S.Parity = "Odd";
    S.FlowControl = "None";
  });
  const TApplyCase Cases[] = {
      {"450 range with home 400, south, eight relays", Wide, Wide},
      {"north, every relay, text beyond ASCII", North, North},
      {"odd port name, empty model and speed", OddPort, OddPort},
      // SetHome normalises to the range.
      {"home 400 with the 360 range",
       With(Wide, [](TRotatorSettings &S) { S.AzimuthAngle = az360; }),
       With(Wide, [](TRotatorSettings &S) {
         S.AzimuthAngle = az360;
         S.Home = 40;
       })},
      // The port keeps its own spelling of the serial names.
      {"defaults of a new rotator", TRotatorSettings::Defaults("Rotator1"),
       With(TRotatorSettings::Defaults("Rotator1"),
            [](TRotatorSettings &S) {
              S.Parity = "None";
              S.FlowControl = "None";
            })},
  };
  for (const auto &C : Cases) {
    for (const bool Fresh : {true, false}) {
      SCOPED_TRACE(::testing::Message()
                   << C.What << (Fresh ? ", fresh driver" : ", driver that held others"));
      TGs232 D;
      if (!Fresh)
        HoldOtherSettings(D);
      D.ApplySettings(C.Applied);
      EXPECT_FALSE(D.Active());
      EXPECT_EQ(D.Settings(), C.Expected);
      EXPECT_EQ(D.Title(), C.Expected.Title);
      EXPECT_EQ(D.MapFileName(), C.Expected.MapFileName);
      EXPECT_EQ(D.Enable(), C.Expected.Enable);
      EXPECT_EQ(D.AutoActive(), C.Expected.AutoActive);
      // The home azimuth in radians follows the degrees.
      EXPECT_DOUBLE_EQ(D.AzHomeR(), C.Expected.Home * M_PI / 180);
      // Elevation is switched off and has neither home nor offset.
      EXPECT_FALSE(D.ElEnable());
      EXPECT_EQ(D.ElHomeD(), 0);
      EXPECT_EQ(D.ElOffsetD(), 0);
    }
  }
}

} // namespace
