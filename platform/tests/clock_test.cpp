#include "clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(SystemClock, CountsMillisecondsForward) {
  IClock& clock = SystemClock();
  const uint32_t a = clock.timeGetTime();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const uint32_t elapsed = clock.timeGetTime() - a;  // unsigned: correct across a wrap
  EXPECT_GE(elapsed, 19u);
  EXPECT_LT(elapsed, 5000u);
}
