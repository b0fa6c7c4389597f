// Figures of the colour arithmetic, copy and stretch operations at 220x60 and 1920x1080,
// printed at the end as ratios to their references measured in the same run (reference
// time / time, higher is faster):
//   Copy and Fill through the engine against memcpy / memset of the same bytes (goal 1.0x);
//   MixTwo, BlendColor, FadeToBlack and Stretch in pixels per second against the pixman
//   composite that does the same kind of work (goal: ahead on every row):
//     Copy         pixman SRC 8888 -> 8888
//     Fill         pixman_fill
//     MixTwo       pixman OVER of a source through a solid mask onto the destination
//                  (a weighted sum of two images)
//     BlendColor   pixman OVER of a translucent solid colour onto a copy of the source
//                  (the engine reads a source and writes the target; pixman blends in place)
//     FadeToBlack  pixman SRC of the source through a solid mask (source times a factor)
//     Stretch      pixman SRC with a nearest-neighbour 2x up-scaling transform
// Run: build/bench/rendo_colour_bench --benchmark_repetitions=5   (medians are used for the
//      ratios; KORVEL_KERNEL_LEVEL=SSE2 caps the engine's level)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_common.h"
#include "kernels_flat.h"
#include "rendo/rendo.h"

#if defined(RENDO_BENCH_PIXMAN)
#include <pixman.h>
#endif

namespace {

using namespace rendo_bench;

struct TSize {
  int W, H;
};
const TSize kSizes[] = {{220, 60}, {1920, 1080}};

std::string SizeName(int i) { return std::to_string(kSizes[i].W) + "x" + std::to_string(kSizes[i].H); }
int64_t PixelCount(int i) { return int64_t(kSizes[i].W) * kSizes[i].H; }

void Finish(benchmark::State& state, int size) {
  state.SetItemsProcessed(int64_t(state.iterations()) * PixelCount(size));
  state.SetBytesProcessed(int64_t(state.iterations()) * PixelCount(size) * 4);
}

// References without pixman -------------------------------------------------------------

void Memcpy(benchmark::State& state, int size) {
  const auto src = Pixels(size_t(PixelCount(size)), 1);
  auto dst = Pixels(size_t(PixelCount(size)), 2);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), dst.size() * 4);
    benchmark::ClobberMemory();
  }
  Finish(state, size);
}

void Memset(benchmark::State& state, int size) {
  auto dst = Pixels(size_t(PixelCount(size)), 2);
  for (auto _ : state) {
    std::memset(dst.data(), 0x5A, dst.size() * 4);
    benchmark::ClobberMemory();
  }
  Finish(state, size);
}

// The engine ----------------------------------------------------------------------------

// Every operation on a packed target of the full size with a packed source: one run.
template <typename TOp>
void Engine(benchmark::State& state, int size, TOp op) {
  const auto s = kSizes[size];
  const auto a = Pixels(size_t(PixelCount(size)), 1), b = Pixels(size_t(PixelCount(size)), 3);
  auto dst = Pixels(size_t(PixelCount(size)), 2);
  IPixelEngine* e = TheEngine();
  e->SetTarget(dst.data(), s.W * 4, uint32_t(s.W), uint32_t(s.H));
  for (auto _ : state) {
    op(e, a.data(), b.data(), s.W * 4);
    benchmark::ClobberMemory();
  }
  Finish(state, size);
}

void Copy(benchmark::State& state, int size) {
  Engine(state, size, [](IPixelEngine* e, const uint32_t* a, const uint32_t*, int32_t st) { e->Copy(a, st); });
}
void Fill(benchmark::State& state, int size) {
  Engine(state, size, [](IPixelEngine* e, const uint32_t*, const uint32_t*, int32_t) { e->Fill(0x5A5A5A5A); });
}
void MixTwo(benchmark::State& state, int size) {
  Engine(state, size, [](IPixelEngine* e, const uint32_t* a, const uint32_t* b, int32_t st) {
    e->MixTwo(a, st, b, st, 0x00A0A0A0, 0x005F5F5F);
  });
}
void BlendColor(benchmark::State& state, int size) {
  Engine(state, size, [](IPixelEngine* e, const uint32_t* a, const uint32_t*, int32_t st) {
    e->BlendColor(a, st, 0x00336699, 0x00808080);
  });
}
void FadeToBlack(benchmark::State& state, int size) {
  Engine(state, size, [](IPixelEngine* e, const uint32_t* a, const uint32_t*, int32_t st) {
    e->FadeToBlack(a, st, 0x00808080);
  });
}

// Nearest-neighbour 2x up-scaling of a (W/2) x (H/2) source to the full size.
void Stretch(benchmark::State& state, int size) {
  const auto s = kSizes[size];
  const auto src = Pixels(size_t(s.W / 2) * (s.H / 2), 1);
  auto dst = Pixels(size_t(PixelCount(size)), 2);
  IPixelEngine* e = TheEngine();
  e->SetTarget(dst.data(), s.W * 4, uint32_t(s.W), uint32_t(s.H));
  for (auto _ : state) {
    e->Stretch(src.data(), s.W, s.W / 2, s.H, s.H / 2);
    benchmark::ClobberMemory();
  }
  Finish(state, size);
}

// pixman ----------------------------------------------------------------------------------

#if defined(RENDO_BENCH_PIXMAN)
pixman_image_t* Image(std::vector<uint32_t>& v, int w, int h, pixman_format_code_t format = PIXMAN_x8r8g8b8) {
  return pixman_image_create_bits(format, w, h, v.data(), w * 4);
}

pixman_image_t* Solid(uint16_t grey, uint16_t alpha) {
  const pixman_color_t c = {grey, grey, grey, alpha};
  return pixman_image_create_solid_fill(&c);
}

template <typename TOp>
void Pixman(benchmark::State& state, int size, TOp op) {
  const auto s = kSizes[size];
  auto a = Pixels(size_t(PixelCount(size)), 1), dst = Pixels(size_t(PixelCount(size)), 2);
  pixman_image_t* ai = Image(a, s.W, s.H);
  pixman_image_t* di = Image(dst, s.W, s.H);
  for (auto _ : state) {
    op(ai, di, s.W, s.H, a, dst);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(ai);
  pixman_image_unref(di);
  Finish(state, size);
}

void PixmanSrc(benchmark::State& state, int size) {
  Pixman(state, size, [](pixman_image_t* a, pixman_image_t* d, int w, int h, auto&, auto&) {
    pixman_image_composite32(PIXMAN_OP_SRC, a, nullptr, d, 0, 0, 0, 0, 0, 0, w, h);
  });
}

void PixmanFill(benchmark::State& state, int size) {
  Pixman(state, size, [](pixman_image_t*, pixman_image_t*, int w, int h, auto&, std::vector<uint32_t>& dst) {
    pixman_fill(dst.data(), w, 32, 0, 0, w, h, 0x5A5A5A5A);
  });
}

void PixmanOverMasked(benchmark::State& state, int size) {
  pixman_image_t* mask = Solid(0xA0A0, 0xA0A0);
  const auto s = kSizes[size];
  auto a = Pixels(size_t(PixelCount(size)), 1), dst = Pixels(size_t(PixelCount(size)), 2);
  pixman_image_t* ai = Image(a, s.W, s.H, PIXMAN_a8r8g8b8);
  pixman_image_t* di = Image(dst, s.W, s.H);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, ai, mask, di, 0, 0, 0, 0, 0, 0, s.W, s.H);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(ai);
  pixman_image_unref(di);
  pixman_image_unref(mask);
  Finish(state, size);
}

void PixmanOverSolid(benchmark::State& state, int size) {
  pixman_image_t* colour = Solid(0x6666, 0x8080);
  Pixman(state, size, [colour](pixman_image_t*, pixman_image_t* d, int w, int h, auto&, auto&) {
    pixman_image_composite32(PIXMAN_OP_OVER, colour, nullptr, d, 0, 0, 0, 0, 0, 0, w, h);
  });
  pixman_image_unref(colour);
}

void PixmanSrcMasked(benchmark::State& state, int size) {
  pixman_image_t* mask = Solid(0x8080, 0x8080);
  Pixman(state, size, [mask](pixman_image_t* a, pixman_image_t* d, int w, int h, auto&, auto&) {
    pixman_image_composite32(PIXMAN_OP_SRC, a, mask, d, 0, 0, 0, 0, 0, 0, w, h);
  });
  pixman_image_unref(mask);
}

void PixmanNearest(benchmark::State& state, int size) {
  const auto s = kSizes[size];
  auto src = Pixels(size_t(s.W / 2) * (s.H / 2), 1), dst = Pixels(size_t(PixelCount(size)), 2);
  pixman_image_t* si = Image(src, s.W / 2, s.H / 2);
  pixman_image_t* di = Image(dst, s.W, s.H);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(0.5), pixman_double_to_fixed(0.5));
  pixman_image_set_transform(si, &t);
  pixman_image_set_filter(si, PIXMAN_FILTER_NEAREST, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, si, nullptr, di, 0, 0, 0, 0, 0, 0, s.W, s.H);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(si);
  pixman_image_unref(di);
  Finish(state, size);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  struct TRow {
    const char* Op;
    void (*Fn)(benchmark::State&, int);
    const char* Reference;
    void (*RefFn)(benchmark::State&, int);
  };
  std::vector<TRow> rows = {{"Copy", Copy, "memcpy", Memcpy}, {"Fill", Fill, "memset", Memset}};
#if defined(RENDO_BENCH_PIXMAN)
  rows.push_back({"Copy", Copy, "pixman_SRC", PixmanSrc});
  rows.push_back({"Fill", Fill, "pixman_fill", PixmanFill});
  rows.push_back({"MixTwo", MixTwo, "pixman_OVER_masked", PixmanOverMasked});
  rows.push_back({"BlendColor", BlendColor, "pixman_OVER_solid", PixmanOverSolid});
  rows.push_back({"FadeToBlack", FadeToBlack, "pixman_SRC_masked", PixmanSrcMasked});
  rows.push_back({"Stretch", Stretch, "pixman_nearest_2x", PixmanNearest});
#else
  rows.push_back({"MixTwo", MixTwo, nullptr, nullptr});
  rows.push_back({"BlendColor", BlendColor, nullptr, nullptr});
  rows.push_back({"FadeToBlack", FadeToBlack, nullptr, nullptr});
  rows.push_back({"Stretch", Stretch, nullptr, nullptr});
#endif
  std::map<std::string, bool> registered;
  for (int i = 0; i < 2; ++i)
    for (const auto& row : rows)
      for (auto [name, fn] : {std::pair{row.Op, row.Fn}, {row.Reference, row.RefFn}}) {
        if (name == nullptr) continue;
        const std::string full = std::string(name) + "/" + SizeName(i);
        if (registered[full]) continue;
        registered[full] = true;
        benchmark::RegisterBenchmark(full.c_str(), fn, i);
      }

  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nEngine kernel level: %s\nRatios (reference time / time; higher is faster):\n",
              rendo_kernels::KernelLevelName(rendo_kernels::ActiveKernelLevel()));
  for (int i = 0; i < 2; ++i)
    for (const auto& row : rows)
      if (row.Reference != nullptr)
        PrintRatio(reporter, std::string(row.Op) + "/" + SizeName(i), std::string(row.Reference) + "/" + SizeName(i),
                   1.0);
  benchmark::Shutdown();
  return 0;
}
