// The rotator workspace: inserting, deleting and moving rotators keeps the
// tabs, the station's rotators, the current rotator, the event connection and
// the saved document in step.

#include "MainTestFixture.h"

#include <QAction>

namespace {

enum class TAction { Insert, Delete, Forward, Backward };

constexpr int ConsoleTab = -1;
constexpr int New = -1;

struct TWorkspaceCase {
  const char *Name;
  QStringList Initial;  // titles of the stored rotators
  int Selected;         // tab selected before the action; ConsoleTab for the console
  TAction Action;
  QStringList Expected; // titles afterwards, in tab order
  std::vector<int> From; // for each position, the initial index of its rotator, or New
  int Current;           // CurrentRotator afterwards
  int SelectedAfter;     // selected tab afterwards; ConsoleTab for the console
  bool Saves;
  QStringList Told{};    // message boxes shown by the action
};

void PrintTo(const TWorkspaceCase &Case, std::ostream *Out) { *Out << Case.Name; }

const TWorkspaceCase WorkspaceCases[] = {
    // A new rotator takes the smallest number no title uses: the first gap
    // in the numbers of the titles present, or one past the last.
    {"InsertBeforeTheOnlyRotator", {"Rotator1"}, 0, TAction::Insert,
     {"Rotator2", "Rotator1"}, {New, 0}, 0, 0, true},
    {"InsertTakesOnePastTheLastNumber", {"Rotator2", "Rotator1"}, 0, TAction::Insert,
     {"Rotator3", "Rotator2", "Rotator1"}, {New, 0, 1}, 0, 0, true},
    {"InsertWithTheConsoleSelectedAppends", {"A", "B"}, ConsoleTab, TAction::Insert,
     {"A", "B", "Rotator1"}, {0, 1, New}, 2, 2, true},
    {"InsertInTheMiddle", {"A", "B", "C"}, 1, TAction::Insert,
     {"A", "Rotator1", "B", "C"}, {0, New, 1, 2}, 1, 1, true},
    {"DeleteFirstSelectsTheLast", {"A", "B", "C"}, 0, TAction::Delete,
     {"B", "C"}, {1, 2}, 1, 1, true},
    {"DeleteSecondSelectsTheFirst", {"A", "B", "C"}, 1, TAction::Delete,
     {"A", "C"}, {0, 2}, 0, 0, true},
    {"DeleteLast", {"A", "B", "C"}, 2, TAction::Delete, {"A", "B"}, {0, 1}, 1, 1, true},
    {"DeleteTheOnlyRotatorSaysWhyNot", {"A"}, 0, TAction::Delete, {"A"}, {0}, 0, 0, false,
     {"The last rotator can't be deleted: insert another rotator first."}},
    {"DeleteWithTheConsoleSelectedDoesNothing", {"A", "B"}, ConsoleTab, TAction::Delete,
     {"A", "B"}, {0, 1}, 0, ConsoleTab, false},
    {"ForwardOnTheFirstOfTwoSwaps", {"A", "B"}, 0, TAction::Forward,
     {"B", "A"}, {1, 0}, 1, 1, true},
    {"ForwardInTheMiddle", {"A", "B", "C"}, 1, TAction::Forward,
     {"B", "A", "C"}, {1, 0, 2}, 0, 0, true},
    // At an end the rotator moves to the other end and the others shift.
    {"ForwardOnTheFirstOfThreeRotates", {"A", "B", "C"}, 0, TAction::Forward,
     {"B", "C", "A"}, {1, 2, 0}, 2, 2, true},
    {"BackwardOnTheLastOfThreeRotates", {"A", "B", "C"}, 2, TAction::Backward,
     {"C", "A", "B"}, {2, 0, 1}, 0, 0, true},
    {"BackwardOnTheFirst", {"A", "B", "C"}, 0, TAction::Backward,
     {"B", "A", "C"}, {1, 0, 2}, 1, 1, true},
    {"ForwardWithOneRotatorOnlySaves", {"A"}, 0, TAction::Forward, {"A"}, {0}, 0, 0, true},
    {"BackwardWithTheConsoleSelectedDoesNothing", {"A", "B"}, ConsoleTab, TAction::Backward,
     {"A", "B"}, {0, 1}, 0, ConsoleTab, false},
};

class MainWorkspaceTest : public MainTest,
                          public ::testing::WithParamInterface<TWorkspaceCase> {};

} // namespace

TEST_P(MainWorkspaceTest, ActionKeepsTabsListsAndDocumentInStep) {
  const TWorkspaceCase &Case = GetParam();
  std::vector<TEntry> Entries;
  for (int I = 0; I < Case.Initial.size(); ++I)
    Entries.push_back({QStringLiteral("Rotator_%1").arg(I),
                       EntryKeys(Case.Initial[I], QStringLiteral("COM%1").arg(10 + I))});
  WriteSettings(Entries);
  auto M = Start();
  const TControls C(*M);
  std::vector<TGs232 *> Original;
  for (int I = 0; I < RotatorCount(*M); ++I)
    Original.push_back(&Driver(*M, I));
  const int ConsoleIndex = int(Case.Initial.size());
  C.PageControl1->setCurrentIndex(Case.Selected == ConsoleTab ? ConsoleIndex : Case.Selected);
  const QByteArray FileBefore = ReadFile();

  // A deletion is confirmed.
  Ui->warningAnswers.push_back(true);
  switch (Case.Action) {
  case TAction::Insert: C.actInsRotator->trigger(); break;
  case TAction::Delete: C.actDelRotator->trigger(); break;
  case TAction::Forward: C.actForwadRoatator->trigger(); break;
  case TAction::Backward: C.actBackwardRptator->trigger(); break;
  }
  EXPECT_EQ(Ui->shown(), Case.Told);
  // Only a rotator that is deleted is asked about, by its title.
  const bool Deletes = Case.Action == TAction::Delete && Case.Saves;
  EXPECT_EQ(Ui->texts(TRecordingUiServices::Entry::Warning),
            Deletes ? QStringList{QStringLiteral("Delete the rotator \"%1\"?")
                                      .arg(Case.Initial[Case.Selected])}
                    : QStringList{});

  const int N = int(Case.Expected.size());
  EXPECT_EQ(Tabs(*M), Case.Expected + QStringList{"Console"});
  EXPECT_EQ(BlockTitles(*M), Case.Expected);
  ASSERT_EQ(RotatorCount(*M), N);
  for (int I = 0; I < N; ++I) {
    SCOPED_TRACE(I);
    TGs232 *D = &Driver(*M, I);
    if (Case.From[I] == New) {
      EXPECT_EQ(std::count(Original.begin(), Original.end(), D), 0);
      EXPECT_EQ(D->Port(), "COM3");
      EXPECT_EQ(BlockValue(RotatorBlock(D->Settings()), "Enable"), "0");
    } else {
      EXPECT_EQ(D, Original[Case.From[I]]);
    }
  }

  EXPECT_EQ(M->Station().CurrentRotator(), Case.Current);
  EXPECT_EQ(CurrentDriver(*M), &Driver(*M, Case.Current));
  EXPECT_EQ(BlockValue(CurrentBlock(*M), "Title"), Case.Expected[Case.Current]);
  const bool OnConsole = Case.SelectedAfter == ConsoleTab;
  EXPECT_EQ(C.PageControl1->currentIndex(), OnConsole ? N : Case.SelectedAfter);
  if (!OnConsole) {
    EXPECT_EQ(C.btnOpenClose->isEnabled(), BlockValue(CurrentBlock(*M), "Enable") == "-1");
  }
  QStringList ExpectedStatus;
  for (int I = 0; I < 4; ++I)
    // A rotator switched off (a new one) has no reading.
    ExpectedStatus << (I >= N                            ? QString()
                       : M->Station().Status(I)->Enabled ? QStringLiteral("AZ=0°")
                                                         : QStringLiteral("—"));
  EXPECT_EQ(Status(*M), ExpectedStatus);

  if (Case.Saves) {
    const auto Saved = SavedRotators();
    ASSERT_TRUE(Saved);
    ASSERT_EQ(int(Saved->size()), N);
    for (int I = 0; I < N; ++I) {
      const auto &[Name, Values] = (*Saved)[I];
      EXPECT_EQ(Name, QStringLiteral("Rotator_%1").arg(I));
      EXPECT_EQ(Values.at("Title"), Case.Expected[I]);
      EXPECT_EQ(Values.at("Port"), Driver(*M, I).Port());
      EXPECT_EQ(Values.size(), 20u);
    }
    TXMLIniFile Ini(SettingsPath());
    ASSERT_TRUE(Ini.OpenNode("/CtrlTable", false));
    EXPECT_EQ(Ini.ReadString("Enable", "?"), "0");
  } else {
    EXPECT_EQ(ReadFile(), FileBefore);
  }

  // Only the current rotator's events reach the window, and none while the
  // console is selected.
  for (int I = 0; I < N; ++I) {
    const bool Connected = !OnConsole && I == Case.Current;
    EXPECT_EQ(EventsReachingPage(*M, I), Connected ? AllEvents() : QStringList()) << I;
    EXPECT_EQ(Driver(*M, I).Current(), Connected) << I;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MainWorkspaceTest, ::testing::ValuesIn(WorkspaceCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(MainTest, RotatorsInsertedAfterAFirstStartAreKeptForTheNextStart) {
  {
    auto M = Start();
    const TControls C(*M);
    C.actInsRotator->trigger();
    C.PageControl1->setCurrentIndex(2);
    C.actInsRotator->trigger();
    M->close();
  }
  auto M = Start();
  EXPECT_EQ(Tabs(*M), (QStringList{"Rotator2", "Rotator1", "Rotator3", "Console"}));
  EXPECT_EQ(M->Station().CurrentRotator(), 0);
}

TEST_F(MainTest, SelectingATabMovesTheEventConnection) {
  WriteSettings({{"Rotator_0", EntryKeys("A", "COM10")}, {"Rotator_1", EntryKeys("B", "COM11")}});
  auto M = Start();
  const TControls C(*M);
  TGs232 *First = &Driver(*M, 0);
  TGs232 *Second = &Driver(*M, 1);

  C.PageControl1->setCurrentIndex(1);
  EXPECT_EQ(CurrentDriver(*M), Second);
  EXPECT_EQ(M->Station().CurrentRotator(), 1);
  EXPECT_EQ(EventsReachingPage(*M, 0), QStringList());
  EXPECT_EQ(EventsReachingPage(*M, 1), AllEvents());

  // The console keeps the rotator selected before it current.
  C.PageControl1->setCurrentIndex(2);
  EXPECT_EQ(CurrentDriver(*M), Second);
  EXPECT_EQ(M->Station().CurrentRotator(), 1);
  EXPECT_EQ(EventsReachingPage(*M, 1), QStringList());

  C.PageControl1->setCurrentIndex(0);
  EXPECT_EQ(CurrentDriver(*M), First);
  EXPECT_EQ(EventsReachingPage(*M, 0), AllEvents());
  EXPECT_EQ(EventsReachingPage(*M, 1), QStringList());
}

TEST_F(MainTest, DeletingARotatorAsksNamingItAndNoKeepsEverything) {
  WriteSettings(
      {{"Rotator_0", EntryKeys("Mast", "COM10")}, {"Rotator_1", EntryKeys("Tower", "COM11")}});
  auto M = Start();
  const TControls C(*M);
  C.PageControl1->setCurrentIndex(1);
  TGs232 *Tower = &Driver(*M, 1);
  const QByteArray FileBefore = ReadFile();

  // No: nothing changes.
  Ui->warningAnswers.push_back(false);
  C.actDelRotator->trigger();
  ASSERT_EQ(Ui->entries.size(), 1u);
  EXPECT_EQ(Ui->entries[0].kind, TRecordingUiServices::Entry::Warning);
  EXPECT_EQ(Ui->entries[0].caption, "Delete Rotator");
  EXPECT_EQ(Ui->entries[0].text, "Delete the rotator \"Tower\"?");
  EXPECT_EQ(Tabs(*M), (QStringList{"Mast", "Tower", "Console"}));
  EXPECT_EQ(&Driver(*M, 1), Tower);
  EXPECT_EQ(CurrentDriver(*M), Tower);
  EXPECT_EQ(EventsReachingPage(*M, 1), AllEvents());
  EXPECT_EQ(ReadFile(), FileBefore);
}
