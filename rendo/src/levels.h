// Instruction-set levels of the kernels: which ones this library holds, which ones the
// processor allows, and the one this process uses.
//
// No inline code here: the per-instruction-set files include this header (see
// kernels_colour.h for why).
#pragma once

namespace rendo_kernels {

// Lowest first. A level is used only when it was built and the processor and the
// operating system support it.
enum class TKernelLevel { Ref = 0, SSE2 = 1, AVX2 = 2 };
inline constexpr TKernelLevel kKernelLevels[] = {TKernelLevel::Ref, TKernelLevel::SSE2, TKernelLevel::AVX2};
inline constexpr int kKernelLevelCount = int(sizeof kKernelLevels / sizeof kKernelLevels[0]);

const char* KernelLevelName(TKernelLevel level);

// Whether the level is built and the running processor (and OS state saving) allows it.
bool KernelLevelUsable(TKernelLevel level);

// The level chosen once for this process: the highest usable one, capped by the
// environment variable KORVEL_RENDO_LEVEL (a level's name) when it is set.
TKernelLevel ActiveKernelLevel();

}  // namespace rendo_kernels
