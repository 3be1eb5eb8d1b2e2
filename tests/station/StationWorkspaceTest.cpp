// The list of rotators: inserting, deleting and moving keep the drivers, the
// reports and the settings document in step, and new rotators are named
// from the titles of those present.

#include "station/StationSeam.h"
#include "StationTestSupport.h"

#include <algorithm>
#include <vector>

using namespace station_test;

namespace {

enum class TAction { Insert, Delete, Move };

constexpr int New = -1;

struct TWorkspaceCase {
  const char *Name;
  QStringList Initial; // titles of the stored rotators
  TAction Action;
  int A;               // index to insert at or delete, or the place moved from
  int B;               // the place moved to
  QStringList Expected;  // titles afterwards
  std::vector<int> From; // for each place, the initial index of its driver, or New
  QStringList Reports;   // what the station raised
};

void PrintTo(const TWorkspaceCase &Case, std::ostream *Out) { *Out << Case.Name; }

const TWorkspaceCase WorkspaceCases[] = {
    {"InsertAtTheFront", {"A", "B"}, TAction::Insert, 0, 0,
     {"Rotator1", "A", "B"}, {New, 0, 1}, {"added 0"}},
    {"InsertInTheMiddleTakesTheGap", {"Rotator1", "Rotator3"}, TAction::Insert, 1, 0,
     {"Rotator1", "Rotator2", "Rotator3"}, {0, New, 1}, {"added 1"}},
    {"InsertAtTheEnd", {"A", "B"}, TAction::Insert, 2, 0,
     {"A", "B", "Rotator1"}, {0, 1, New}, {"added 2"}},
    {"DeleteTheFirst", {"A", "B", "C"}, TAction::Delete, 0, 0,
     {"B", "C"}, {1, 2}, {"removed 0"}},
    {"DeleteTheLast", {"A", "B", "C"}, TAction::Delete, 2, 0,
     {"A", "B"}, {0, 1}, {"removed 2"}},
    {"MoveTheFirstToTheEnd", {"A", "B", "C"}, TAction::Move, 0, 2,
     {"B", "C", "A"}, {1, 2, 0}, {"moved 0 2"}},
    {"MoveTheLastToTheFront", {"A", "B", "C"}, TAction::Move, 2, 0,
     {"C", "A", "B"}, {2, 0, 1}, {"moved 2 0"}},
    {"MoveOnePlaceForward", {"A", "B", "C", "D"}, TAction::Move, 1, 2,
     {"A", "C", "B", "D"}, {0, 2, 1, 3}, {"moved 1 2"}},
};

class StationWorkspaceTest : public StationTest,
                             public ::testing::WithParamInterface<TWorkspaceCase> {};

} // namespace

// The drivers keep their identity (an open port stays open when its rotator
// moves), the report is raised once the list has changed, and the document
// holds the new order.
TEST_P(StationWorkspaceTest, ChangeIsReportedAndWritten) {
  const TWorkspaceCase &Case = GetParam();
  Store(Rotators(Case.Initial));
  TStation &S = Load();
  std::vector<const TGs232 *> Original;
  for (int I = 0; I < S.RotatorCount(); ++I)
    Original.push_back(&TStationSeam::Driver(S, I));
  QStringList TitlesWhenReported;
  QObject::connect(&S, &TStation::RotatorAdded, &S, [&] { TitlesWhenReported = Titles(); });
  QObject::connect(&S, &TStation::RotatorRemoved, &S, [&] { TitlesWhenReported = Titles(); });
  QObject::connect(&S, &TStation::RotatorMoved, &S, [&] { TitlesWhenReported = Titles(); });
  Log.clear();

  switch (Case.Action) {
  case TAction::Insert: S.InsertRotator(Case.A); break;
  case TAction::Delete: EXPECT_TRUE(S.DeleteRotator(Case.A)); break;
  case TAction::Move: S.MoveRotator(Case.A, Case.B); break;
  }

  EXPECT_EQ(Titles(), Case.Expected);
  EXPECT_EQ(Log, Case.Reports);
  EXPECT_EQ(TitlesWhenReported, Case.Expected);
  EXPECT_EQ(StoredTitles(), Case.Expected);
  ASSERT_EQ(S.RotatorCount(), int(Case.From.size()));
  for (int I = 0; I < S.RotatorCount(); ++I) {
    SCOPED_TRACE(I);
    EXPECT_EQ(S.IndexOf(&TStationSeam::Driver(S, I)), I);
    if (Case.From[I] == New) {
      EXPECT_EQ(std::count(Original.begin(), Original.end(), &TStationSeam::Driver(S, I)), 0);
      EXPECT_EQ(S.RotatorSettings(I), Held(TRotatorSettings::Defaults(Case.Expected[I])));
    } else {
      EXPECT_EQ(&TStationSeam::Driver(S, I), Original[Case.From[I]]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, StationWorkspaceTest, ::testing::ValuesIn(WorkspaceCases),
                         [](const ::testing::TestParamInfo<TWorkspaceCase> &Info) {
                           return std::string(Info.param.Name);
                         });

// Deletes that are refused change nothing, raise nothing and write nothing:
// the last rotator stays, and there is no rotator past the end.
TEST_F(StationTest, RefusedDeleteChangesNothing) {
  struct TCase {
    QStringList Initial;
    int Index;
  };
  for (const TCase &Case : {TCase{{"A"}, 0}, TCase{{"A", "B"}, 2}, TCase{{"A", "B"}, -1}}) {
    SCOPED_TRACE(Case.Initial.join(',').toStdString() + " " + std::to_string(Case.Index));
    Store(Rotators(Case.Initial));
    TStation &S = Load();
    const QByteArray Before = Bytes();
    Log.clear();
    EXPECT_FALSE(S.DeleteRotator(Case.Index));
    EXPECT_EQ(Titles(), Case.Initial);
    EXPECT_TRUE(Log.isEmpty()) << Log.join('|').toStdString();
    EXPECT_EQ(Bytes(), Before);
  }
}

// Names come from the titles present, not from a count of rotators ever
// made: the name a delete frees is the next one handed out.
TEST_F(StationTest, NameFreedByADeleteIsTakenAgain) {
  Store(Rotators({"Rotator1", "Rotator2", "Rotator3"}));
  TStation &S = Load();
  ASSERT_TRUE(S.DeleteRotator(1));
  S.InsertRotator(2);
  EXPECT_EQ(Titles(), (QStringList{"Rotator1", "Rotator3", "Rotator2"}));
  EXPECT_EQ(StoredTitles(), Titles());
}

TEST_F(StationTest, NextRotatorNameTakesTheSmallestFreeNumber) {
  struct TCase {
    QStringList Titles;
    const char *Next;
  };
  const TCase Cases[] = {
      {{"Mast", "Tower"}, "Rotator1"},
      {{"Rotator2"}, "Rotator1"},
      {{"Rotator3", "Rotator1"}, "Rotator2"},
      // The numbers are compared as numbers, not as texts.
      {{"Rotator1", "Rotator10", "Rotator2"}, "Rotator3"},
      // Only titles that start with "Rotator" in this spelling count, and
      // only when a number follows.
      {{"Rotator1", "rotator2", "Rotator3"}, "Rotator2"},
      {{"Rotator1", "RotatorX", "Rotator", "Rotator3"}, "Rotator2"},
      // Without a gap the name follows the last number: a new rotator never
      // takes a name that is in use.
      {{"Rotator1"}, "Rotator2"},
      {{"Rotator1", "Rotator2"}, "Rotator3"},
      {{"Rotator2", "Rotator1", "Rotator2"}, "Rotator3"},
  };
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(Case.Titles.join(',').toStdString());
    Store(Rotators(Case.Titles));
    TStation &S = Load();
    EXPECT_EQ(S.NextRotatorName(), Case.Next);
    S.InsertRotator(S.RotatorCount());
    EXPECT_EQ(TStationSeam::Driver(S, S.RotatorCount() - 1).Title(), Case.Next);
  }
}
