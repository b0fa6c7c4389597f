#pragma once
// Sine and cosine in extended precision as the processor computes them. On x86-64 these
// are the x87 fsin / fcos instructions (the transform's twiddle constants and the window
// weights are defined with them); elsewhere the C library's long double functions.
// fsin/fcos reduce their argument with a 66-bit pi, so near multiples of pi they differ
// from a correctly rounded sine; that is part of the definition, not an error.
#include <cmath>

inline constexpr long double kPiExt = 3.14159265358979323846264338327950288L;

inline long double ExtSin(long double x) {
#if defined(__x86_64__) || defined(__i386__)
  __asm__("fsin" : "+t"(x));
  return x;
#else
  return std::sin(x);
#endif
}

inline long double ExtCos(long double x) {
#if defined(__x86_64__) || defined(__i386__)
  __asm__("fcos" : "+t"(x));
  return x;
#else
  return std::cos(x);
#endif
}
