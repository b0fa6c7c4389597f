// korvel-replay --plot on a one-hour recording (19,379 buffers): the replay with the
// picture against the replay alone, alternating run by run so both see the same load.
// Counters (medians): replay_s, replay_plot_s, ratio = replay_plot / replay, draw_ms
// (the drawing and writing of the SVG alone) and svg_kb, the picture's size.
//
//   build/bench/replay_plot_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "plot.h"
#include "replay.h"

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point a, TClock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

// An hour of mono 16-bit audio, minute after minute: 8 s of hiss, 25 s of a tone wandering
// under the threshold, 20 s of one above it, 7 s of loud noise. Every case, and speed
// steps up and down, all along the hour.
fs::path WriteHour() {
  const fs::path path = fs::temp_directory_path() / ("korvel-plot-bench-" + std::to_string(::getpid()) + ".wav");
  const int64_t frames = 3600LL * kSampleRate;
  std::FILE* f = std::fopen(path.string().c_str(), "wb");
  if (!f) return {};
  const uint32_t dataBytes = uint32_t(frames * 2), riff = 36 + dataBytes, sixteen = 16;
  const unsigned char fmt[16] = {1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 1, 0, 2, 0, 16, 0};
  std::fwrite("RIFF", 1, 4, f);
  std::fwrite(&riff, 4, 1, f);
  std::fwrite("WAVEfmt ", 1, 8, f);
  std::fwrite(&sixteen, 4, 1, f);
  std::fwrite(fmt, 1, 16, f);
  std::fwrite("data", 1, 4, f);
  std::fwrite(&dataBytes, 4, 1, f);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> noise(-9000, 9000), hiss(-10, 10);
  std::vector<int16_t> chunk(static_cast<size_t>(kSampleRate));
  double phase = 0;
  for (int64_t second = 0; second < 3600; ++second) {
    const int64_t s = second % 60;
    for (int p = 0; p < kSampleRate; ++p) {
      const double t = double(second) + double(p) / kSampleRate;
      double v;
      if (s < 8) {
        v = hiss(rng);
      } else if (s < 53) {
        const double hz = s < 33 ? 300 + 40 * std::sin(t / 3) : 1000 + 150 * std::sin(t / 2);
        phase += 2 * M_PI * hz / kSampleRate;
        v = 9000 * std::sin(phase) + hiss(rng);
      } else {
        v = noise(rng);
      }
      chunk[size_t(p)] = int16_t(std::lround(v));
    }
    std::fwrite(chunk.data(), 2, chunk.size(), f);
  }
  std::fclose(f);
  return path;
}

void BM_Plot_OneHour_vs_Replay(benchmark::State& state) {
  const fs::path wav = WriteHour();
  if (wav.empty()) {
    state.SkipWithError("cannot write the recording");
    return;
  }
  const fs::path svg = fs::path(wav).replace_extension(".svg");
  std::FILE* sink = std::fopen("/dev/null", "w");
  TReplayOptions options;
  TPlotInfo info{wav.string(), options, {{"viSpeed", options.Speed.viSpeed, "defaults"}}};
  std::vector<double> alone, withPlot, draw;
  size_t svgBytes = 0;
  for (auto _ : state) {
    std::FILE* f = std::fopen(wav.string().c_str(), "rb");
    const TWavInfo header = ReadWavHeader(f);
    auto t0 = TClock::now();
    RunReplay(f, header, options, sink, nullptr);
    auto t1 = TClock::now();
    alone.push_back(Seconds(t0, t1));

    std::vector<TReplayRow> rows;
    t0 = TClock::now();
    RunReplay(f, header, options, sink, nullptr, [&](const TReplayRow& r) { rows.push_back(r); });
    const auto t2 = TClock::now();
    WritePlotFile(svg.string(), info, rows);
    t1 = TClock::now();
    std::fclose(f);
    withPlot.push_back(Seconds(t0, t1));
    draw.push_back(Seconds(t2, t1));
    svgBytes = size_t(fs::file_size(svg));
  }
  std::fclose(sink);
  fs::remove(wav);
  fs::remove(svg);
  state.counters["replay_s"] = Median(alone);
  state.counters["replay_plot_s"] = Median(withPlot);
  state.counters["ratio"] = Median(withPlot) / Median(alone);
  state.counters["draw_ms"] = Median(draw) * 1e3;
  state.counters["svg_kb"] = double(svgBytes) / 1024;
}
BENCHMARK(BM_Plot_OneHour_vs_Replay)->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
