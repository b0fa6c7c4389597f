// DrawHistory per call: the whole strip redraw of the main window (clear, 220 columns,
// background, subtract, desaturate, paint), through the engine library and, as the
// reference in the same run, through the program's own copy of the reference kernels
// (what runs when the library is missing).
#include "clock.h"
#include "registry.h"
#include "rendoif.h"
#include "QtMainWindow.h"
#include "uglobal.h"
#include "wavein_alsa.h"

#include <QApplication>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {
// No capture is started: the redraw needs no audio.
class TNoWaveIn : public IWaveIn {
public:
  std::vector<std::string> DeviceNames() override { return {}; }
  MMRESULT Open(HWAVEIN*, int32_t, const WAVEFORMATEX&, TWaveInWindow) override { return MMSYSERR_NODRIVER; }
  MMRESULT PrepareHeader(HWAVEIN, WAVEHDR*) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT UnprepareHeader(HWAVEIN, WAVEHDR*) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT AddBuffer(HWAVEIN, WAVEHDR*) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT Start(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT Reset(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
  MMRESULT Close(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
};

class TFixedClock : public IClock {
public:
  uint32_t timeGetTime() override { return 0; }
};

void Redraw(benchmark::State& state, bool withEngine) {
  if (withEngine && !Engine) LoadEngineFrom(KORVEL_BIN_DIR);
  if (withEngine && !Engine) {
    state.SkipWithError("librendo.so not found");
    return;
  }
  TInterfaceRef<IPixelEngine> held;
  if (!withEngine) std::swap(held, Engine);  // the program's fallback path

  TNoWaveIn waveIn;
  TFixedClock clock;
  TQtMainWindow window(waveIn, clock, nullptr, QStringLiteral(KORVEL_BIN_DIR));
  window.Timer1->stop();
  window.Timer2->stop();
  for (int i = 0; i < 220; ++i) window.History.Push(float(i % 60) / 60.0f);  // every column drawn
  for (auto _ : state) {
    window.SaturationLevel = 128;  // idle walk applies a real desaturation each call
    window.DrawHistory();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  if (!withEngine) std::swap(held, Engine);
}

void BM_DrawHistory_Engine(benchmark::State& state) { Redraw(state, true); }
void BM_DrawHistory_ProgramReference(benchmark::State& state) { Redraw(state, false); }
BENCHMARK(BM_DrawHistory_Engine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawHistory_ProgramReference)->Unit(benchmark::kMicrosecond);
}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const auto home = std::filesystem::temp_directory_path() / "korvel-drawhistory-bench";
  std::filesystem::create_directories(home);
  QApplication app(argc, argv);
  TRegistry registry((home / "registry.reg").string());
  TGlobalSettings settings(registry);
  GlobalSettings = &settings;

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ReleaseEngine();
  GlobalSettings = nullptr;
  return 0;
}
