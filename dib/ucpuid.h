#pragma once
// Processor features, found once at start-up and handed to the pixel engine.
//
// The flags stay false until DetectCpuFeatures has run, and on processors other than x86
// (no CPUID) they stay false for good: the engine then runs with its gated operations off.
#include <cstdint>

struct ICpuFeatures;

extern bool CpuHasMMX;    // CPUID leaf 1, EDX bit 23
extern bool CpuHas3DNow;  // CPUID leaf 0x80000001, EDX bit 31
extern bool CpuHasSSE;    // CPUID leaf 1, EDX bit 25
extern bool CpuUseSSE;    // CpuHasSSE and OSSupportsSSE()

// True when bit 21 (ID) of EFLAGS can be flipped, i.e. the CPUID instruction exists.
bool HasCPUID();
// True when an SSE instruction (XORPS) runs without a fault; false without CPUID.
bool OSSupportsSSE();
// Fills the four flags in the order MMX, 3DNow, SSE, use-SSE; asks OSSupportsSSE only
// when the processor reports SSE.
void DetectCpuFeatures();
// Hands the flags to the engine as -1 (true) or 0 (false): secondary feature, SSE path,
// MMX, in that order, holding an extra reference for the duration.
void ApplyCpuFeatures(ICpuFeatures* Features);

// What DetectCpuFeatures asks the processor; tests pass a machine of their own.
struct TCpuProbe {
  bool (*HasCPUID)();
  // Registers EAX..EDX of a CPUID leaf; false when the leaf cannot be read.
  bool (*Cpuid)(uint32_t Leaf, uint32_t (&Regs)[4]);
  bool (*OSSupportsSSE)();
};
TCpuProbe RealCpuProbe();
void DetectCpuFeatures(const TCpuProbe& Probe);
