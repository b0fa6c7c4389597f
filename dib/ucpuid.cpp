#include "ucpuid.h"

#include "rendo/rendo.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define KORVEL_X86 1
#endif

bool CpuHasMMX = false;
bool CpuHas3DNow = false;
bool CpuHasSSE = false;
bool CpuUseSSE = false;

bool HasCPUID() {
#if defined(__x86_64__)
  uint64_t before, after;
  __asm__ volatile(
      "pushfq\n\t"
      "popq %0\n\t"
      "movq %0, %1\n\t"
      "xorq $0x200000, %1\n\t"
      "pushq %1\n\t"
      "popfq\n\t"
      "pushfq\n\t"
      "popq %1\n\t"
      "pushq %0\n\t"
      "popfq\n\t"
      : "=&r"(before), "=&r"(after)
      :
      : "cc", "memory");
  return ((before ^ after) & 0x200000) != 0;
#elif defined(__i386__)
  uint32_t before, after;
  __asm__ volatile(
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl $0x200000, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "pushl %0\n\t"
      "popfl\n\t"
      : "=&r"(before), "=&r"(after)
      :
      : "cc", "memory");
  return ((before ^ after) & 0x200000) != 0;
#else
  return false;
#endif
}

namespace {

bool RealCpuid(uint32_t Leaf, uint32_t (&Regs)[4]) {
#if defined(KORVEL_X86)
  unsigned a, b, c, d;
  // __get_cpuid checks the highest leaf of the range first: an out-of-range leaf would
  // otherwise return another leaf's data on some processors.
  if (__get_cpuid(Leaf, &a, &b, &c, &d) == 0) return false;
  Regs[0] = a;
  Regs[1] = b;
  Regs[2] = c;
  Regs[3] = d;
  return true;
#else
  (void)Leaf;
  (void)Regs;
  return false;
#endif
}

}  // namespace

TCpuProbe RealCpuProbe() { return {HasCPUID, RealCpuid, OSSupportsSSE}; }

void DetectCpuFeatures(const TCpuProbe& Probe) {
  auto bit = [&](uint32_t leaf, int reg, int index) {
    if (!Probe.HasCPUID()) return false;
    uint32_t regs[4] = {};
    if (!Probe.Cpuid(leaf, regs)) return false;
    return ((regs[reg] >> index) & 1u) != 0;
  };
  CpuHasMMX = bit(1, 3, 23);
  CpuHas3DNow = bit(0x80000001u, 3, 31);
  CpuHasSSE = bit(1, 3, 25);
  CpuUseSSE = CpuHasSSE && Probe.OSSupportsSSE();
}

void DetectCpuFeatures() { DetectCpuFeatures(RealCpuProbe()); }

void ApplyCpuFeatures(ICpuFeatures* Features) {
  if (Features == nullptr) return;
  auto flag = [](bool value) { return value ? int32_t(-1) : int32_t(0); };
  Features->AddRef();
  Features->SetSecondaryFeature(flag(CpuHas3DNow));
  Features->SetSseEnabled(flag(CpuUseSSE));
  Features->SetMmxEnabled(flag(CpuHasMMX));
  Features->Release();
}
