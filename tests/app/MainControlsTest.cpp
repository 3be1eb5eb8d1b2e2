// Operator controls that need no controller: the preset field, the turn
// button toggles with their pictures, presses on the map, and the window's
// handling of the driver's bound and preset events.

#include "MainTestFixture.h"

#include <QFocusEvent>
#include <QLineEdit>

namespace {

void Focus(QWidget *Widget, QEvent::Type Type) {
  QFocusEvent Event(Type, Qt::OtherFocusReason);
  QCoreApplication::sendEvent(Widget, &Event);
}

// The operator enters the preset field, leaves it with Text in it.
void EnterAndLeave(TMain &M, const QString &Text) {
  Focus(M.edtPresetD, QEvent::FocusIn);
  M.edtPresetD->setText(Text);
  Focus(M.edtPresetD, QEvent::FocusOut);
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
    M->Gs232->SetAzimuthAngle(Case.Range);
    Ui->clear();
    EnterAndLeave(*M, Case.Text);
    EXPECT_EQ(M->edtPresetD->text(), Case.Shown);
    if (Case.Accepted) {
      EXPECT_TRUE(Ui->shown().isEmpty());
      EXPECT_TRUE(M->Gs232->Presetting());
      EXPECT_EQ(M->Gs232->AzPresetD(), QString(Case.Shown).toInt());
      EXPECT_FALSE(LayerIsClear(M->Display->imgPreset));
    } else {
      EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Error),
                QStringList{"Value exceeds the range"});
      EXPECT_FALSE(M->Gs232->Presetting());
      EXPECT_TRUE(LayerIsClear(M->Display->imgPreset));
      // Leaving the field again with the refused value refuses it again.
      Focus(M->edtPresetD, QEvent::FocusIn);
      Focus(M->edtPresetD, QEvent::FocusOut);
      EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Error).size(), 2);
      EXPECT_FALSE(M->Gs232->Presetting());
    }
  }
}

TEST_F(MainTest, PresetFieldTakesDigitsOnly) {
  auto M = Start();
  M->edtPresetD->setEnabled(true);
  M->show();
  M->edtPresetD->setFocus();
  QTest::keyClicks(M->edtPresetD, "1a2-3 ");
  EXPECT_EQ(M->edtPresetD->text(), "123");
}

TEST_F(MainTest, EmptiedPresetFieldResetsThePresetAndAnUnchangedOneDoesNothing) {
  auto M = Start();
  EnterAndLeave(*M, "90");
  ASSERT_TRUE(M->Gs232->Presetting());
  // The preset needle points east.
  EXPECT_TRUE(PixelIs(M->Display->imgPreset, 200, 125, clBlue));

  // Left unchanged: nothing happens, even after the preset was reset behind
  // the field's back.
  M->Gs232->ResetPreset();
  Focus(M->edtPresetD, QEvent::FocusIn);
  Focus(M->edtPresetD, QEvent::FocusOut);
  EXPECT_FALSE(M->Gs232->Presetting());
  EXPECT_FALSE(LayerIsClear(M->Display->imgPreset));

  EnterAndLeave(*M, "45");
  EXPECT_TRUE(M->Gs232->Presetting());
  EnterAndLeave(*M, "");
  EXPECT_FALSE(M->Gs232->Presetting());
  EXPECT_EQ(M->Gs232->AzPresetD(), 0);
  EXPECT_TRUE(LayerIsClear(M->Display->imgPreset));
  EXPECT_TRUE(Ui->shown().isEmpty());
}

TEST_F(MainTest, TurnButtonsToggleAndShowTheirPictures) {
  auto M = Start();
  for (QPushButton *Button : {M->btnCW, M->btnCCW, M->btnStop})
    Button->setEnabled(true);
  const QColor BuiltInCCW = PictureColor(M->btnCCW);

  M->btnCW->click();
  EXPECT_NE(M->CWTag() & 0xFF, 0);
  EXPECT_EQ(PictureColor(M->btnCW), ColorCW_On);
  // The other button keeps its state and picture.
  EXPECT_EQ(M->CCWTag(), 0);
  EXPECT_EQ(PictureColor(M->btnCCW), BuiltInCCW);

  M->btnCCW->click();
  EXPECT_EQ(PictureColor(M->btnCCW), ColorCCW_On);
  EXPECT_EQ(PictureColor(M->btnCW), ColorCW_On);

  M->btnCW->click();
  EXPECT_EQ(M->CWTag(), 0);
  EXPECT_EQ(PictureColor(M->btnCW), ColorCW_Off);

  M->btnCW->click();
  M->btnStop->click();
  EXPECT_EQ(M->CWTag(), 0);
  EXPECT_EQ(M->CCWTag(), 0);
  EXPECT_EQ(PictureColor(M->btnCW), ColorCW_Off);
  EXPECT_EQ(PictureColor(M->btnCCW), ColorCCW_Off);
  EXPECT_TRUE(Ui->shown().isEmpty());
}

TEST_F(MainTest, MissingButtonPictureEndsThePressWithTheFileError) {
  ASSERT_TRUE(QFile::remove(Dir.filePath("CW_On.bmp")));
  auto M = Start();
  M->btnCW->setEnabled(true);
  M->btnCW->click();
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
    M->show();
    QTest::mouseClick(M->Display->imgDirection, Case.Button, Case.Modifiers, Case.At);
    EXPECT_EQ(M->edtPresetD->text(), Case.Shown);
    EXPECT_TRUE(M->Gs232->Presetting());
    EXPECT_EQ(M->Gs232->AzPresetD(), QString(Case.Shown).toInt());
    EXPECT_TRUE(PixelIs(M->Display->imgPreset, Case.BlueAt.x(), Case.BlueAt.y(), clBlue));
  }

  // The middle button and the exact centre change nothing.
  auto M = Start();
  M->show();
  QTest::mouseClick(M->Display->imgDirection, Qt::MiddleButton, {}, QPoint(225, 125));
  QTest::mouseClick(M->Display->imgDirection, Qt::LeftButton, {}, QPoint(125, 125));
  EXPECT_FALSE(M->Gs232->Presetting());
  EXPECT_TRUE(M->edtPresetD->text().isEmpty());
  EXPECT_TRUE(LayerIsClear(M->Display->imgPreset));
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
    for (QPushButton *Button : {M->btnCW, M->btnCCW, M->btnStop})
      Button->setEnabled(true);
    M->btnCW->click();
    ASSERT_NE(M->CWTag(), 0);

    // The driver reports through the handler the window connected.
    ASSERT_TRUE(M->Gs232->ReachBound());
    M->Gs232->ReachBound()(M->Gs232, Case.Bound);
    EXPECT_EQ(M->btnCW->isEnabled(), Case.CWAfter);
    EXPECT_EQ(M->btnCCW->isEnabled(), Case.CCWAfter);
    EXPECT_EQ(M->CWTag(), 0);
    EXPECT_EQ(M->CCWTag(), 0);
    EXPECT_EQ(PictureColor(M->btnCW), ColorCW_Off);
    EXPECT_EQ(PictureColor(M->btnCCW), ColorCCW_Off);

    M->Gs232->ChangeAzEl()(M->Gs232);
    EXPECT_TRUE(M->btnCW->isEnabled());
    EXPECT_TRUE(M->btnCCW->isEnabled());
  }
}

TEST_F(MainTest, ReachedPresetClearsThePresetDisplay) {
  auto M = Start();
  EnterAndLeave(*M, "120");
  ASSERT_FALSE(LayerIsClear(M->Display->imgPreset));
  ASSERT_TRUE(M->Gs232->ReachPreset());
  M->Gs232->ReachPreset()(M->Gs232);
  EXPECT_TRUE(M->edtPresetD->text().isEmpty());
  EXPECT_TRUE(LayerIsClear(M->Display->imgPreset));
  EXPECT_TRUE(Ui->shown().isEmpty());
}

TEST_F(MainTest, AcceptedPresetAfterARefusedOneIsTheTextLaterEditsCompareWith) {
  auto M = Start();
  // Refused while the field keeps the focus (no new entry into the field),
  // then corrected and accepted.
  Focus(M->edtPresetD, QEvent::FocusIn);
  M->edtPresetD->setText("999");
  M->edtPresetDExit();
  EXPECT_EQ(Ui->shown(), QStringList{"Value exceeds the range"});
  EXPECT_FALSE(M->Gs232->Presetting());
  M->edtPresetD->setText("30");
  Focus(M->edtPresetD, QEvent::FocusOut);
  ASSERT_TRUE(M->Gs232->Presetting());

  // The next entry starts from the accepted text, so emptying the field
  // resets the preset.
  EnterAndLeave(*M, "");
  EXPECT_FALSE(M->Gs232->Presetting());
  EXPECT_TRUE(LayerIsClear(M->Display->imgPreset));
  EXPECT_EQ(Ui->shown().size(), 1);
}
