// Operator controls that need no controller: the preset field, the turn
// button toggles with their pictures, presses on the map, and the window's
// handling of the driver's bound and preset events.

#include "MainTestFixture.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>

namespace {

void Focus(QWidget *Widget, QEvent::Type Type) {
  QFocusEvent Event(Type, Qt::OtherFocusReason);
  QCoreApplication::sendEvent(Widget, &Event);
}

// The operator enters the preset field, leaves it with Text in it.
void EnterAndLeave(const TControls &C, const QString &Text) {
  Focus(C.edtPresetD, QEvent::FocusIn);
  C.edtPresetD->setText(Text);
  Focus(C.edtPresetD, QEvent::FocusOut);
}

struct TPresetCase {
  TAzimuthAngle Range;
  const char *Text;
  bool Accepted;
  const char *Shown; // the field afterwards
};

} // namespace

TEST_F(MainTest, PresetFieldAcceptsZeroToTheRangeInclusive) {
  const TPresetCase Cases[] = {
      {az360, "0", true, "0"},         {az360, "360", true, "360"},
      {az360, "361", false, "361"},    {az450, "450", true, "450"},
      {az450, "451", false, "451"},    {az360, "007", true, "7"},
      {az360, "99999999999", false, "99999999999"},
  };
  for (const TPresetCase &Case : Cases) {
    SCOPED_TRACE(Case.Text);
    auto M = Start();
    const TControls C(*M);
    TGs232 &D = *CurrentDriver(*M);
    D.SetAzimuthAngle(Case.Range);
    Ui->clear();
    EnterAndLeave(C, Case.Text);
    EXPECT_EQ(C.edtPresetD->text(), Case.Shown);
    if (Case.Accepted) {
      EXPECT_TRUE(Ui->shown().isEmpty());
      EXPECT_TRUE(D.Presetting());
      EXPECT_EQ(D.AzPresetD(), QString(Case.Shown).toInt());
      EXPECT_FALSE(LayerIsClear(C.imgPreset));
    } else {
      EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Error),
                QStringList{"Value exceeds the range"});
      EXPECT_FALSE(D.Presetting());
      EXPECT_TRUE(LayerIsClear(C.imgPreset));
      // Leaving the field again with the refused value refuses it again.
      Focus(C.edtPresetD, QEvent::FocusIn);
      Focus(C.edtPresetD, QEvent::FocusOut);
      EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Error).size(), 2);
      EXPECT_FALSE(D.Presetting());
    }
  }
}

// With real focus moves and no window manager to hand the focus back: the
// field that refused its value has the focus again once the move has ended, so
// what the operator types next goes into it and is taken.
TEST_F(MainTest, RefusedPresetKeepsTheFocusForTheCorrection) {
  auto M = Start();
  const TControls C(*M);
  TGs232 &D = *CurrentDriver(*M);
  C.edtPresetD->setEnabled(true);
  M->show();
  QApplication::setActiveWindow(M.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(M.get()));
  C.edtPresetD->setFocus(Qt::MouseFocusReason);
  QTest::keyClicks(C.edtPresetD, "999");
  QTest::keyClick(C.edtPresetD, Qt::Key_Tab);
  QCoreApplication::processEvents();
  EXPECT_EQ(Ui->shown(), QStringList{"Value exceeds the range"});
  ASSERT_EQ(QApplication::focusWidget(), C.edtPresetD);

  QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(QApplication::focusWidget(), "30");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QCoreApplication::processEvents();
  EXPECT_TRUE(D.Presetting());
  EXPECT_EQ(D.AzPresetD(), 30);
  EXPECT_EQ(Ui->shown().size(), 1);
}

TEST_F(MainTest, PresetFieldTakesDigitsOnly) {
  auto M = Start();
  const TControls C(*M);
  C.edtPresetD->setEnabled(true);
  M->show();
  C.edtPresetD->setFocus();
  QTest::keyClicks(C.edtPresetD, "1a2-3 ");
  EXPECT_EQ(C.edtPresetD->text(), "123");
}

TEST_F(MainTest, EmptiedPresetFieldResetsThePresetAndAnUnchangedOneDoesNothing) {
  auto M = Start();
  const TControls C(*M);
  TGs232 &D = *CurrentDriver(*M);
  EnterAndLeave(C, "90");
  ASSERT_TRUE(D.Presetting());
  // The preset needle points east.
  EXPECT_TRUE(PixelIs(C.imgPreset, 200, 125, clBlue));

  // Left unchanged: nothing happens, even after the preset was reset behind
  // the field's back.
  D.ResetPreset();
  Focus(C.edtPresetD, QEvent::FocusIn);
  Focus(C.edtPresetD, QEvent::FocusOut);
  EXPECT_FALSE(D.Presetting());
  EXPECT_FALSE(LayerIsClear(C.imgPreset));

  EnterAndLeave(C, "45");
  EXPECT_TRUE(D.Presetting());
  EnterAndLeave(C, "");
  EXPECT_FALSE(D.Presetting());
  EXPECT_EQ(D.AzPresetD(), 0);
  EXPECT_TRUE(LayerIsClear(C.imgPreset));
  EXPECT_TRUE(Ui->shown().isEmpty());
}

TEST_F(MainTest, TurnButtonsToggleAndShowTheirPictures) {
  auto M = Start();
  const TControls C(*M);
  for (QPushButton *Button : {C.btnCW, C.btnCCW, C.btnStop})
    Button->setEnabled(true);
  const QColor BuiltInCCW = PictureColor(C.btnCCW);

  C.btnCW->click();
  EXPECT_NE(M->CWTag() & 0xFF, 0);
  EXPECT_EQ(PictureColor(C.btnCW), ColorCW_On);
  // The other button keeps its state and picture.
  EXPECT_EQ(M->CCWTag(), 0);
  EXPECT_EQ(PictureColor(C.btnCCW), BuiltInCCW);

  C.btnCCW->click();
  EXPECT_EQ(PictureColor(C.btnCCW), ColorCCW_On);
  EXPECT_EQ(PictureColor(C.btnCW), ColorCW_On);

  C.btnCW->click();
  EXPECT_EQ(M->CWTag(), 0);
  EXPECT_EQ(PictureColor(C.btnCW), ColorCW_Off);

  C.btnCW->click();
  C.btnStop->click();
  EXPECT_EQ(M->CWTag(), 0);
  EXPECT_EQ(M->CCWTag(), 0);
  EXPECT_EQ(PictureColor(C.btnCW), ColorCW_Off);
  EXPECT_EQ(PictureColor(C.btnCCW), ColorCCW_Off);
  EXPECT_TRUE(Ui->shown().isEmpty());
}

TEST_F(MainTest, MissingButtonPictureEndsThePressWithTheFileError) {
  ASSERT_TRUE(QFile::remove(Dir.filePath("CW_On.bmp")));
  auto M = Start();
  const TControls C(*M);
  C.btnCW->setEnabled(true);
  C.btnCW->click();
  const QStringList Shown = Ui->texts(TRecordingUiServices::Entry::Exception);
  ASSERT_EQ(Shown.size(), 1);
  EXPECT_TRUE(Shown[0].contains("CW_On.bmp")) << Shown[0].toStdString();
  EXPECT_NE(M->CWTag(), 0);
}

TEST_F(MainTest, PressOnTheMapSetsThePreset) {
  struct TCase {
    Qt::MouseButton Button;
    Qt::KeyboardModifiers Modifiers;
    QPoint At;
    const char *Shown;
    QPoint BlueAt; // a point on the preset needle
  };
  const TCase Cases[] = {
      {Qt::LeftButton, {}, {225, 125}, "90", {200, 125}},
      {Qt::RightButton, {}, {225, 125}, "270", {50, 125}},
      {Qt::LeftButton, {}, {125, 225}, "180", {125, 200}},
  };
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(Case.Shown);
    auto M = Start();
    const TControls C(*M);
    TGs232 &D = *CurrentDriver(*M);
    M->show();
    QTest::mouseClick(C.imgDirection, Case.Button, Case.Modifiers, Case.At);
    EXPECT_EQ(C.edtPresetD->text(), Case.Shown);
    EXPECT_TRUE(D.Presetting());
    EXPECT_EQ(D.AzPresetD(), QString(Case.Shown).toInt());
    EXPECT_TRUE(PixelIs(C.imgPreset, Case.BlueAt.x(), Case.BlueAt.y(), clBlue));
  }

  // The middle button and the exact centre change nothing.
  auto M = Start();
  const TControls C(*M);
  TGs232 &D = *CurrentDriver(*M);
  M->show();
  QTest::mouseClick(C.imgDirection, Qt::MiddleButton, {}, QPoint(225, 125));
  QTest::mouseClick(C.imgDirection, Qt::LeftButton, {}, QPoint(125, 125));
  EXPECT_FALSE(D.Presetting());
  EXPECT_TRUE(C.edtPresetD->text().isEmpty());
  EXPECT_TRUE(LayerIsClear(C.imgPreset));
}

TEST_F(MainTest, ReachedBoundBlocksThatDirectionUntilTheNextReading) {
  struct TCase {
    TBoundPosition Bound;
    bool CWAfter, CCWAfter;
  };
  const TCase Cases[] = {
      {bpCWBound, false, true}, {bpCCWBound, true, false}, {bpNone, true, true}};
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(int(Case.Bound));
    auto M = Start();
    const TControls C(*M);
    TGs232 &D = *CurrentDriver(*M);
    for (QPushButton *Button : {C.btnCW, C.btnCCW, C.btnStop})
      Button->setEnabled(true);
    C.btnCW->click();
    ASSERT_NE(M->CWTag(), 0);

    // The driver reports through the handler the station gave it.
    ASSERT_TRUE(D.ReachBound());
    D.ReachBound()(&D, Case.Bound);
    EXPECT_EQ(C.btnCW->isEnabled(), Case.CWAfter);
    EXPECT_EQ(C.btnCCW->isEnabled(), Case.CCWAfter);
    EXPECT_EQ(M->CWTag(), 0);
    EXPECT_EQ(M->CCWTag(), 0);
    EXPECT_EQ(PictureColor(C.btnCW), ColorCW_Off);
    EXPECT_EQ(PictureColor(C.btnCCW), ColorCCW_Off);
    // Told in the status bar, without a box.
    const auto *Notice = TControls::Find<QLabel>(*M, "StatusNotice");
    EXPECT_EQ(Notice->text(), QStringLiteral("Limit %1° reached").arg(D.AzimuthD()));
    EXPECT_FALSE(Notice->isHidden());
    EXPECT_TRUE(C.StatusPanels[0]->isHidden());
    EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();

    D.ChangeAzEl()(&D);
    EXPECT_TRUE(C.btnCW->isEnabled());
    EXPECT_TRUE(C.btnCCW->isEnabled());
  }
}

TEST_F(MainTest, ReachedPresetClearsThePresetDisplay) {
  auto M = Start();
  const TControls C(*M);
  TGs232 &D = *CurrentDriver(*M);
  EnterAndLeave(C, "120");
  ASSERT_FALSE(LayerIsClear(C.imgPreset));
  ASSERT_TRUE(D.ReachPreset());
  D.ReachPreset()(&D);
  EXPECT_TRUE(C.edtPresetD->text().isEmpty());
  EXPECT_TRUE(LayerIsClear(C.imgPreset));
  EXPECT_TRUE(Ui->shown().isEmpty());
}

TEST_F(MainTest, AcceptedPresetAfterARefusedOneIsTheTextLaterEditsCompareWith) {
  auto M = Start();
  const TControls C(*M);
  TGs232 &D = *CurrentDriver(*M);
  // Refused on leaving the field, which takes the focus back without a new
  // entry into it (the window is not shown), then corrected and accepted.
  Focus(C.edtPresetD, QEvent::FocusIn);
  C.edtPresetD->setText("999");
  Focus(C.edtPresetD, QEvent::FocusOut);
  EXPECT_EQ(Ui->shown(), QStringList{"Value exceeds the range"});
  EXPECT_FALSE(D.Presetting());
  C.edtPresetD->setText("30");
  Focus(C.edtPresetD, QEvent::FocusOut);
  ASSERT_TRUE(D.Presetting());

  // The next entry starts from the accepted text, so emptying the field
  // resets the preset.
  EnterAndLeave(C, "");
  EXPECT_FALSE(D.Presetting());
  EXPECT_TRUE(LayerIsClear(C.imgPreset));
  EXPECT_EQ(Ui->shown().size(), 1);
}
