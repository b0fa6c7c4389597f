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
    // Spans 1 and 2 over 4 points: regroup the points so each register holds the two
    // points that meet in one butterfly of the span, twice.
    const __m256d w1 = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(tw1));
    const __m256d w2 = _mm256_loadu_pd(tw2);
    for (size_t g = 0; g < n; g += 4) {
      double* p = data + 2 * g;
      const __m256d x01 = _mm256_loadu_pd(p);
      const __m256d x23 = _mm256_loadu_pd(p + 4);
      __m256d a = _mm256_permute2f128_pd(x01, x23, 0x20);  // p0 p2
      __m256d b = _mm256_permute2f128_pd(x01, x23, 0x31);  // p1 p3
      Butterfly2(a, b, w1);
      __m256d lo = _mm256_permute2f128_pd(a, b, 0x20);     // p0 p1
      __m256d hi = _mm256_permute2f128_pd(a, b, 0x31);     // p2 p3
      Butterfly2(lo, hi, w2);
      _mm256_storeu_pd(p, lo);
      _mm256_storeu_pd(p + 4, hi);
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

void Span3_AVX2(double* data, size_t n, size_t span, const double* tw1, const double* tw2,
                const double* tw3) {
  if (span < 2) {
    Span2_AVX2(data, n, span, tw1, tw2);
    Span_AVX2(data, n, 4 * span, tw3);
    return;
  }
  const size_t s = 2 * span;  // doubles per span
  for (size_t g = 0; g < n; g += 8 * span) {
    double* p = data + 2 * g;
    for (size_t o = 0; o < s; o += 4) {
      __m256d x0 = _mm256_loadu_pd(p + o);
      __m256d x1 = _mm256_loadu_pd(p + s + o);
      __m256d x2 = _mm256_loadu_pd(p + 2 * s + o);
      __m256d x3 = _mm256_loadu_pd(p + 3 * s + o);
      __m256d x4 = _mm256_loadu_pd(p + 4 * s + o);
      __m256d x5 = _mm256_loadu_pd(p + 5 * s + o);
      __m256d x6 = _mm256_loadu_pd(p + 6 * s + o);
      __m256d x7 = _mm256_loadu_pd(p + 7 * s + o);
      const __m256d w1 = _mm256_loadu_pd(tw1 + o);
      Butterfly2(x0, x1, w1);
      Butterfly2(x2, x3, w1);
      Butterfly2(x4, x5, w1);
      Butterfly2(x6, x7, w1);
      const __m256d w2a = _mm256_loadu_pd(tw2 + o);
      const __m256d w2b = _mm256_loadu_pd(tw2 + s + o);
      Butterfly2(x0, x2, w2a);
      Butterfly2(x1, x3, w2b);
      Butterfly2(x4, x6, w2a);
      Butterfly2(x5, x7, w2b);
      Butterfly2(x0, x4, _mm256_loadu_pd(tw3 + o));
      Butterfly2(x1, x5, _mm256_loadu_pd(tw3 + s + o));
      Butterfly2(x2, x6, _mm256_loadu_pd(tw3 + 2 * s + o));
      Butterfly2(x3, x7, _mm256_loadu_pd(tw3 + 3 * s + o));
      _mm256_storeu_pd(p + o, x0);
      _mm256_storeu_pd(p + s + o, x1);
      _mm256_storeu_pd(p + 2 * s + o, x2);
      _mm256_storeu_pd(p + 3 * s + o, x3);
      _mm256_storeu_pd(p + 4 * s + o, x4);
      _mm256_storeu_pd(p + 5 * s + o, x5);
      _mm256_storeu_pd(p + 6 * s + o, x6);
      _mm256_storeu_pd(p + 7 * s + o, x7);
    }
  }
}

void FirstPass_AVX2(double* dst, const double* src, size_t n, const uint32_t* blockOf,
                    const double* tw1, const double* tw2) {
  // Two neighbouring r at once: lane 0 belongs to block rev(r), lane 1 to rev(r + 1), and
  // every butterfly of both blocks pairs equal lanes, so no shuffle is needed until the
  // stores.
  const size_t q = n / 4;
  const __m256d w1 = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(tw1));
  const __m256d w2a = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(tw2));
  const __m256d w2b = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(tw2 + 2));
  for (size_t r = 0; r < q; r += 2) {
    __m256d a = _mm256_loadu_pd(src + 2 * r);
    __m256d b = _mm256_loadu_pd(src + 2 * (r + 2 * q));
    __m256d c = _mm256_loadu_pd(src + 2 * (r + q));
    __m256d d = _mm256_loadu_pd(src + 2 * (r + 3 * q));
    Butterfly2(a, b, w1);
    Butterfly2(c, d, w1);
    Butterfly2(a, c, w2a);
    Butterfly2(b, d, w2b);
    double* o0 = dst + 2 * static_cast<size_t>(blockOf[r]);
    double* o1 = dst + 2 * static_cast<size_t>(blockOf[r + 1]);
    _mm256_storeu_pd(o0, _mm256_permute2f128_pd(a, b, 0x20));
    _mm256_storeu_pd(o0 + 4, _mm256_permute2f128_pd(c, d, 0x20));
    _mm256_storeu_pd(o1, _mm256_permute2f128_pd(a, b, 0x31));
    _mm256_storeu_pd(o1 + 4, _mm256_permute2f128_pd(c, d, 0x31));
  }
}
