// AVX2 butterflies: two complex points per register (spans of 2 and more; span 1 falls
// back to one point per register). vaddsubpd forms wr*br - wi*bi in the even lane and
// wr*bi + wi*br in the odd lane from the rounded products, exactly as the scalar code.
// Compiled with -mno-fma and -ffp-contract=off: no fused operations.
#include <immintrin.h>

#include "fft_kernels.h"

namespace {

inline __m256d Twist(__m256d w, __m256d b) {
  const __m256d wr = _mm256_movedup_pd(w);          // wr0 wr0 wr1 wr1
  const __m256d wi = _mm256_permute_pd(w, 0xF);     // wi0 wi0 wi1 wi1
  const __m256d p1 = _mm256_mul_pd(wr, b);                           // wr*br, wr*bi
  const __m256d p2 = _mm256_mul_pd(wi, _mm256_permute_pd(b, 0x5));   // wi*bi, wi*br
  return _mm256_addsub_pd(p1, p2);
}

inline void Butterfly2(__m256d& a, __m256d& b, __m256d w) {
  const __m256d t = Twist(w, b);
  b = _mm256_sub_pd(a, t);
  a = _mm256_add_pd(a, t);
}

inline void Butterfly1(double* a, double* b, const double* w) {
  const __m128d vw = _mm_loadu_pd(w);
  const __m128d wr = _mm_movedup_pd(vw);
  const __m128d wi = _mm_permute_pd(vw, 0x3);
  const __m128d vb = _mm_loadu_pd(b);
  const __m128d t = _mm_addsub_pd(_mm_mul_pd(wr, vb), _mm_mul_pd(wi, _mm_permute_pd(vb, 0x1)));
  const __m128d va = _mm_loadu_pd(a);
  _mm_storeu_pd(b, _mm_sub_pd(va, t));
  _mm_storeu_pd(a, _mm_add_pd(va, t));
}

}  // namespace

void Span_AVX2(double* data, size_t n, size_t span, const double* tw) {
  if (span < 2) {
    for (size_t g = 0; g < n; g += 2) Butterfly1(data + 2 * g, data + 2 * g + 2, tw);
    return;
  }
  for (size_t g = 0; g < n; g += 2 * span) {
    double* pa = data + 2 * g;
    double* pb = pa + 2 * span;
    for (size_t o = 0; o < 2 * span; o += 4) {
      __m256d a = _mm256_loadu_pd(pa + o);
      __m256d b = _mm256_loadu_pd(pb + o);
      Butterfly2(a, b, _mm256_loadu_pd(tw + o));
      _mm256_storeu_pd(pa + o, a);
      _mm256_storeu_pd(pb + o, b);
    }
  }
}

void Span2_AVX2(double* data, size_t n, size_t span, const double* tw1, const double* tw2) {
  if (span < 2) {
    for (size_t g = 0; g < n; g += 4) {
      double* p = data + 2 * g;
      Butterfly1(p, p + 2, tw1);
      Butterfly1(p + 4, p + 6, tw1);
      Butterfly1(p, p + 4, tw2);
      Butterfly1(p + 2, p + 6, tw2 + 2);
    }
    return;
  }
  for (size_t g = 0; g < n; g += 4 * span) {
    double* p0 = data + 2 * g;
    double* p1 = p0 + 2 * span;
    double* p2 = p1 + 2 * span;
    double* p3 = p2 + 2 * span;
    for (size_t o = 0; o < 2 * span; o += 4) {
      __m256d x0 = _mm256_loadu_pd(p0 + o);
      __m256d x1 = _mm256_loadu_pd(p1 + o);
      __m256d x2 = _mm256_loadu_pd(p2 + o);
      __m256d x3 = _mm256_loadu_pd(p3 + o);
      const __m256d w1 = _mm256_loadu_pd(tw1 + o);
      Butterfly2(x0, x1, w1);
      Butterfly2(x2, x3, w1);
      Butterfly2(x0, x2, _mm256_loadu_pd(tw2 + o));
      Butterfly2(x1, x3, _mm256_loadu_pd(tw2 + 2 * span + o));
      _mm256_storeu_pd(p0 + o, x0);
      _mm256_storeu_pd(p1 + o, x1);
      _mm256_storeu_pd(p2 + o, x2);
      _mm256_storeu_pd(p3 + o, x3);
    }
  }
}
