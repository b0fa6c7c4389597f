// AVX2 kernels: eight pixels per 256-bit register. Compiled with -mavx2 only; the
// dispatcher uses this table only after CPUID reports AVX2 and XGETBV shows that the
// operating system saves the YMM state.
#include <immintrin.h>

#include "kernels.h"
#include <cstring>

// Only headers without inline functions of our own are included here: an inline
// function compiled with -mavx2 could be the copy the linker keeps for every caller,
// including the baseline code that runs before dispatch.

namespace rendo_kernels {
namespace {

template <typename TOp>
inline void FlatLoop(uint32_t* dst, const uint32_t* src, size_t count, TOp op) {
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    __m256i t0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
    __m256i t1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i + 8));
    __m256i s0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    __m256i s1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), op(t0, s0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8), op(t1, s1));
  }
  for (; i + 8 <= count; i += 8) {
    __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), op(t, s));
  }
  // Fewer than eight left: masked loads and stores touch only the remaining pixels.
  if (i < count) {
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(int(count - i)), lanes);
    __m256i t = _mm256_maskload_epi32(reinterpret_cast<const int*>(dst + i), mask);
    __m256i s = _mm256_maskload_epi32(reinterpret_cast<const int*>(src + i), mask);
    _mm256_maskstore_epi32(reinterpret_cast<int*>(dst + i), mask, op(t, s));
  }
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
  for (; i + 16 <= count; i += 16) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8), b);
  }
  for (; i < count; ++i) dst[i] = src[i];
}

// Same lane arithmetic as the SSE2 kernel (see there and kernels_ref.h); the word
// shuffles work within each 128-bit half, which holds whole pixels.
template <bool SsePath>
inline __m256i DesaturateWords(__m256i x, __m256i level) {
  const __m256i third = _mm256_set1_epi16(21845);
  __m256i r1 = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(x, _MM_SHUFFLE(3, 0, 2, 1)), _MM_SHUFFLE(3, 0, 2, 1));
  __m256i r2 = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(x, _MM_SHUFFLE(3, 1, 0, 2)), _MM_SHUFFLE(3, 1, 0, 2));
  __m256i grey = _mm256_mulhi_epi16(_mm256_add_epi16(_mm256_add_epi16(x, r1), r2), third);
  if constexpr (!SsePath) {
    grey = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(grey, _MM_SHUFFLE(0, 0, 0, 0)), _MM_SHUFFLE(0, 0, 0, 0));
  }
  __m256i delta = _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(x, grey), level), 8);
  return _mm256_and_si256(_mm256_add_epi16(grey, delta), _mm256_set1_epi16(0x00FF));
}

// unpacklo/unpackhi and packus all work per 128-bit half, so the pixel order survives
// the round trip without a cross-lane permute.
template <bool SsePath>
inline __m256i DesaturateEight(__m256i v, __m256i level) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i lo = DesaturateWords<SsePath>(_mm256_unpacklo_epi8(v, zero), level);
  __m256i hi = DesaturateWords<SsePath>(_mm256_unpackhi_epi8(v, zero), level);
  return _mm256_packus_epi16(lo, hi);
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

const TKernelTable KernelsAVX2 = {
    AddSaturated_AVX2,      SubtractSaturated_AVX2,  ReverseSubtractSaturated_AVX2,
    CopyFlat_AVX2,          DesaturateSsePath_AVX2,  DesaturatePlainPath_AVX2,
};

}  // namespace rendo_kernels
