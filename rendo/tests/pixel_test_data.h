#pragma once
// Test data shared by the kernel tests: seeded random pixels biased towards the bytes where
// saturation and 16-bit lane arithmetic go wrong, and the SIMD levels this processor runs.
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "kernels_flat.h"

// Each byte is 0x00, 0xFF or 0x80 with probability 1/8 each, else random. Two draws of the
// generator per pixel, in this order, so a seed always gives the same pictures.
inline std::vector<uint32_t> RandomPixels(size_t n, std::mt19937& rng) {
  std::vector<uint32_t> v(n);
  for (auto& p : v) {
    const uint32_t r = rng(), pick = rng();
    p = 0;
    for (int b = 0; b < 4; ++b) {
      const uint32_t kind = (pick >> (3 * b)) & 7;
      const uint32_t byte = kind == 0 ? 0x00 : kind == 1 ? 0xFF : kind == 2 ? 0x80 : (r >> (8 * b)) & 0xFF;
      p |= byte << (8 * b);
    }
  }
  return v;
}

inline std::vector<uint32_t> RandomPixels(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  return RandomPixels(n, rng);
}

// The SIMD levels above the reference that this processor runs and for which `tableFor`
// has a table.
template <class TTableFor>
std::vector<rendo_kernels::TKernelLevel> SimdLevelsWith(TTableFor tableFor) {
  using rendo_kernels::TKernelLevel;
  std::vector<TKernelLevel> levels;
  for (TKernelLevel l : {TKernelLevel::SSE2, TKernelLevel::AVX2})
    if (rendo_kernels::KernelLevelUsable(l) && tableFor(l) != nullptr) levels.push_back(l);
  return levels;
}
