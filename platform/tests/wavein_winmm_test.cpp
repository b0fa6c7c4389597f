// winmm capture under Wine against a private sound server (wine_pulse_run.sh) that plays a
// counter signal, captured the way the main window captures (one buffer of its own, the
// notices posted to a window, each buffer appended to the capture file and handed back):
// every buffer full, every frame the signal's bit for bit, nothing lost between buffers,
// and the capture file holding exactly the same frames.
#include "wavein_winmm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "child_process.h"
#include "globalmem.h"
#include "mmiochunk.h"
#include "test_files.h"
#include "wavein_contract.h"

namespace {

constexpr size_t kBuffers = 40;  // about 7.4 s

// From the second buffer on (the first may hold what the server's monitor had before the
// capture began: its channels were seen a quantum apart there), every frame must be the
// signal's, bit for bit ((L, -L), L in 1..32767), or silence (before the player starts,
// or where the server's player was late); and across every buffer boundary the signal must go on with its next frame: no audio lost while the
// window had a buffer. A jump inside a buffer is the server's or the driver's own overrun
// (this machine is shared and the server has no real-time priority); those are counted
// and printed, not failed.
::testing::AssertionResult IsTheSignalWithoutGaps(const std::vector<int16_t>& Samples, int Buffers) {
  const size_t Frames = Samples.size() / 2, PerBuffer = Frames / size_t(Buffers);
  auto L = [&](size_t F) { return int(Samples[2 * F]); };
  size_t Inside = 0, Boundaries = 0;
  for (size_t F = PerBuffer; F < Frames; ++F) {
    if (Samples[2 * F + 1] != -Samples[2 * F] || L(F) < 0)
      return ::testing::AssertionFailure() << "frame " << F << " is no signal: " << L(F) << "," << Samples[2 * F + 1];
    if (F + 1 == Frames || L(F) == 0 || L(F + 1) == 0) continue;
    const bool Next = L(F + 1) == L(F) % 32767 + 1;
    if ((F + 1) % PerBuffer == 0) {
      ++Boundaries;
      if (!Next)
        return ::testing::AssertionFailure() << "audio lost between buffers " << F / PerBuffer << " and "
                                             << F / PerBuffer + 1 << ": " << L(F) << " then " << L(F + 1);
    } else if (!Next) {
      ++Inside;
    }
  }
  std::printf("%zu buffer boundaries inside the signal, all gapless; %zu jumps inside buffers\n", Boundaries, Inside);
  if (Boundaries < size_t(Buffers) / 2)
    return ::testing::AssertionFailure() << "the signal spanned only " << Boundaries << " boundaries";
  return ::testing::AssertionSuccess();
}

// The window of the Win32 front end: a message-only window that winmm posts MM_WIM_DATA
// to, each return recorded as it comes (TReturnedBuffers).
struct TMessageWindow : TReturnedBuffers {
  HWND Hwnd = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                              nullptr);

  ~TMessageWindow() { DestroyWindow(Hwnd); }
  TWaveInWindow Target() { return {Hwnd, nullptr}; }
  bool WaitUntil(const std::function<bool()>& done, int ms) {
    const auto handled = [&] {
      for (MSG M; !done() && PeekMessageW(&M, Hwnd, 0, 0, PM_REMOVE);)
        if (M.message == MM_WIM_DATA)
          Returned(reinterpret_cast<HWAVEIN>(M.wParam), reinterpret_cast<WAVEHDR*>(M.lParam));
      return done();
    };
    return PollUntil(handled, ms, 1);
  }
};
using TSession = TWaveInSession<TMessageWindow>;

// The backends' common promises (wavein_contract.h) on winmm, whose mapper converts
// formats instead of refusing them.
TEST(WaveInWinmmContract, CloseWithABufferQueuedHandsItBackAndReleasesTheDevice) {
  TSession s(CreateWinmmWaveIn());
  ExpectCloseWithABufferQueuedHandsItBackAndReleasesTheDevice(s);
}

TEST(WaveInWinmmContract, HandlesHeadersDevicesAndFormatsAreChecked) {
  TSession s(CreateWinmmWaveIn());
  ExpectHandlesHeadersDevicesAndFormatsChecked(s, false);
}

TEST(WaveInWinmm, CapturesTheFedSignalGaplesslyIntoTheCaptureFile) {
  TSession s(CreateWinmmWaveIn());
  // The device list as the window shows it; the sink's monitor is the device captured.
  const auto Names = s.WaveIn->DeviceNames();
  const char* Sink = std::getenv("KORVEL_TEST_SINK_NAME");
  int32_t Device = int32_t(WAVE_MAPPER);
  for (size_t K = 0; K < Names.size(); ++K) {
    std::printf("device %zu: %s\n", K, Names[K].c_str());
    if (Names[K].find(Sink ? Sink : "?") != std::string::npos) Device = int32_t(K);
  }
  ASSERT_FALSE(Names.empty()) << "no capture device";

  ASSERT_NE(s.Hwnd, nullptr);
  const WAVEFORMATEX Format = CaptureFormat();
  ASSERT_EQ(s.OpenAndQueue(Device), MMRESULT(MMSYSERR_NOERROR)) << s.WaveIn->LastErrorText();
  TCaptureFile File;
  File.Open(kCaptureFileName, &Format);
  s.OnData = [&](WAVEHDR* Done) {
    EXPECT_EQ(Done->dwBytesRecorded, BufferBytes) << "buffer " << s.Data.size() - 1;
    File.DataChunk->Write(Done->lpData, int32_t(Done->dwBytesRecorded));
    s.WaveIn->AddBuffer(s.Handle, Done);
  };
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMRESULT(MMSYSERR_NOERROR));
  const bool Filled = s.WaitUntil([&] { return s.Data.size() >= kBuffers; }, 30000);
  s.OnData = nullptr;
  s.Stop();
  File.Reset();

  ASSERT_TRUE(Filled) << s.Data.size() << " buffers announced in 30 s";
  const std::vector<int16_t> Captured = s.Joined(0, kBuffers);
  EXPECT_TRUE(IsTheSignalWithoutGaps(Captured, int(kBuffers)));
  const auto Bytes = ReadFileBytes("output.wav");
  ASSERT_EQ(Bytes.size(), 46 + Captured.size() * 2);
  EXPECT_EQ(0, std::memcmp(Bytes.data() + 46, Captured.data(), Captured.size() * 2))
      << "file differs from the buffers";
}

}  // namespace
