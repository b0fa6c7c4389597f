// Row kernels of the drawing primitives and image effects, and their dispatch table.
//
// The SIMD files include this header and kernels_flat.h only (no inline functions of ours, see
// kernels_flat_sse2.cpp).
//
// Same rules as kernels_flat.h: one scalar reference per kernel (kernels_draw_ref.h) defines
// the result; the SSE2 and AVX2 kernels match it bit for bit for any count and
// alignment. The table of a level is the reference table with the slots that level
// implements overwritten, at the level the core dispatcher chose for the process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "levels.h"

namespace rendo_kernels {

// dst[i] from the four neighbours of src[i] (rows `width` pixels apart); no overlap.
using TBlurKernel = void (*)(uint32_t* dst, const uint32_t* src, size_t count, size_t width);
// One row of noise pairs; steps packs the three accumulator steps as bytes 0, 1, 2 (pair
// j adds byte j mod 3 after its use). Returns the accumulator after the row.
using TNoiseKernel = uint8_t (*)(uint32_t* dst, const uint32_t* src, size_t pairs, uint8_t g, uint32_t steps,
                                 uint32_t amount);
// Pixel-to-pixel kernels without a parameter (Emboss reads src[-1] and src[count]).
using TPixelKernel = void (*)(uint32_t* dst, const uint32_t* src, size_t count);

struct TDrawKernelTable {
  TBlurKernel Blur;
  TNoiseKernel AddNoise;
  TNoiseKernel SubtractNoise;
  TPixelKernel Emboss;
  TPixelKernel Sepia;
};

// The table for exactly one level; null when the level is not built into this library.
const TDrawKernelTable* DrawKernelTableFor(TKernelLevel level);

// The table of the process's active level (ActiveKernelLevel), filled on first use.
const TDrawKernelTable& ActiveDrawKernels();

extern const TDrawKernelTable DrawKernelsRef;
#if defined(KORVEL_HAVE_SSE2)
extern const TDrawKernelTable DrawKernelsSSE2;
#endif
#if defined(KORVEL_HAVE_AVX2)
extern const TDrawKernelTable DrawKernelsAVX2;
#endif

}  // namespace rendo_kernels
