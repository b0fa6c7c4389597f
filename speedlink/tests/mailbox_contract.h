#pragma once
// What a player meets in the mailbox, on every platform: the record zero and the event
// clear after construction; every publish, of the same value again too, writes the record,
// sets the event once (a wait consumes it) and leaves the lock free.
#include "uSharedMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

// The player's side, opened by name: the record as it reads it, a wait of 0 ms on the
// event, and whether another thread gets the lock at once (leaving it again).
struct TPlayerSide {
  std::function<std::vector<uint8_t>()> Record;
  std::function<bool()> EventSet, LockFree;
};

inline void ExpectEveryPublishReachesThePlayer(TSpeedSharedMemory& Mailbox,
                                               const TPlayerSide& Player) {
  EXPECT_EQ(Player.Record(), std::vector<uint8_t>(9, 0));
  EXPECT_FALSE(Player.EventSet()) << "set after construction";
  for (int I = 0; I < 3; ++I) {
    Mailbox.SetSpeed(1.1f);  // the window holds the factor as a float
    EXPECT_TRUE(Player.EventSet()) << "publish " << I;
    EXPECT_FALSE(Player.EventSet()) << "auto-reset " << I;
    EXPECT_TRUE(Player.LockFree()) << "SetSpeed left the lock held " << I;
    EXPECT_EQ(Player.Record(), (std::vector<uint8_t>{1, 0, 0, 0, 0xA0, 0x99, 0x99, 0xF1, 0x3F}));
  }
}
