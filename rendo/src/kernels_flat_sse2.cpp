// SSE2 kernels: four pixels per 128-bit register. Compiled with -msse2 only; nothing in
// this file runs unless the dispatcher found SSE2 (always present on x86-64).
#include <emmintrin.h>

#include "kernels_flat.h"
#include <cstring>

// Only headers without inline functions of our own are included here: an inline
// function compiled with -msse2 could be the copy the linker keeps for every caller,
// including the baseline code that runs before dispatch.

namespace rendo_kernels {
namespace {

template <typename TOp>
inline void FlatLoop(uint32_t* dst, const uint32_t* src, size_t count, TOp op) {
  size_t i = 0;
  // Two registers per step: the loads of the second overlap the first's latency.
  for (; i + 8 <= count; i += 8) {
    __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
    __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i + 4));
    __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), op(t0, s0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 4), op(t1, s1));
  }
  for (; i + 4 <= count; i += 4) {
    __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), op(t, s));
  }
  for (; i < count; ++i) {
    __m128i t = _mm_cvtsi32_si128(int(dst[i]));
    __m128i s = _mm_cvtsi32_si128(int(src[i]));
    dst[i] = uint32_t(_mm_cvtsi128_si32(op(t, s)));
  }
}

void AddSaturated_SSE2(uint32_t* dst, const uint32_t* src, size_t count) {
  FlatLoop(dst, src, count, [](__m128i t, __m128i s) { return _mm_adds_epu8(t, s); });
}

void SubtractSaturated_SSE2(uint32_t* dst, const uint32_t* src, size_t count) {
  FlatLoop(dst, src, count, [](__m128i t, __m128i s) { return _mm_subs_epu8(t, s); });
}

void ReverseSubtractSaturated_SSE2(uint32_t* dst, const uint32_t* src, size_t count) {
  FlatLoop(dst, src, count, [](__m128i t, __m128i s) { return _mm_subs_epu8(s, t); });
}

// Runs beyond this many pixels (4 MiB, well past the per-core caches) are written with
// non-temporal stores: the destination lines are neither read for ownership nor left to
// evict the working set. The bytes written are the same either way.
constexpr size_t kStreamPixels = size_t(1) << 20;

void CopyFlat_SSE2(uint32_t* dst, const uint32_t* src, size_t count) {
  if (dst == src || count == 0) return;
  // Forward 16-byte copies would smear an overlapping run; leave those to memmove.
  if (dst < src + count && src < dst + count) {
    std::memmove(dst, src, count * 4);
    return;
  }
  size_t i = 0;
  if (count >= kStreamPixels && (reinterpret_cast<uintptr_t>(dst) & 3) == 0) {
    for (; (reinterpret_cast<uintptr_t>(dst + i) & 15) != 0; ++i) dst[i] = src[i];
    for (; i + 8 <= count; i += 8) {
      __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
      __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 4));
      _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), a);
      _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 4), b);
    }
    _mm_sfence();  // streamed stores are weakly ordered: publish them before returning
  }
  for (; i + 8 <= count; i += 8) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 4), b);
  }
  for (; i < count; ++i) dst[i] = src[i];
}

// Four pixels per register, without unpacking to words and back: the even bytes (blue,
// red) and the odd bytes (green, fourth) of each pixel are each a vector of 16-bit lanes
// already, one by masking, one by shifting right by 8.
//   S    = B + G + R per pixel: (even + green) summed across the pixel's two words (PMADDWD)
//   grey = floor(S * 21845 / 65536): high half of the unsigned product (S <= 765)
//   SSE path fourth lane: a = floor(3A * 21845 / 65536) the same way
// Each lane then becomes grey + ((c - grey) * level >> 8). The 16-bit product wraps only by
// multiples of 65536, i.e. by multiples of 256 after the arithmetic shift, which the byte
// mask (even) or the shift back into the high byte (odd) removes; see rendo/reference.h.
template <bool SsePath>
inline __m128i DesaturateFour(__m128i v, __m128i level) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  const __m128i third = _mm_set1_epi16(21845);
  const __m128i even = _mm_and_si128(v, lowBytes);  // words B, R
  const __m128i odd = _mm_srli_epi16(v, 8);          // words G, A
  const __m128i pairSums = _mm_add_epi16(even, _mm_and_si128(odd, _mm_set1_epi32(0x0000FFFF)));  // B+G, R
  const __m128i sum = _mm_madd_epi16(pairSums, _mm_set1_epi16(1));
  const __m128i grey = _mm_mulhi_epu16(sum, third);  // low word grey, high word 0
  const __m128i greyPair = _mm_or_si128(grey, _mm_slli_epi32(grey, 16));
  __m128i oddGrey = greyPair;
  if constexpr (SsePath) {
    const __m128i a = _mm_srli_epi32(v, 24);
    const __m128i fourth = _mm_mulhi_epu16(_mm_add_epi16(a, _mm_add_epi16(a, a)), third);
    oddGrey = _mm_or_si128(grey, _mm_slli_epi32(fourth, 16));
  }
  const __m128i evenOut =
      _mm_add_epi16(greyPair, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(even, greyPair), level), 8));
  const __m128i oddOut =
      _mm_add_epi16(oddGrey, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(odd, oddGrey), level), 8));
  return _mm_or_si128(_mm_and_si128(evenOut, lowBytes), _mm_slli_epi16(oddOut, 8));
}

template <bool SsePath>
void DesaturateLoop(uint32_t* dst, const uint32_t* src, size_t count, uint32_t level) {
  const __m128i lv = _mm_set1_epi16(int16_t(level));
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), DesaturateFour<SsePath>(a, lv));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 4), DesaturateFour<SsePath>(b, lv));
  }
  for (; i + 4 <= count; i += 4) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), DesaturateFour<SsePath>(a, lv));
  }
  for (; i < count; ++i)
    dst[i] = uint32_t(_mm_cvtsi128_si32(DesaturateFour<SsePath>(_mm_cvtsi32_si128(int(src[i])), lv)));
}

void DesaturateSsePath_SSE2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t level) {
  DesaturateLoop<true>(dst, src, count, level);
}

void DesaturatePlainPath_SSE2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t level) {
  DesaturateLoop<false>(dst, src, count, level);
}

}  // namespace

const TFlatKernelTable FlatKernelsSSE2 = {
    AddSaturated_SSE2,      SubtractSaturated_SSE2,  ReverseSubtractSaturated_SSE2,
    CopyFlat_SSE2,          DesaturateSsePath_SSE2,  DesaturatePlainPath_SSE2,
};

}  // namespace rendo_kernels
