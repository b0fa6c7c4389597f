// Every built level of the drawing and effect kernels against their references, in one
// run, on seeded random data: counts around the register widths and a large odd one,
// starts off alignment, in-place use where the kernel allows it, guard pixels around the
// run, and every accumulator start, step pattern and amount class of the noise kernels.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "kernels_draw.h"
#include "kernel_compare.h"

using namespace rendo_kernels;

namespace {

const std::vector<size_t> kCounts = {0, 1, 2, 3, 4, 5, 7, 8, 9, 11, 12, 13, 15, 16, 17, 23, 24, 25, 31, 33, 65, 4097};

std::vector<TKernelLevel> SimdLevels() { return SimdLevelsWith(DrawKernelTableFor); }


TEST(RendoDrawKernels, BlurMatchesTheReference) {
  const TDrawKernelTable& ref = *DrawKernelTableFor(TKernelLevel::Ref);
  uint32_t seed = 1;
  for (TKernelLevel level : SimdLevels()) {
    const TDrawKernelTable& simd = *DrawKernelTableFor(level);
    for (size_t width : {1u, 2u, 3u, 5u, 8u, 13u, 64u, 1921u})
      for (size_t count : kCounts)
        for (size_t offset = 0; offset < 4; ++offset) {
          // The source holds the rows above and below the run plus one pixel either side.
          const auto src = RandomPixels(count + 2 * width + 2 + offset, seed++);
          const auto dst0 = RandomPixels(count + offset + 2 * kGuard, seed++);
          auto want = dst0, got = dst0;
          const uint32_t* s = src.data() + width + 1 + offset;
          ref.Blur(want.data() + kGuard + offset, s, count, width);
          simd.Blur(got.data() + kGuard + offset, s, count, width);
          ASSERT_EQ(want, got) << "width " << width << ": " << FirstDifference("Blur", level, count, offset, 0, want, got);
        }
  }
}

TEST(RendoDrawKernels, NoiseMatchesTheReference) {
  const TDrawKernelTable& ref = *DrawKernelTableFor(TKernelLevel::Ref);
  std::mt19937 rng(7);
  uint32_t seed = 100;
  for (TKernelLevel level : SimdLevels()) {
    const TDrawKernelTable& simd = *DrawKernelTableFor(level);
    for (bool add : {true, false})
      for (size_t pairs : kCounts)
        for (uint32_t amount : {1u, 2u, 77u, 128u, 254u, 255u})
          for (int trial = 0; trial < 3; ++trial) {
            const size_t offset = trial;
            const uint8_t g = uint8_t(trial == 0 ? 0 : trial == 1 ? 255 : rng());
            const uint32_t steps = trial == 0 ? 0 : rng() & 0xFFFFFF;
            const size_t n = 2 * pairs;
            const auto src = RandomPixels(n + offset + 2 * kGuard, seed++);
            const auto dst0 = RandomPixels(n + offset + 2 * kGuard, seed++);
            const auto kernelRef = add ? ref.AddNoise : ref.SubtractNoise;
            const auto kernelSimd = add ? simd.AddNoise : simd.SubtractNoise;
            auto want = dst0, got = dst0;
            const uint8_t gWant =
                kernelRef(want.data() + kGuard + offset, src.data() + kGuard + offset, pairs, g, steps, amount);
            const uint8_t gGot =
                kernelSimd(got.data() + kGuard + offset, src.data() + kGuard + offset, pairs, g, steps, amount);
            const char* op = add ? "AddNoise" : "SubtractNoise";
            ASSERT_EQ(want, got) << "amount " << amount << " g " << int(g) << " steps " << steps << ": "
                                 << FirstDifference(op, level, pairs, offset, 0, want, got);
            ASSERT_EQ(gWant, gGot) << op << " accumulator after " << pairs << " pairs";
            // In place.
            auto wantIn = dst0, gotIn = dst0;
            uint32_t* w = wantIn.data() + kGuard + offset;
            uint32_t* o = gotIn.data() + kGuard + offset;
            kernelRef(w, w, pairs, g, steps, amount);
            kernelSimd(o, o, pairs, g, steps, amount);
            ASSERT_EQ(wantIn, gotIn) << "in place: " << FirstDifference(op, level, pairs, offset, 0, wantIn, gotIn);
          }
  }
}

TEST(RendoDrawKernels, EmbossAndSepiaMatchTheReference) {
  const TDrawKernelTable& ref = *DrawKernelTableFor(TKernelLevel::Ref);
  uint32_t seed = 5000;
  for (TKernelLevel level : SimdLevels()) {
    const TDrawKernelTable& simd = *DrawKernelTableFor(level);
    for (size_t count : kCounts)
      for (size_t offset = 0; offset < 4; ++offset) {
        const auto src = RandomPixels(count + offset + 2 * kGuard, seed++);
        const auto dst0 = RandomPixels(count + offset + 2 * kGuard, seed++);
        struct TOp {
          const char* Name;
          TPixelKernel Ref, Simd;
        };
        for (const TOp& op : {TOp{"Emboss", ref.Emboss, simd.Emboss}, TOp{"Sepia", ref.Sepia, simd.Sepia}}) {
          auto want = dst0, got = dst0;
          op.Ref(want.data() + kGuard + offset, src.data() + kGuard + offset, count);
          op.Simd(got.data() + kGuard + offset, src.data() + kGuard + offset, count);
          ASSERT_EQ(want, got) << FirstDifference(op.Name, level, count, offset, 0, want, got);
          auto wantIn = src, gotIn = src;
          op.Ref(wantIn.data() + kGuard + offset, wantIn.data() + kGuard + offset, count);
          op.Simd(gotIn.data() + kGuard + offset, gotIn.data() + kGuard + offset, count);
          ASSERT_EQ(wantIn, gotIn) << "in place: " << FirstDifference(op.Name, level, count, offset, 0, wantIn, gotIn);
        }
      }
  }
}

}  // namespace
