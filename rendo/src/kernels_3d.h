// Row kernels of the effects area (the tunnel renderer) and their dispatch table.
//
// Same rules as kernels_flat.h: the scalar reference (kernels_3d_ref.h) defines the result;
// the SSE2 and AVX2 kernels match it bit for bit for any count and alignment. A level's
// table is the reference table with the slots that level implements overwritten, used at
// the level the core dispatcher chose for the process (ActiveKernelLevel).
#pragma once

#include <cstddef>
#include <cstdint>

#include "levels.h"

namespace rendo_kernels {

// count target pixels from count coordinate entries and count shade entries; offsets
// holds the u offset in its low byte and the v offset in the next.
using TTunnelKernel = void (*)(uint32_t* dst, const uint32_t* texture, const uint16_t* uv, const uint32_t* shade,
                               size_t count, uint32_t offsets);

struct T3DKernelTable {
  TTunnelKernel RenderTunnel;
};

// The table for exactly one level; null when the level is not built into this library.
const T3DKernelTable* Kernel3DTableFor(TKernelLevel level);

// The table of the process's active level, filled on first use.
const T3DKernelTable& Active3DKernels();

extern const T3DKernelTable Kernels3DRef;
#if defined(KORVEL_HAVE_SSE2)
extern const T3DKernelTable Kernels3DSSE2;
#endif
#if defined(KORVEL_HAVE_AVX2)
extern const T3DKernelTable Kernels3DAVX2;
#endif

}  // namespace rendo_kernels
