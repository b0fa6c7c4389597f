#include "clock.h"

#include <ctime>

namespace {
class TMonotonicClock final : public IClock {
public:
  uint32_t timeGetTime() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return uint32_t(ms);  // modulo 2^32: the wrap callers expect
  }
};
}  // namespace

IClock& SystemClock() {
  static TMonotonicClock clock;
  return clock;
}
