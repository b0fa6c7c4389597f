// Figures of the wireframe and tunnel operations, printed at the end:
//   RenderTunnel at 1920x1080 in pixels per second, kernel by kernel and through the
//   engine, as a ratio to its scalar reference measured in the same run (goal >= 2);
//   DrawLines in segments per second (10,000 projected segments per call).
// Run: build/bench/rendo_3d_bench --benchmark_repetitions=5   (medians are used for the
//      ratios; KORVEL_KERNEL_LEVEL=SSE2 caps the engine's level)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench_common.h"
#include "kernels_3d.h"
#include "rendo/rendo.h"

using namespace rendo_kernels;

namespace {

using namespace rendo_bench;

constexpr int kWidth = 1920, kHeight = 1080;
constexpr size_t kPixels = size_t(kWidth) * kHeight;

template <typename T>
T* Query(IRendoUnknown* from, const TGUID& iid) {
  void* out = nullptr;
  from->QueryInterface(&iid, &out);
  return static_cast<T*>(out);
}

// A round tunnel over the whole frame and a random texture: the access pattern of the
// real effect, with neighbouring pixels reading nearby texels.
struct TTunnelScene {
  TTunnelScene() : Texture(65536), Uv(kPixels), Shade(kPixels), Frame(kPixels) {
    std::mt19937 rng(5);
    for (auto& t : Texture) t = rng();
    auto* fx = Query<IPixelEffects>(TheEngine(), IID_IPixelEffects);
    fx->BuildTunnelMap1(Uv.data(), Shade.data(), kWidth / 2, kHeight / 2, kWidth, kHeight, 0.5f, 0.5f);
    fx->Release();
  }
  std::vector<uint32_t> Texture;
  std::vector<uint16_t> Uv;
  std::vector<uint32_t> Shade;
  std::vector<uint32_t> Frame;
};

TTunnelScene& Scene() {
  static TTunnelScene scene;
  return scene;
}

void TunnelKernel(benchmark::State& state, TKernelLevel level) {
  const T3DKernelTable* table = Kernel3DTableFor(level);
  if (table == nullptr || !KernelLevelUsable(level)) {
    state.SkipWithError("level not available");
    return;
  }
  TTunnelScene& s = Scene();
  uint32_t frame = 0;
  for (auto _ : state) {
    table->RenderTunnel(s.Frame.data(), s.Texture.data(), s.Uv.data(), s.Shade.data(), kPixels,
                        (frame & 0xFF) | ((frame * 3) & 0xFF) << 8);
    ++frame;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPixels));
}

void TunnelEngine(benchmark::State& state) {
  TTunnelScene& s = Scene();
  IPixelEngine* e = TheEngine();
  e->SetTarget(s.Frame.data(), kWidth * 4, kWidth, kHeight);
  uint32_t frame = 0;
  for (auto _ : state) {
    e->RenderTunnel(s.Texture.data(), s.Uv.data(), s.Shade.data(), frame, frame * 3);
    ++frame;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPixels));
}

// 10,000 segments between random points of a cube of side 2 seen through a look-at view
// and a 90-degree perspective, so they are projected, clipped where they leave the view
// and drawn at lengths up to about half the frame.
void DrawLines10k(benchmark::State& state) {
  IPixelEngine* e = TheEngine();
  auto* wire = Query<IWireframe3D>(e, IID_IWireframe3D);
  std::vector<uint32_t> frame(kPixels);
  e->SetTarget(frame.data(), kWidth * 4, kWidth, kHeight);
  TRendoMatrix view, projection;
  const TRendoVector eye{1.5f, 1.0f, -3.0f}, at{0, 0, 0}, up{0, 1, 0};
  wire->Reset();
  wire->LookAt(&view, &eye, &at, &up);
  wire->Perspective(&projection, 1.5707964f, float(kHeight) / kWidth, 1.0f, 20.0f);
  wire->SetMatrix(1, &view);
  wire->SetMatrix(2, &projection);
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<TRendoVertex> vertices(4096);
  for (auto& v : vertices) v = TRendoVertex{unit(rng), unit(rng), unit(rng), {}, uint32_t(rng() & 0xFFFFFFu)};
  std::vector<TRendoSegment> segments(10000);
  for (auto& s : segments) s = {uint16_t(rng() % vertices.size()), uint16_t(rng() % vertices.size())};
  for (auto _ : state) {
    wire->DrawLines(vertices.data(), 0, segments.data(), int32_t(segments.size()));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(segments.size()));
  wire->Release();
}

void PrintRate(const TRatioReporter& r, const std::string& what, const char* unit) {
  if (auto it = r.Rate.find(what); it != r.Rate.end() && it->second > 0)
    std::printf("  %-36s %10.1f M%s/s\n", what.c_str(), it->second / 1e6, unit);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string size = "/" + std::to_string(kWidth) + "x" + std::to_string(kHeight);
  for (TKernelLevel l : {TKernelLevel::Ref, TKernelLevel::SSE2, TKernelLevel::AVX2})
    if (Kernel3DTableFor(l) != nullptr && KernelLevelUsable(l))
      benchmark::RegisterBenchmark(("RenderTunnel_" + std::string(KernelLevelName(l)) + size).c_str(), TunnelKernel,
                                   l)
          ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("RenderTunnel_engine" + size).c_str(), TunnelEngine)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("DrawLines_10000" + size).c_str(), DrawLines10k)->Unit(benchmark::kMicrosecond);

  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nEngine kernel level: %s\nRatios to the scalar reference (reference time / time):\n",
              KernelLevelName(ActiveKernelLevel()));
  PrintRatio(reporter, "RenderTunnel_AVX2" + size, "RenderTunnel_Ref" + size, 2.0);
  PrintRatio(reporter, "RenderTunnel_SSE2" + size, "RenderTunnel_Ref" + size, 2.0);
  PrintRatio(reporter, "RenderTunnel_engine" + size, "RenderTunnel_Ref" + size, 2.0);
  std::printf("Rates:\n");
  for (const char* l : {"Ref", "SSE2", "AVX2", "engine"})
    PrintRate(reporter, std::string("RenderTunnel_") + l + size, "pixels");
  if (auto it = reporter.Rate.find("DrawLines_10000" + size); it != reporter.Rate.end())
    std::printf("  %-36s %10.2f M segments/s (%.0f calls of 10,000 per second)\n", ("DrawLines_10000" + size).c_str(),
                it->second / 1e6, it->second / 10000.0);
  benchmark::Shutdown();
  return 0;
}
