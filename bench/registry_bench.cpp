// Settings-file parse cost for a file that also holds other software's sections, kept as
// they are: one key per section, one text value and one hex value continued over lines each.
// keys_per_second is the figure to compare across builds.
//
//   build/bench/registry_bench
#include <benchmark/benchmark.h>

#include <string>

#include "registry.h"

namespace {

std::string LargeFile(int keys) {
  std::string text = "REGEDIT4\n\n";
  for (int k = 0; k < keys; ++k) {
    text += "[HKEY_CURRENT_USER\\Software\\Other" + std::to_string(k % 97) + "\\Section" +
            std::to_string(k) + "]\n";
    text += "\"Name\"=\"value " + std::to_string(k) + "\"\n";
    text += "\"Blob\"=hex:00,01,02,03,04,05,06,07,\\\n  08,09,0a,0b\n\n";
  }
  return text;
}

void BM_Parse(benchmark::State& state) {
  const int keys = int(state.range(0));
  const std::string text = LargeFile(keys);
  for (auto _ : state) {
    TRegistry::THive hive;
    std::string error;
    if (!TRegistry::Parse(text, hive, error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(hive);
  }
  state.counters["keys_per_second"] =
      benchmark::Counter(double(keys) * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["bytes"] = double(text.size());
}

}  // namespace

BENCHMARK(BM_Parse)->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
