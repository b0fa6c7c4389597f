// The SSE system test on Linux: the one fault of an SSE instruction under a system that
// does not save SSE state is SIGILL, caught here for the probe only.
#include "ucpuid.h"

#include <csetjmp>
#include <csignal>

namespace {
sigjmp_buf SseProbeJump;
void SseProbeFault(int) { siglongjmp(SseProbeJump, 1); }
}  // namespace

bool OSSupportsSSE() {
  if (!HasCPUID()) return false;
#if defined(__x86_64__) || defined(__i386__)
  // A system that does not save SSE state leaves CR4.OSFXSR clear, and the instruction
  // faults with SIGILL; catch that one fault and report it.
  struct sigaction guard {}, previous {};
  guard.sa_handler = SseProbeFault;
  sigemptyset(&guard.sa_mask);
  if (sigaction(SIGILL, &guard, &previous) != 0) return false;
  bool ok = false;
  if (sigsetjmp(SseProbeJump, 1) == 0) {
    __asm__ volatile("xorps %%xmm0, %%xmm0" ::: "xmm0");
    ok = true;
  }
  sigaction(SIGILL, &previous, nullptr);
  return ok;
#else
  return false;
#endif
}

