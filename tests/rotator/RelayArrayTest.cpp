// The relay array: which indexes are in use, what survives a change of the
// count, and the events of every accepted assignment.

#include "rotator/RelayArray.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

struct TRelayLog {
  explicit TRelayLog(TRelayArray &A) {
    A.SetChangeRelay([this](QObject *, int Index, bool State) {
      Events << QStringLiteral("relay %1 %2").arg(Index).arg(State ? "on" : "off");
    });
    A.SetChangeRelays([this](QObject *) { Events << QStringLiteral("relays"); });
  }
  QStringList Events;
};

TEST(RelayArray, StartsEmptyAndIgnoresEveryIndexWhileCountIsZero) {
  TRelayArray A;
  TRelayLog Log(A);
  EXPECT_EQ(A.Count(), 0);
  EXPECT_FALSE(A.Enable());
  A.SetRelay(0, true);
  EXPECT_FALSE(A.GetRelay(0));
  EXPECT_TRUE(Log.Events.isEmpty());
}

TEST(RelayArray, SetsOnlyIndexesInUseAndReportsEveryAcceptedAssignment) {
  TRelayArray A;
  A.SetCount(4);
  EXPECT_TRUE(A.Enable());
  TRelayLog Log(A);

  A.SetRelay(3, true);
  EXPECT_TRUE(A.GetRelay(3));
  EXPECT_EQ(Log.Events, QStringList({"relay 3 on", "relays"}));

  Log.Events.clear();
  A.SetRelay(4, true);
  A.SetRelay(-1, true);
  EXPECT_FALSE(A.GetRelay(4));
  EXPECT_FALSE(A.GetRelay(-1));
  EXPECT_TRUE(Log.Events.isEmpty());

  // A relay that is already off still raises both events.
  A.SetRelay(2, false);
  EXPECT_EQ(Log.Events, QStringList({"relay 2 off", "relays"}));
}

TEST(RelayArray, CountChangeHidesStatesWithoutForgettingThem) {
  TRelayArray A;
  A.SetCount(8);
  A.SetRelay(5, true);
  TRelayLog Log(A);

  A.SetCount(4);
  EXPECT_FALSE(A.GetRelay(5));
  A.SetCount(8);
  EXPECT_TRUE(A.GetRelay(5));
  A.SetCount(8); // unchanged, still reported
  EXPECT_EQ(Log.Events, QStringList({"relays", "relays", "relays"}));
}

TEST(RelayArray, CountIsHeldToTheRelaysTheArrayKeeps) {
  TRelayArray A;
  A.SetCount(2000000000); // a hand-edited settings file
  EXPECT_EQ(A.Count(), TRelayArray::MaxRelays);
  A.SetCount(-3);
  EXPECT_EQ(A.Count(), 0);
  EXPECT_FALSE(A.Enable());
  A.SetCount(40);
  A.SetRelay(TRelayArray::MaxRelays - 1, true);
  A.SetRelay(TRelayArray::MaxRelays, true);
  EXPECT_TRUE(A.GetRelay(TRelayArray::MaxRelays - 1));
  EXPECT_FALSE(A.GetRelay(TRelayArray::MaxRelays));
  EXPECT_FALSE(A.GetRelay(39));
}

TEST(RelayArray, HandlerMayReplaceTheHandlersWhileItRuns) {
  TRelayArray A;
  A.SetCount(4);
  int Calls = 0;
  A.SetChangeRelay([&](QObject *, int, bool) {
    ++Calls;
    A.SetChangeRelay(nullptr);
  });
  A.SetRelay(0, true);
  A.SetRelay(0, false);
  EXPECT_EQ(Calls, 1);
}

} // namespace
