#include "uHistory.h"

#include <gtest/gtest.h>

TEST(HistoryRing, AgesCountBackFromTheNextSlot) {
  TBasicFreqenycyTable ring;
  for (int32_t age = 0; age < TBasicFreqenycyTable::Size; ++age) EXPECT_EQ(ring.ReadAge(age), 0.0f);
  ring.Push(0.5f);
  EXPECT_EQ(ring.Position, 1);
  EXPECT_EQ(ring.ReadAge(1), 0.5f);
  EXPECT_EQ(ring.ReadAge(0), 0.0f);
}

TEST(HistoryRing, WrapsAfter220PushesAndAge219ReadsTheSecondOldest) {
  TBasicFreqenycyTable ring;
  for (int i = 0; i < 220; ++i) ring.Push(float(i + 1));
  EXPECT_EQ(ring.Position, 0);
  EXPECT_EQ(ring.ReadAge(0), 1.0f);  // the first value pushed is now the oldest
  EXPECT_EQ(ring.ReadAge(1), 220.0f);
  for (int i = 0; i < 5; ++i) ring.Push(0.0f);
  EXPECT_EQ(ring.Position, 5);
  EXPECT_EQ(ring.ReadAge(219), ring.Items[6]);
}

TEST(HistoryRing, AgesOutsideTheRingStayInside) {
  TBasicFreqenycyTable ring;
  ring.Push(0.25f);
  EXPECT_EQ(ring.ReadAge(1 + 220 * 3), 0.25f);
  EXPECT_EQ(ring.ReadAge(1 - 220 * 5), 0.25f);
  EXPECT_EQ(ring.ReadAge(-2147483647 - 1), ring.Items[std::size_t((1 + 2147483648LL) % 220)]);
}
