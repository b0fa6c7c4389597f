// SSE2 kernels of the drawing and effect operations: four pixels per 128-bit register.
// Compiled with -msse2 only; bit-equal to kernels_draw_ref.h (tested per level).
#include <emmintrin.h>

#include "kernels_draw.h"

// Only headers without inline functions of our own are included (see kernels_flat_sse2.cpp).

namespace rendo_kernels {
namespace {

// floor((l + r + u + d) / 4) per byte lane, exact: the sums are formed in 16-bit lanes.
inline __m128i Average4(__m128i l, __m128i r, __m128i u, __m128i d) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(l, zero), _mm_unpacklo_epi8(r, zero)),
                                   _mm_add_epi16(_mm_unpacklo_epi8(u, zero), _mm_unpacklo_epi8(d, zero)));
  const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(l, zero), _mm_unpackhi_epi8(r, zero)),
                                   _mm_add_epi16(_mm_unpackhi_epi8(u, zero), _mm_unpackhi_epi8(d, zero)));
  return _mm_packus_epi16(_mm_srli_epi16(lo, 2), _mm_srli_epi16(hi, 2));
}

inline __m128i Load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Load1(const uint32_t* p) { return _mm_cvtsi32_si128(int(*p)); }

void Blur_SSE2(uint32_t* dst, const uint32_t* src, size_t count, size_t width) {
  size_t i = 0;
  for (; i + 4 <= count; i += 4)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                     Average4(Load(src + i - 1), Load(src + i + 1), Load(src + i - width), Load(src + i + width)));
  for (; i < count; ++i)
    dst[i] = uint32_t(_mm_cvtsi128_si32(
        Average4(Load1(src + i - 1), Load1(src + i + 1), Load1(src + i - width), Load1(src + i + width))));
}

// Noise: the accumulator of pair j + 3 is that of pair j plus R = step0 + step1 + step2,
// so three registers of two pairs each cover six pairs and all advance by 2R per step.
// Each pixel's colour bytes hold its pair's accumulator g (fourth byte 0); the saturating
// byte subtraction g - (255 - amount) is max(0, g - threshold), added to or subtracted
// from the colour bytes with saturation.
inline uint32_t Spread(unsigned g) { return (g & 0xFFu) * 0x010101u; }

template <bool Add>
inline __m128i ApplyNoise(__m128i s, __m128i g, __m128i threshold) {
  const __m128i d = _mm_subs_epu8(g, threshold);
  return Add ? _mm_adds_epu8(s, d) : _mm_subs_epu8(s, d);
}

template <bool Add>
uint8_t Noise_SSE2(uint32_t* dst, const uint32_t* src, size_t pairs, uint8_t g, uint32_t steps, uint32_t amount) {
  const unsigned step[3] = {steps & 0xFF, (steps >> 8) & 0xFF, (steps >> 16) & 0xFF};
  const __m128i threshold = _mm_set1_epi8(char(255 - amount));
  size_t j = 0;
  if (pairs >= 6) {
    unsigned acc[6];
    unsigned a = g;
    for (int k = 0; k < 6; ++k) {
      acc[k] = a;
      a += step[k % 3];
    }
    __m128i g0 = _mm_setr_epi32(int(Spread(acc[0])), int(Spread(acc[0])), int(Spread(acc[1])), int(Spread(acc[1])));
    __m128i g1 = _mm_setr_epi32(int(Spread(acc[2])), int(Spread(acc[2])), int(Spread(acc[3])), int(Spread(acc[3])));
    __m128i g2 = _mm_setr_epi32(int(Spread(acc[4])), int(Spread(acc[4])), int(Spread(acc[5])), int(Spread(acc[5])));
    const unsigned twoR = 2 * (step[0] + step[1] + step[2]);
    const __m128i advance = _mm_set1_epi32(int(Spread(twoR)));
    for (; j + 6 <= pairs; j += 6) {
      uint32_t* d = dst + 2 * j;
      const uint32_t* s = src + 2 * j;
      const __m128i s0 = Load(s), s1 = Load(s + 4), s2 = Load(s + 8);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d), ApplyNoise<Add>(s0, g0, threshold));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4), ApplyNoise<Add>(s1, g1, threshold));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 8), ApplyNoise<Add>(s2, g2, threshold));
      g0 = _mm_add_epi8(g0, advance);
      g1 = _mm_add_epi8(g1, advance);
      g2 = _mm_add_epi8(g2, advance);
    }
    g = uint8_t(_mm_cvtsi128_si32(g0));
  }
  // j is a multiple of 3 here, so the step pattern restarts at step 0.
  for (size_t k = 0; j < pairs; ++j, ++k) {
    const __m128i gv = _mm_set1_epi32(int(Spread(g)));
    const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 2 * j));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 2 * j), ApplyNoise<Add>(s, gv, threshold));
    g = uint8_t(g + step[k % 3]);
  }
  return g;
}

uint8_t AddNoise_SSE2(uint32_t* dst, const uint32_t* src, size_t pairs, uint8_t g, uint32_t steps, uint32_t amount) {
  return Noise_SSE2<true>(dst, src, pairs, g, steps, amount);
}

uint8_t SubtractNoise_SSE2(uint32_t* dst, const uint32_t* src, size_t pairs, uint8_t g, uint32_t steps,
                           uint32_t amount) {
  return Noise_SSE2<false>(dst, src, pairs, g, steps, amount);
}


// The brightest colour channel of each pixel in the low byte of its 32-bit lane (the rest 0).
inline __m128i MaxChannel4(__m128i v) {
  const __m128i colour = _mm_and_si128(v, _mm_set1_epi32(0x00FFFFFF));
  const __m128i m = _mm_max_epu8(_mm_max_epu8(colour, _mm_srli_epi32(colour, 8)), _mm_srli_epi32(colour, 16));
  return _mm_and_si128(m, _mm_set1_epi32(0xFF));
}

// Sepia: blue floor(60M / 100) = (M * 39322) >> 16 and green floor(85M / 100) =
// (M * 55706) >> 16, exact for M <= 255 (the constants exceed 65536 * 3/5 and * 17/20 by
// less than 0.5, an error below 0.002 against fractional parts of at most 0.8 and 0.95).
inline __m128i Sepia4(__m128i v) {
  const __m128i m = MaxChannel4(v);
  const __m128i blue = _mm_mulhi_epu16(m, _mm_set1_epi32(39322));
  const __m128i green = _mm_mulhi_epu16(m, _mm_set1_epi32(55706));
  return _mm_or_si128(_mm_or_si128(blue, _mm_slli_epi32(green, 8)), _mm_slli_epi32(m, 16));
}

void Sepia_SSE2(uint32_t* dst, const uint32_t* src, size_t count) {
  size_t i = 0;
  for (; i + 4 <= count; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), Sepia4(Load(src + i)));
  for (; i < count; ++i) dst[i] = uint32_t(_mm_cvtsi128_si32(Sepia4(Load1(src + i))));
}

// Emboss in chunks: the brightest channels M of the chunk's source pixels (and the one
// after it) go to a buffer before any output of the chunk is written, and the M of the
// chunk's last source pixel is carried to the next, so the kernel works in place too.
// v = ((M[x-1] - M[x+1]) >> 1) + 128 with an arithmetic shift, stored as grey (v, v, v, 0).
constexpr size_t kEmbossChunk = 256;

inline __m128i Relief4(__m128i left, __m128i right) {
  const __m128i v = _mm_add_epi32(_mm_srai_epi32(_mm_sub_epi32(left, right), 1), _mm_set1_epi32(128));
  return _mm_or_si128(_mm_or_si128(v, _mm_slli_epi32(v, 8)), _mm_slli_epi32(v, 16));
}

void Emboss_SSE2(uint32_t* dst, const uint32_t* src, size_t count) {
  if (count == 0) return;
  alignas(16) uint32_t m[kEmbossChunk + 4];
  uint32_t carry = uint32_t(_mm_cvtsi128_si32(MaxChannel4(Load1(src - 1))));
  for (size_t x0 = 0; x0 < count; x0 += kEmbossChunk) {
    const size_t n = count - x0 < kEmbossChunk ? count - x0 : kEmbossChunk;
    m[0] = carry;
    // m[1 + j] = M(src[x0 + j]) for j = 0..n.
    size_t j = 0;
    for (; j + 4 <= n + 1; j += 4)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(m + 1 + j), MaxChannel4(Load(src + x0 + j)));
    for (; j <= n; ++j) m[1 + j] = uint32_t(_mm_cvtsi128_si32(MaxChannel4(Load1(src + x0 + j))));
    carry = m[n];
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x0 + i), Relief4(Load(m + i), Load(m + i + 2)));
    for (; i < n; ++i) dst[x0 + i] = uint32_t(_mm_cvtsi128_si32(Relief4(Load1(m + i), Load1(m + i + 2))));
  }
}

}  // namespace

const TDrawKernelTable DrawKernelsSSE2 = {
    Blur_SSE2, AddNoise_SSE2, SubtractNoise_SSE2, Emboss_SSE2, Sepia_SSE2,
};

}  // namespace rendo_kernels
