// Figures of the pixel engine, each printed at the end as a ratio to its reference
// measured in the same run (higher is better):
//   flat family through the engine vs memcpy of the same bytes and vs pixman's ADD on
//   a8r8g8b8 images, at 220x60, 1920x1080 and 3840x2160;
//   Desaturate kernels in pixels per second, AVX2 vs SSE2 (and vs the reference);
//   the history strip's whole redraw sequence per call.
// Run: build/bench/rendo_bench --benchmark_repetitions=5   (medians are used for the ratios;
//      KORVEL_KERNEL_LEVEL=SSE2 caps the engine's level)
#include <benchmark/benchmark.h>

#include <QImage>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_common.h"
#include "DIBSurf.h"
#include "kernels_flat.h"
#include "rendo/rendo.h"

#if defined(RENDO_BENCH_PIXMAN)
#include <pixman.h>
#endif

using namespace rendo_kernels;

namespace {

using namespace rendo_bench;

struct TSize {
  int W, H;
};
const TSize kSizes[] = {{220, 60}, {1920, 1080}, {3840, 2160}};

std::string SizeName(int i) { return std::to_string(kSizes[i].W) + "x" + std::to_string(kSizes[i].H); }

void Memcpy(benchmark::State& state, int size) {
  const auto s = kSizes[size];
  const size_t n = size_t(s.W) * s.H;
  auto src = Pixels(n, 1), dst = Pixels(n, 2);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), n * 4);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n) * 4);
}

template <void (IPixelEngine::*Op)(const void*, int32_t)>
void EngineFlat(benchmark::State& state, int size) {
  const auto s = kSizes[size];
  const size_t n = size_t(s.W) * s.H;
  auto src = Pixels(n, 1), dst = Pixels(n, 2);
  IPixelEngine* e = TheEngine();
  e->SetTarget(dst.data(), s.W * 4, uint32_t(s.W), uint32_t(s.H));
  for (auto _ : state) {
    (e->*Op)(src.data(), int32_t(n));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n) * 4);
}

#if defined(RENDO_BENCH_PIXMAN)
void PixmanAdd(benchmark::State& state, int size) {
  const auto s = kSizes[size];
  const size_t n = size_t(s.W) * s.H;
  auto src = Pixels(n, 1), dst = Pixels(n, 2);
  pixman_image_t* si = pixman_image_create_bits(PIXMAN_a8r8g8b8, s.W, s.H, src.data(), s.W * 4);
  pixman_image_t* di = pixman_image_create_bits(PIXMAN_a8r8g8b8, s.W, s.H, dst.data(), s.W * 4);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_ADD, si, nullptr, di, 0, 0, 0, 0, 0, 0, s.W, s.H);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(si);
  pixman_image_unref(di);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n) * 4);
}
#endif

// Desaturate at the strip's size and a large one, kernel by kernel, in place.
void DesaturateKernel(benchmark::State& state, int size, TKernelLevel level) {
  const TFlatKernelTable* table = FlatKernelTableFor(level);
  if (table == nullptr || !KernelLevelUsable(level)) {
    state.SkipWithError("level not available");
    return;
  }
  const auto s = kSizes[size];
  const size_t n = size_t(s.W) * s.H;
  auto pixels = Pixels(n, 3);
  for (auto _ : state) {
    table->DesaturateSsePath(pixels.data(), pixels.data(), n, 128);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

// The history strip's redraw as the main window does it: clear the history surface,
// draw 220 columns, put the background on the strip surface, bind, subtract, desaturate.
void HistoryRedraw(benchmark::State& state) {
  TDIBSurface history(220, 60, 32), strip(220, 60, 32);
  QImage background(220, 60, QImage::Format_RGB32);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 220; ++x) background.setPixel(x, y, qRgb(x, y * 4, 255 - x));
  std::vector<float> values(220);
  for (int i = 0; i < 220; ++i) values[i] = float(i % 97) / 97.0f;
  IPixelEngine* e = TheEngine();
  int level = 0;
  for (auto _ : state) {
    std::memset(history.Bits(), 0, history.ImageBytes());
    TDIBCanvas& c = history.Canvas();
    c.Pen.Style = TPenStyle::psSolid;
    for (int col = 0; col < 220; ++col) {
      const int a = int(values[col] * 60.0f);
      if (a > 0) {
        const uint32_t g = uint8_t(39 - a / 2);
        c.Pen.Color = g * 65793;
        c.MoveTo(col, 59);
        c.LineTo(col, a);
      }
    }
    strip.Canvas().Draw(0, 0, background);
    strip.BindTarget(e);
    e->SubtractSaturated(history.Bits(), 13200);
    e->Desaturate(strip.Bits(), 880, uint32_t(level));
    level = (level + 4) & 255;
    benchmark::ClobberMemory();
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 0; i < 3; ++i) {
    const std::string sz = SizeName(i);
    benchmark::RegisterBenchmark(("memcpy/" + sz).c_str(), Memcpy, i);
#if defined(RENDO_BENCH_PIXMAN)
    benchmark::RegisterBenchmark(("pixman_ADD/" + sz).c_str(), PixmanAdd, i);
#endif
    benchmark::RegisterBenchmark(("SubtractSaturated/" + sz).c_str(), EngineFlat<&IPixelEngine::SubtractSaturated>, i);
    benchmark::RegisterBenchmark(("AddSaturated/" + sz).c_str(), EngineFlat<&IPixelEngine::AddSaturated>, i);
    benchmark::RegisterBenchmark(("CopyFlat/" + sz).c_str(), EngineFlat<&IPixelEngine::CopyFlat>, i);
  }
  for (int i : {0, 1})
    for (TKernelLevel l : {TKernelLevel::Ref, TKernelLevel::SSE2, TKernelLevel::AVX2})
      if (FlatKernelTableFor(l) != nullptr && KernelLevelUsable(l))
        benchmark::RegisterBenchmark(("Desaturate_" + std::string(KernelLevelName(l)) + "/" + SizeName(i)).c_str(),
                                     DesaturateKernel, i, l);
  benchmark::RegisterBenchmark("HistoryRedraw/220x60", HistoryRedraw)->Unit(benchmark::kMicrosecond);

  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nEngine kernel level: %s\nRatios (reference time / time; higher is faster):\n",
              KernelLevelName(ActiveKernelLevel()));
  for (int i = 0; i < 3; ++i) {
    const std::string sz = SizeName(i);
    const double memcpyGoal = i < 2 ? 1.0 : 0.0;
    for (const char* op : {"SubtractSaturated", "AddSaturated", "CopyFlat"}) {
      PrintRatio(reporter, std::string(op) + "/" + sz, "memcpy/" + sz, memcpyGoal);
      PrintRatio(reporter, std::string(op) + "/" + sz, "pixman_ADD/" + sz, 1.0);
    }
  }
  for (int i : {0, 1}) {
    PrintRatio(reporter, "Desaturate_AVX2/" + SizeName(i), "Desaturate_SSE2/" + SizeName(i), 2.0);
    PrintRatio(reporter, "Desaturate_SSE2/" + SizeName(i), "Desaturate_Ref/" + SizeName(i), 0.0);
  }
  if (auto it = reporter.Time.find("HistoryRedraw/220x60"); it != reporter.Time.end())
    std::printf("  HistoryRedraw per call: %.2f us\n", it->second);
  benchmark::Shutdown();
  return 0;
}
