// The bitmaps the build places beside the program: readable BMP files of the
// sizes the window shows them at, with distinct pressed and idle pictures.

#include <QImage>
#include <QImageReader>
#include <QString>

#include <gtest/gtest.h>

namespace {

QImage Load(const char *Name) {
  QImageReader Reader(QStringLiteral(ORBALT_TEST_ASSET_DIR "/") + QString::fromLatin1(Name));
  EXPECT_EQ(Reader.format(), QByteArray("bmp")) << Name;
  return Reader.read();
}

TEST(Assets, BitmapsBesideTheProgram) {
  const std::pair<const char *, QSize> Files[] = {
      {"AzChart.bmp", {250, 250}}, {"CW_On.bmp", {60, 25}},  {"CW_Off.bmp", {60, 25}},
      {"CCW_On.bmp", {60, 25}},    {"CCW_Off.bmp", {60, 25}},
  };
  for (const auto &[Name, Size] : Files) {
    const QImage Picture = Load(Name);
    ASSERT_FALSE(Picture.isNull()) << Name;
    EXPECT_EQ(Picture.size(), Size) << Name;
  }

  const QImage Map = Load("AzChart.bmp");
  EXPECT_NE(Map.pixel(0, 0), Map.pixel(125, 60)) << "a map is drawn, not a blank picture";

  const QImage CwOn = Load("CW_On.bmp"), CwOff = Load("CW_Off.bmp");
  const QImage CcwOn = Load("CCW_On.bmp"), CcwOff = Load("CCW_Off.bmp");
  EXPECT_NE(CwOn, CwOff);
  EXPECT_NE(CcwOn, CcwOff);
  EXPECT_NE(CwOn, CcwOn);
  EXPECT_NE(CwOff, CcwOff);
}

} // namespace
