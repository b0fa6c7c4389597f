#pragma once
// The compare harness of the kernel tests of every family (flat, colour, draw): seeded
// random pixels biased towards the bytes where saturation and 16-bit lane arithmetic go
// wrong, the SIMD levels this processor runs, the guard pixels around a run and the
// report of the first pixel where a level differs from the reference.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "levels.h"

// Pixels around each run under test: a kernel must not touch them.
inline constexpr size_t kGuard = 8;

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

// "<op>_<level> count .. offset .. arg ..: pixel i (run pixel i - guard - offset) want .. got ..",
// or empty when the two agree.
inline std::string FirstDifference(const char* op, rendo_kernels::TKernelLevel level, size_t count, size_t offset,
                                   uint32_t arg, const std::vector<uint32_t>& want, const std::vector<uint32_t>& got) {
  for (size_t i = 0; i < want.size(); ++i)
    if (want[i] != got[i]) {
      char text[240];
      std::snprintf(text, sizeof text, "%s_%s count %zu offset %zu arg %08x: pixel %zu (run pixel %td) want %08x got %08x",
                    op, rendo_kernels::KernelLevelName(level), count, offset, arg, i,
                    std::ptrdiff_t(i) - std::ptrdiff_t(kGuard + offset), want[i], got[i]);
      return text;
    }
  return {};
}

// Runs call(table, dst, a, b, count, arg) on the reference table and on every SIMD level's
// table that `tableFor` gives and this processor runs, for each count, start 0 to 3 pixels
// off alignment and argument: dst, a and b are seeded random runs of `count` pixels with
// guards around dst; in place too (a is dst itself) when inPlaceToo. The whole buffers,
// guards included, and any value the call returns must agree.
template <class TTable, class TCall>
void CompareWithReference(const char* op, const TTable* (*tableFor)(rendo_kernels::TKernelLevel),
                          const std::vector<size_t>& counts, const std::vector<uint32_t>& args,
                          bool inPlaceToo, TCall call, uint32_t seed = 1) {
  using rendo_kernels::TKernelLevel;
  // A call that returns nothing answers 0, so that both kinds compare alike.
  auto run = [&](const TTable& t, uint32_t* d, const uint32_t* a, const uint32_t* b, size_t n, uint32_t arg) {
    if constexpr (std::is_void_v<decltype(call(t, d, a, b, n, arg))>) {
      call(t, d, a, b, n, arg);
      return 0;
    } else {
      return call(t, d, a, b, n, arg);
    }
  };
  const TTable& ref = *tableFor(TKernelLevel::Ref);
  std::mt19937 rng(seed);
  for (TKernelLevel level : SimdLevelsWith(tableFor))
    for (size_t count : counts)
      for (size_t offset = 0; offset < 4; ++offset)
        for (uint32_t arg : args) {
          const size_t size = count + offset + 2 * kGuard, at = kGuard + offset;
          const auto dst0 = RandomPixels(size, rng), a = RandomPixels(size, rng), b = RandomPixels(size, rng);
          for (bool inPlace : {false, true}) {
            if (inPlace && !inPlaceToo) break;
            auto want = dst0, got = dst0;
            const auto wantResult = run(ref, want.data() + at, (inPlace ? want : a).data() + at, b.data() + at, count, arg);
            const auto gotResult =
                run(*tableFor(level), got.data() + at, (inPlace ? got : a).data() + at, b.data() + at, count, arg);
            ASSERT_EQ(want, got) << (inPlace ? "in place: " : "")
                                 << FirstDifference(op, level, count, offset, arg, want, got);
            ASSERT_EQ(wantResult, gotResult) << op << "_" << rendo_kernels::KernelLevelName(level) << " count "
                                             << count << " arg " << arg << (inPlace ? " in place" : "");
          }
        }
}
