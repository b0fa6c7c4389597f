#pragma once
// Butterfly kernels of TFastFourier, one set per instruction-set level.
//
// Span_<Level>(data, n, span, twiddles) runs every butterfly of one span of the radix-2
// transform over n interleaved complex points: for each group start g (step 2*span) and
// m = 0..span-1, with a = point g+m, b = point g+m+span and w = twiddles[m]:
//   tr = wr*br - wi*bi,  ti = wr*bi + wi*br   (each product and sum rounded to double)
//   b := a - t,  a := a + t
// These are the IEEE operations of the plain algorithm, only the order of independent
// butterflies differs, so every level gives the same bits as the reference.
//
// Span2_<Level>(data, n, span, tw1, tw2) runs the spans `span` and `2*span` in one pass
// over blocks of 4*span points (tw1 holds span twiddles, tw2 holds 2*span): each point is
// loaded once for both spans. Every butterfly still sees the same inputs and does the
// same operations as in two separate passes.
#include <cstddef>

using TSpanKernel = void (*)(double* data, size_t n, size_t span, const double* tw);
using TSpan2Kernel = void (*)(double* data, size_t n, size_t span, const double* tw1,
                              const double* tw2);

struct TFftKernels {
  TSpanKernel Span;
  TSpan2Kernel Span2;
};

void Span_Ref(double* data, size_t n, size_t span, const double* tw);
void Span2_Ref(double* data, size_t n, size_t span, const double* tw1, const double* tw2);

#if KORVEL_FFT_X86_SIMD
void Span_SSE2(double* data, size_t n, size_t span, const double* tw);
void Span2_SSE2(double* data, size_t n, size_t span, const double* tw1, const double* tw2);
void Span_AVX2(double* data, size_t n, size_t span, const double* tw);
void Span2_AVX2(double* data, size_t n, size_t span, const double* tw1, const double* tw2);
#endif
