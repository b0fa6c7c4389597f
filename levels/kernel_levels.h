// Instruction-set levels of the SIMD kernels (the pixel engine's and the transform's):
// which ones the build holds, which ones the processor allows, and the one this process
// uses.
//
// No inline code here: the per-instruction-set files include this header, and an inline
// function compiled with -mavx2 in one of them could be the copy the linker keeps for
// every caller.
#pragma once

#include <vector>

// Lowest first. A level is used only when it was built (KORVEL_HAVE_<level>, set by the one
// CMake check) and the processor and the operating system support it.
enum class TKernelLevel { Ref = 0, SSE2 = 1, AVX2 = 2 };
inline constexpr TKernelLevel kKernelLevels[] = {TKernelLevel::Ref, TKernelLevel::SSE2, TKernelLevel::AVX2};
inline constexpr int kKernelLevelCount = int(sizeof kKernelLevels / sizeof kKernelLevels[0]);

// The environment variable that caps the level for tests and measurements.
inline constexpr const char* kKernelLevelCapVariable = "KORVEL_KERNEL_LEVEL";

const char* KernelLevelName(TKernelLevel level);

// The level named `name` ("Ref", "SSE2", "AVX2"); false for any other text.
bool ParseKernelLevel(const char* name, TKernelLevel& level);

// Whether the level is built and the running processor (and OS state saving) allows it.
bool KernelLevelUsable(TKernelLevel level);

// The usable levels, lowest first (Ref always).
std::vector<TKernelLevel> UsableKernelLevels();

// The level chosen once for this process: the highest usable one, capped by
// KORVEL_KERNEL_LEVEL (a level's name) when it is set. The cap only lowers the level;
// a test run for a level the machine lacks is skipped before it starts (level_run).
TKernelLevel ActiveKernelLevel();
