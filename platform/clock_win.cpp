#include "clock.h"

#include <windows.h>
#include <mmsystem.h>

namespace {
// winmm's own clock: milliseconds since the system started, wrapping at 2^32 as the
// callers expect. Its default resolution (a few ms) is far finer than any use here.
class TWinmmClock final : public IClock {
public:
  uint32_t timeGetTime() override { return ::timeGetTime(); }
};
}  // namespace

IClock& SystemClock() {
  static TWinmmClock clock;
  return clock;
}
