// The ALSA audio input against real ALSA, through private configurations: the file
// device (no clock) for exact content, the paced test device for real time, overruns,
// failures, blocking waits and a busy device.
#include "alsa_device_list.h"
#include "FakeWaveIn.h"
#include "alsa_test_route.h"
#include "wavein_alsa.h"
#include "wavein_contract.h"
#include "wavein_qt.h"

#include "qt_test_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Capture threads alive in this process (the backend names them).
int CaptureThreads() {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    count += std::getline(comm, name) && name == "korvel-wavein";
  }
  return count;
}

void Pump(std::chrono::milliseconds span) { ProcessUntil([] { return false; }, int(span.count())); }

// The window of the Qt front end: the sink posts to it, its loop is Qt's. Records what the
// driver posts; the test decides what the handler does next (typically re-queue).
class TWindow : public QObject, public TReturnedBuffers {
public:
  std::vector<std::pair<HWAVEIN, QString>> Failures;  // handle, detail
  TQtWaveInSink Sink{this};

  TWaveInWindow Target() { return Sink.Window(); }
  static bool WaitUntil(const std::function<bool()>& done, int ms) {
    return ProcessUntil(done, ms);
  }
  bool event(QEvent* e) override {
    if (e->type() == TWaveInDataEvent::EventType) {
      auto* data = static_cast<TWaveInDataEvent*>(e);
      Returned(data->Handle, data->Header);
      return true;
    }
    if (e->type() == TWaveInFailureEvent::EventType) {
      auto* failure = static_cast<TWaveInFailureEvent*>(e);
      Failures.push_back({failure->Handle, failure->Detail});
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

struct TSession : TWaveInSession<TWindow> {
  explicit TSession(std::unique_ptr<IWaveIn> backend = CreateAlsaWaveIn())
      : TWaveInSession(std::move(backend)) {}
  // Re-queues every returned buffer until `count` have come back.
  void RequeueUntil(size_t count) {
    OnData = [this, count](WAVEHDR* h) {
      if (Data.size() < count) {
        EXPECT_EQ(WaveIn->AddBuffer(Handle, h), MMSYSERR_NOERROR);
      }
    };
  }
};

class AlsaWaveIn : public ::testing::Test {
protected:
  void SetUp() override { TestCoreApp(); }
  // `default` plays the count from 0 for `frames` frames: as the file device (no clock),
  // or as the paced test device ending as `end` says.
  void PlayCounter(uint32_t frames, bool paced, TAlsaTestEnd end = TAlsaTestEnd::Silence) {
    WriteRawFrames(Route.File("counter.raw"), CounterFrames(0, frames));
    Route.Add({.InputFile = Route.File("counter.raw"), .Paced = paced, .End = end}).Install();
  }
  TAlsaTestRoute Route;
};

TEST_F(AlsaWaveIn, FileDeviceDeliversTheCounterGaplessInOrderAndOnlyAfterStart) {
  constexpr uint32_t Buffers = 6;
  PlayCounter(Buffers * BufferFrames, false);
  TSession s;
  ASSERT_EQ(s.OpenAndQueue(), MMSYSERR_NOERROR);
  Pump(200ms);  // the file device has no clock: a started capture would have filled it by now
  EXPECT_TRUE(s.Data.empty());

  s.RequeueUntil(Buffers);
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return s.Data.size() >= Buffers; }));
  Pump(200ms);  // the last buffer was not handed back: nothing more may come
  ASSERT_EQ(s.Data.size(), Buffers);
  EXPECT_EQ(CaptureThreads(), 1);  // waiting for a buffer, not gone
  for (size_t i = 0; i < Buffers; ++i) s.ExpectReturned(i, BufferBytes);
  EXPECT_EQ(s.Joined().size(), size_t(Buffers) * BufferFrames * 2);
  EXPECT_EQ(FirstBreak(s.Joined(), 0), -1);

  // Nothing queued: a reset returns nothing. Then capture can start again.
  EXPECT_EQ(s.WaveIn->Reset(s.Handle), MMSYSERR_NOERROR);
  Pump(50ms);
  EXPECT_EQ(s.Data.size(), Buffers);
  s.OnData = nullptr;
  ASSERT_EQ(s.WaveIn->AddBuffer(s.Handle, &s.Header), MMSYSERR_NOERROR);
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  EXPECT_TRUE(ProcessUntil([&] { return s.Data.size() == Buffers + 1; }));

  s.Stop();
  EXPECT_EQ(CaptureThreads(), 0);
}

TEST_F(AlsaWaveIn, PacedDeviceRunsInRealTimeAndASlowHandlerLosesNothing) {
  constexpr uint32_t Buffers = 5;
  PlayCounter(Buffers * BufferFrames, true);
  TSession s;
  ASSERT_EQ(s.OpenAndQueue(), MMSYSERR_NOERROR);
  s.OnData = [&](WAVEHDR* h) {
    // The first handler takes well over a buffer's time (186 ms) before handing back.
    if (s.Data.size() == 1) std::this_thread::sleep_for(450ms);
    if (s.Data.size() < Buffers) {
      EXPECT_EQ(s.WaveIn->AddBuffer(s.Handle, h), MMSYSERR_NOERROR);
    }
  };
  const auto start = TClock::now();
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return s.Data.size() >= Buffers; }));

  const double first = std::chrono::duration<double>(s.Data.front().At - start).count();
  const double last = std::chrono::duration<double>(s.Data.back().At - start).count();
  EXPECT_GE(first, 0.9 * BufferFrames / 44100.0);
  EXPECT_GE(last, 0.95 * Buffers * BufferFrames / 44100.0);
  EXPECT_LT(last, 3.0);
  EXPECT_EQ(FirstBreak(s.Joined(), 0), -1);
  EXPECT_TRUE(s.Failures.empty());
  s.Stop();
}

TEST_F(AlsaWaveIn, AnOverrunLosesTheGapButCaptureGoesOn) {
  PlayCounter(44100 * 8, true);
  TSession s;
  ASSERT_EQ(s.OpenAndQueue(), MMSYSERR_NOERROR);
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return s.Data.size() == 1; }));
  Pump(1600ms);  // the buffer stays out longer than the ring lasts
  s.RequeueUntil(4);
  ASSERT_EQ(s.WaveIn->AddBuffer(s.Handle, &s.Header), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return s.Data.size() == 4; }));

  EXPECT_TRUE(s.Failures.empty());
  EXPECT_EQ(FirstBreak(s.Data[0].Samples, 0), -1);
  // The audio of the stall is gone: the next buffer starts well past where the first ended.
  const uint32_t resumed = CounterValue(s.Data[1].Samples.data());
  EXPECT_GT(resumed, BufferFrames + 44100 / 2);
  EXPECT_EQ(FirstBreak(s.Joined(1), resumed), -1);
  s.Stop();
}

TEST_F(AlsaWaveIn, ADeviceFailingMidCaptureIsReportedOnceAndEndsTheThread) {
  PlayCounter(2 * BufferFrames, true, TAlsaTestEnd::Fail);
  TSession s;
  s.RequeueUntil(100);
  ASSERT_EQ(s.OpenAndQueue(), MMSYSERR_NOERROR);
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return !s.Failures.empty(); }));
  Pump(300ms);

  ASSERT_EQ(s.Failures.size(), 1u);
  EXPECT_EQ(s.Failures[0].first, s.Handle);
  EXPECT_FALSE(s.Failures[0].second.isEmpty());
  ASSERT_EQ(s.Data.size(), 2u);  // everything the device delivered, nothing after
  EXPECT_EQ(FirstBreak(s.Data[1].Samples, BufferFrames), -1);
  EXPECT_EQ(CaptureThreads(), 0);

  // The window then stops as 停止 would: the queued buffer comes back, empty.
  s.OnData = nullptr;
  s.Stop();
  ASSERT_TRUE(ProcessUntil([&] { return s.Data.size() == 3; }));
  EXPECT_EQ(s.Data[2].Bytes, 0u);
  EXPECT_EQ(s.WaveIn->Close(s.Handle), MMSYSERR_INVALHANDLE);
}

TEST_F(AlsaWaveIn, ResetInterruptsABlockingWaitAndReturnsWhatWasFilled) {
  constexpr uint32_t Tail = 1000;
  PlayCounter(BufferFrames + Tail, true, TAlsaTestEnd::Hang);
  TSession s;
  s.RequeueUntil(2);
  ASSERT_EQ(s.OpenAndQueue(), MMSYSERR_NOERROR);
  ASSERT_EQ(s.WaveIn->Start(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(ProcessUntil([&] { return s.Data.size() == 1; }));
  Pump(300ms);  // the tail has arrived; the device delivers nothing more

  const auto before = TClock::now();
  ASSERT_EQ(s.WaveIn->Reset(s.Handle), MMSYSERR_NOERROR);
  EXPECT_LT(TClock::now() - before, 500ms);  // the device alone would never end the wait
  EXPECT_EQ(CaptureThreads(), 0);  // joined: nothing touches the buffer any more

  ASSERT_TRUE(ProcessUntil([&] { return s.Data.size() == 2; }));
  EXPECT_TRUE(s.Failures.empty());
  EXPECT_EQ(FirstBreak(s.Data[0].Samples, 0), -1);  // no restart skipped any audio
  s.ExpectReturned(1, Tail * 4);
  EXPECT_EQ(FirstBreak(s.Data[1].Samples, BufferFrames), -1);
  Pump(100ms);
  EXPECT_EQ(s.Data.size(), 2u);
  EXPECT_EQ(s.WaveIn->UnprepareHeader(s.Handle, &s.Header), MMSYSERR_NOERROR);
  EXPECT_EQ(s.WaveIn->Close(s.Handle), MMSYSERR_NOERROR);
}

// The backends' common promises (wavein_contract.h) on the ALSA backend, over the file
// device, and on the tests' fake.
struct TBackend {
  const char* Name;
  std::function<std::unique_ptr<IWaveIn>()> Make;
};

class WaveInContract : public AlsaWaveIn, public ::testing::WithParamInterface<TBackend> {
protected:
  void SetUp() override {
    AlsaWaveIn::SetUp();
    PlayCounter(BufferFrames, false);
  }
};

TEST_P(WaveInContract, CloseWithABufferQueuedHandsItBackAndReleasesTheDevice) {
  TSession s(GetParam().Make());
  ExpectCloseWithABufferQueuedHandsItBackAndReleasesTheDevice(s);
}

TEST_P(WaveInContract, HandlesHeadersDevicesAndFormatsAreChecked) {
  TSession s(GetParam().Make());
  ExpectHandlesHeadersDevicesAndFormatsChecked(s, true);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, WaveInContract,
    ::testing::Values(TBackend{"Alsa", [] { return CreateAlsaWaveIn(); }},
                      TBackend{"Fake", [] { return std::make_unique<TFakeWaveIn>(); }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(AlsaWaveIn, AMissingDefaultDeviceIsABadDeviceId) {
  Route.AddText("# no default PCM at all").Install();
  TSession s;
  EXPECT_EQ(s.Open(), MMSYSERR_BADDEVICEID);
  EXPECT_TRUE(s.WaveIn->DeviceNames().empty());
}

TEST_F(AlsaWaveIn, ABusyDeviceIsAllocatedUntilItsHolderClosesIt) {
  WriteRawFrames(Route.File("silence.raw"), SilenceFrames(BufferFrames));
  Route.Add({.InputFile = Route.File("silence.raw"), .Paced = true,
             .LockFile = Route.File("device.lock")}).Install();
  TSession holder, second;
  ASSERT_EQ(holder.Open(), MMSYSERR_NOERROR);
  EXPECT_EQ(second.Open(), MMSYSERR_ALLOCATED);
  ASSERT_EQ(holder.WaveIn->Close(holder.Handle), MMSYSERR_NOERROR);
  ASSERT_EQ(second.Open(), MMSYSERR_NOERROR);
  EXPECT_EQ(second.WaveIn->Close(second.Handle), MMSYSERR_NOERROR);
}

TEST_F(AlsaWaveIn, DeviceNumbersOpenTheListedCaptureDevicesInOrder) {
  auto file = [&](const char* name) { return Route.File(std::string(name) + ".raw"); };
  for (auto [name, first] : {std::pair{"default", 0u}, {"mic1", 100000u}, {"mic2", 200000u},
                             {"plain", 300000u}, {"mic3", 400000u}, {"hidden", 500000u}})
    WriteRawFrames(file(name), CounterFrames(first, BufferFrames));
  Route.Add({.Name = "default", .InputFile = file("default"),
             .Description = "Korvel default\nDefault device"})
      .Add({.Name = "mic1", .InputFile = file("mic1"), .Description = "Test microphone\nFront"})
      .Add({.Name = "mic2", .InputFile = file("mic2"), .Description = "Test microphone\nRear"})
      .AddText("pcm.plain { type file slave.pcm { type null } file \"/dev/null\" infile \"" +
               file("plain") + "\" hint.show on }")
      .Add({.Name = "hidden", .InputFile = file("hidden")})
      .Add({.Name = "mic3", .InputFile = file("mic3")})
      .AddText("pcm.null { type null hint { show on description \"Discard all samples\" } }")
      .AddText("pcm.speaker { type null }")
      .AddText("namehint.pcm { a \"speaker|Test speaker|IOIDOutput\" "
               "b \"mic3|Line input|IOIDInput\" }")
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
  const int mic2 = position("Test microphone (mic2)"), plain = position("plain"),
            mic3 = position("Line input");
  EXPECT_EQ(
      (std::vector{position("Korvel default"), position("Test microphone (mic1)"), mic2, plain}),
      (std::vector{0, 1, 2, 3}));
  EXPECT_GT(mic3, plain);
  for (const char* absent : {"Discard all samples", "Test speaker", "hidden"})
    EXPECT_EQ(position(absent), -1) << absent;
  EXPECT_EQ(s.WaveIn->DeviceNames(), names);  // enumerated once: the same list again

  for (auto [index, first] : {std::pair{mic2, 200000u}, {plain, 300000u}, {mic3, 400000u}}) {
    SCOPED_TRACE(index);
    ASSERT_GE(index, 0);
    TSession c;
    ASSERT_EQ(c.OpenAndQueue(index), MMSYSERR_NOERROR);
    ASSERT_EQ(c.WaveIn->Start(c.Handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(ProcessUntil([&] { return c.Data.size() == 1; }));
    EXPECT_EQ(FirstBreak(c.Data[0].Samples, first), -1);
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
  using TKept = std::vector<std::pair<std::string, std::string>>;
  TKept kept;
  for (const TAlsaCaptureDevice& d : devices) kept.push_back({d.Name, d.Label});
  EXPECT_EQ(kept,
            (TKept{
                {"default", "Default ALSA device"},
                {"front:CARD=PCH,DEV=0", "HDA Intel PCH, ALC892 Analog (front:CARD=PCH,DEV=0)"},
                {"sysdefault:CARD=PCH", "HDA Intel PCH, ALC892 Analog (sysdefault:CARD=PCH)"},
                {"dsnoop:CARD=PCH,DEV=0", "HDA Intel PCH, ALC892 Analog (dsnoop:CARD=PCH,DEV=0)"},
                {"plughw:1", "plughw:1"},
            }));
}

}  // namespace
