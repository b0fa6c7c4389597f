// AVX2 kernels: eight pixels per 256-bit register. Compiled with -mavx2 only; the
// dispatcher uses this table only after CPUID reports AVX2 and XGETBV shows that the
// operating system saves the YMM state.
#include <immintrin.h>

#include "kernels_flat.h"
#include <cstring>

// Only headers without inline functions of our own are included here: an inline
// function compiled with -mavx2 could be the copy the linker keeps for every caller,
// including the baseline code that runs before dispatch.

namespace rendo_kernels {
namespace {

// Eight pixels with a lane mask: only the masked pixels are read and written.
inline __m256i FirstLanes(size_t n) {
  return _mm256_cmpgt_epi32(_mm256_set1_epi32(int(n)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

template <typename TOp>
inline void MaskedStep(uint32_t* dst, const uint32_t* src, __m256i mask, TOp op) {
  __m256i t = _mm256_maskload_epi32(reinterpret_cast<const int*>(dst), mask);
  __m256i s = _mm256_maskload_epi32(reinterpret_cast<const int*>(src), mask);
  _mm256_maskstore_epi32(reinterpret_cast<int*>(dst), mask, op(t, s));
}

template <typename TOp>
inline void FlatLoop(uint32_t* dst, const uint32_t* src, size_t count, TOp op) {
  size_t i = 0;
  // Bring the destination to a 32-byte boundary first (a masked step of up to seven
  // pixels), so no store and, for equally placed buffers, no load splits a cache line.
  if (count >= 64 && (reinterpret_cast<uintptr_t>(dst) & 3) == 0) {
    const size_t head = ((32 - (reinterpret_cast<uintptr_t>(dst) & 31)) & 31) / 4;
    if (head != 0) MaskedStep(dst, src, FirstLanes(head), op);
    i = head;
  }
  for (; i + 32 <= count; i += 32) {
    __m256i t0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
    __m256i t1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i + 8));
    __m256i t2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i + 16));
    __m256i t3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i + 24));
    __m256i s0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    __m256i s1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 8));
    __m256i s2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 16));
    __m256i s3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 24));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), op(t0, s0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8), op(t1, s1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 16), op(t2, s2));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 24), op(t3, s3));
  }
  for (; i + 8 <= count; i += 8) {
    __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), op(t, s));
  }
  // Fewer than eight left: masked loads and stores touch only the remaining pixels.
  if (i < count) MaskedStep(dst + i, src + i, FirstLanes(count - i), op);
}

void AddSaturated_AVX2(uint32_t* dst, const uint32_t* src, size_t count) {
  FlatLoop(dst, src, count, [](__m256i t, __m256i s) { return _mm256_adds_epu8(t, s); });
}

void SubtractSaturated_AVX2(uint32_t* dst, const uint32_t* src, size_t count) {
  FlatLoop(dst, src, count, [](__m256i t, __m256i s) { return _mm256_subs_epu8(t, s); });
}

void ReverseSubtractSaturated_AVX2(uint32_t* dst, const uint32_t* src, size_t count) {
  FlatLoop(dst, src, count, [](__m256i t, __m256i s) { return _mm256_subs_epu8(s, t); });
}

// As in the SSE2 kernel: very long runs go out with non-temporal stores.
constexpr size_t kStreamPixels = size_t(1) << 20;

void CopyFlat_AVX2(uint32_t* dst, const uint32_t* src, size_t count) {
  if (dst == src || count == 0) return;
  if (dst < src + count && src < dst + count) {
    std::memmove(dst, src, count * 4);
    return;
  }
  size_t i = 0;
  if (count >= kStreamPixels && (reinterpret_cast<uintptr_t>(dst) & 3) == 0) {
    for (; (reinterpret_cast<uintptr_t>(dst + i) & 31) != 0; ++i) dst[i] = src[i];
    for (; i + 16 <= count; i += 16) {
      __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
      __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 8));
      _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + i), a);
      _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + i + 8), b);
    }
    _mm_sfence();
  }
  FlatLoop(dst + i, src + i, count - i, [](__m256i, __m256i s) { return s; });
}

// The SSE2 kernel's arithmetic (see there and rendo/reference.h), eight pixels per register,
// with one instruction SSE2 lacks: PMADDUBSW multiplies the pixel bytes by byte weights and
// adds neighbours, giving the words (B + G, R) with weights (1, 1, 1, 0) and (0, 3A) with
// (0, 0, 0, 3) in one step each. Every step works within 32-bit pixels: no lane crossing.
template <bool SsePath>
inline __m256i DesaturateEight(__m256i v, __m256i level) {
  const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
  const __m256i third = _mm256_set1_epi16(21845);
  const __m256i even = _mm256_and_si256(v, lowBytes);  // words B, R
  const __m256i odd = _mm256_srli_epi16(v, 8);          // words G, A
  const __m256i pairSums = _mm256_maddubs_epi16(v, _mm256_set1_epi32(0x00010101));  // B+G, R
  const __m256i sum = _mm256_madd_epi16(pairSums, _mm256_set1_epi16(1));
  const __m256i grey = _mm256_mulhi_epu16(sum, third);  // low word grey, high word 0
  const __m256i greyPair = _mm256_or_si256(grey, _mm256_slli_epi32(grey, 16));
  __m256i oddGrey = greyPair;
  if constexpr (SsePath) {
    // (0, 3A) -> (0, a) with a = floor(3A * 21845 / 65536); 3A <= 765 fits the word.
    const __m256i triple = _mm256_maddubs_epi16(v, _mm256_set1_epi32(0x03000000));
    oddGrey = _mm256_or_si256(grey, _mm256_mulhi_epu16(triple, third));
  }
  const __m256i evenOut =
      _mm256_add_epi16(greyPair, _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(even, greyPair), level), 8));
  const __m256i oddOut =
      _mm256_add_epi16(oddGrey, _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(odd, oddGrey), level), 8));
  return _mm256_or_si256(_mm256_and_si256(evenOut, lowBytes), _mm256_slli_epi16(oddOut, 8));
}

template <bool SsePath>
void DesaturateLoop(uint32_t* dst, const uint32_t* src, size_t count, uint32_t level) {
  const __m256i lv = _mm256_set1_epi16(int16_t(level));
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), DesaturateEight<SsePath>(a, lv));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8), DesaturateEight<SsePath>(b, lv));
  }
  for (; i + 8 <= count; i += 8) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), DesaturateEight<SsePath>(a, lv));
  }
  if (i < count) {
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(int(count - i)), lanes);
    __m256i a = _mm256_maskload_epi32(reinterpret_cast<const int*>(src + i), mask);
    _mm256_maskstore_epi32(reinterpret_cast<int*>(dst + i), mask, DesaturateEight<SsePath>(a, lv));
  }
}

void DesaturateSsePath_AVX2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t level) {
  DesaturateLoop<true>(dst, src, count, level);
}

void DesaturatePlainPath_AVX2(uint32_t* dst, const uint32_t* src, size_t count, uint32_t level) {
  DesaturateLoop<false>(dst, src, count, level);
}

}  // namespace

const TFlatKernelTable FlatKernelsAVX2 = {
    AddSaturated_AVX2,      SubtractSaturated_AVX2,  ReverseSubtractSaturated_AVX2,
    CopyFlat_AVX2,          DesaturateSsePath_AVX2,  DesaturatePlainPath_AVX2,
};

}  // namespace rendo_kernels
