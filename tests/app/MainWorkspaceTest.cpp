// The rotator workspace: inserting, deleting and moving rotators keeps the
// tabs, the two lists, the current rotator, the event connection and the
// saved document in step.

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
};

void PrintTo(const TWorkspaceCase &Case, std::ostream *Out) { *Out << Case.Name; }

const TWorkspaceCase WorkspaceCases[] = {
    // A new rotator takes the first gap in the numbers of the captions, and
    // with no gap "Rotator1" is taken first: its title then comes out as 2.
    {"InsertBeforeTheOnlyRotator", {"Rotator1"}, 0, TAction::Insert,
     {"Rotator2", "Rotator1"}, {New, 0}, 0, 0, true},
    {"InsertRepeatsAnExistingTitle", {"Rotator2", "Rotator1"}, 0, TAction::Insert,
     {"Rotator2", "Rotator2", "Rotator1"}, {New, 0, 1}, 0, 0, true},
    {"InsertWithTheConsoleSelectedAppends", {"A", "B"}, ConsoleTab, TAction::Insert,
     {"A", "B", "Rotator1"}, {0, 1, New}, 2, 2, true},
    {"InsertInTheMiddle", {"A", "B", "C"}, 1, TAction::Insert,
     {"A", "Rotator1", "B", "C"}, {0, New, 1, 2}, 1, 1, true},
    {"DeleteFirstSelectsTheLast", {"A", "B", "C"}, 0, TAction::Delete,
     {"B", "C"}, {1, 2}, 1, 1, true},
    {"DeleteSecondSelectsTheFirst", {"A", "B", "C"}, 1, TAction::Delete,
     {"A", "C"}, {0, 2}, 0, 0, true},
    {"DeleteLast", {"A", "B", "C"}, 2, TAction::Delete, {"A", "B"}, {0, 1}, 1, 1, true},
    {"DeleteTheOnlyRotatorDoesNothing", {"A"}, 0, TAction::Delete, {"A"}, {0}, 0, 0, false},
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
  std::vector<TGs232 *> Original;
  for (const auto &Driver : M->Gs232s)
    Original.push_back(Driver.get());
  const int ConsoleIndex = int(Case.Initial.size());
  M->PageControl1->setCurrentIndex(Case.Selected == ConsoleTab ? ConsoleIndex : Case.Selected);
  const QByteArray FileBefore = ReadFile();

  switch (Case.Action) {
  case TAction::Insert: M->actInsRotator->trigger(); break;
  case TAction::Delete: M->actDelRotator->trigger(); break;
  case TAction::Forward: M->actForwadRoatator->trigger(); break;
  case TAction::Backward: M->actBackwardRptator->trigger(); break;
  }
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();

  const int N = int(Case.Expected.size());
  EXPECT_EQ(Tabs(*M), Case.Expected + QStringList{"Console"});
  EXPECT_EQ(BlockTitles(*M), Case.Expected);
  ASSERT_EQ(int(M->Gs232s.size()), N);
  for (int I = 0; I < N; ++I) {
    SCOPED_TRACE(I);
    TGs232 *Driver = M->Gs232s[I].get();
    if (Case.From[I] == New) {
      EXPECT_EQ(std::count(Original.begin(), Original.end(), Driver), 0);
      EXPECT_EQ(Driver->Port(), "COM3");
      EXPECT_EQ(BlockValue(BlockLines(M->Rotators[I]), "Enable"), "0");
    } else {
      EXPECT_EQ(Driver, Original[Case.From[I]]);
    }
  }

  EXPECT_EQ(M->CurrentRotator, Case.Current);
  EXPECT_EQ(M->Gs232, M->Gs232s[Case.Current].get());
  EXPECT_EQ(BlockValue(M->Rotator, "Title"), Case.Expected[Case.Current]);
  const bool OnConsole = Case.SelectedAfter == ConsoleTab;
  EXPECT_EQ(M->PageControl1->currentIndex(), OnConsole ? N : Case.SelectedAfter);
  // Only the current rotator's driver reports to the window, and none while
  // the console is selected.
  for (int I = 0; I < N; ++I) {
    const bool Connected = !OnConsole && I == Case.Current;
    EXPECT_EQ(bool(M->Gs232s[I]->ChangeAzEl()), Connected) << I;
    EXPECT_EQ(bool(M->Gs232s[I]->ReachPreset()), Connected) << I;
    EXPECT_EQ(bool(M->Gs232s[I]->ReachBound()), Connected) << I;
    EXPECT_EQ(bool(M->Gs232s[I]->RelayArray()->ChangeRelays()), Connected) << I;
    EXPECT_EQ(M->Gs232s[I]->Current(), Connected) << I;
  }
  if (!OnConsole) {
    EXPECT_EQ(M->btnOpenClose->isEnabled(), BlockValue(M->Rotator, "Enable") == "-1");
  }
  QStringList ExpectedStatus;
  for (int I = 0; I < 4; ++I)
    ExpectedStatus << (I < N ? QStringLiteral("AZ=0°") : QString());
  EXPECT_EQ(Status(*M), ExpectedStatus);

  if (Case.Saves) {
    const auto Saved = SavedRotators();
    ASSERT_TRUE(Saved);
    ASSERT_EQ(int(Saved->size()), N);
    for (int I = 0; I < N; ++I) {
      const auto &[Name, Values] = (*Saved)[I];
      EXPECT_EQ(Name, QStringLiteral("Rotator_%1").arg(I));
      EXPECT_EQ(Values.at("Title"), Case.Expected[I]);
      EXPECT_EQ(Values.at("Port"), M->Gs232s[I]->Port());
      EXPECT_EQ(Values.size(), 20u);
    }
    TXMLIniFile Ini(SettingsPath());
    ASSERT_TRUE(Ini.OpenNode("/CtrlTable", false));
    EXPECT_EQ(Ini.ReadString("Enable", "?"), "0");
  } else {
    EXPECT_EQ(ReadFile(), FileBefore);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MainWorkspaceTest, ::testing::ValuesIn(WorkspaceCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(MainTest, RotatorsInsertedAfterAFirstStartAreKeptForTheNextStart) {
  {
    auto M = Start();
    M->actInsRotator->trigger();
    M->PageControl1->setCurrentIndex(2);
    M->actInsRotator->trigger();
    M->close();
  }
  auto M = Start();
  EXPECT_EQ(Tabs(*M), (QStringList{"Rotator2", "Rotator1", "Rotator2", "Console"}));
  EXPECT_EQ(M->CurrentRotator, 0);
}

TEST_F(MainTest, SelectingATabMovesTheEventConnection) {
  WriteSettings({{"Rotator_0", EntryKeys("A", "COM10")}, {"Rotator_1", EntryKeys("B", "COM11")}});
  auto M = Start();
  TGs232 *First = M->Gs232s[0].get();
  TGs232 *Second = M->Gs232s[1].get();

  M->PageControl1->setCurrentIndex(1);
  EXPECT_EQ(M->Gs232, Second);
  EXPECT_EQ(M->CurrentRotator, 1);
  EXPECT_FALSE(First->ChangeAzEl());
  EXPECT_TRUE(Second->ChangeAzEl());

  // The console keeps the rotator selected before it current.
  M->PageControl1->setCurrentIndex(2);
  EXPECT_EQ(M->Gs232, Second);
  EXPECT_EQ(M->CurrentRotator, 1);
  EXPECT_FALSE(Second->ChangeAzEl());

  M->PageControl1->setCurrentIndex(0);
  EXPECT_EQ(M->Gs232, First);
  EXPECT_TRUE(First->ChangeAzEl());
  EXPECT_FALSE(Second->ChangeAzEl());
}
