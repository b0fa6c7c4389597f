#pragma once
// Millisecond clock with the semantics of the design's timeGetTime: milliseconds since an
// arbitrary start, as an unsigned 32-bit number that wraps about every 49.7 days. Callers
// subtract two readings in unsigned arithmetic, so the wrap is harmless.
#include <cstdint>

class IClock {
public:
  virtual ~IClock() = default;
  virtual uint32_t timeGetTime() = 0;
};

// The system clock: CLOCK_MONOTONIC truncated to 32 bits on Linux (clock.cpp), winmm's
// timeGetTime on Windows (clock_win.cpp).
IClock& SystemClock();
