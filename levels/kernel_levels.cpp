// The processor probe and the process's kernel level.
#include "kernel_levels.h"

#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

struct TCpuSupport {
  bool SSE2 = false;
  bool AVX2 = false;
};

TCpuSupport DetectCpu() {
  TCpuSupport cpu;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a, b, c, d;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return cpu;
  cpu.SSE2 = (d & bit_SSE2) != 0;
  const bool osxsave = (c & bit_OSXSAVE) != 0;
  const bool avx = (c & bit_AVX) != 0;
  if (!osxsave || !avx) return cpu;
  // XGETBV(0): bits 1 and 2 say the OS saves XMM and YMM state across context switches.
  unsigned xcr0lo, xcr0hi;
  __asm__ volatile("xgetbv" : "=a"(xcr0lo), "=d"(xcr0hi) : "c"(0));
  if ((xcr0lo & 0x6u) != 0x6u) return cpu;
  if (__get_cpuid_max(0, nullptr) < 7) return cpu;
  __cpuid_count(7, 0, a, b, c, d);
  cpu.AVX2 = (b & bit_AVX2) != 0;
#endif
  return cpu;
}

[[maybe_unused]] const TCpuSupport& Cpu() {
  static const TCpuSupport cpu = DetectCpu();
  return cpu;
}

TKernelLevel ChooseLevel() {
  TKernelLevel best = UsableKernelLevels().back();
  // A cap for tests and measurements; it can only lower the level, never force an
  // unusable one.
  TKernelLevel cap;
  if (const char* text = std::getenv(kKernelLevelCapVariable); text && ParseKernelLevel(text, cap) && cap < best)
    best = cap;
  return best;
}

}  // namespace

const char* KernelLevelName(TKernelLevel level) {
  switch (level) {
    case TKernelLevel::Ref: return "Ref";
    case TKernelLevel::SSE2: return "SSE2";
    case TKernelLevel::AVX2: return "AVX2";
  }
  return "?";
}

bool ParseKernelLevel(const char* name, TKernelLevel& level) {
  for (TKernelLevel l : kKernelLevels)
    if (std::strcmp(name, KernelLevelName(l)) == 0) {
      level = l;
      return true;
    }
  return false;
}

bool KernelLevelUsable(TKernelLevel level) {
  switch (level) {
    case TKernelLevel::Ref: return true;
    case TKernelLevel::SSE2:
#if defined(KORVEL_HAVE_SSE2)
      return Cpu().SSE2;
#else
      return false;
#endif
    case TKernelLevel::AVX2:
#if defined(KORVEL_HAVE_AVX2)
      return Cpu().AVX2;
#else
      return false;
#endif
  }
  return false;
}

std::vector<TKernelLevel> UsableKernelLevels() {
  std::vector<TKernelLevel> levels;
  for (TKernelLevel l : kKernelLevels)
    if (KernelLevelUsable(l)) levels.push_back(l);
  return levels;
}

TKernelLevel ActiveKernelLevel() {
  static const TKernelLevel level = ChooseLevel();
  return level;
}
