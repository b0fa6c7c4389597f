// SSE2 butterflies: one complex point per register. The product pair is combined with a
// real subtraction and a real addition (not a sign flip) so even NaN payloads match the
// reference.
#include <emmintrin.h>

#include "fft_kernels.h"

namespace {

inline void Butterfly(double* a, double* b, const double* w) {
  const __m128d vw = _mm_loadu_pd(w);
  const __m128d wr = _mm_unpacklo_pd(vw, vw);
  const __m128d wi = _mm_unpackhi_pd(vw, vw);
  const __m128d vb = _mm_loadu_pd(b);
  const __m128d p1 = _mm_mul_pd(wr, vb);                           // wr*br, wr*bi
  const __m128d p2 = _mm_mul_pd(wi, _mm_shuffle_pd(vb, vb, 1));    // wi*bi, wi*br
  const __m128d t = _mm_move_sd(_mm_add_pd(p1, p2), _mm_sub_pd(p1, p2));
  const __m128d va = _mm_loadu_pd(a);
  _mm_storeu_pd(b, _mm_sub_pd(va, t));
  _mm_storeu_pd(a, _mm_add_pd(va, t));
}

}  // namespace

void Span_SSE2(double* data, size_t n, size_t span, const double* tw) {
  for (size_t g = 0; g < n; g += 2 * span) {
    double* a = data + 2 * g;
    double* b = a + 2 * span;
    for (size_t m = 0; m < span; ++m) Butterfly(a + 2 * m, b + 2 * m, tw + 2 * m);
  }
}

void Span2_SSE2(double* data, size_t n, size_t span, const double* tw1, const double* tw2) {
  for (size_t g = 0; g < n; g += 4 * span) {
    double* p0 = data + 2 * g;
    double* p1 = p0 + 2 * span;
    double* p2 = p1 + 2 * span;
    double* p3 = p2 + 2 * span;
    for (size_t m = 0; m < span; ++m) {
      const size_t o = 2 * m;
      Butterfly(p0 + o, p1 + o, tw1 + o);
      Butterfly(p2 + o, p3 + o, tw1 + o);
      Butterfly(p0 + o, p2 + o, tw2 + o);
      Butterfly(p1 + o, p3 + o, tw2 + 2 * span + o);
    }
  }
}


void FirstPass_SSE2(double* dst, const double* src, size_t n, const uint32_t* blockOf,
                     const double* tw1, const double* tw2) {
  const size_t q = n / 4;
  for (size_t r = 0; r < q; ++r) {
    double* o = dst + 2 * static_cast<size_t>(blockOf[r]);
    const size_t from[4] = {r, r + 2 * q, r + q, r + 3 * q};
    for (int j = 0; j < 4; ++j) {
      o[2 * j] = src[2 * from[j]];
      o[2 * j + 1] = src[2 * from[j] + 1];
    }
    Butterfly(o, o + 2, tw1);
    Butterfly(o + 4, o + 6, tw1);
    Butterfly(o, o + 4, tw2);
    Butterfly(o + 2, o + 6, tw2 + 2);
  }
}
