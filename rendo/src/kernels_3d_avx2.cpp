// AVX2 tunnel kernel: eight texels per hardware gather, eight pixels shaded per register.
#include <immintrin.h>

#include "kernels_3d.h"

// Only headers without inline functions of our own are included (see kernels_flat_sse2.cpp).

namespace rendo_kernels {
namespace {

// floor(t * s / 256) per byte; unpack and pack both work within 128-bit lanes, so the
// pixel order survives the round trip.
inline __m256i Shade8(__m256i t, __m256i s) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo =
      _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(t, zero), _mm256_unpacklo_epi8(s, zero)), 8);
  const __m256i hi =
      _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(t, zero), _mm256_unpackhi_epi8(s, zero)), 8);
  return _mm256_packus_epi16(lo, hi);
}

// Eight moved entries: a byte-wise add wraps u and v separately (see the SSE2 kernel);
// zero-extended they are the texel indices.
inline __m256i Texels8(const uint32_t* texture, const uint16_t* uv, __m128i off) {
  const __m128i e = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(uv)), off);
  return _mm256_i32gather_epi32(reinterpret_cast<const int*>(texture), _mm256_cvtepu16_epi32(e), 4);
}

void RenderTunnel_AVX2(uint32_t* dst, const uint32_t* texture, const uint16_t* uv, const uint32_t* shade,
                       size_t count, uint32_t offsets) {
  const __m128i off = _mm_set1_epi16(short(offsets & 0xFFFF));
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i t0 = Texels8(texture, uv + i, off);
    const __m256i t1 = Texels8(texture, uv + i + 8, off);
    const __m256i s0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shade + i));
    const __m256i s1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shade + i + 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), Shade8(t0, s0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8), Shade8(t1, s1));
  }
  for (; i + 8 <= count; i += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shade + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), Shade8(Texels8(texture, uv + i, off), s));
  }
  const uint32_t du = offsets & 0xFFu, dv = (offsets >> 8) & 0xFFu;
  for (; i < count; ++i) {
    const uint32_t e = uv[i];
    const uint32_t index = ((((e >> 8) + dv) << 8) & 0xFF00u) | ((e + du) & 0xFFu);
    const __m256i t = _mm256_zextsi128_si256(_mm_cvtsi32_si128(int(texture[index])));
    const __m256i s = _mm256_zextsi128_si256(_mm_cvtsi32_si128(int(shade[i])));
    dst[i] = uint32_t(_mm_cvtsi128_si32(_mm256_castsi256_si128(Shade8(t, s))));
  }
}

}  // namespace

const T3DKernelTable Kernels3DAVX2 = {RenderTunnel_AVX2};

}  // namespace rendo_kernels
