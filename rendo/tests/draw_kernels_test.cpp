// Every built level of the drawing and effect kernels against their references, in one
// run, on seeded random data: counts around the register widths and a large odd one,
// starts off alignment, in-place use where the kernel allows it, guard pixels around the
// run, and every accumulator start, step pattern and amount class of the noise kernels.
#include <gtest/gtest.h>

#include <vector>

#include "kernels_draw.h"
#include "kernel_compare.h"

using namespace rendo_kernels;

namespace {

const std::vector<size_t> kCounts = {0, 1, 2, 3, 4, 5, 7, 8, 9, 11, 12, 13, 15, 16, 17, 23, 24, 25, 31, 33, 65, 4097};

TEST(RendoDrawKernels, BlurMatchesTheReference) {
  const TDrawKernelTable& ref = *DrawKernelTableFor(TKernelLevel::Ref);
  uint32_t seed = 1;
  for (TKernelLevel level : SimdLevelsWith(DrawKernelTableFor)) {
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

// Runs of 2 x pairs pixels; the argument carries the amount (low byte) and which start of
// the accumulator and step pattern (above it): zero, full, or drawn from the argument.
TEST(RendoDrawKernels, NoiseMatchesTheReference) {
  std::vector<size_t> runs;
  for (size_t pairs : kCounts) runs.push_back(2 * pairs);
  std::vector<uint32_t> args;
  for (uint32_t amount : {1u, 2u, 77u, 128u, 254u, 255u})
    for (uint32_t trial = 0; trial < 3; ++trial) args.push_back(amount | trial << 8);
  for (auto [name, slot] : {std::pair{"AddNoise", &TDrawKernelTable::AddNoise}, {"SubtractNoise", &TDrawKernelTable::SubtractNoise}})
    CompareWithReference(name, DrawKernelTableFor, runs, args, true,
                         [&](const TDrawKernelTable& t, uint32_t* d, const uint32_t* a, const uint32_t*, size_t n,
                             uint32_t arg) {
                           const uint32_t trial = arg >> 8, drawn = arg * 2654435761u;
                           const uint8_t g = uint8_t(trial == 0 ? 0 : trial == 1 ? 255 : drawn >> 24);
                           return (t.*slot)(d, a, n / 2, g, trial == 0 ? 0 : drawn & 0xFFFFFF, arg & 0xFF);
                         }, 100);
}

TEST(RendoDrawKernels, EmbossAndSepiaMatchTheReference) {
  for (auto [name, slot] : {std::pair{"Emboss", &TDrawKernelTable::Emboss}, {"Sepia", &TDrawKernelTable::Sepia}})
    CompareWithReference(name, DrawKernelTableFor, kCounts, {0}, true,
                         [&](const TDrawKernelTable& t, uint32_t* d, const uint32_t* a, const uint32_t*, size_t n,
                             uint32_t) { (t.*slot)(d, a, n); }, 5000);
}

}  // namespace
