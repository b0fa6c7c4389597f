// SSE2 tunnel kernel: eight coordinate entries per register, texels fetched one by one
// (SSE2 has no gather), four pixels shaded per register.
#include <emmintrin.h>

#include "kernels_3d.h"

// Only headers without inline functions of our own are included (see kernels_flat_sse2.cpp).

namespace rendo_kernels {
namespace {

// floor(t * s / 256) per byte: bytes widened to 16-bit lanes, the exact product (at most
// 65025) shifted right by 8, packed back (nothing saturates).
inline __m128i Shade4(__m128i t, __m128i s) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(t, zero), _mm_unpacklo_epi8(s, zero)), 8);
  const __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(t, zero), _mm_unpackhi_epi8(s, zero)), 8);
  return _mm_packus_epi16(lo, hi);
}

// Four texels addressed by the four 16-bit indices in q.
inline __m128i Fetch4(const uint32_t* texture, uint64_t q) {
  return _mm_setr_epi32(int(texture[q & 0xFFFF]), int(texture[(q >> 16) & 0xFFFF]),
                        int(texture[(q >> 32) & 0xFFFF]), int(texture[q >> 48]));
}

void RenderTunnel_SSE2(uint32_t* dst, const uint32_t* texture, const uint16_t* uv, const uint32_t* shade,
                       size_t count, uint32_t offsets) {
  // A byte-wise add moves u and v each modulo 256 without a carry between them, so the
  // moved entry is the texel index v * 256 + u itself.
  const __m128i off = _mm_set1_epi16(short(offsets & 0xFFFF));
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i e = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + i)), off);
    const uint64_t q0 = uint64_t(_mm_cvtsi128_si64(e));
    const uint64_t q1 = uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(e, e)));
    const __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(shade + i));
    const __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(shade + i + 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), Shade4(Fetch4(texture, q0), s0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 4), Shade4(Fetch4(texture, q1), s1));
  }
  const uint32_t du = offsets & 0xFFu, dv = (offsets >> 8) & 0xFFu;
  for (; i < count; ++i) {
    const uint32_t e = uv[i];
    const uint32_t index = ((((e >> 8) + dv) << 8) & 0xFF00u) | ((e + du) & 0xFFu);
    const __m128i t = _mm_cvtsi32_si128(int(texture[index]));
    dst[i] = uint32_t(_mm_cvtsi128_si32(Shade4(t, _mm_cvtsi32_si128(int(shade[i])))));
  }
}

}  // namespace

const T3DKernelTable Kernels3DSSE2 = {RenderTunnel_SSE2};

}  // namespace rendo_kernels
