// AVX2 kernels of the colour operations: eight pixels per 256-bit register, the SSE2
// kernels' arithmetic (see kernels_colour_sse2.cpp) at twice the width, plus the gathers
// (palette lookup, offset gather, nearest-neighbour rows) and the 24-bit packing, which
// need instructions SSE2 lacks. Compiled with -mavx2 only; used only after CPUID and
// XGETBV allow it. Every step works within 128-bit halves or whole pixels.
#include <immintrin.h>

#include <cstring>

#include "kernels_colour.h"

namespace rendo_kernels {
namespace {

struct TWeight {
  __m256i Even, Odd;
};

inline TWeight SplitWeight(uint32_t w) {
  return {_mm256_set1_epi32(int(w & 0x00FF00FFu)), _mm256_set1_epi32(int((w >> 8) & 0x00FF00FFu))};
}

inline __m256i Scale(__m256i v, const TWeight& w) {
  const __m256i even = _mm256_and_si256(v, _mm256_set1_epi16(0x00FF));
  const __m256i odd = _mm256_srli_epi16(v, 8);
  return _mm256_or_si256(_mm256_srli_epi16(_mm256_mullo_epi16(even, w.Even), 8),
                         _mm256_and_si256(_mm256_mullo_epi16(odd, w.Odd), _mm256_set1_epi16(int16_t(0xFF00))));
}

inline __m256i Load(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void Store(uint32_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// The first n (< 8) lanes.
inline __m256i FirstLanes(size_t n) {
  return _mm256_cmpgt_epi32(_mm256_set1_epi32(int(n)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}
inline __m256i LoadSome(const uint32_t* p, __m256i mask) {
  return _mm256_maskload_epi32(reinterpret_cast<const int*>(p), mask);
}
inline void StoreSome(uint32_t* p, __m256i mask, __m256i v) {
  _mm256_maskstore_epi32(reinterpret_cast<int*>(p), mask, v);
}

// dst[i] = op(src[i]): sixteen pixels a step, then eight, then a masked step that reads
// and writes only the pixels left. Loads precede stores in every step: dst == src is safe.
template <typename TOp>
inline void Unary(uint32_t* dst, const uint32_t* src, size_t count, TOp op) {
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i a = Load(src + i), b = Load(src + i + 8);
    Store(dst + i, op(a));
    Store(dst + i + 8, op(b));
  }
  for (; i + 8 <= count; i += 8) Store(dst + i, op(Load(src + i)));
  if (i < count) {
    const __m256i m = FirstLanes(count - i);
    StoreSome(dst + i, m, op(LoadSome(src + i, m)));
  }
}

template <typename TOp>
inline void Binary(uint32_t* dst, const uint32_t* a, const uint32_t* b, size_t count, TOp op) {
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i a0 = Load(a + i), a1 = Load(a + i + 8), b0 = Load(b + i), b1 = Load(b + i + 8);
    Store(dst + i, op(a0, b0));
    Store(dst + i + 8, op(a1, b1));
  }
  for (; i + 8 <= count; i += 8) Store(dst + i, op(Load(a + i), Load(b + i)));
  if (i < count) {
    const __m256i m = FirstLanes(count - i);
    StoreSome(dst + i, m, op(LoadSome(a + i, m), LoadSome(b + i, m)));
  }
}

void ScaleAdd_AVX2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t factor, uint32_t addend) {
  const TWeight w = SplitWeight(factor);
  const __m256i k = _mm256_set1_epi32(int(addend));
  Unary(dst, src, count, [&](__m256i s) { return _mm256_adds_epu8(Scale(s, w), k); });
}

void AddScaled_AVX2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t factor) {
  const TWeight w = SplitWeight(factor);
  Binary(dst, dst, src, count, [&](__m256i t, __m256i s) { return _mm256_adds_epu8(t, Scale(s, w)); });
}

void AddColor_AVX2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t color) {
  const __m256i c = _mm256_set1_epi32(int(color));
  Unary(dst, src, count, [&](__m256i s) { return _mm256_adds_epu8(s, c); });
}

void SubtractColor_AVX2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t color) {
  const __m256i c = _mm256_set1_epi32(int(color));
  Unary(dst, src, count, [&](__m256i s) { return _mm256_subs_epu8(s, c); });
}

void MixTwo_AVX2(uint32_t* dst, const uint32_t* a, const uint32_t* b, size_t count, uint32_t weightA,
                 uint32_t weightB) {
  const TWeight wa = SplitWeight(weightA), wb = SplitWeight(weightB);
  Binary(dst, a, b, count, [&](__m256i x, __m256i y) { return _mm256_adds_epu8(Scale(x, wa), Scale(y, wb)); });
}

void Lerp_AVX2(uint32_t* dst, const uint32_t* s, const uint32_t* u, size_t count, uint32_t alpha) {
  const TWeight w = SplitWeight(alpha);
  const __m256i low = _mm256_set1_epi16(0x00FF), high = _mm256_set1_epi16(int16_t(0xFF00));
  Binary(dst, s, u, count, [&](__m256i x, __m256i y) {
    const __m256i xe = _mm256_and_si256(x, low), ye = _mm256_and_si256(y, low);
    const __m256i xo = _mm256_srli_epi16(x, 8), yo = _mm256_srli_epi16(y, 8);
    const __m256i even =
        _mm256_add_epi16(_mm256_slli_epi16(ye, 8), _mm256_mullo_epi16(_mm256_sub_epi16(xe, ye), w.Even));
    const __m256i odd =
        _mm256_add_epi16(_mm256_and_si256(y, high), _mm256_mullo_epi16(_mm256_sub_epi16(xo, yo), w.Odd));
    return _mm256_or_si256(_mm256_srli_epi16(even, 8), _mm256_and_si256(odd, high));
  });
}

void Invert_AVX2(uint32_t* dst, const uint32_t* src, size_t count) {
  const __m256i ones = _mm256_set1_epi32(-1);
  Unary(dst, src, count, [&](__m256i s) { return _mm256_xor_si256(s, ones); });
}

// Runs of 4 KiB and more go to the string store: the processor's fast-string microcode
// writes whole cache lines without reading them first and beats a vector loop from the
// L2-sized strip upwards (measured in rendo_colour_bench against memset, which does the same).
void Fill_AVX2(uint32_t* dst, size_t count, uint32_t color) {
  if (count >= 1024) {
    __asm__ volatile("rep stosl" : "+D"(dst), "+c"(count) : "a"(color) : "memory");
    return;
  }
  const __m256i c = _mm256_set1_epi32(int(color));
  size_t i = 0;
  // Align the stores for long runs: a masked head of up to seven pixels.
  if (count >= 64 && (reinterpret_cast<uintptr_t>(dst) & 3) == 0) {
    const size_t head = ((32 - (reinterpret_cast<uintptr_t>(dst) & 31)) & 31) / 4;
    if (head != 0) StoreSome(dst, FirstLanes(head), c);
    i = head;
  }
  for (; i + 32 <= count; i += 32) {
    Store(dst + i, c);
    Store(dst + i + 8, c);
    Store(dst + i + 16, c);
    Store(dst + i + 24, c);
  }
  for (; i + 8 <= count; i += 8) Store(dst + i, c);
  if (i < count) StoreSome(dst + i, FirstLanes(count - i), c);
}

void ScaleChannels_AVX2(uint32_t* dst, const uint32_t* src, size_t count, uint64_t gains) {
  const __m256i g = _mm256_set1_epi64x(int64_t(gains));
  const __m256i zero = _mm256_setzero_si256();
  // Unpack and pack both work within 128-bit halves, so the pixel order is kept.
  Unary(dst, src, count, [&](__m256i s) {
    const __m256i lo = _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_unpacklo_epi8(s, zero), 4), g);
    const __m256i hi = _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_unpackhi_epi8(s, zero), 4), g);
    return _mm256_packus_epi16(lo, hi);
  });
}

void MapPalette_AVX2(uint32_t* dst, const uint32_t* src, size_t count, const uint32_t* palette) {
  const __m256i lowByte = _mm256_set1_epi32(0xFF);
  const int* table = reinterpret_cast<const int*>(palette);
  Unary(dst, src, count, [&](__m256i s) { return _mm256_i32gather_epi32(table, _mm256_and_si256(s, lowByte), 4); });
}

void GatherOffsets_AVX2(uint32_t* dst, const uint8_t* base, const int32_t* offsets, size_t count) {
  const int* at = reinterpret_cast<const int*>(base);
  size_t i = 0;
  for (; i + 8 <= count; i += 8)
    Store(dst + i, _mm256_i32gather_epi32(at, Load(reinterpret_cast<const uint32_t*>(offsets + i)), 1));
  for (; i < count; ++i) std::memcpy(&dst[i], base + offsets[i], 4);
}

// Eight positions at a time in 32-bit lanes, when the whole walk stays below 2^31 (every
// source below 32768 pixels does); otherwise the 64-bit reference loop.
void StretchGather_AVX2(uint32_t* dst, const uint32_t* row, size_t count, int64_t position, int64_t step) {
  const int64_t last = position + step * int64_t(count);
  if (position < 0 || step < 0 || last >= (int64_t(1) << 31) || count < 8) {
    for (size_t i = 0; i < count; ++i, position += step) dst[i] = row[size_t(position >> 16)];
    return;
  }
  const int* table = reinterpret_cast<const int*>(row);
  __m256i p = _mm256_add_epi32(_mm256_set1_epi32(int(position)),
                               _mm256_mullo_epi32(_mm256_set1_epi32(int(step)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
  const __m256i advance = _mm256_set1_epi32(int(step * 8));
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    Store(dst + i, _mm256_i32gather_epi32(table, _mm256_srli_epi32(p, 16), 4));
    p = _mm256_add_epi32(p, advance);
  }
  for (int64_t q = position + step * int64_t(i); i < count; ++i, q += step) dst[i] = row[size_t(q >> 16)];
}

// Four pixels to twelve bytes with one byte shuffle for the triples and one for the
// fourth bytes moved onto the next blue (then ORed); four groups make three 16-byte
// stores. 0x80 in a shuffle index gives a zero byte.
void PackTo24_AVX2(uint8_t* dst, const uint32_t* src, size_t groups) {
  const __m128i triples = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
  const __m128i carries = _mm_setr_epi8(-128, -128, -128, 3, -128, -128, 7, -128, -128, 11, -128, -128, -128, -128,
                                        -128, -128);
  auto pack = [&](const uint32_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm_or_si128(_mm_shuffle_epi8(v, triples), _mm_shuffle_epi8(v, carries));
  };
  size_t g = 0;
  for (; g + 4 <= groups; g += 4, src += 16, dst += 48) {
    const __m128i a = pack(src), b = pack(src + 4), c = pack(src + 8), d = pack(src + 12);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(a, _mm_slli_si128(b, 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 32), _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
  }
  for (; g < groups; ++g, src += 4, dst += 12) {
    uint8_t out[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pack(src));
    std::memcpy(dst, out, 12);
  }
}

}  // namespace

const TColourKernelTable ColourKernelsAVX2 = {
    ScaleAdd_AVX2,   AddScaled_AVX2,     AddColor_AVX2,      SubtractColor_AVX2, MixTwo_AVX2,
    Lerp_AVX2,       Invert_AVX2,        Fill_AVX2,          ScaleChannels_AVX2, MapPalette_AVX2,
    GatherOffsets_AVX2, StretchGather_AVX2, PackTo24_AVX2,
};

}  // namespace rendo_kernels
