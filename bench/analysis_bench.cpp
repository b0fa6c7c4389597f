// Analysis figures, each printed as a ratio to its reference measured in the same run:
//  - FFT: one Transform + MaxPower of TFastFourier at 8192 points, against FFTW's
//    8192-point real-input transform (planned with FFTW_MEASURE);
//  - Buffer: the whole per-buffer analysis (mean, spectrum input, transform, strongest
//    line, decision) against the same work done with FFTW, and as a share of the
//    186 ms buffer period;
//  - Replay: korvel-replay's engine on a two-minute recording, as a multiple of real
//    time (the reference is the recording's own duration).
// The measured operation and its reference alternate sample by sample, so both see the
// same machine load; the counters are medians, ratio = measured / reference.
//
//   build-*/bench/analysis_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "fastfourier.h"
#include "replay.h"
#include "toneanalysis.h"

namespace {

using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point a, TClock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

// A capture buffer: a 1000 Hz tone with some noise on the first channel.
std::vector<uint8_t> ToneBuffer(uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 300.0);
  std::vector<uint8_t> b(kBufferBytes);
  for (int p = 0; p < kFramesPerBuffer; ++p) {
    const double v = 9000 * std::sin(2 * M_PI * 1000 * p / 44100.0) + noise(rng);
    const auto s = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    std::memcpy(&b[4 * size_t(p)], &s, 2);
  }
  return b;
}

// FFTW's side of the work, kept equal in kind: real input, one transform, a scan of the
// lines 1..N/2-1 for the largest power.
struct TFftwReference {
  static constexpr int N = kFramesPerBuffer;
  double* In = fftw_alloc_real(N);
  fftw_complex* Out = fftw_alloc_complex(N / 2 + 1);
  fftw_plan Plan = fftw_plan_dft_r2c_1d(N, In, Out, FFTW_MEASURE);

  ~TFftwReference() {
    fftw_destroy_plan(Plan);
    fftw_free(In);
    fftw_free(Out);
  }

  // Transform, then the first line with the largest power (as 2|X_k|^2 / N).
  int TransformAndFindMax(double& maxPower) {
    fftw_execute(Plan);
    double best = 0.0;
    int line = 0;
    for (int k = 1; k < N / 2; ++k) {
      const double p = Out[k][0] * Out[k][0] + Out[k][1] * Out[k][1];
      if (p > best) best = p, line = k;
    }
    maxPower = 2.0 * best / N;
    return line;
  }

  TBufferMeasure Measure(const std::vector<uint8_t>& frames) {
    double sum = 0.0;
    for (int p = 0; p < N; ++p) {
      int16_t s;
      std::memcpy(&s, &frames[4 * size_t(p)], 2);
      sum += std::abs(int(s));
      In[p] = s / 32768.0;
    }
    TBufferMeasure m;
    m.Mean = sum / N;
    double max = 0.0;
    m.Line = TransformAndFindMax(max);
    m.Frequency = m.Line * 44100.0 / N;
    return m;
  }
};

void BM_FFT_TransformMaxPower_vs_FFTW(benchmark::State& state) {
  TFastFourier fft("FFT1");
  SetUpTransform(fft);
  TFftwReference ref;
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> input(kFramesPerBuffer);
  for (double& v : input) v = u(rng);
  for (int p = 0; p < kFramesPerBuffer; ++p) ref.In[p] = input[size_t(p)];

  std::vector<double> ours, theirs;
  for (auto _ : state) {
    state.PauseTiming();
    fft.ClearImaginary();
    for (int p = 0; p < kFramesPerBuffer; ++p) fft.SetReal(p + 1, input[size_t(p)]);
    state.ResumeTiming();
    const auto t0 = TClock::now();
    fft.Transform();
    benchmark::DoNotOptimize(fft.MaxPower());
    const auto t1 = TClock::now();
    double max = 0;
    benchmark::DoNotOptimize(ref.TransformAndFindMax(max));
    const auto t2 = TClock::now();
    ours.push_back(Seconds(t0, t1));
    theirs.push_back(Seconds(t1, t2));
  }
  const double a = Median(ours), b = Median(theirs);
  state.counters["ours_us"] = a * 1e6;
  state.counters["fftw_us"] = b * 1e6;
  state.counters["ratio"] = a / b;  // goal: <= 3
  state.SetLabel(std::string("kernels ") + KernelLevelName(fft.KernelLevel()));
}
BENCHMARK(BM_FFT_TransformMaxPower_vs_FFTW)->Iterations(3000);

void BM_Buffer_Analysis_vs_FFTW(benchmark::State& state) {
  TFastFourier fft("FFT1");
  SetUpTransform(fft);
  TFftwReference ref;
  const std::vector<uint8_t> buffer = ToneBuffer(3);
  const TSpeedSettings settings;
  TSpeedState s1, s2;
  std::vector<double> ours, theirs;
  int lineOurs = 0, lineTheirs = 0;
  for (auto _ : state) {
    const auto t0 = TClock::now();
    const TBufferMeasure m = MeasureBuffer(buffer, fft);
    const TDecision d = Decide(m, settings, 400, 5.0, s1);
    benchmark::DoNotOptimize(d.HistoryValue);
    const auto t1 = TClock::now();
    const TBufferMeasure r = ref.Measure(buffer);
    const TDecision e = Decide(r, settings, 400, 5.0, s2);
    benchmark::DoNotOptimize(e.HistoryValue);
    const auto t2 = TClock::now();
    ours.push_back(Seconds(t0, t1));
    theirs.push_back(Seconds(t1, t2));
    lineOurs = m.Line;
    lineTheirs = r.Line;
  }
  const double a = Median(ours), b = Median(theirs);
  const double period = double(kFramesPerBuffer) / kSampleRate;
  state.counters["ours_us"] = a * 1e6;
  state.counters["fftw_us"] = b * 1e6;
  state.counters["ratio"] = a / b;                       // goal: <= 2.5
  state.counters["pct_of_period"] = 100.0 * a / period;  // goal: < 0.05
  if (lineOurs != lineTheirs) state.SkipWithError("the two paths found different lines");
}
BENCHMARK(BM_Buffer_Analysis_vs_FFTW)->Iterations(3000);

void BM_Replay_RealTimeMultiple(benchmark::State& state) {
  // Two minutes of stereo: quiet, then a tone that steps the speed now and then.
  const int64_t frames = 120LL * kSampleRate;
  const auto path = std::filesystem::temp_directory_path() /
                    ("korvel-analysis-bench-" + std::to_string(::getpid()) + ".wav");
  {
    std::vector<uint8_t> data(size_t(frames) * 4);
    for (int64_t p = 0; p < frames; ++p) {
      const double hz = 250 + 100 * std::sin(2 * M_PI * double(p) / (30.0 * kSampleRate));
      const double v = p < 2 * kSampleRate ? 0.0 : 8000 * std::sin(2 * M_PI * hz * double(p) / kSampleRate);
      const int16_t s = static_cast<int16_t>(std::lround(v) + int(p % 7) - 3);
      std::memcpy(&data[4 * size_t(p)], &s, 2);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const uint32_t dataBytes = uint32_t(data.size()), riff = 38 + dataBytes;
    const unsigned char fmt[18] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0};
    std::fwrite("RIFF", 1, 4, f);
    std::fwrite(&riff, 4, 1, f);
    std::fwrite("WAVEfmt ", 1, 8, f);
    const uint32_t eighteen = 18;
    std::fwrite(&eighteen, 4, 1, f);
    std::fwrite(fmt, 1, 18, f);
    std::fwrite("data", 1, 4, f);
    std::fwrite(&dataBytes, 4, 1, f);
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
  std::FILE* sink = std::fopen("/dev/null", "w");
  TReplayOptions options;
  std::vector<double> multiples;
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    const TWavInfo info = ReadWavHeader(f);
    const auto t0 = TClock::now();
    RunReplay(f, info, options, sink, nullptr);
    const auto t1 = TClock::now();
    std::fclose(f);
    const double audio = double(info.Buffers()) * kFramesPerBuffer / kSampleRate;
    multiples.push_back(audio / Seconds(t0, t1));
  }
  std::fclose(sink);
  std::filesystem::remove(path);
  state.counters["x_realtime"] = Median(multiples);  // goal: >= 1000
}
BENCHMARK(BM_Replay_RealTimeMultiple)->Iterations(15)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
