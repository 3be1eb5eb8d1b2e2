// The raw values of a reply, angle normalisation and the degree/radian
// conversions of the driver: pure functions of the driver's state, checked as
// tables.

#include "rotator/Gs232.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

// The readings of every reply form are ControllerLanguage's (its table
// test); the driver's raw values give 0 for what is no reading.
TEST(Gs232Parse, RawValuesOfAReplyAreZeroWhereNothingReads) {
  const struct {
    const char *Reply;
    int Az;
    int El;
  } Cases[] = {
      {"+0123+0045\r\n", 123, 45}, {"AZ=123 EL=1", 123, 1}, {"+0123", 123, 0},
      {"+0123+0abc", 123, 0},      {"+0abc+0045", 0, 0},    {"?>\r\n", 0, 0},
      {"", 0, 0},
  };
  for (const auto &C : Cases) {
    int Az = -1, El = -1;
    TGs232::ParseReply(QString::fromLatin1(C.Reply), Az, El);
    EXPECT_EQ(Az, C.Az) << "reply " << C.Reply;
    EXPECT_EQ(El, C.El) << "reply " << C.Reply;
  }
}

struct TNormCase {
  TAzimuthAngle Mode;
  int In;
  int Out;
};

TEST(Gs232Parse, NormalizeAngleD) {
  const TNormCase Cases[] = {
      {az360, 1, 1},     {az360, 359, 359}, {az360, 360, 0},      {az360, -1, 359},
      {az360, 450, 90},  {az360, 0, 0},     {az360, -360, 0},     {az360, 725, 5},
      {az450, 450, 450}, {az450, 451, 91},  {az450, -2, 358},     {az450, 400, 400},
      {az450, 0, 0},     {az450, 720, 0},   {az360, INT_MIN, 232}, {az450, INT_MAX, 127},
  };
  TGs232 Drv;
  for (const auto &C : Cases) {
    Drv.SetAzimuthAngle(C.Mode);
    EXPECT_EQ(Drv.NormalizeAngleD(C.In), C.Out) << (C.Mode == az450 ? "az450 " : "az360 ") << C.In;
  }
}

struct TRadCase {
  TAzimuthAngle Mode;
  double Radians;
  int Degrees;
};

TEST(Gs232Parse, RadianPresetIsNormalisedAndTruncated) {
  const TRadCase Cases[] = {
      {az360, 5 * M_PI / 4, 225}, {az450, 2.6 * M_PI, 108}, {az450, 2.4 * M_PI, 432},
      {az360, 2.4 * M_PI, 72},    {az360, -M_PI / 2, 270},  {az360, 2 * M_PI, 0},
      {az360, -1e-18, 0},         {az360, 0.999 * M_PI / 180, 0},
      {az450, 2.5 * M_PI, 450},   {az360, NAN, 0},
  };
  TGs232 Drv;
  for (const auto &C : Cases) {
    Drv.SetAzimuthAngle(C.Mode);
    Drv.SetPreset(C.Radians);
    EXPECT_EQ(Drv.AzPresetD(), C.Degrees) << C.Radians << " rad";
    EXPECT_TRUE(Drv.Presetting());
  }
}

TEST(Gs232Parse, AnglesKeepDegreesAndRadiansInStep) {
  TGs232 Drv;
  Drv.SetTempOffsetR(-0.5);
  EXPECT_EQ(Drv.TempOffsetD(), -28); // toward zero
  EXPECT_DOUBLE_EQ(Drv.TempOffsetR(), -0.5);
  Drv.SetTempOffsetD(90);
  EXPECT_DOUBLE_EQ(Drv.TempOffsetR(), M_PI / 2);

  // Presets are stored as given; home is normalised, its elevation is not.
  Drv.SetPreset(370);
  EXPECT_EQ(Drv.AzPresetD(), 370);
  EXPECT_DOUBLE_EQ(Drv.AzPresetR(), 370 * M_PI / 180);
  Drv.SetHome(-90, 400);
  EXPECT_EQ(Drv.AzHomeD(), 270);
  EXPECT_DOUBLE_EQ(Drv.AzHomeR(), 270 * M_PI / 180);
  EXPECT_EQ(Drv.ElHomeD(), 400);
  Drv.SetOffset(-10, 5);
  EXPECT_EQ(Drv.AzOffsetD(), -10);
  EXPECT_DOUBLE_EQ(Drv.ElOffsetR(), 5 * M_PI / 180);

  Drv.ResetPreset();
  EXPECT_FALSE(Drv.Presetting());
  EXPECT_EQ(Drv.AzPresetD(), 0);
  EXPECT_EQ(Drv.ElPresetD(), 0);
}

} // namespace
