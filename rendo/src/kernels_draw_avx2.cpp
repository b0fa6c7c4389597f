// AVX2 kernels of the drawing and effect operations: eight pixels per 256-bit register.
// Compiled with -mavx2 only; used after the dispatcher found AVX2 with OS support.
// Bit-equal to kernels_draw_ref.h (tested per level).
#include <immintrin.h>

#include "kernels_draw.h"

// Only headers without inline functions of our own are included (see kernels_flat_sse2.cpp).

namespace rendo_kernels {
namespace {

// floor((l + r + u + d) / 4) per byte lane, exact in 16-bit lanes. Unpacking and packing
// both work within 128-bit halves, so the pixel order comes back unchanged.
inline __m256i Average4(__m256i l, __m256i r, __m256i u, __m256i d) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo =
      _mm256_add_epi16(_mm256_add_epi16(_mm256_unpacklo_epi8(l, zero), _mm256_unpacklo_epi8(r, zero)),
                       _mm256_add_epi16(_mm256_unpacklo_epi8(u, zero), _mm256_unpacklo_epi8(d, zero)));
  const __m256i hi =
      _mm256_add_epi16(_mm256_add_epi16(_mm256_unpackhi_epi8(l, zero), _mm256_unpackhi_epi8(r, zero)),
                       _mm256_add_epi16(_mm256_unpackhi_epi8(u, zero), _mm256_unpackhi_epi8(d, zero)));
  return _mm256_packus_epi16(_mm256_srli_epi16(lo, 2), _mm256_srli_epi16(hi, 2));
}

inline __m256i Load(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// Four pixels at the end of a run: the same arithmetic on a 128-bit register.
inline __m128i Average4Half(__m128i l, __m128i r, __m128i u, __m128i d) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(l, zero), _mm_unpacklo_epi8(r, zero)),
                                   _mm_add_epi16(_mm_unpacklo_epi8(u, zero), _mm_unpacklo_epi8(d, zero)));
  const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(l, zero), _mm_unpackhi_epi8(r, zero)),
                                   _mm_add_epi16(_mm_unpackhi_epi8(u, zero), _mm_unpackhi_epi8(d, zero)));
  return _mm_packus_epi16(_mm_srli_epi16(lo, 2), _mm_srli_epi16(hi, 2));
}

void Blur_AVX2(uint32_t* dst, const uint32_t* src, size_t count, size_t width) {
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i a = Average4(Load(src + i - 1), Load(src + i + 1), Load(src + i - width), Load(src + i + width));
    const __m256i b =
        Average4(Load(src + i + 7), Load(src + i + 9), Load(src + i + 8 - width), Load(src + i + 8 + width));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8), b);
  }
  for (; i + 8 <= count; i += 8)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i),
                        Average4(Load(src + i - 1), Load(src + i + 1), Load(src + i - width), Load(src + i + width)));
  auto load = [](const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  for (; i + 4 <= count; i += 4)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                     Average4Half(load(src + i - 1), load(src + i + 1), load(src + i - width), load(src + i + width)));
  auto load1 = [](const uint32_t* p) { return _mm_cvtsi32_si128(int(*p)); };
  for (; i < count; ++i)
    dst[i] = uint32_t(_mm_cvtsi128_si32(
        Average4Half(load1(src + i - 1), load1(src + i + 1), load1(src + i - width), load1(src + i + width))));
}

// Noise: four pairs per register, three registers cover twelve pairs (a multiple of the
// three-step pattern), each advancing by 4R per step (see kernels_draw_sse2.cpp).
inline uint32_t Spread(unsigned g) { return (g & 0xFFu) * 0x010101u; }

template <bool Add>
uint8_t Noise_AVX2(uint32_t* dst, const uint32_t* src, size_t pairs, uint8_t g, uint32_t steps, uint32_t amount) {
  const unsigned step[3] = {steps & 0xFF, (steps >> 8) & 0xFF, (steps >> 16) & 0xFF};
  const __m256i threshold = _mm256_set1_epi8(char(255 - amount));
  size_t j = 0;
  if (pairs >= 12) {
    int acc[12];
    unsigned a = g;
    for (int k = 0; k < 12; ++k) {
      acc[k] = int(Spread(a));
      a += step[k % 3];
    }
    __m256i gv[3];
    for (int r = 0; r < 3; ++r) {
      const int* p = acc + 4 * r;
      gv[r] = _mm256_setr_epi32(p[0], p[0], p[1], p[1], p[2], p[2], p[3], p[3]);
    }
    const __m256i advance = _mm256_set1_epi32(int(Spread(4 * (step[0] + step[1] + step[2]))));
    for (; j + 12 <= pairs; j += 12) {
      uint32_t* d = dst + 2 * j;
      const uint32_t* s = src + 2 * j;
      for (int r = 0; r < 3; ++r) {
        const __m256i sv = Load(s + 8 * r);
        const __m256i dv = _mm256_subs_epu8(gv[r], threshold);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 8 * r),
                            Add ? _mm256_adds_epu8(sv, dv) : _mm256_subs_epu8(sv, dv));
        gv[r] = _mm256_add_epi8(gv[r], advance);
      }
    }
    g = uint8_t(_mm256_cvtsi256_si32(gv[0]));
  }
  // j is a multiple of 3 here, so the step pattern restarts at step 0.
  const __m128i threshold128 = _mm256_castsi256_si128(threshold);
  for (size_t k = 0; j < pairs; ++j, ++k) {
    const __m128i d = _mm_subs_epu8(_mm_set1_epi32(int(Spread(g))), threshold128);
    const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 2 * j));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 2 * j), Add ? _mm_adds_epu8(s, d) : _mm_subs_epu8(s, d));
    g = uint8_t(g + step[k % 3]);
  }
  return g;
}

uint8_t AddNoise_AVX2(uint32_t* dst, const uint32_t* src, size_t pairs, uint8_t g, uint32_t steps, uint32_t amount) {
  return Noise_AVX2<true>(dst, src, pairs, g, steps, amount);
}

uint8_t SubtractNoise_AVX2(uint32_t* dst, const uint32_t* src, size_t pairs, uint8_t g, uint32_t steps,
                           uint32_t amount) {
  return Noise_AVX2<false>(dst, src, pairs, g, steps, amount);
}


// Emboss and Sepia as in kernels_draw_sse2.cpp, eight pixels per register.
inline __m256i MaxChannel8(__m256i v) {
  const __m256i colour = _mm256_and_si256(v, _mm256_set1_epi32(0x00FFFFFF));
  const __m256i m =
      _mm256_max_epu8(_mm256_max_epu8(colour, _mm256_srli_epi32(colour, 8)), _mm256_srli_epi32(colour, 16));
  return _mm256_and_si256(m, _mm256_set1_epi32(0xFF));
}

inline uint32_t MaxChannel1(uint32_t p) {
  return uint32_t(_mm256_cvtsi256_si32(MaxChannel8(_mm256_castsi128_si256(_mm_cvtsi32_si128(int(p)))))) & 0xFF;
}

inline __m256i Sepia8(__m256i v) {
  const __m256i m = MaxChannel8(v);
  const __m256i blue = _mm256_mulhi_epu16(m, _mm256_set1_epi32(39322));
  const __m256i green = _mm256_mulhi_epu16(m, _mm256_set1_epi32(55706));
  return _mm256_or_si256(_mm256_or_si256(blue, _mm256_slli_epi32(green, 8)), _mm256_slli_epi32(m, 16));
}

// Up to seven pixels at the end of a run: masked loads and stores touch only those.
inline __m256i FirstLanes(size_t n) {
  return _mm256_cmpgt_epi32(_mm256_set1_epi32(int(n)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

void Sepia_AVX2(uint32_t* dst, const uint32_t* src, size_t count) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), Sepia8(Load(src + i)));
  if (i < count) {
    const __m256i mask = FirstLanes(count - i);
    const __m256i v = _mm256_maskload_epi32(reinterpret_cast<const int*>(src + i), mask);
    _mm256_maskstore_epi32(reinterpret_cast<int*>(dst + i), mask, Sepia8(v));
  }
}

constexpr size_t kEmbossChunk = 256;

inline __m256i Relief8(__m256i left, __m256i right) {
  const __m256i v = _mm256_add_epi32(_mm256_srai_epi32(_mm256_sub_epi32(left, right), 1), _mm256_set1_epi32(128));
  return _mm256_or_si256(_mm256_or_si256(v, _mm256_slli_epi32(v, 8)), _mm256_slli_epi32(v, 16));
}

void Emboss_AVX2(uint32_t* dst, const uint32_t* src, size_t count) {
  if (count == 0) return;
  alignas(32) uint32_t m[kEmbossChunk + 8];
  uint32_t carry = MaxChannel1(src[-1]);
  for (size_t x0 = 0; x0 < count; x0 += kEmbossChunk) {
    const size_t n = count - x0 < kEmbossChunk ? count - x0 : kEmbossChunk;
    m[0] = carry;
    size_t j = 0;
    for (; j + 8 <= n + 1; j += 8)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(m + 1 + j), MaxChannel8(Load(src + x0 + j)));
    for (; j <= n; ++j) m[1 + j] = MaxChannel1(src[x0 + j]);
    carry = m[n];
    size_t i = 0;
    for (; i + 8 <= n; i += 8)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x0 + i), Relief8(Load(m + i), Load(m + i + 2)));
    if (i < n) {
      const __m256i mask = FirstLanes(n - i);
      const __m256i left = _mm256_maskload_epi32(reinterpret_cast<const int*>(m + i), mask);
      const __m256i right = _mm256_maskload_epi32(reinterpret_cast<const int*>(m + i + 2), mask);
      _mm256_maskstore_epi32(reinterpret_cast<int*>(dst + x0 + i), mask, Relief8(left, right));
    }
  }
}

}  // namespace

const TDrawKernelTable DrawKernelsAVX2 = {
    Blur_AVX2, AddNoise_AVX2, SubtractNoise_AVX2, Emboss_AVX2, Sepia_AVX2,
};

}  // namespace rendo_kernels
