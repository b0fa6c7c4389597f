// Flat-run kernels (the saturating run family, the run copy) and Desaturate, and the
// table that picks them.
//
// A kernel sees one run: destination, source(s) and a pixel count. Strides, bottom-up
// rows, runs merged by GetSpan and the pixels an operation leaves alone (left-overs of
// its pairs or groups) are handled once by the engine, above the kernels, so every
// kernel processes exactly the count it is given.
//
// Each operation has one scalar reference kernel (rendo/reference.h) that defines its
// result. The SSE2 and AVX2 kernels match it bit for bit for any count, any alignment,
// and with dst == src (in-place); partially overlapping runs are not supported.
#pragma once

#include <cstddef>
#include <cstdint>

#include "levels.h"

namespace rendo_kernels {

using TFlatKernel = void (*)(uint32_t* dst, const uint32_t* src, size_t count);
using TLevelKernel = void (*)(uint32_t* dst, const uint32_t* src, size_t count, uint32_t level);

struct TFlatKernelTable {
  TFlatKernel AddSaturated;
  TFlatKernel SubtractSaturated;
  TFlatKernel ReverseSubtractSaturated;
  TFlatKernel CopyFlat;
  // Desaturate has two variants that differ only in the fourth byte; the engine's SSE
  // switch selects one of them.
  TLevelKernel DesaturateSsePath;
  TLevelKernel DesaturatePlainPath;
};

// The table for exactly one level (the reference with the slots of each level up to
// this one laid over it); null when the level is not built into this library.
const TFlatKernelTable* FlatKernelTableFor(TKernelLevel level);

// The table of ActiveKernelLevel(), filled on first use.
const TFlatKernelTable& ActiveFlatKernels();

// Per-level tables, defined only in the builds that have them.
#if defined(KORVEL_HAVE_SSE2)
extern const TFlatKernelTable FlatKernelsSSE2;
#endif
#if defined(KORVEL_HAVE_AVX2)
extern const TFlatKernelTable FlatKernelsAVX2;
#endif
extern const TFlatKernelTable FlatKernelsRef;

}  // namespace rendo_kernels
