// Scalar reference kernel of the tunnel renderer: it defines what RenderTunnel computes.
// Header-only and free of the rest of the library, like the flat family's reference
// (rendo/reference.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace rendo_3d_ref {

// out = floor(texel * shade / 256) per byte lane, the fourth byte included. The product
// of two bytes is at most 65025, so the 16-bit lanes of the SIMD kernels hold it exactly.
inline uint32_t ShadeTexel(uint32_t texel, uint32_t shade) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8)
    out |= ((((texel >> shift) & 0xFFu) * ((shade >> shift) & 0xFFu)) >> 8) << shift;
  return out;
}

// One run of the tunnel: coordinate entry uv[i] (u low byte, v high byte) is moved by the
// offsets, u and v each modulo 256 on its own, and picks texel v * 256 + u of the
// 256 x 256 texture; the texel is shaded by shade[i].
inline void RenderTunnel_Ref(uint32_t* dst, const uint32_t* texture, const uint16_t* uv, const uint32_t* shade,
                             size_t count, uint32_t offsets) {
  const uint32_t du = offsets & 0xFFu, dv = (offsets >> 8) & 0xFFu;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t e = uv[i];
    const uint32_t u = (e + du) & 0xFFu;
    const uint32_t v = ((e >> 8) + dv) & 0xFFu;
    dst[i] = ShadeTexel(texture[v << 8 | u], shade[i]);
  }
}

}  // namespace rendo_3d_ref
