// The About box: captions, the values from the version strings, the layout
// and the way it closes.

#include "app/About.h"
#include "base/Routine.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

TEST(AboutBox, CaptionsAndVersionValues) {
  TAboutBox Box;
  EXPECT_EQ(Box.windowTitle(), QStringLiteral("バージョン情報"));

  const std::pair<QLabel *, QString> Captions[] = {
      {Box.ProductName, QStringLiteral("製品名: ")},
      {Box.Version, QStringLiteral("バージョン")},
      {Box.Copyright, QStringLiteral("Copyright")},
      {Box.Comments, QStringLiteral("コメント")},
      {Box.CompanyName, QStringLiteral("作成者")},
  };
  for (const auto &[Label, Text] : Captions)
    EXPECT_EQ(Label->text(), Text) << Label->objectName().toStdString();
  EXPECT_EQ(Box.OKButton->text(), QStringLiteral("OK"));

  const QString Program = QCoreApplication::applicationFilePath();
  const std::pair<QLabel *, int> Values[] = {
      {Box.lblProductName, vkProductName}, {Box.lblVersion, vkFileVersion},
      {Box.lblCopyRight, vkLegalCopyright}, {Box.lblComment, vkComments},
      {Box.lblCompanyName, vkCompanyName},
  };
  for (const auto &[Label, Key] : Values) {
    SCOPED_TRACE(Label->objectName().toStdString());
    EXPECT_FALSE(Label->text().isEmpty());
    EXPECT_EQ(Label->text(), GetVersionInfo(Program, Key));
  }
  EXPECT_EQ(Box.lblProductName->text(), QStringLiteral("Orbalt"));
}

TEST(AboutBox, Layout) {
  TAboutBox Box;
  Box.show();
  EXPECT_EQ(Box.size(), QSize(360, 210));
  EXPECT_EQ(Box.minimumSize(), Box.maximumSize());
  EXPECT_EQ(Box.palette().color(QPalette::Window), QColor(0xFF, 0xFB, 0xF0));
  EXPECT_EQ(Box.palette().color(QPalette::WindowText), QColor(0x2B, 0x5F, 0x93));
  EXPECT_EQ(Box.font().pixelSize(), 11);

  EXPECT_EQ(Box.Panel1->geometry(), QRect(8, 8, 344, 161));
  EXPECT_EQ(Box.OKButton->geometry(), QRect(140, 175, 75, 25));
  EXPECT_EQ(Box.OKButton->parentWidget(), &Box);
  EXPECT_TRUE(Box.OKButton->isDefault());
  EXPECT_EQ(Box.ProgramIcon->geometry(), QRect(20, 16, 32, 32));
  EXPECT_FALSE(Box.ProgramIcon->pixmap().isNull());
  EXPECT_EQ(Box.Comments->geometry(), QRect(8, 101, 65, 16));
  EXPECT_TRUE(Box.Comments->wordWrap());

  // Every label sits in the panel at its place; the ones without a fixed
  // size show their whole text and stay inside the panel.
  const std::pair<QLabel *, QPoint> Places[] = {
      {Box.ProductName, {88, 16}},    {Box.Version, {88, 40}},
      {Box.Copyright, {8, 80}},       {Box.lblProductName, {154, 16}},
      {Box.lblVersion, {154, 40}},    {Box.lblCopyRight, {79, 80}},
      {Box.lblComment, {79, 101}},    {Box.CompanyName, {8, 123}},
      {Box.lblCompanyName, {79, 123}},
  };
  for (const auto &[Label, Place] : Places) {
    SCOPED_TRACE(Label->objectName().toStdString());
    EXPECT_EQ(Label->parentWidget(), Box.Panel1);
    EXPECT_EQ(Label->pos(), Place);
    EXPECT_GE(Label->width(), Label->sizeHint().width());
    EXPECT_LE(Label->geometry().right(), Box.Panel1->width());
  }
}

TEST(AboutBox, OkClosesWithResultOk) {
  TAboutBox Box;
  Box.open();
  ASSERT_TRUE(Box.isVisible());
  Box.OKButton->click();
  EXPECT_FALSE(Box.isVisible());
  EXPECT_EQ(Box.result(), QDialog::Accepted);
}

TEST(AboutBox, ShowAboutBoxReturnsAfterOkAndDestroysTheBox) {
  QWidget Owner;
  bool Seen = false;
  // Press OK once the modal box is up; retried, as a loaded machine may
  // take a while to show it.
  QTimer Presser;
  QObject::connect(&Presser, &QTimer::timeout, [&] {
    if (auto *Box = qobject_cast<TAboutBox *>(QApplication::activeModalWidget())) {
      Seen = Box->parentWidget() == &Owner && Box->isModal();
      Box->OKButton->click();
    }
  });
  Presser.start(10);
  ShowAboutBox(&Owner);
  Presser.stop();
  EXPECT_TRUE(Seen);
  EXPECT_TRUE(Owner.findChildren<TAboutBox *>().isEmpty());
}

} // namespace
