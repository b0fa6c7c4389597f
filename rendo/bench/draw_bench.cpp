// Figures of the drawing primitives and image effects at 1920x1080, in pixels per second,
// printed at the end as ratios to their references measured in the same run:
//   Blur through the engine, and its kernels per level against the scalar reference
//   (goal: the active level at least 2x the reference);
//   FillRect in mode 0 (set) and mode 3 (blend) over the whole picture;
//   DrawText of one line of 8 x 16 text (pixels = the glyph cells drawn).
// Run: build/bench/rendo_draw_bench --benchmark_repetitions=5   (medians are used for the
//      ratios; KORVEL_KERNEL_LEVEL=SSE2 caps the engine's level)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_common.h"
#include "kernels_draw.h"
#include "rendo/rendo.h"

using namespace rendo_kernels;

namespace {

using namespace rendo_bench;

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int64_t kPixels = int64_t(kWidth) * kHeight;

void BlurEngine(benchmark::State& state) {
  const auto src = Pixels(kPixels, 1);
  auto dst = Pixels(kPixels, 2);
  IPixelEngine* e = TheEngine();
  e->SetTarget(dst.data(), kWidth * 4, kWidth, kHeight);
  for (auto _ : state) {
    e->Blur(src.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPixels);
}

void BlurKernel(benchmark::State& state, TKernelLevel level) {
  const TDrawKernelTable* table = DrawKernelTableFor(level);
  if (table == nullptr || !KernelLevelUsable(level)) {
    state.SkipWithError("level not available");
    return;
  }
  const auto src = Pixels(kPixels, 1);
  auto dst = Pixels(kPixels, 2);
  const size_t count = size_t(kWidth) * (kHeight - 2);
  for (auto _ : state) {
    table->Blur(dst.data() + kWidth, src.data() + kWidth, count, kWidth);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPixels);
}

void FillRectMode(benchmark::State& state, int32_t mode) {
  auto dst = Pixels(kPixels, 3);
  IPixelEngine* e = TheEngine();
  e->SetTarget(dst.data(), kWidth * 4, kWidth, kHeight);
  TRendoPen pen{};
  pen.Color = 0x00336699;
  pen.Mode = mode;
  pen.Alpha = 0x00808080;
  const TRendoRect rect{0, 0, kWidth - 1, kHeight - 1};
  for (auto _ : state) {
    e->FillRect(&pen, &rect);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPixels);
}

// An 8 x 16 font for the printable ASCII characters, its glyphs side by side in one mask
// of 95 x 8 bits per row, each glyph a fixed pseudo-random pattern.
struct TBenchFont {
  static constexpr int kGlyphs = 95, kGlyphWidth = 8, kGlyphHeight = 16;
  static constexpr int kPitch = kGlyphs * kGlyphWidth;
  std::vector<uint32_t> Bits = std::vector<uint32_t>((kPitch * kGlyphHeight + 31) / 32);
  std::vector<TRendoGlyph> Glyphs;
  std::string Chars;
  TRendoFont Font{};
  TBenchFont() {
    uint32_t x = 12345;
    for (auto& w : Bits) {
      x = x * 1103515245u + 12345u;
      w = x ^ (x >> 11);
    }
    for (int c = 0; c < kGlyphs; ++c) {
      Chars.push_back(char(' ' + c));
      Glyphs.push_back({uint16_t(c * kGlyphWidth), uint16_t(kGlyphWidth)});
    }
    Font = {Bits.data(), kPitch, kGlyphHeight, Glyphs.data(), Chars.c_str(), 0};
  }
};

void DrawTextLine(benchmark::State& state, int32_t mode) {
  static const TBenchFont font;
  // 240 characters of 8 pixels: one full 1920-pixel line.
  std::string line;
  while (line.size() < 240) line += "The quick brown fox jumps over the lazy dog 0123456789. ";
  line.resize(240);
  auto dst = Pixels(kPixels, 4);
  IPixelEngine* e = TheEngine();
  e->SetTarget(dst.data(), kWidth * 4, kWidth, kHeight);
  const TRendoPoint pos{0, 500};
  for (auto _ : state) {
    benchmark::DoNotOptimize(e->DrawText(&font.Font, line.c_str(), &pos, 0x00FFFFFF, mode));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(line.size()) * TBenchFont::kGlyphWidth *
                          TBenchFont::kGlyphHeight);
}

void PrintRate(const TRatioReporter& r, const std::string& what, double pixels) {
  if (auto it = r.Time.find(what); it != r.Time.end())
    std::printf("  %-28s %8.1f Mpixel/s\n", what.c_str(), pixels / it->second);  // times in microseconds
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("Blur/1920x1080", BlurEngine)->Unit(benchmark::kMicrosecond);
  for (TKernelLevel l : {TKernelLevel::Ref, TKernelLevel::SSE2, TKernelLevel::AVX2})
    if (DrawKernelTableFor(l) != nullptr && KernelLevelUsable(l))
      benchmark::RegisterBenchmark(("Blur_" + std::string(KernelLevelName(l)) + "/1920x1080").c_str(), BlurKernel, l)
          ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("FillRect_mode0/1920x1080", FillRectMode, 0)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("FillRect_mode3/1920x1080", FillRectMode, 3)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("DrawText_mode0/1920x1080", DrawTextLine, 0)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("DrawText_mode1/1920x1080", DrawTextLine, 1)->Unit(benchmark::kMicrosecond);

  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const std::string active = KernelLevelName(ActiveKernelLevel());
  std::printf("\nEngine kernel level: %s\nRates:\n", active.c_str());
  for (const char* name : {"Blur/1920x1080", "FillRect_mode0/1920x1080", "FillRect_mode3/1920x1080"})
    PrintRate(reporter, name, double(kPixels));
  for (const char* name : {"DrawText_mode0/1920x1080", "DrawText_mode1/1920x1080"}) PrintRate(reporter, name, 240.0 * 128);
  std::printf("Ratios (reference time / time; higher is faster):\n");
  PrintRatio(reporter, "Blur_" + active + "/1920x1080", "Blur_Ref/1920x1080", 2.0);
  PrintRatio(reporter, "Blur_SSE2/1920x1080", "Blur_Ref/1920x1080", 0.0);
  PrintRatio(reporter, "Blur/1920x1080", "Blur_Ref/1920x1080", 2.0);
  benchmark::Shutdown();
  return 0;
}
