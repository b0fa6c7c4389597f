// Row kernels of the colour arithmetic, copy, stretch and lookup operations, and the
// table that picks them. Same rules as kernels_flat.h: a kernel processes exactly the count
// it is given, matches its reference in kernels_colour_ref.h bit for bit for any count
// and alignment, and allows dst == src (and dst == either source of a two-source
// kernel); partially overlapping runs are not supported.
#pragma once

#include <cstddef>
#include <cstdint>

#include "levels.h"

// No inline code of ours here: the per-instruction-set files include this header, and an
// inline function compiled with -mavx2 could be the copy the linker keeps for everyone.

namespace rendo_kernels {

struct TColourKernelTable {
  void (*ScaleAdd)(uint32_t* dst, const uint32_t* src, size_t count, uint32_t factor, uint32_t addend);
  void (*AddScaled)(uint32_t* dst, const uint32_t* src, size_t count, uint32_t factor);
  void (*AddColor)(uint32_t* dst, const uint32_t* src, size_t count, uint32_t color);
  void (*SubtractColor)(uint32_t* dst, const uint32_t* src, size_t count, uint32_t color);
  void (*MixTwo)(uint32_t* dst, const uint32_t* a, const uint32_t* b, size_t count, uint32_t weightA,
                 uint32_t weightB);
  void (*Lerp)(uint32_t* dst, const uint32_t* s, const uint32_t* u, size_t count, uint32_t alpha);
  void (*Invert)(uint32_t* dst, const uint32_t* src, size_t count);
  void (*Fill)(uint32_t* dst, size_t count, uint32_t color);
  void (*ScaleChannels)(uint32_t* dst, const uint32_t* src, size_t count, uint64_t gains);
  void (*MapPalette)(uint32_t* dst, const uint32_t* src, size_t count, const uint32_t* palette);
  void (*GatherOffsets)(uint32_t* dst, const uint8_t* base, const int32_t* offsets, size_t count);
  void (*StretchGather)(uint32_t* dst, const uint32_t* row, size_t count, int64_t position, int64_t step);
  void (*PackTo24)(uint8_t* dst, const uint32_t* src, size_t groups);
};

// The table for exactly one level (the reference with that level's slots laid over it);
// null when the level is not built into this library. Levels as in kernels_flat.h.
const TColourKernelTable* ColourKernelTableFor(TKernelLevel level);

// The table of ActiveKernelLevel(), filled on first use.
const TColourKernelTable& ActiveColourKernels();

#if defined(KORVEL_HAVE_SSE2)
extern const TColourKernelTable ColourKernelsSSE2;
#endif
#if defined(KORVEL_HAVE_AVX2)
extern const TColourKernelTable ColourKernelsAVX2;
#endif
extern const TColourKernelTable ColourKernelsRef;

}  // namespace rendo_kernels
