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
//
// Span3_<Level>(data, n, span, tw1, tw2, tw3) likewise runs spans `span`, `2*span` and
// `4*span` over blocks of 8*span points. Only levels with registers enough for eight
// points have it (Span3 null otherwise: the transform then runs two spans a pass).
#include <cstddef>
#include <cstdint>

using TSpanKernel = void (*)(double* data, size_t n, size_t span, const double* tw);
using TSpan2Kernel = void (*)(double* data, size_t n, size_t span, const double* tw1,
                              const double* tw2);

using TSpan3Kernel = void (*)(double* data, size_t n, size_t span, const double* tw1,
                              const double* tw2, const double* tw3);

// FirstPass_<Level>(dst, src, n, blockOf, tw1, tw2): the bit-reversal permutation and
// spans 1 and 2 in one pass, from src to dst (n >= 8). Output block g (points g..g+3,
// g a multiple of 4) takes the input points r, r + n/2, r + n/4, r + 3n/4 with
// r = rev(g); blockOf[r] = g for r = 0..n/4-1. Reading r in order walks four sequential
// streams instead of scattering swaps over the array.
using TFirstPassKernel = void (*)(double* dst, const double* src, size_t n,
                                  const uint32_t* blockOf, const double* tw1, const double* tw2);

struct TFftKernels {
  TFirstPassKernel FirstPass;
  TSpanKernel Span;
  TSpan2Kernel Span2;
  TSpan3Kernel Span3;
};

void FirstPass_Ref(double* dst, const double* src, size_t n, const uint32_t* blockOf,
                  const double* tw1, const double* tw2);
void Span_Ref(double* data, size_t n, size_t span, const double* tw);
void Span2_Ref(double* data, size_t n, size_t span, const double* tw1, const double* tw2);

#if defined(KORVEL_HAVE_SSE2)
void FirstPass_SSE2(double* dst, const double* src, size_t n, const uint32_t* blockOf,
                   const double* tw1, const double* tw2);
void Span_SSE2(double* data, size_t n, size_t span, const double* tw);
void Span2_SSE2(double* data, size_t n, size_t span, const double* tw1, const double* tw2);
#endif
#if defined(KORVEL_HAVE_AVX2)
void FirstPass_AVX2(double* dst, const double* src, size_t n, const uint32_t* blockOf,
                   const double* tw1, const double* tw2);
void Span_AVX2(double* data, size_t n, size_t span, const double* tw);
void Span2_AVX2(double* data, size_t n, size_t span, const double* tw1, const double* tw2);
void Span3_AVX2(double* data, size_t n, size_t span, const double* tw1, const double* tw2,
                 const double* tw3);
#endif
