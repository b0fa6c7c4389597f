// Set-up shared by the pixel engine's benchmark programs: seeded pixel data, the one
// engine object of the process with its processor switches on, and a console reporter
// that keeps each run's time so that ratios can be printed after the table.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "rendo/rendo.h"

namespace rendo_bench {

// n pixels of a linear congruential sequence (all four bytes vary); the same seed gives
// the same pixels.
inline std::vector<uint32_t> Pixels(size_t n, uint32_t seed) {
  std::vector<uint32_t> v(n);
  uint32_t x = seed;
  for (auto& p : v) {
    x = x * 1664525u + 1013904223u;
    p = x;
  }
  return v;
}

// The engine object every benchmark of a program uses, with the MMX switch and the SSE
// path on, as the program sets them on any current processor. Kept until exit.
inline IPixelEngine* TheEngine() {
  static IPixelEngine* engine = [] {
    IPixelEngine* e = nullptr;
    CreateInstance(&e);
    void* cpu = nullptr;
    e->QueryInterface(&IID_ICpuFeatures, &cpu);
    static_cast<ICpuFeatures*>(cpu)->SetSseEnabled(-1);
    static_cast<ICpuFeatures*>(cpu)->SetMmxEnabled(-1);
    static_cast<ICpuFeatures*>(cpu)->Release();
    return e;
  }();
  return engine;
}

// Collects each run's CPU time and item rate for the ratios. CPU time, not wall time: the
// machine is shared, and a preempted run would otherwise skew a ratio. With
// --benchmark_repetitions the median stands for the benchmark; a single run stands for
// itself.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.error_occurred) continue;
      const std::string name = run.run_name.str();
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if ((run.run_type == Run::RT_Iteration && Median.count(name) == 0) || median) {
        Time[name] = run.GetAdjustedCPUTime();
        Rate[name] = run.counters.count("items_per_second") ? double(run.counters.at("items_per_second")) : 0.0;
        if (median) Median[name] = true;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Per iteration, in each benchmark's own time unit: compare only runs of one unit.
  std::map<std::string, double> Time;
  std::map<std::string, double> Rate;  // items per second; 0 for a run without that counter
  std::map<std::string, bool> Median;
};

// Prints reference time / time for `what` (higher is faster), with the verdict against the
// goal when goal > 0; prints nothing when either benchmark did not run.
inline void PrintRatio(const TRatioReporter& r, const std::string& what, const std::string& reference, double goal) {
  auto a = r.Time.find(what), b = r.Time.find(reference);
  if (a == r.Time.end() || b == r.Time.end()) return;
  const double ratio = b->second / a->second;
  std::printf("  %-32s vs %-32s %6.2fx%s\n", what.c_str(), reference.c_str(), ratio,
              goal > 0 ? (ratio >= goal ? "  (goal met)" : "  (below goal)") : "");
}

}  // namespace rendo_bench
