#include "fft_kernels.h"

namespace {

// One butterfly; a and b point at interleaved (re, im) pairs, w at (wr, wi).
inline void Butterfly(double* a, double* b, const double* w) {
  const double wr = w[0], wi = w[1];
  const double br = b[0], bi = b[1];
  const double tr = wr * br - wi * bi;
  const double ti = wr * bi + wi * br;
  const double ar = a[0], ai = a[1];
  b[0] = ar - tr;
  b[1] = ai - ti;
  a[0] = ar + tr;
  a[1] = ai + ti;
}

}  // namespace

void Span_Ref(double* data, size_t n, size_t span, const double* tw) {
  for (size_t g = 0; g < n; g += 2 * span) {
    double* a = data + 2 * g;
    double* b = a + 2 * span;
    for (size_t m = 0; m < span; ++m) Butterfly(a + 2 * m, b + 2 * m, tw + 2 * m);
  }
}

void Span2_Ref(double* data, size_t n, size_t span, const double* tw1, const double* tw2) {
  for (size_t g = 0; g < n; g += 4 * span) {
    double* p0 = data + 2 * g;
    double* p1 = p0 + 2 * span;
    double* p2 = p1 + 2 * span;
    double* p3 = p2 + 2 * span;
    for (size_t m = 0; m < span; ++m) {
      const size_t o = 2 * m;
      Butterfly(p0 + o, p1 + o, tw1 + o);                 // span, group g
      Butterfly(p2 + o, p3 + o, tw1 + o);                 // span, group g + 2*span
      Butterfly(p0 + o, p2 + o, tw2 + o);                 // 2*span, m
      Butterfly(p1 + o, p3 + o, tw2 + 2 * span + o);      // 2*span, m + span
    }
  }
}


void FirstPass_Ref(double* dst, const double* src, size_t n, const uint32_t* blockOf,
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
