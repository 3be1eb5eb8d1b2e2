// Starting and closing the main window: the first start without settings,
// the window's layout and position, loading the rotators.

#include "MainTestFixture.h"
#include "base/Routine.h"

#include <QAction>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

namespace {

QStringList ActionTexts(const QList<QAction *> &Actions) {
  QStringList Texts;
  for (const QAction *Action : Actions)
    if (!Action->isSeparator())
      Texts << Action->text();
  return Texts;
}

} // namespace

TEST_F(MainTest, FirstStartWithoutSettingsShowsOneDisabledRotatorAndSavesOnlyThePosition) {
  auto M = Start();

  EXPECT_EQ(Tabs(*M), (QStringList{"Rotator1", "Console"}));
  EXPECT_EQ(Status(*M), (QStringList{"AZ=0°", "", "", ""}));
  ASSERT_EQ(M->Gs232s.size(), 1u);
  EXPECT_EQ(M->Gs232, M->Gs232s[0].get());
  EXPECT_EQ(M->CurrentRotator, 0);
  EXPECT_EQ(M->Gs232->Port(), "COM3");
  EXPECT_EQ(BlockValue(M->Rotator, "Enable"), "0");
  EXPECT_FALSE(M->btnOpenClose->isEnabled());
  EXPECT_EQ(M->btnOpenClose->text(), "Open");
  for (QPushButton *Button : {M->btnPreset, M->btnCW, M->btnCCW, M->btnStop})
    EXPECT_FALSE(Button->isEnabled()) << Button->objectName().toStdString();
  EXPECT_FALSE(M->CtrlTableEnable);
  // The needle points north: the black line from (125, 135) to (125, 35).
  EXPECT_TRUE(PixelIs(M->Display->imgDirection, 125, 40, clBlack));
  EXPECT_TRUE(PixelIs(M->Display->imgDirection, 125, 130, clBlack));
  EXPECT_TRUE(PixelIs(M->Display->imgDirection, 125, 210, clWhite));
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();

  // Centred on the screen.
  const QRect Screen = M->screen()->geometry();
  EXPECT_EQ(M->x(), Screen.x() + (Screen.width() - M->frameGeometry().width()) / 2);
  EXPECT_EQ(M->y(), Screen.y() + (Screen.height() - M->frameGeometry().height()) / 2);

  // Starting writes the empty document only.
  {
    TXMLIniFile Ini(SettingsPath());
    QStringList Sections;
    Ini.GetNodeNames(Sections, Ini.RootNode());
    EXPECT_TRUE(Sections.isEmpty()) << Sections.join(',').toStdString();
  }

  const QPoint Pos = M->pos();
  M->close();

  TXMLIniFile Ini(SettingsPath());
  QStringList Sections;
  Ini.GetNodeNames(Sections, Ini.RootNode());
  EXPECT_EQ(Sections, QStringList{"Main"});
  ASSERT_TRUE(Ini.OpenNode("/Main", false));
  QStringList Keys;
  Ini.GetNodeNames(Keys);
  EXPECT_EQ(Keys, (QStringList{"Version", "Left", "Top"}));
  EXPECT_EQ(Ini.ReadString("Version", "?"),
            GetVersionInfo(QCoreApplication::applicationFilePath(), vkFileVersion));
  EXPECT_EQ(Ini.ReadInteger("Left", -1), Pos.x());
  EXPECT_EQ(Ini.ReadInteger("Top", -1), Pos.y());
  // Closing leaves the workspace empty.
  EXPECT_TRUE(M->Gs232s.empty());
  EXPECT_EQ(M->Gs232, nullptr);
  EXPECT_EQ(Tabs(*M), QStringList{"Rotator1"});
}

TEST_F(MainTest, WindowHasItsCaptionMenusAndFixedLayout) {
  auto M = Start();
  M->show();

  EXPECT_EQ(M->windowTitle(), "Orbalt");
  EXPECT_EQ(M->centralWidget()->size(), QSize(269, 421));
  EXPECT_EQ(M->minimumSize(), M->maximumSize());
  EXPECT_FALSE(M->windowFlags() & Qt::WindowMaximizeButtonHint);

  struct TPlace {
    QWidget *Control;
    QRect Bounds;
  };
  const TPlace Places[] = {
      {M->PageControl1, {0, 0, 269, 394}},
      {M->StatusBar1, {0, 394, 269, 27}},
      {M->pnlRotator, {3, 22, 265, 370}},
      {M->pnlConsole, {3, 22, 265, 370}},
      {M->edtPresetD, {8, 13, 57, 24}},
      {M->btnPreset, {70, 9, 68, 33}},
      {M->btnOpenClose, {189, 9, 68, 33}},
      {M->Display->imgMap, {7, 48, 250, 250}},
      {M->Display->imgPreset, {7, 48, 250, 250}},
      {M->Display->imgRelay, {7, 48, 250, 250}},
      {M->Display->imgDirection, {7, 48, 250, 250}},
      {M->GroupBox2, {7, 301, 250, 57}},
      {M->btnCCW, {7, 19, 68, 33}},
      {M->btnStop, {87, 20, 68, 33}},
      {M->btnCW, {171, 19, 68, 33}},
  };
  for (const TPlace &Place : Places)
    EXPECT_EQ(Place.Control->geometry(), Place.Bounds) << Place.Control->objectName().toStdString();
  for (QLabel *Panel : M->StatusPanels)
    EXPECT_EQ(Panel->width(), 65);
  EXPECT_EQ(M->Display->NeedleCenterX, 125);
  EXPECT_EQ(M->Display->NeedleCenterY, 125);
  EXPECT_EQ(M->Display->NeedleLength, 100);
  // The map's layers are stacked over it, the direction layer on top.
  const QObjectList Stack = M->pnlRotator->children();
  EXPECT_LT(Stack.indexOf(M->Display->imgMap), Stack.indexOf(M->Display->imgPreset));
  EXPECT_LT(Stack.indexOf(M->Display->imgPreset), Stack.indexOf(M->Display->imgRelay));
  EXPECT_LT(Stack.indexOf(M->Display->imgRelay), Stack.indexOf(M->Display->imgDirection));

  const QList<QAction *> Bar = M->menuBar()->actions();
  EXPECT_EQ(ActionTexts(Bar), (QStringList{"Exit", "Rotator", "Help"}));
  EXPECT_EQ(ActionTexts(Bar[1]->menu()->actions()),
            (QStringList{"Goto Home position", "Insert Rotator", "Delete Rotator", "Options"}));
  EXPECT_EQ(ActionTexts(Bar[2]->menu()->actions()), QStringList{"About"});
  EXPECT_EQ(ActionTexts(M->PopupMenu1->actions()),
            (QStringList{"Insert", "Delete", "Forwad", "Backward"}));

  // The console tab brings the console page to the front, a rotator tab the
  // rotator page.
  auto OnTop = [&](QWidget *Panel) {
    return M->centralWidget()->childAt(M->pnlRotator->geometry().center()) == Panel ||
           Panel->isAncestorOf(M->centralWidget()->childAt(M->pnlRotator->geometry().center()));
  };
  EXPECT_TRUE(OnTop(M->pnlRotator));
  M->PageControl1->setCurrentIndex(1);
  EXPECT_TRUE(OnTop(M->pnlConsole));
  M->PageControl1->setCurrentIndex(0);
  EXPECT_TRUE(OnTop(M->pnlRotator));
  M->close();
}

TEST_F(MainTest, StoredPositionIsUsedUnlessBothAreZero) {
  struct TCase {
    int Left, Top;
    bool Centred;
  };
  const TCase Cases[] = {{0, 0, true}, {312, 140, false}, {-30, 40, false}, {0, 25, false}};
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Left << "," << Case.Top);
    WriteFile(QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?><root><Main>"
                             "<Left Type=\"9\">%1</Left><Top Type=\"9\">%2</Top></Main></root>")
                  .arg(Case.Left)
                  .arg(Case.Top));
    auto M = Start();
    const QRect Screen = M->screen()->geometry();
    const QPoint Expected =
        Case.Centred ? QPoint(Screen.x() + (Screen.width() - M->frameGeometry().width()) / 2,
                              Screen.y() + (Screen.height() - M->frameGeometry().height()) / 2)
                     : QPoint(Case.Left, Case.Top);
    EXPECT_EQ(M->pos(), Expected);
    M->close();
    TXMLIniFile Ini(SettingsPath());
    ASSERT_TRUE(Ini.OpenNode("/Main", false));
    EXPECT_EQ(Ini.ReadInteger("Left", 9999), Expected.x());
    EXPECT_EQ(Ini.ReadInteger("Top", 9999), Expected.y());
  }
}

TEST_F(MainTest, MovingTheWindowSavesItsPositionOnceTheMoveHasEnded) {
  auto M = Start();
  M->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(M.get()));
  // Showing the window is no move.
  QTest::qWait(700);
  {
    TXMLIniFile Ini(SettingsPath());
    EXPECT_FALSE(Ini.NodeExists("/Main"));
  }
  M->move(40, 50);
  M->move(41, 52);
  EXPECT_TRUE(WaitFor([&] {
    TXMLIniFile Ini(SettingsPath());
    return Ini.OpenNode("/Main", false) && Ini.ReadInteger("Left", 0) == M->x() &&
           Ini.ReadInteger("Top", 0) == M->y();
  }));
  EXPECT_EQ(M->pos(), QPoint(41, 52));
  M->close();
}

TEST_F(MainTest, RotatorsLoadInDocumentOrderAndClosingLeavesThemUnchanged) {
  // Entry names carry no meaning; empty titles take the caption of the tab.
  WriteSettings({{"Rotator_2", EntryKeys("", "COM10")},
                 {"Rotator_0", EntryKeys("Zero", "COM11")},
                 {"Rotator_1", EntryKeys("", "COM12")},
                 {"B", EntryKeys("Three", "COM13")},
                 {"A", EntryKeys("Four", "COM14")}});
  const auto Before = SavedRotators();
  auto M = Start();

  EXPECT_EQ(Tabs(*M), (QStringList{"Rotator1", "Zero", "Rotator1", "Three", "Four", "Console"}));
  EXPECT_EQ(BlockTitles(*M), (QStringList{"Rotator1", "Zero", "Rotator1", "Three", "Four"}));
  ASSERT_EQ(M->Gs232s.size(), 5u);
  for (int I = 0; I < 5; ++I)
    EXPECT_EQ(M->Gs232s[I]->Port(), QStringLiteral("COM1%1").arg(I));
  // The first rotator is current and the only one whose events reach the
  // window.
  EXPECT_EQ(M->CurrentRotator, 0);
  EXPECT_EQ(M->Gs232, M->Gs232s[0].get());
  for (int I = 0; I < 5; ++I) {
    EXPECT_EQ(bool(M->Gs232s[I]->ChangeAzEl()), I == 0) << I;
    EXPECT_EQ(M->Gs232s[I]->Current(), I == 0) << I;
  }
  // The first four rotators in the status bar.
  EXPECT_EQ(Status(*M), (QStringList{"AZ=0°", "AZ=0°", "AZ=0°", "AZ=0°"}));
  EXPECT_TRUE(M->btnOpenClose->isEnabled());
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();

  M->close();
  EXPECT_EQ(SavedRotators(), Before);
}

TEST_F(MainTest, RotatorSectionWithoutEntriesStartsWithOneDefaultRotator) {
  WriteSettings({});
  auto M = Start();
  EXPECT_EQ(Tabs(*M), (QStringList{"Rotator1", "Console"}));
  ASSERT_EQ(M->Gs232s.size(), 1u);
  EXPECT_EQ(M->Gs232, M->Gs232s[0].get());
  EXPECT_EQ(M->Gs232->Port(), "COM3");
  EXPECT_TRUE(Ui->shown().isEmpty());
}

TEST_F(MainTest, MalformedSettingsAreReportedAndLeaveAnEmptyWorkspaceThatIgnoresActions) {
  WriteFile("<root><Main>");
  const QByteArray Original = ReadFile();
  auto M = Start();
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Exception).size(), 1);
  EXPECT_TRUE(M->Gs232s.empty());
  EXPECT_EQ(M->Gs232, nullptr);

  Ui->clear();
  for (QAction *Action : {M->actDelRotator, M->actForwadRoatator, M->actBackwardRptator,
                          M->actGotoHome})
    Action->trigger();
  M->btnOpenCloseClick();
  M->btnCWClick();
  M->btnPresetClick();
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
  // Only the console tab is left, so that an inserted rotator gets tab 0.
  EXPECT_EQ(Tabs(*M), QStringList{"Console"});

  // Insert pairs the new rotator with the first tab; saving it fails on the
  // unreadable document, which is reported.
  M->actInsRotator->trigger();
  EXPECT_EQ(Tabs(*M), (QStringList{"Rotator1", "Console"}));
  ASSERT_EQ(M->Gs232s.size(), 1u);
  EXPECT_EQ(M->Gs232, M->Gs232s[0].get());
  EXPECT_EQ(M->CurrentRotator, 0);
  EXPECT_EQ(BlockTitles(*M), QStringList{"Rotator1"});
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Exception).size(), 1);
  M->close();
  // The document is never overwritten.
  EXPECT_EQ(ReadFile(), Original);
}

TEST_F(MainTest, MissingMapPictureIsReportedAndTheWindowStillStarts) {
  QFile::remove(Dir.filePath("AzChart.bmp"));
  auto M = Start();
  const QStringList Shown = Ui->texts(TRecordingUiServices::Entry::Exception);
  ASSERT_EQ(Shown.size(), 1);
  EXPECT_TRUE(Shown[0].contains("AzChart.bmp")) << Shown[0].toStdString();
  EXPECT_EQ(Tabs(*M), (QStringList{"Rotator1", "Console"}));
}

TEST_F(MainTest, UnreadableControlTableIsReportedAndTheRotatorsStillLoad) {
  WriteSettings({{"Rotator_0", EntryKeys("A", "COM10")}, {"Rotator_1", EntryKeys("B", "COM11")}});
  QFile Table(Dir.filePath("CtrlTable.xml"));
  ASSERT_TRUE(Table.open(QIODevice::WriteOnly));
  Table.write("not a data packet");
  Table.close();

  auto M = Start();
  const QStringList Shown = Ui->texts(TRecordingUiServices::Entry::Exception);
  ASSERT_EQ(Shown.size(), 1);
  EXPECT_TRUE(Shown[0].contains("CtrlTable.xml")) << Shown[0].toStdString();
  EXPECT_EQ(M->CtrlTable.RowCount(), 0);
  EXPECT_EQ(Tabs(*M), (QStringList{"A", "B", "Console"}));

  // Inserting a rotator keeps the stored ones.
  M->actInsRotator->trigger();
  EXPECT_EQ(SavedTitles(), (QStringList{"Rotator1", "A", "B"}));
}
