// Every built level of the colour kernels against their references, in one run, on
// seeded random data: counts around the register widths and a large odd one, starts one
// to three pixels off alignment, in-place use, 0x00/0xFF-heavy bytes, and weights of
// 0, 1, 128, 255 and random in every lane including the fourth.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kernels_colour.h"
#include "kernels_colour_ref.h"
#include "kernel_compare.h"

using namespace rendo_kernels;

namespace {

const std::vector<size_t> kCounts = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 1001, 1024, 5003};

// Weights and colours: the extremes in every lane, and random ones.
std::vector<uint32_t> Arguments() {
  std::mt19937 rng(12345);
  std::vector<uint32_t> args = {0x00000000, 0xFFFFFFFF, 0x00FFFFFF, 0x00808080, 0x01010101, 0x80FF0001, 0xFF000000};
  for (int i = 0; i < 4; ++i) args.push_back(rng());
  return args;
}

// A kernel call under test: (table, dst, a, b, count, arg). a and b are two independent
// random sources; in the in-place pass a is dst itself.
using TCall = std::function<void(const TColourKernelTable&, uint32_t*, const uint32_t*,
                                 const uint32_t*, size_t, uint32_t)>;

void Compare(const char* op, const TCall& call, bool inPlaceToo) {
  CompareWithReference(op, ColourKernelTableFor, kCounts, Arguments(), inPlaceToo, call, 12345);
}

TEST(RendoColourKernels, LevelsUnderTest) {
  const auto levels = SimdLevelsWith(ColourKernelTableFor);
  std::string text = "colour kernels compared:";
  for (TKernelLevel l : levels) text += std::string(" ") + KernelLevelName(l);
  std::printf("%s\n", text.c_str());
  ASSERT_NE(ColourKernelTableFor(TKernelLevel::Ref), nullptr);
}

// ScaleAdd with the addends of its three operations (0, ~f, and a scaled colour) and a free
// one; MixTwo with independent weights, and with alpha and its complement as the stretch
// blends and TileBlend use it; Lerp with the under-image the target itself (dst == b).
TEST(RendoColourKernels, ArithmeticAndMixesMatchTheReference) {
  using namespace rendo_ref;
  constexpr uint32_t kHash = 2654435761u;  // multiplicative hash: a second word unlike the argument
  const struct {
    const char* Name;
    bool InPlaceToo;  // also with a = dst
    TCall Call;
  } ops[] = {
      {"ScaleAdd/FadeToBlack", true,
       [](auto& t, auto d, auto a, auto, auto n, auto f) { t.ScaleAdd(d, a, n, f, 0); }},
      {"ScaleAdd/FadeToWhite", true,
       [](auto& t, auto d, auto a, auto, auto n, auto f) {
         t.ScaleAdd(d, a, n, f, FadeToWhiteAddend(f));
       }},
      {"ScaleAdd/BlendColor", true,
       [](auto& t, auto d, auto a, auto, auto n, auto f) {
         t.ScaleAdd(d, a, n, ComplementWeight(f), BlendColorAddend(0xC0FF4011u, f));
       }},
      {"ScaleAdd", true,
       [](auto& t, auto d, auto a, auto, auto n, auto f) { t.ScaleAdd(d, a, n, f, f * kHash); }},
      {"AddScaled", true,
       [](auto& t, auto d, auto a, auto, auto n, auto f) { t.AddScaled(d, a, n, f); }},
      {"AddColor", true,
       [](auto& t, auto d, auto a, auto, auto n, auto c) { t.AddColor(d, a, n, c); }},
      {"SubtractColor", true,
       [](auto& t, auto d, auto a, auto, auto n, auto c) { t.SubtractColor(d, a, n, c); }},
      {"Invert", true, [](auto& t, auto d, auto a, auto, auto n, auto) { t.Invert(d, a, n); }},
      {"Fill", false, [](auto& t, auto d, auto, auto, auto n, auto c) { t.Fill(d, n, c); }},
      {"MixTwo", true,
       [](auto& t, auto d, auto a, auto b, auto n, auto w) { t.MixTwo(d, a, b, n, w, w * kHash); }},
      {"MixTwo/complement", true,
       [](auto& t, auto d, auto a, auto b, auto n, auto w) {
         t.MixTwo(d, a, b, n, w, ComplementWeight(w));
       }},
      {"Lerp", true,
       [](auto& t, auto d, auto a, auto b, auto n, auto w) { t.Lerp(d, a, b, n, w); }},
      {"Lerp/under in place", false,
       [](auto& t, auto d, auto a, auto, auto n, auto w) { t.Lerp(d, a, d, n, w); }},
  };
  for (const auto& op : ops) Compare(op.Name, op.Call, op.InPlaceToo);
}

TEST(RendoColourKernels, ScaleChannelsMatchesTheReferenceAcrossTheGainRange) {
  // Gains around unity, the overflow at 2048, negative ones and red's upper half.
  const int32_t gains[][3] = {{256, 256, 256}, {512, 0, 0},    {0, 1, 2047},     {2048, 2047, 4096},
                              {-1, 300, 65536 + 256}, {1000, 77, 129}, {0x12345, -70000, 0x7FFFFFFF}};
  for (const auto& g : gains) {
    const uint64_t lanes = rendo_ref::ChannelGains(g[0], g[1], g[2]);
    Compare("ScaleChannels", [lanes](auto& t, uint32_t* d, const uint32_t* a, const uint32_t*, size_t n, uint32_t) {
      t.ScaleChannels(d, a, n, lanes);
    }, true);
  }
}

TEST(RendoColourKernels, LookupsAndGathersMatchTheReference) {
  std::mt19937 rng(7);
  const auto palette = RandomPixels(256, rng);
  Compare("MapPalette", [&](auto& t, uint32_t* d, const uint32_t* a, const uint32_t*, size_t n, uint32_t) {
    t.MapPalette(d, a, n, palette.data());
  }, true);

  // Offsets anywhere in a 4 KiB block, unaligned ones included, some negative from its middle.
  std::vector<uint8_t> block(4096 + 4);
  for (auto& byte : block) byte = uint8_t(rng());
  Compare("GatherOffsets", [&](auto& t, uint32_t* d, const uint32_t* a, const uint32_t*, size_t n, uint32_t) {
    std::vector<int32_t> offsets(n);
    for (size_t i = 0; i < n; ++i) offsets[i] = int32_t(a[i] % 4097) - 2048;
    t.GatherOffsets(d, block.data() + 2048, offsets.data(), n);
  }, false);

  // Nearest-neighbour rows: up- and down-scaling steps, a start inside the row, and a
  // 64-bit walk past 2^31 (a source of 40000 pixels).
  const auto row = RandomPixels(40000, rng);
  for (int64_t step : {int64_t(0), int64_t(1), int64_t(16384), int64_t(65536), int64_t(65536 * 3 + 7),
                       int64_t(40000) * 65536 / 1001})
    Compare("StretchGather", [&](auto& t, uint32_t* d, const uint32_t*, const uint32_t*, size_t n, uint32_t arg) {
      const int64_t start = int64_t(arg % 16) << 16;
      if (start + step * int64_t(n) >= (int64_t(40000) << 16)) return;  // the caller keeps inside
      t.StretchGather(d, row.data(), n, start, step);
    }, false);
}

TEST(RendoColourKernels, PackTo24MatchesTheReference) {
  std::mt19937 rng(9);
  for (TKernelLevel level : SimdLevelsWith(ColourKernelTableFor))
    for (size_t groups : {0, 1, 2, 3, 4, 5, 7, 8, 9, 250})
      for (size_t offset = 0; offset < 4; ++offset) {
        const auto src = RandomPixels(groups * 4 + 4, rng);
        std::vector<uint8_t> want(groups * 12 + 32, 0xA5), got(want);
        rendo_ref::PackTo24_Ref(want.data() + 8 + offset, src.data() + offset % 2, groups);
        ColourKernelTableFor(level)->PackTo24(got.data() + 8 + offset, src.data() + offset % 2, groups);
        ASSERT_EQ(want, got) << "PackTo24_" << KernelLevelName(level) << " groups " << groups << " offset " << offset;
      }
}

}  // namespace
