// Row kernels of the pixel engine and the table that picks them.
//
// A kernel sees one run: destination, source(s) and a pixel count. Strides, bottom-up
// rows, runs merged by GetSpan and the pixels an operation leaves alone (left-overs of
// its pairs or groups) are handled once by the engine, above the kernels, so every
// kernel processes exactly the count it is given.
//
// Each operation has one scalar reference kernel (kernels_ref.h) that defines its
// result. The SSE2 and AVX2 kernels match it bit for bit for any count, any alignment,
// and with dst == src (in-place); partially overlapping runs are not supported.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rendo_kernels {

using TFlatKernel = void (*)(uint32_t* dst, const uint32_t* src, size_t count);
using TLevelKernel = void (*)(uint32_t* dst, const uint32_t* src, size_t count, uint32_t level);

// Instruction-set levels, lowest first. A level is used only when it was built and the
// processor and the operating system support it.
enum class TKernelLevel { Ref = 0, SSE2 = 1, AVX2 = 2 };

const char* KernelLevelName(TKernelLevel level);

struct TKernelTable {
  TFlatKernel AddSaturated;
  TFlatKernel SubtractSaturated;
  TFlatKernel ReverseSubtractSaturated;
  TFlatKernel CopyFlat;
  // Desaturate has two variants that differ only in the fourth byte; the engine's SSE
  // switch selects one of them.
  TLevelKernel DesaturateSsePath;
  TLevelKernel DesaturatePlainPath;
};

// The table for exactly one level: the reference table with the slots that level
// implements overwritten. Null when the level is not built into this library.
const TKernelTable* KernelTableFor(TKernelLevel level);

// Whether the level is built and the running processor (and OS state saving) allows it.
bool KernelLevelUsable(TKernelLevel level);

// The level chosen once for this process: the highest usable one, capped by the
// environment variable KORVEL_RENDO_LEVEL ("Ref", "SSE2" or "AVX2") when it is set.
TKernelLevel ActiveKernelLevel();

// The table of the active level, filled on first use.
const TKernelTable& ActiveKernels();

// Per-level tables, defined only in the builds that have them.
#if defined(KORVEL_RENDO_HAVE_SSE2)
extern const TKernelTable KernelsSSE2;
#endif
#if defined(KORVEL_RENDO_HAVE_AVX2)
extern const TKernelTable KernelsAVX2;
#endif
extern const TKernelTable KernelsRef;

}  // namespace rendo_kernels
