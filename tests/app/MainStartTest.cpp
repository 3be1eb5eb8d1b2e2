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
      Texts << Action->text().remove(u'&');
  return Texts;
}

} // namespace

TEST_F(MainTest, FirstStartWithoutSettingsShowsOneDisabledRotatorThatClosingSaves) {
  auto M = Start();
  const TControls C(*M);

  EXPECT_EQ(Tabs(*M), (QStringList{"Rotator1", "Console"}));
  // A disabled rotator has no reading: a dash in its panel, no needle.
  EXPECT_EQ(Status(*M), (QStringList{"—", "", "", ""}));
  ASSERT_EQ(RotatorCount(*M), 1);
  EXPECT_EQ(CurrentDriver(*M), &Driver(*M, 0));
  EXPECT_EQ(M->Station().CurrentRotator(), 0);
  EXPECT_EQ(Driver(*M, 0).Port(), "COM3");
  EXPECT_EQ(BlockValue(CurrentBlock(*M), "Enable"), "0");
  EXPECT_FALSE(C.btnOpenClose->isEnabled());
  EXPECT_EQ(C.btnOpenClose->text(), "Open");
  for (QPushButton *Button : {C.btnPreset, C.btnCW, C.btnCCW, C.btnStop})
    EXPECT_FALSE(Button->isEnabled()) << Button->objectName().toStdString();
  EXPECT_FALSE(M->Station().CtrlTableEnable());
  EXPECT_TRUE(LayerIsClear(C.imgDirection));
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

  // Closing writes the window position, then the control-table switch and
  // the rotator.
  TXMLIniFile Ini(SettingsPath());
  QStringList Sections;
  Ini.GetNodeNames(Sections, Ini.RootNode());
  EXPECT_EQ(Sections, (QStringList{"Main", "CtrlTable", "Rotators"}));
  ASSERT_TRUE(Ini.OpenNode("/Main", false));
  QStringList Keys;
  Ini.GetNodeNames(Keys);
  EXPECT_EQ(Keys, (QStringList{"Version", "Left", "Top"}));
  EXPECT_EQ(Ini.ReadString("Version", "?"),
            GetVersionInfo(QCoreApplication::applicationFilePath(), vkFileVersion));
  EXPECT_EQ(Ini.ReadInteger("Left", -1), Pos.x());
  EXPECT_EQ(Ini.ReadInteger("Top", -1), Pos.y());
  ASSERT_TRUE(Ini.OpenNode("/CtrlTable", false));
  EXPECT_EQ(Ini.ReadString("Enable", "?"), "0");
  const auto Saved = SavedRotators();
  ASSERT_TRUE(Saved);
  ASSERT_EQ(Saved->size(), 1u);
  EXPECT_EQ(Saved->at(0).first, "Rotator_0");
  EXPECT_EQ(Saved->at(0).second.size(), 20u);
  EXPECT_EQ(Saved->at(0).second.at("Title"), "Rotator1");
  EXPECT_EQ(Saved->at(0).second.at("Enable"), "0");
  EXPECT_EQ(Saved->at(0).second.at("Port"), "COM3");
  // Closing leaves the station without rotators and the window with the
  // console tab only.
  EXPECT_EQ(RotatorCount(*M), 0);
  EXPECT_EQ(CurrentDriver(*M), nullptr);
  EXPECT_EQ(Tabs(*M), QStringList{"Console"});
}

TEST_F(MainTest, WindowHasItsCaptionMenusAndLayoutAtItsSmallestSize) {
  // A rotator that is switched on, so that its needle shows.
  WriteSettings({{"Rotator_0", EntryKeys("Mast", QStringLiteral("COM12"))}});
  auto M = Start();
  const TControls C(*M);
  M->show();

  EXPECT_EQ(M->windowTitle(), "Orbalt");
  // It opens at its smallest size (it may grow, see MainWindowSizeTest).
  EXPECT_EQ(M->centralWidget()->size(), QSize(269, 421));
  EXPECT_EQ(M->centralWidget()->minimumSize(), QSize(269, 421));

  struct TPlace {
    QWidget *Control;
    QRect Bounds;
  };
  const TPlace Places[] = {
      {C.PageControl1, {0, 0, 269, 394}},
      {C.StatusBar1, {0, 394, 269, 27}},
      {C.pnlRotator, {3, 22, 265, 370}},
      {C.pnlConsole, {3, 22, 265, 370}},
      {C.edtPresetD, {8, 13, 57, 24}},
      {C.btnPreset, {70, 9, 68, 33}},
      {C.btnOpenClose, {189, 9, 68, 33}},
      {C.imgMap, {7, 48, 250, 250}},
      {C.imgPreset, {7, 48, 250, 250}},
      {C.imgRelay, {7, 48, 250, 250}},
      {C.imgDirection, {7, 48, 250, 250}},
      {C.GroupBox2, {7, 301, 250, 57}},
      {C.btnCCW, {7, 19, 68, 33}},
      {C.btnStop, {87, 20, 68, 33}},
      {C.btnCW, {171, 19, 68, 33}},
  };
  for (const TPlace &Place : Places)
    EXPECT_EQ(Place.Control->geometry(), Place.Bounds) << Place.Control->objectName().toStdString();
  for (QLabel *Panel : C.StatusPanels)
    EXPECT_EQ(Panel->width(), 65);
  // The needle centre is (125, 125) and the needle 100 long: the window's
  // needle at north is the one a display of that geometry draws.
  {
    QWidget Panel;
    TAzimuthDisplay Reference(&Panel);
    Reference.NeedleCenterX = 125;
    Reference.NeedleCenterY = 125;
    Reference.NeedleLength = 100;
    Reference.DrawDirection(0.0, false, 0, 0.0);
    EXPECT_EQ(C.imgDirection->Picture(), Reference.imgDirection->Picture());
  }
  // The map's layers are stacked over it, the direction layer on top.
  const QObjectList Stack = C.pnlRotator->children();
  EXPECT_LT(Stack.indexOf(C.imgMap), Stack.indexOf(C.imgPreset));
  EXPECT_LT(Stack.indexOf(C.imgPreset), Stack.indexOf(C.imgRelay));
  EXPECT_LT(Stack.indexOf(C.imgRelay), Stack.indexOf(C.imgDirection));

  const QList<QAction *> Bar = M->menuBar()->actions();
  EXPECT_EQ(ActionTexts(Bar), (QStringList{"Exit", "Rotator", "Station", "View", "Help"}));
  EXPECT_EQ(ActionTexts(Bar[1]->menu()->actions()),
            (QStringList{"Goto Home position", "Insert Rotator", "Delete Rotator", "Options",
                         "Turn to...", "Stop"}));
  EXPECT_EQ(ActionTexts(Bar[2]->menu()->actions()), QStringList{"Station..."});
  EXPECT_EQ(ActionTexts(Bar[3]->menu()->actions()), QStringList{"Large map"});
  EXPECT_EQ(ActionTexts(Bar[4]->menu()->actions()), QStringList{"About"});
  EXPECT_EQ(ActionTexts(C.PopupMenu1->actions()),
            (QStringList{"Insert", "Delete", "Forwad", "Backward"}));

  // The console tab brings the console page to the front, a rotator tab the
  // rotator page.
  auto OnTop = [&](QWidget *Panel) {
    return M->centralWidget()->childAt(C.pnlRotator->geometry().center()) == Panel ||
           Panel->isAncestorOf(M->centralWidget()->childAt(C.pnlRotator->geometry().center()));
  };
  EXPECT_TRUE(OnTop(C.pnlRotator));
  C.PageControl1->setCurrentIndex(1);
  EXPECT_TRUE(OnTop(C.pnlConsole));
  C.PageControl1->setCurrentIndex(0);
  EXPECT_TRUE(OnTop(C.pnlRotator));
  M->close();
}

// The stored point is the outer frame's corner: the shown window's frame stands
// there, nothing is written while it only appears, and closing stores the same
// point again, so the window does not creep by its frame from start to start.
TEST_F(MainTest, StoredPositionIsTheFramesCornerUnlessBothAreZero) {
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
    const QByteArray Stored = ReadFile();
    auto M = Start();
    M->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(M.get()));
    QTest::qWait(700);
    const QRect Screen = M->screen()->geometry();
    const QRect Frame = M->frameGeometry();
    const QPoint Expected =
        Case.Centred ? QPoint(Screen.x() + (Screen.width() - Frame.width()) / 2,
                              Screen.y() + (Screen.height() - Frame.height()) / 2)
                     : QPoint(Case.Left, Case.Top);
    EXPECT_EQ(std::pair(Frame.left(), Frame.top()), std::pair(Expected.x(), Expected.y()));
    EXPECT_TRUE(ReadFile() == Stored) << "the document was written while the window appeared";
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

TEST_F(MainTest, RotatorsLoadInDocumentOrderAndClosingWritesThemBackAsLoaded) {
  // Entry names carry no meaning; empty titles take the name a new rotator
  // would get.
  WriteSettings({{"Rotator_2", EntryKeys("", "COM10")},
                 {"Rotator_0", EntryKeys("Zero", "COM11")},
                 {"Rotator_1", EntryKeys("", "COM12")},
                 {"B", EntryKeys("Three", "COM13")},
                 {"A", EntryKeys("Four", "COM14")}});
  const auto Before = SavedRotators();
  ASSERT_TRUE(Before);
  auto M = Start();
  const TControls C(*M);
  // The tabs went in with the tab control hidden; it is back.
  EXPECT_FALSE(C.PageControl1->isHidden());
  const QStringList Titles{"Rotator1", "Zero", "Rotator2", "Three", "Four"};

  EXPECT_EQ(Tabs(*M), Titles + QStringList{"Console"});
  EXPECT_EQ(BlockTitles(*M), Titles);
  ASSERT_EQ(RotatorCount(*M), 5);
  for (int I = 0; I < 5; ++I)
    EXPECT_EQ(Driver(*M, I).Port(), QStringLiteral("COM1%1").arg(I));
  // The first four rotators in the status bar.
  EXPECT_EQ(Status(*M), (QStringList{"AZ=0°", "AZ=0°", "AZ=0°", "AZ=0°"}));
  EXPECT_TRUE(C.btnOpenClose->isEnabled());
  // The first rotator is current and the only one whose events reach the
  // window.
  EXPECT_EQ(M->Station().CurrentRotator(), 0);
  EXPECT_EQ(CurrentDriver(*M), &Driver(*M, 0));
  for (int I = 0; I < 5; ++I) {
    EXPECT_EQ(EventsReachingPage(*M, I), I == 0 ? AllEvents() : QStringList()) << I;
    EXPECT_EQ(Driver(*M, I).Current(), I == 0) << I;
  }
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();

  // Closing writes every rotator once more, in the order loaded, under the
  // names the program gives: every key it read keeps its text, and an empty
  // title is stored as the name it was given.
  M->close();
  const auto After = SavedRotators();
  ASSERT_TRUE(After);
  ASSERT_EQ(After->size(), Before->size());
  for (size_t I = 0; I < After->size(); ++I) {
    SCOPED_TRACE(I);
    const auto &[Name, Values] = (*After)[I];
    EXPECT_EQ(Name, QStringLiteral("Rotator_%1").arg(I));
    EXPECT_EQ(Values.size(), 20u);
    for (const auto &[Key, Text] : (*Before)[I].second) {
      const QString Expected = Key == "Title" && Text.isEmpty() ? Titles[int(I)] : Text;
      EXPECT_EQ(Values.at(Key), Expected) << Key.toStdString();
    }
  }
}

TEST_F(MainTest, RotatorSectionWithoutEntriesStartsWithOneDefaultRotator) {
  WriteSettings({});
  auto M = Start();
  EXPECT_EQ(Tabs(*M), (QStringList{"Rotator1", "Console"}));
  ASSERT_EQ(RotatorCount(*M), 1);
  EXPECT_EQ(CurrentDriver(*M), &Driver(*M, 0));
  EXPECT_EQ(Driver(*M, 0).Port(), "COM3");
  EXPECT_TRUE(Ui->shown().isEmpty());
}

TEST_F(MainTest, MalformedSettingsAreReportedAndLeaveAnEmptyWorkspaceThatIgnoresActions) {
  WriteFile("<root><Main>");
  const QByteArray Original = ReadFile();
  auto M = Start();
  const TControls C(*M);
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Exception).size(), 1);
  EXPECT_EQ(RotatorCount(*M), 0);
  EXPECT_EQ(CurrentDriver(*M), nullptr);

  Ui->clear();
  for (QAction *Action : {C.actDelRotator, C.actForwadRoatator, C.actBackwardRptator,
                          C.actGotoHome})
    Action->trigger();
  for (QPushButton *Button : {C.btnOpenClose, C.btnCW, C.btnPreset}) {
    Button->setEnabled(true);
    Button->click();
  }
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
  // Only the console tab is left, so that an inserted rotator gets tab 0.
  EXPECT_EQ(Tabs(*M), QStringList{"Console"});

  // Insert pairs the new rotator with the first tab; saving it fails on the
  // unreadable document, which is reported.
  C.actInsRotator->trigger();
  EXPECT_EQ(Tabs(*M), (QStringList{"Rotator1", "Console"}));
  ASSERT_EQ(RotatorCount(*M), 1);
  EXPECT_EQ(CurrentDriver(*M), &Driver(*M, 0));
  EXPECT_EQ(M->Station().CurrentRotator(), 0);
  EXPECT_EQ(BlockTitles(*M), QStringList{"Rotator1"});
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Exception).size(), 1)
      << Ui->shown().join('|').toStdString();
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
  EXPECT_EQ(M->Station().CtrlTable().RowCount(), 0);
  EXPECT_EQ(Tabs(*M), (QStringList{"A", "B", "Console"}));

  // Inserting a rotator keeps the stored ones.
  TControls(*M).actInsRotator->trigger();
  EXPECT_EQ(SavedTitles(), (QStringList{"Rotator1", "A", "B"}));
}
