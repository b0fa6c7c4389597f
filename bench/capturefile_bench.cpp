// Capture-file cost of one 32768-byte buffer: the append alone, as a capture used to write
// it, and the append followed by the two size fields that keep the file valid after every
// buffer. The difference is what a valid file costs per buffer; a buffer arrives every
// 186 ms. The file is cut back to its header now and then so it stays in the page cache.
//
//   build/bench/capturefile_bench --benchmark_filter=Capture
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "mmiochunk.h"

namespace {

const unsigned char kFormat[18] = {0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10,
                                   0xB1, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x00};

template <bool WithSizes>
void BM_CaptureBuffer(benchmark::State& state) {
  char dir[] = "/tmp/korvel-capture-bench-XXXXXX";
  if (!::mkdtemp(dir)) return state.SkipWithError("no temporary folder");
  const std::string path = std::string(dir) + "/output.wav";
  const std::vector<unsigned char> buffer(32768, 0x5a);
  int n = 0;
  auto file = std::make_unique<TCaptureFile>();
  file->Open(path.c_str(), kFormat);
  for (auto _ : state) {
    if (++n % 256 == 0) {  // 8 MiB: start a new file outside the timing
      state.PauseTiming();
      file = std::make_unique<TCaptureFile>();
      file->Open(path.c_str(), kFormat);
      state.ResumeTiming();
    }
    const int32_t w = WithSizes ? file->Append(buffer.data(), 32768) : file->DataChunk->Write(buffer.data(), 32768);
    benchmark::DoNotOptimize(w);
  }
  file.reset();
  ::unlink(path.c_str());
  ::rmdir(dir);
}
BENCHMARK_TEMPLATE(BM_CaptureBuffer, false)->Name("CaptureBuffer/append_only");
BENCHMARK_TEMPLATE(BM_CaptureBuffer, true)->Name("CaptureBuffer/append_and_sizes");

}  // namespace
BENCHMARK_MAIN();
