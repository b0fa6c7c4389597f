#pragma once
// Test backend of the millisecond clock.
#include "clock.h"

#include <cstdint>

// A clock the test sets by hand.
class TManualClock : public IClock {
public:
  uint32_t Now = 0;
  uint32_t timeGetTime() override { return Now; }
};
