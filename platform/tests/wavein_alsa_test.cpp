// The ALSA audio input against real ALSA, through private configurations: the file
// device (no clock) for exact content, the paced test device for real time, overruns,
// failures, blocking waits and a busy device.
#include "alsa_device_list.h"
#include "FakeWaveIn.h"
#include "alsa_test_route.h"
#include "wavein_alsa.h"
#include "wavein_qt.h"

#include "qt_test_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint32_t BufferFrames = 8192;
constexpr uint32_t BufferBytes = BufferFrames * 4;

WAVEFORMATEX CaptureFormat() { return {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0}; }

// Capture threads alive in this process (the backend names them).
int CaptureThreads() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
      std::string name;
      std::getline(comm, name);
      count += name == "korvel-wavein";
    }
    closedir(dir);
  }
  return count;
}

void Pump(std::chrono::milliseconds span) {
  ProcessUntil([] { return false; }, int(span.count()));
}

// Stands in for the window: records what the driver posts, copying each buffer as it
// arrives, and lets the test decide what the handler does next (typically re-queue).
class TWindow : public QObject {
public:
  struct TData {
    HWAVEIN Handle;
    WAVEHDR* Header;
    uint32_t Bytes;
    uint32_t Flags;
    std::vector<int16_t> Samples;
    TClock::time_point At;
  };
  std::vector<TData> Data;
  std::vector<QString> FailureDetails;
  std::vector<HWAVEIN> FailureHandles;
  std::function<void(WAVEHDR*)> OnData;

  bool event(QEvent* e) override {
    if (e->type() == TWaveInDataEvent::EventType) {
      auto* data = static_cast<TWaveInDataEvent*>(e);
      WAVEHDR* h = data->Header;
      const auto* first = reinterpret_cast<const int16_t*>(h->lpData);
      Data.push_back({data->Handle, h, h->dwBytesRecorded, h->dwFlags,
                      std::vector<int16_t>(first, first + h->dwBytesRecorded / 2), TClock::now()});
      if (OnData) OnData(h);
      return true;
    }
    if (e->type() == TWaveInFailureEvent::EventType) {
      auto* failure = static_cast<TWaveInFailureEvent*>(e);
      FailureDetails.push_back(failure->Detail);
      FailureHandles.push_back(failure->Handle);
      return true;
    }
    return QObject::event(e);
  }
};

// Index of the first frame that does not continue the count from `first`, or -1.
long FirstBreak(const std::vector<int16_t>& samples, uint32_t first) {
  for (size_t i = 0; i < samples.size() / 2; ++i)
    if (CounterValue(&samples[2 * i]) != first + i) return long(i);
  return -1;
}

// One open device with its one buffer, as the window holds it.
// Declared so that the backend goes first, stopping its thread before the buffer and
// the window it writes to and posts to are gone (a failed assertion leaves it open).
struct TSession {
  TWindow Window;
  TQtWaveInSink Sink{&Window};
  std::vector<char> Memory = std::vector<char>(BufferBytes);
  WAVEHDR Header{};
  HWAVEIN Handle = nullptr;
  std::unique_ptr<IWaveIn> WaveIn;

  explicit TSession(std::unique_ptr<IWaveIn> backend = CreateAlsaWaveIn()) : WaveIn(std::move(backend)) {
    Header.lpData = Memory.data();
    Header.dwBufferLength = BufferBytes;
  }
  MMRESULT Open(int32_t device = WAVE_MAPPER) {
    return WaveIn->Open(&Handle, device, CaptureFormat(), Sink.Window());
  }
  void PrepareAndQueue() {
    ASSERT_EQ(WaveIn->PrepareHeader(Handle, &Header), MMSYSERR_NOERROR);
    ASSERT_EQ(WaveIn->AddBuffer(Handle, &Header), MMSYSERR_NOERROR);
  }
  // Re-queues every returned buffer until `count` have come back.
  void RequeueUntil(size_t count) {
    Window.OnData = [this, count](WAVEHDR* h) {
      if (Window.Data.size() < count) {
        EXPECT_EQ(WaveIn->AddBuffer(Handle, h), MMSYSERR_NOERROR);
      }
    };
  }
  void Stop() {
    EXPECT_EQ(WaveIn->Reset(Handle), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveIn->UnprepareHeader(Handle, &Header), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveIn->Close(Handle), MMSYSERR_NOERROR);
  }
};

class AlsaWaveIn : public ::testing::Test {
protected:
  void SetUp() override { TestCoreApp(); }
  TAlsaTestRoute Route;
};

TEST_F(AlsaWaveIn, FileDeviceDeliversTheCounterGaplessInOrderAndOnlyAfterStart) {
  constexpr uint32_t Buffers = 6;
  WriteRawFrames(Route.File("counter.raw"), CounterFrames(0, Buffers * BufferFrames));
  TAlsaTestRoute::InstallFileDefault(Route, Route.File("counter.raw"));

  TSession s;
  ASSERT_EQ(s.Open(), MMSYSERR_NOERROR);
  s.PrepareAndQueue();
  Pump(200ms);  // the file device has no clock: a started capture would have filled it by now
  EXPECT_TRUE(s.Window.Data.empty());

  s.RequeueUntil(Buffers);
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return s.Window.Data.size() >= Buffers; }));
  Pump(200ms);  // the last buffer was not handed back: nothing more may come
  ASSERT_EQ(s.Window.Data.size(), Buffers);
  EXPECT_EQ(CaptureThreads(), 1);  // waiting for a buffer, not gone

  std::vector<int16_t> all;
  for (const TWindow::TData& d : s.Window.Data) {
    EXPECT_EQ(d.Handle, s.Handle);
    EXPECT_EQ(d.Header, &s.Header);
    EXPECT_EQ(d.Bytes, BufferBytes);
    EXPECT_EQ(d.Flags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED), WHDR_DONE | WHDR_PREPARED);
    all.insert(all.end(), d.Samples.begin(), d.Samples.end());
  }
  EXPECT_EQ(all.size(), size_t(Buffers) * BufferFrames * 2);
  EXPECT_EQ(FirstBreak(all, 0), -1);

  // Nothing queued: a reset returns nothing. Then capture can start again.
  EXPECT_EQ(s.WaveIn->Reset(s.Handle), MMSYSERR_NOERROR);
  Pump(50ms);
  EXPECT_EQ(s.Window.Data.size(), Buffers);
  s.Window.OnData = nullptr;
  ASSERT_EQ(s.WaveIn->AddBuffer(s.Handle, &s.Header), MMSYSERR_NOERROR);
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  EXPECT_TRUE(ProcessUntil([&] { return s.Window.Data.size() == Buffers + 1; }));

  s.Stop();
  EXPECT_EQ(CaptureThreads(), 0);
}

TEST_F(AlsaWaveIn, PacedDeviceRunsInRealTimeAndASlowHandlerLosesNothing) {
  constexpr uint32_t Buffers = 5;
  WriteRawFrames(Route.File("counter.raw"), CounterFrames(0, Buffers * BufferFrames));
  TAlsaTestRoute::InstallPacedDefault(Route, Route.File("counter.raw"));

  TSession s;
  ASSERT_EQ(s.Open(), MMSYSERR_NOERROR);
  s.PrepareAndQueue();
  s.Window.OnData = [&](WAVEHDR* h) {
    // The first handler takes well over a buffer's time (186 ms) before handing back.
    if (s.Window.Data.size() == 1) std::this_thread::sleep_for(450ms);
    if (s.Window.Data.size() < Buffers) {
      EXPECT_EQ(s.WaveIn->AddBuffer(s.Handle, h), MMSYSERR_NOERROR);
    }
  };
  const auto start = TClock::now();
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return s.Window.Data.size() >= Buffers; }));

  const double first = std::chrono::duration<double>(s.Window.Data.front().At - start).count();
  const double last = std::chrono::duration<double>(s.Window.Data.back().At - start).count();
  EXPECT_GE(first, 0.9 * BufferFrames / 44100.0);
  EXPECT_GE(last, 0.95 * Buffers * BufferFrames / 44100.0);
  EXPECT_LT(last, 3.0);

  std::vector<int16_t> all;
  for (const TWindow::TData& d : s.Window.Data) all.insert(all.end(), d.Samples.begin(), d.Samples.end());
  EXPECT_EQ(FirstBreak(all, 0), -1);
  EXPECT_TRUE(s.Window.FailureDetails.empty());
  s.Stop();
}

TEST_F(AlsaWaveIn, AnOverrunLosesTheGapButCaptureGoesOn) {
  WriteRawFrames(Route.File("counter.raw"), CounterFrames(0, 44100 * 8));
  TAlsaTestRoute::InstallPacedDefault(Route, Route.File("counter.raw"));

  TSession s;
  ASSERT_EQ(s.Open(), MMSYSERR_NOERROR);
  s.PrepareAndQueue();
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return s.Window.Data.size() == 1; }));
  Pump(1600ms);  // the buffer stays out longer than the ring lasts
  s.RequeueUntil(4);
  ASSERT_EQ(s.WaveIn->AddBuffer(s.Handle, &s.Header), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return s.Window.Data.size() == 4; }));

  EXPECT_TRUE(s.Window.FailureDetails.empty());
  EXPECT_EQ(FirstBreak(s.Window.Data[0].Samples, 0), -1);
  // The audio of the stall is gone: the next buffer starts well past where the first ended.
  const uint32_t resumed = CounterValue(s.Window.Data[1].Samples.data());
  EXPECT_GT(resumed, BufferFrames + 44100 / 2);
  std::vector<int16_t> after;
  for (size_t i = 1; i < 4; ++i)
    after.insert(after.end(), s.Window.Data[i].Samples.begin(), s.Window.Data[i].Samples.end());
  EXPECT_EQ(FirstBreak(after, resumed), -1);
  s.Stop();
}

TEST_F(AlsaWaveIn, ADeviceFailingMidCaptureIsReportedOnceAndEndsTheThread) {
  WriteRawFrames(Route.File("counter.raw"), CounterFrames(0, 2 * BufferFrames));
  TAlsaTestRoute::InstallPacedDefault(Route, Route.File("counter.raw"), TAlsaTestEnd::Fail);

  TSession s;
  ASSERT_EQ(s.Open(), MMSYSERR_NOERROR);
  s.PrepareAndQueue();
  s.RequeueUntil(100);
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return !s.Window.FailureDetails.empty(); }));
  Pump(300ms);

  ASSERT_EQ(s.Window.FailureDetails.size(), 1u);
  EXPECT_EQ(s.Window.FailureHandles[0], s.Handle);
  EXPECT_FALSE(s.Window.FailureDetails[0].isEmpty());
  ASSERT_EQ(s.Window.Data.size(), 2u);  // everything the device delivered, nothing after
  EXPECT_EQ(FirstBreak(s.Window.Data[1].Samples, BufferFrames), -1);
  EXPECT_EQ(CaptureThreads(), 0);

  // The window then stops as 停止 would: the queued buffer comes back, empty.
  s.Window.OnData = nullptr;
  s.Stop();
  ASSERT_TRUE(ProcessUntil([&] { return s.Window.Data.size() == 3; }));
  EXPECT_EQ(s.Window.Data[2].Bytes, 0u);
  EXPECT_EQ(s.WaveIn->Close(s.Handle), MMSYSERR_INVALHANDLE);
}

TEST_F(AlsaWaveIn, ResetInterruptsABlockingWaitAndReturnsWhatWasFilled) {
  constexpr uint32_t Tail = 1000;
  WriteRawFrames(Route.File("counter.raw"), CounterFrames(0, BufferFrames + Tail));
  TAlsaTestRoute::InstallPacedDefault(Route, Route.File("counter.raw"), TAlsaTestEnd::Hang);

  TSession s;
  ASSERT_EQ(s.Open(), MMSYSERR_NOERROR);
  s.PrepareAndQueue();
  s.RequeueUntil(2);
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return s.Window.Data.size() == 1; }));
  Pump(300ms);  // the tail has arrived; the device delivers nothing more

  const auto before = TClock::now();
  ASSERT_EQ(s.WaveIn->Reset(s.Handle), MMSYSERR_NOERROR);
  EXPECT_LT(TClock::now() - before, 500ms);  // the device alone would never end the wait
  EXPECT_EQ(CaptureThreads(), 0);  // joined: nothing touches the buffer any more

  ASSERT_TRUE(ProcessUntil([&] { return s.Window.Data.size() == 2; }));
  EXPECT_TRUE(s.Window.FailureDetails.empty());
  EXPECT_EQ(FirstBreak(s.Window.Data[0].Samples, 0), -1);  // no restart skipped any audio
  const TWindow::TData& last = s.Window.Data[1];
  EXPECT_EQ(last.Header, &s.Header);
  EXPECT_EQ(last.Bytes, Tail * 4);
  EXPECT_EQ(last.Flags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
  EXPECT_EQ(FirstBreak(last.Samples, BufferFrames), -1);
  Pump(100ms);
  EXPECT_EQ(s.Window.Data.size(), 2u);
  EXPECT_EQ(s.WaveIn->UnprepareHeader(s.Handle, &s.Header), MMSYSERR_NOERROR);
  EXPECT_EQ(s.WaveIn->Close(s.Handle), MMSYSERR_NOERROR);
}

// What every backend of IWaveIn promises, run against the ALSA backend (over the file
// device) and against the tests' fake, so the fake cannot drift from the real one: bad
// handles, headers unprepared or already queued, formats the device refuses, and a
// close with a buffer still queued.
struct TBackend {
  const char* Name;
  std::function<std::unique_ptr<IWaveIn>()> Make;
};

class WaveInContract : public ::testing::TestWithParam<TBackend> {
protected:
  void SetUp() override {
    TestCoreApp();
    WriteRawFrames(Route.File("counter.raw"), CounterFrames(0, BufferFrames));
    TAlsaTestRoute::InstallFileDefault(Route, Route.File("counter.raw"));
  }
  TAlsaTestRoute Route;
};

TEST_P(WaveInContract, CloseWithABufferQueuedHandsItBackAndReleasesTheDevice) {
  TSession s(GetParam().Make());
  ASSERT_EQ(s.Open(), MMSYSERR_NOERROR);
  s.PrepareAndQueue();
  EXPECT_EQ(s.WaveIn->Close(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return s.Window.Data.size() == 1; }));
  EXPECT_EQ(s.Window.Data[0].Header, &s.Header);
  EXPECT_EQ(s.Window.Data[0].Bytes, 0u);
  EXPECT_EQ(s.Header.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
  EXPECT_EQ(s.WaveIn->Reset(s.Handle), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(s.WaveIn->Close(s.Handle), MMSYSERR_INVALHANDLE);
}

// The checks before the device is asked: the fake must answer them as the real backend
// does, or a window test could pass on a call the device refuses.
TEST_P(WaveInContract, HandlesHeadersDevicesAndFormatsAreChecked) {
  TSession s(GetParam().Make());
  WAVEHDR h{};
  for (HWAVEIN bad : {HWAVEIN(nullptr), reinterpret_cast<HWAVEIN>(uintptr_t(0xDEAD))}) {
    EXPECT_EQ(s.WaveIn->PrepareHeader(bad, &h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(s.WaveIn->UnprepareHeader(bad, &h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(s.WaveIn->AddBuffer(bad, &h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(s.WaveIn->Start(bad), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(s.WaveIn->Reset(bad), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(s.WaveIn->Close(bad), MMSYSERR_INVALHANDLE);
  }
  EXPECT_EQ(s.WaveIn->Open(nullptr, WAVE_MAPPER, CaptureFormat(), s.Sink.Window()), MMSYSERR_INVALPARAM);
  EXPECT_EQ(s.Open(-2), MMSYSERR_BADDEVICEID);  // the list has no selection
  EXPECT_EQ(s.Open(int32_t(s.WaveIn->DeviceNames().size())), MMSYSERR_BADDEVICEID);

  WAVEFORMATEX mono = CaptureFormat();
  mono.nChannels = 1, mono.nBlockAlign = 2, mono.nAvgBytesPerSec = 88200;
  WAVEFORMATEX fast = CaptureFormat();
  fast.nSamplesPerSec = 48000, fast.nAvgBytesPerSec = 192000;
  WAVEFORMATEX narrow = CaptureFormat();
  narrow.wBitsPerSample = 8;
  WAVEFORMATEX floating = CaptureFormat();
  floating.wFormatTag = 3;
  for (const WAVEFORMATEX& f : {mono, fast, narrow, floating})
    EXPECT_EQ(s.WaveIn->Open(&s.Handle, WAVE_MAPPER, f, s.Sink.Window()), WAVERR_BADFORMAT);

  ASSERT_EQ(s.Open(), MMSYSERR_NOERROR);
  EXPECT_EQ(s.WaveIn->AddBuffer(s.Handle, &s.Header), WAVERR_UNPREPARED);
  WAVEHDR empty{};
  EXPECT_EQ(s.WaveIn->PrepareHeader(s.Handle, &empty), MMSYSERR_INVALPARAM);
  EXPECT_EQ(s.WaveIn->PrepareHeader(s.Handle, nullptr), MMSYSERR_INVALPARAM);
  s.PrepareAndQueue();
  EXPECT_EQ(s.WaveIn->AddBuffer(s.Handle, &s.Header), WAVERR_STILLPLAYING);
  EXPECT_EQ(s.WaveIn->UnprepareHeader(s.Handle, &s.Header), WAVERR_STILLPLAYING);
  EXPECT_EQ(s.WaveIn->Close(s.Handle), MMSYSERR_NOERROR);
}

INSTANTIATE_TEST_SUITE_P(Backends, WaveInContract,
                         ::testing::Values(TBackend{"Alsa", [] { return CreateAlsaWaveIn(); }},
                                           TBackend{"Fake", [] { return std::unique_ptr<IWaveIn>(
                                                                     std::make_unique<TFakeWaveIn>()); }}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(AlsaWaveIn, AMissingDefaultDeviceIsABadDeviceId) {
  Route.AddText("# no default PCM at all").Install();
  TSession s;
  EXPECT_EQ(s.Open(), MMSYSERR_BADDEVICEID);
  EXPECT_TRUE(s.WaveIn->DeviceNames().empty());
}

TEST_F(AlsaWaveIn, ABusyDeviceIsAllocatedUntilItsHolderClosesIt) {
  WriteRawFrames(Route.File("silence.raw"), SilenceFrames(BufferFrames));
  Route
      .Add(TAlsaTestPcm::PacedDevice("default", Route.File("silence.raw"), TAlsaTestEnd::Silence,
                                     Route.File("device.lock")))
      .Install();
  TSession holder, second;
  ASSERT_EQ(holder.Open(), MMSYSERR_NOERROR);
  EXPECT_EQ(second.Open(), MMSYSERR_ALLOCATED);
  ASSERT_EQ(holder.WaveIn->Close(holder.Handle), MMSYSERR_NOERROR);
  ASSERT_EQ(second.Open(), MMSYSERR_NOERROR);
  EXPECT_EQ(second.WaveIn->Close(second.Handle), MMSYSERR_NOERROR);
}

TEST_F(AlsaWaveIn, DeviceNumbersOpenTheListedCaptureDevicesInOrder) {
  struct TInput {
    const char* Name;
    uint32_t First;
  };
  const TInput inputs[] = {{"default", 0}, {"mic1", 100000}, {"mic2", 200000},
                           {"plain", 300000}, {"mic3", 400000}, {"hidden", 500000}};
  for (const TInput& in : inputs)
    WriteRawFrames(Route.File(std::string(in.Name) + ".raw"), CounterFrames(in.First, BufferFrames));
  auto file = [&](const char* name) { return Route.File(std::string(name) + ".raw"); };
  Route.Add(TAlsaTestPcm::FileDevice("default", file("default"), "Korvel default\nDefault device"))
      .Add(TAlsaTestPcm::FileDevice("mic1", file("mic1"), "Test microphone\nFront"))
      .Add(TAlsaTestPcm::FileDevice("mic2", file("mic2"), "Test microphone\nRear"))
      .AddText("pcm.plain { type file slave.pcm { type null } file \"/dev/null\" infile \"" +
               file("plain") + "\" hint.show on }")
      .Add(TAlsaTestPcm::FileDevice("hidden", file("hidden")))
      .Add(TAlsaTestPcm::FileDevice("mic3", file("mic3")))
      .AddText("pcm.null { type null hint { show on description \"Discard all samples\" } }")
      .AddText("pcm.speaker { type null }")
      .AddText("namehint.pcm { a \"speaker|Test speaker|IOIDOutput\" b \"mic3|Line input|IOIDInput\" }")
      .Install();

  TSession s;
  const std::vector<std::string> names = s.WaveIn->DeviceNames();
  auto position = [&](const char* label) {
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == label) return int(i);
    return -1;
  };
  // Software devices in the configuration's order; a machine's cards would come between
  // them and the configured name hints.
  const int def = position("Korvel default"), mic1 = position("Test microphone (mic1)"),
            mic2 = position("Test microphone (mic2)"), plain = position("plain"),
            mic3 = position("Line input");
  EXPECT_EQ(def, 0);
  EXPECT_EQ(mic1, 1);
  EXPECT_EQ(mic2, 2);
  EXPECT_EQ(plain, 3);
  EXPECT_GT(mic3, plain);
  EXPECT_EQ(position("Discard all samples"), -1);
  EXPECT_EQ(position("Test speaker"), -1);
  EXPECT_EQ(position("hidden"), -1);
  EXPECT_EQ(s.WaveIn->DeviceNames(), names);  // enumerated once: the same list again

  for (auto [index, first] : {std::pair{mic2, 200000u}, {plain, 300000u}, {mic3, 400000u}}) {
    SCOPED_TRACE(index);
    ASSERT_GE(index, 0);
    TSession c;
    ASSERT_EQ(c.Open(index), MMSYSERR_NOERROR);
    c.PrepareAndQueue();
    ASSERT_EQ(c.WaveIn->Start(c.Handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(ProcessUntil([&] { return c.Window.Data.size() == 1; }));
    EXPECT_EQ(FirstBreak(c.Window.Data[0].Samples, first), -1);
    c.Stop();
  }
}

TEST(AlsaCaptureDevices, KeepsCaptureDevicesWithReadableDistinctLabels) {
  const std::vector<TAlsaCaptureDevice> devices = SelectCaptureDevices({
      {"default", "Default ALSA device", ""},
      {"null", "Discard all samples", ""},
      {"front:CARD=PCH,DEV=0", "HDA Intel PCH, ALC892 Analog\nFront output / input", ""},
      {"hdmi:CARD=PCH,DEV=0", "HDA Intel PCH, HDMI 0\nHDMI Audio Output", "Output"},
      {"sysdefault:CARD=PCH", "HDA Intel PCH, ALC892 Analog\nDefault Audio Device", ""},
      {"dsnoop:CARD=PCH,DEV=0", "HDA Intel PCH, ALC892 Analog\nDirect sample snooping", "Input"},
      {"default", "Default ALSA device (again)", ""},
      {"plughw:1", "", ""},
      {"", "nameless", ""},
  });
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"default", "Default ALSA device"},
      {"front:CARD=PCH,DEV=0", "HDA Intel PCH, ALC892 Analog (front:CARD=PCH,DEV=0)"},
      {"sysdefault:CARD=PCH", "HDA Intel PCH, ALC892 Analog (sysdefault:CARD=PCH)"},
      {"dsnoop:CARD=PCH,DEV=0", "HDA Intel PCH, ALC892 Analog (dsnoop:CARD=PCH,DEV=0)"},
      {"plughw:1", "plughw:1"},
  };
  ASSERT_EQ(devices.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(devices[i].Name, expected[i].first);
    EXPECT_EQ(devices[i].Label, expected[i].second);
  }
}

}  // namespace
