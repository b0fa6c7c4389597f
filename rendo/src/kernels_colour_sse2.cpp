// SSE2 kernels of the colour operations: four pixels per 128-bit register. Compiled with
// -msse2 only; the dispatcher uses them when the processor has SSE2.
//
// Byte-lane products without unpacking: the even bytes (blue, red) and the odd bytes
// (green, fourth) of each pixel already are 16-bit lanes, one by masking, one by
// shifting right by 8. With s * f <= 65025 the low 16-bit product is exact, and
//   floor(s * f / 256) = product >> 8            (even lanes, result in the low byte)
//   floor(s * f / 256) << 8 = product & 0xFF00   (odd lanes, result already in place)
// so a scaled pixel vector costs two multiplies and four bit operations.
#include <emmintrin.h>

#include "kernels_colour.h"

namespace rendo_kernels {
namespace {

// A weight split into the multipliers of the even and the odd byte lanes.
struct TWeight {
  __m128i Even, Odd;
};

inline TWeight SplitWeight(uint32_t w) {
  return {_mm_set1_epi32(int(w & 0x00FF00FFu)), _mm_set1_epi32(int((w >> 8) & 0x00FF00FFu))};
}

inline __m128i Scale(__m128i v, const TWeight& w) {
  const __m128i even = _mm_and_si128(v, _mm_set1_epi16(0x00FF));
  const __m128i odd = _mm_srli_epi16(v, 8);
  return _mm_or_si128(_mm_srli_epi16(_mm_mullo_epi16(even, w.Even), 8),
                      _mm_and_si128(_mm_mullo_epi16(odd, w.Odd), _mm_set1_epi16(int16_t(0xFF00))));
}

inline __m128i Load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline __m128i LoadOne(const uint32_t* p) { return _mm_cvtsi32_si128(int(*p)); }
inline void StoreOne(uint32_t* p, __m128i v) { *p = uint32_t(_mm_cvtsi128_si32(v)); }

// dst[i] = op(src[i]) over any count: eight pixels a step, then four, then singly. Each
// step loads before it stores, so dst == src is safe.
template <typename TOp>
inline void Unary(uint32_t* dst, const uint32_t* src, size_t count, TOp op) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i a = Load(src + i), b = Load(src + i + 4);
    Store(dst + i, op(a));
    Store(dst + i + 4, op(b));
  }
  for (; i + 4 <= count; i += 4) Store(dst + i, op(Load(src + i)));
  for (; i < count; ++i) StoreOne(dst + i, op(LoadOne(src + i)));
}

template <typename TOp>
inline void Binary(uint32_t* dst, const uint32_t* a, const uint32_t* b, size_t count, TOp op) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i a0 = Load(a + i), a1 = Load(a + i + 4), b0 = Load(b + i), b1 = Load(b + i + 4);
    Store(dst + i, op(a0, b0));
    Store(dst + i + 4, op(a1, b1));
  }
  for (; i + 4 <= count; i += 4) Store(dst + i, op(Load(a + i), Load(b + i)));
  for (; i < count; ++i) StoreOne(dst + i, op(LoadOne(a + i), LoadOne(b + i)));
}

void ScaleAdd_SSE2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t factor, uint32_t addend) {
  const TWeight w = SplitWeight(factor);
  const __m128i k = _mm_set1_epi32(int(addend));
  Unary(dst, src, count, [&](__m128i s) { return _mm_adds_epu8(Scale(s, w), k); });
}

void AddScaled_SSE2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t factor) {
  const TWeight w = SplitWeight(factor);
  Binary(dst, dst, src, count, [&](__m128i t, __m128i s) { return _mm_adds_epu8(t, Scale(s, w)); });
}

void AddColor_SSE2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t color) {
  const __m128i c = _mm_set1_epi32(int(color));
  Unary(dst, src, count, [&](__m128i s) { return _mm_adds_epu8(s, c); });
}

void SubtractColor_SSE2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t color) {
  const __m128i c = _mm_set1_epi32(int(color));
  Unary(dst, src, count, [&](__m128i s) { return _mm_subs_epu8(s, c); });
}

void MixTwo_SSE2(uint32_t* dst, const uint32_t* a, const uint32_t* b, size_t count, uint32_t weightA,
                 uint32_t weightB) {
  const TWeight wa = SplitWeight(weightA), wb = SplitWeight(weightB);
  Binary(dst, a, b, count, [&](__m128i x, __m128i y) { return _mm_adds_epu8(Scale(x, wa), Scale(y, wb)); });
}

// u + floor((s - u) * a / 256) per lane as (u * 256 + (s - u) * a) in 16-bit lanes: the
// wrap of the lane is a multiple of 65536 and leaves the byte taken out unchanged.
void Lerp_SSE2(uint32_t* dst, const uint32_t* s, const uint32_t* u, size_t count, uint32_t alpha) {
  const TWeight w = SplitWeight(alpha);
  const __m128i low = _mm_set1_epi16(0x00FF), high = _mm_set1_epi16(int16_t(0xFF00));
  Binary(dst, s, u, count, [&](__m128i x, __m128i y) {
    const __m128i xe = _mm_and_si128(x, low), ye = _mm_and_si128(y, low);
    const __m128i xo = _mm_srli_epi16(x, 8), yo = _mm_srli_epi16(y, 8);
    const __m128i even = _mm_add_epi16(_mm_slli_epi16(ye, 8), _mm_mullo_epi16(_mm_sub_epi16(xe, ye), w.Even));
    const __m128i odd = _mm_add_epi16(_mm_and_si128(y, high), _mm_mullo_epi16(_mm_sub_epi16(xo, yo), w.Odd));
    return _mm_or_si128(_mm_srli_epi16(even, 8), _mm_and_si128(odd, high));
  });
}

void Invert_SSE2(uint32_t* dst, const uint32_t* src, size_t count) {
  const __m128i ones = _mm_set1_epi32(-1);
  Unary(dst, src, count, [&](__m128i s) { return _mm_xor_si128(s, ones); });
}

// Long runs: the string store, as in the AVX2 kernel.
void Fill_SSE2(uint32_t* dst, size_t count, uint32_t color) {
  if (count >= 1024) {
    __asm__ volatile("rep stosl" : "+D"(dst), "+c"(count) : "a"(color) : "memory");
    return;
  }
  const __m128i c = _mm_set1_epi32(int(color));
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    Store(dst + i, c);
    Store(dst + i + 4, c);
  }
  for (; i + 4 <= count; i += 4) Store(dst + i, c);
  for (; i < count; ++i) dst[i] = color;
}

// Bytes zero-extended to words and shifted left by 4, times the gain lanes with the signed
// high multiply, packed back with unsigned saturation: exactly the reference's lanes.
void ScaleChannels_SSE2(uint32_t* dst, const uint32_t* src, size_t count, uint64_t gains) {
  const __m128i g = _mm_set1_epi64x(int64_t(gains));
  const __m128i zero = _mm_setzero_si128();
  Unary(dst, src, count, [&](__m128i s) {
    const __m128i lo = _mm_mulhi_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(s, zero), 4), g);
    const __m128i hi = _mm_mulhi_epi16(_mm_slli_epi16(_mm_unpackhi_epi8(s, zero), 4), g);
    return _mm_packus_epi16(lo, hi);
  });
}

}  // namespace

// Lookups, gathers and the 24-bit packing stay with the reference at this level: SSE2
// has neither gathers nor byte shuffles.
const TColourKernelTable ColourKernelsSSE2 = {
    ScaleAdd_SSE2, AddScaled_SSE2, AddColor_SSE2, SubtractColor_SSE2, MixTwo_SSE2, Lerp_SSE2,
    Invert_SSE2,   Fill_SSE2,      ScaleChannels_SSE2,
    nullptr,       nullptr,        nullptr,       nullptr,
};

}  // namespace rendo_kernels
