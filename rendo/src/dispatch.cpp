// Kernel dispatch: one table per process, filled once from the detected CPU features,
// lowest level first, each higher level overwriting only the slots it implements.
#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "kernels.h"
#include "kernels_ref.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace rendo_kernels {

const TKernelTable KernelsRef = {
    rendo_ref::AddSaturated_Ref,      rendo_ref::SubtractSaturated_Ref, rendo_ref::ReverseSubtractSaturated_Ref,
    rendo_ref::CopyFlat_Ref,          rendo_ref::DesaturateSsePath_Ref, rendo_ref::DesaturatePlainPath_Ref,
};

namespace {

// Fills the slots that `level` implements (non-null) over `into`.
[[maybe_unused]] void Overlay(TKernelTable& into, const TKernelTable& level) {
  auto over = [](auto& slot, auto fn) {
    if (fn != nullptr) slot = fn;
  };
  over(into.AddSaturated, level.AddSaturated);
  over(into.SubtractSaturated, level.SubtractSaturated);
  over(into.ReverseSubtractSaturated, level.ReverseSubtractSaturated);
  over(into.CopyFlat, level.CopyFlat);
  over(into.DesaturateSsePath, level.DesaturateSsePath);
  over(into.DesaturatePlainPath, level.DesaturatePlainPath);
}

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
  TKernelLevel best = TKernelLevel::Ref;
  for (TKernelLevel l : {TKernelLevel::SSE2, TKernelLevel::AVX2})
    if (KernelLevelUsable(l)) best = l;
  // A cap for tests and measurements; it can only lower the level, never force an
  // unusable one.
  if (const char* cap = std::getenv("KORVEL_RENDO_LEVEL")) {
    for (TKernelLevel l : {TKernelLevel::Ref, TKernelLevel::SSE2, TKernelLevel::AVX2})
      if (std::strcmp(cap, KernelLevelName(l)) == 0 && l < best) best = l;
  }
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

bool KernelLevelUsable(TKernelLevel level) {
  switch (level) {
    case TKernelLevel::Ref: return true;
    case TKernelLevel::SSE2:
#if defined(KORVEL_RENDO_HAVE_SSE2)
      return Cpu().SSE2;
#else
      return false;
#endif
    case TKernelLevel::AVX2:
#if defined(KORVEL_RENDO_HAVE_AVX2)
      return Cpu().AVX2;
#else
      return false;
#endif
  }
  return false;
}

namespace {

struct TLevelTables {
  TKernelTable Level[3];
  bool Built[3];
};

TLevelTables BuildTables() {
  TLevelTables t{{KernelsRef, KernelsRef, KernelsRef}, {true, false, false}};
#if defined(KORVEL_RENDO_HAVE_SSE2)
  Overlay(t.Level[1], KernelsSSE2);
  t.Level[2] = t.Level[1];
  t.Built[1] = true;
#endif
#if defined(KORVEL_RENDO_HAVE_AVX2)
  Overlay(t.Level[2], KernelsAVX2);
  t.Built[2] = true;
#endif
  return t;
}

}  // namespace

const TKernelTable* KernelTableFor(TKernelLevel level) {
  static const TLevelTables tables = BuildTables();
  const int i = static_cast<int>(level);
  return tables.Built[i] ? &tables.Level[i] : nullptr;
}

TKernelLevel ActiveKernelLevel() {
  static const TKernelLevel level = ChooseLevel();
  return level;
}

const TKernelTable& ActiveKernels() {
  static const TKernelTable table = *KernelTableFor(ActiveKernelLevel());
  return table;
}

}  // namespace rendo_kernels
