// Waveform audio input over ALSA.
//
// Each open device has one capture thread, running from Start until Reset, Close or a
// device failure. The thread plays the part of the driver: it fills the buffer at the head
// of the queue with snd_pcm_readi (non-blocking, continuing short reads), and when the
// buffer is full it marks it done, takes it off the queue and hands it to the window's
// sink. While the queue is empty the thread does not read; ALSA's ring (about one
// second) keeps the audio meanwhile, so a handler that takes a while before handing the
// buffer back loses nothing. Past that the ring overruns: the audio of the gap is lost,
// the stream is prepared and started again and capture goes on.
//
// The thread waits in poll() on the PCM's descriptors and on an eventfd that AddBuffer,
// Reset and Close write to, so a reset never waits for the device. Reset joins the thread
// before it touches the queue: once it returns no thread touches any buffer.
//
// Ownership of a header follows the queue: while WHDR_INQUEUE is set the backend owns it
// (its data, dwBytesRecorded, dwFlags); the caller may look at it again after its
// data notice has gone to the sink.
#include "wavein_alsa.h"

#include "alsa_device_list.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr unsigned CaptureRate = 44100;
constexpr unsigned CaptureChannels = 2;
constexpr unsigned CaptureFrameBytes = 4;  // 16-bit stereo
// About a second of ring: the time the window may take between being told of a full
// buffer and handing it back before the device loses audio.
constexpr snd_pcm_uframes_t RingFrames = CaptureRate;
// How often the device wakes the capture thread: a few times per buffer, so a buffer is
// announced soon after its last frame arrives without waking for every few frames.
constexpr snd_pcm_uframes_t PeriodFrames = 2048;
// Overrun recoveries in a row with nothing read in between: a device that breaks again at
// once after every restart is not capturing, and counts as failed.
constexpr int MaxRecoveriesWithoutData = 8;

bool IsCaptureFormat(const WAVEFORMATEX& f) {
  return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels == CaptureChannels &&
         f.nSamplesPerSec == CaptureRate && f.wBitsPerSample == 16 &&
         f.nBlockAlign == CaptureFrameBytes && f.nAvgBytesPerSec == CaptureRate * CaptureFrameBytes;
}

MMRESULT OpenResult(int err) {
  switch (-err) {
    case EBUSY:
    case EAGAIN:
      return MMSYSERR_ALLOCATED;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return MMSYSERR_BADDEVICEID;
    case ENOMEM:
      return MMSYSERR_NOMEM;
    default:
      return MMSYSERR_ERROR;
  }
}

// Sets the fixed capture format, the ring and the wake-up period. A device that cannot
// take the format gives WAVERR_BADFORMAT. `why` receives the failed step and ALSA's reason.
MMRESULT ConfigurePcm(snd_pcm_t* pcm, std::string& why) {
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  int err = 0;
  auto failed = [&](const char* step, MMRESULT result) {
    why = std::string(step) + ": " + snd_strerror(err);
    return result;
  };
  if ((err = snd_pcm_hw_params_any(pcm, hw)) < 0) return failed("no parameters", MMSYSERR_ERROR);
  if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
      (err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
      (err = snd_pcm_hw_params_set_channels(pcm, hw, CaptureChannels)) < 0 ||
      (err = snd_pcm_hw_params_set_rate(pcm, hw, CaptureRate, 0)) < 0)
    return failed("16-bit stereo at 44100 Hz refused", WAVERR_BADFORMAT);
  // Period first, then the ring as a whole number of periods near a second. Either may be
  // rounded by the device; a smaller ring only shortens the handler's allowance.
  snd_pcm_uframes_t period = PeriodFrames;
  int dir = 0;
  snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir);
  snd_pcm_uframes_t ring = RingFrames;
  snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &ring);
  if ((err = snd_pcm_hw_params(pcm, hw)) < 0) return failed("hardware set-up refused", MMSYSERR_ERROR);
  snd_pcm_hw_params_get_period_size(hw, &period, &dir);

  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  snd_pcm_uframes_t boundary = 0;
  if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0 ||
      (err = snd_pcm_sw_params_get_boundary(sw, &boundary)) < 0 ||
      (err = snd_pcm_sw_params_set_avail_min(pcm, sw, period)) < 0 ||
      // Started explicitly by Start, never by a read.
      (err = snd_pcm_sw_params_set_start_threshold(pcm, sw, boundary)) < 0 ||
      (err = snd_pcm_sw_params(pcm, sw)) < 0)
    return failed("software set-up refused", MMSYSERR_ERROR);
  return MMSYSERR_NOERROR;
}

std::atomic<uintptr_t> NextHandleValue{1};

class TAlsaCapture {
public:
  TAlsaCapture(HWAVEIN handle, std::string name, snd_pcm_t* pcm, int wakeFd, IWaveInSink* sink)
      : Handle(handle), Name(std::move(name)), Pcm(pcm), WakeFd(wakeFd), Sink(sink) {}

  // Stops without notifying anyone: the backend is going away, and so may the window.
  ~TAlsaCapture() {
    StopThread();
    snd_pcm_drop(Pcm);
    snd_pcm_close(Pcm);
    close(WakeFd);
  }

  TAlsaCapture(const TAlsaCapture&) = delete;
  TAlsaCapture& operator=(const TAlsaCapture&) = delete;

  MMRESULT AddBuffer(WAVEHDR* header) {
    std::lock_guard<std::mutex> guard(Lock);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    Queue.push_back(header);
    Wake();
    return MMSYSERR_NOERROR;
  }

  MMRESULT Start(std::string& why) {
    if (Thread.joinable()) {
      if (!ThreadEnded.load()) return MMSYSERR_NOERROR;  // already capturing
      Thread.join();  // ended by a device failure: try again
    }
    int err = 0;
    if ((snd_pcm_state(Pcm) != SND_PCM_STATE_PREPARED && (err = snd_pcm_prepare(Pcm)) < 0) ||
        (err = snd_pcm_start(Pcm)) < 0) {
      why = Name + ": " + snd_strerror(err);
      return MMSYSERR_ERROR;
    }
    {
      std::lock_guard<std::mutex> guard(Lock);
      StopRequested = false;
    }
    ThreadEnded = false;
    try {
      Thread = std::thread(&TAlsaCapture::Run, this);
    } catch (const std::system_error&) {
      snd_pcm_drop(Pcm);
      why = Name + ": no capture thread";
      return MMSYSERR_NOMEM;
    }
    return MMSYSERR_NOERROR;
  }

  // Stops capturing and hands every queued buffer back, the first with what it holds.
  void Reset() {
    StopThread();
    snd_pcm_drop(Pcm);
    std::deque<WAVEHDR*> returned;
    uint32_t filled = 0;
    {
      std::lock_guard<std::mutex> guard(Lock);
      returned.swap(Queue);
      filled = FrontFilled;
      FrontFilled = 0;
      for (WAVEHDR* header : returned) {
        MarkDone(header, filled);
        filled = 0;
      }
    }
    for (WAVEHDR* header : returned) Announce(header);
  }

private:
  void Wake() {
    const uint64_t one = 1;
    ssize_t written = write(WakeFd, &one, sizeof one);
    (void)written;  // the counter saturating still leaves the descriptor readable
  }

  void DrainWake() {
    uint64_t count = 0;
    ssize_t got = read(WakeFd, &count, sizeof count);
    (void)got;
  }

  void StopThread() {
    if (!Thread.joinable()) return;
    {
      std::lock_guard<std::mutex> guard(Lock);
      StopRequested = true;
    }
    Wake();
    Thread.join();
  }

  static void MarkDone(WAVEHDR* header, uint32_t bytes) {
    header->dwBytesRecorded = bytes;
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  }

  void Announce(WAVEHDR* header) {
    if (Sink) Sink->WaveInData(Handle, header);
  }

  std::vector<pollfd> PollSet() {
    std::vector<pollfd> fds;
    const int count = snd_pcm_poll_descriptors_count(Pcm);
    if (count > 0) {
      fds.resize(size_t(count));
      const int got = snd_pcm_poll_descriptors(Pcm, fds.data(), unsigned(count));
      fds.resize(size_t(got > 0 ? got : 0));
    }
    fds.push_back({WakeFd, POLLIN, 0});
    return fds;
  }

  // Waits for the device or a wake-up. Passes the device's events through ALSA, which
  // some plugins need to clear their own descriptors.
  int Wait(std::vector<pollfd>& fds, bool deviceToo) {
    pollfd* first = deviceToo ? fds.data() : &fds.back();
    const nfds_t count = deviceToo ? fds.size() : 1;
    int ready = poll(first, count, -1);
    if (ready < 0) return errno == EINTR ? 0 : -errno;
    if (fds.back().revents) DrainWake();
    if (deviceToo) {
      bool any = false;
      for (size_t i = 0; i + 1 < fds.size(); ++i) any |= fds[i].revents != 0;
      if (any) {
        unsigned short revents = 0;
        snd_pcm_poll_descriptors_revents(Pcm, fds.data(), unsigned(fds.size() - 1), &revents);
      }
    }
    return 0;
  }

  void Fail(int err) {
    ThreadEnded = true;
    if (Sink) Sink->WaveInFailed(Handle, Name + ": " + snd_strerror(err));
  }

  void Run() {
    pthread_setname_np(pthread_self(), "korvel-wavein");
    std::vector<pollfd> fds = PollSet();
    int recoveries = 0;
    for (;;) {
      WAVEHDR* header = nullptr;
      {
        std::lock_guard<std::mutex> guard(Lock);
        if (StopRequested) return;
        if (!Queue.empty()) header = Queue.front();
      }
      if (!header) {  // nothing to fill: leave the audio in the ring until a buffer comes
        if (int err = Wait(fds, false); err < 0) return Fail(err);
        continue;
      }
      const uint32_t capacity = header->dwBufferLength / CaptureFrameBytes * CaptureFrameBytes;
      const snd_pcm_sframes_t got =
          snd_pcm_readi(Pcm, header->lpData + FrontFilled, (capacity - FrontFilled) / CaptureFrameBytes);
      if (got > 0) {
        recoveries = 0;
        bool full = false;
        {
          std::lock_guard<std::mutex> guard(Lock);
          FrontFilled += uint32_t(got) * CaptureFrameBytes;
          if (FrontFilled == capacity) {
            full = true;
            MarkDone(header, FrontFilled);
            Queue.pop_front();
            FrontFilled = 0;
          }
        }
        if (full) Announce(header);
        continue;
      }
      if (got == 0 || got == -EAGAIN) {
        if (int err = Wait(fds, true); err < 0) return Fail(err);
        continue;
      }
      if (got == -EPIPE || got == -ESTRPIPE || got == -EINTR) {
        // Overrun (or suspend): what the ring held is gone; restart and go on capturing.
        if (++recoveries > MaxRecoveriesWithoutData) return Fail(int(got));
        int err = snd_pcm_recover(Pcm, int(got), 1);
        if (err >= 0 && snd_pcm_state(Pcm) == SND_PCM_STATE_PREPARED) err = snd_pcm_start(Pcm);
        if (err < 0) return Fail(err);
        fds = PollSet();
        continue;
      }
      return Fail(int(got));
    }
  }

  const HWAVEIN Handle;
  const std::string Name;
  snd_pcm_t* const Pcm;
  const int WakeFd;
  IWaveInSink* const Sink;

  std::mutex Lock;  // guards Queue, FrontFilled, StopRequested and queued headers' fields
  std::deque<WAVEHDR*> Queue;
  uint32_t FrontFilled = 0;  // bytes of Queue.front() filled so far
  bool StopRequested = false;
  std::atomic<bool> ThreadEnded{false};
  std::thread Thread;
};

class TAlsaWaveIn final : public IWaveIn {
public:
  ~TAlsaWaveIn() override = default;  // each capture stops its thread and closes its PCM

  std::vector<std::string> DeviceNames() override {
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<std::string> names;
    for (const TAlsaCaptureDevice& d : Devices()) names.push_back(d.Label);
    return names;
  }

  MMRESULT Open(HWAVEIN* handle, int32_t deviceId, const WAVEFORMATEX& format,
                TWaveInWindow window) override {
    if (!handle) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(Lock);
    LastError.clear();
    std::string name;
    if (deviceId == WAVE_MAPPER) {
      name = "default";
    } else {
      const std::vector<TAlsaCaptureDevice>& devices = Devices();
      if (deviceId < 0 || size_t(deviceId) >= devices.size()) {
        LastError = "device " + std::to_string(deviceId) + ": not in the list of " +
                    std::to_string(devices.size()) + " capture devices";
        return MMSYSERR_BADDEVICEID;
      }
      name = devices[size_t(deviceId)].Name;
    }
    if (!IsCaptureFormat(format)) return WAVERR_BADFORMAT;

    // Non-blocking open: a busy hardware device answers EBUSY instead of waiting.
    snd_pcm_t* pcm = nullptr;
    if (int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK); err < 0) {
      LastError = name + ": " + snd_strerror(err);
      return OpenResult(err);
    }
    std::string why;
    if (MMRESULT result = ConfigurePcm(pcm, why); result != MMSYSERR_NOERROR) {
      snd_pcm_close(pcm);
      LastError = name + ": " + why;
      return result;
    }
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
      LastError = name + ": " + std::strerror(errno);
      snd_pcm_close(pcm);
      return MMSYSERR_NOMEM;
    }
    const uintptr_t value = NextHandleValue++;
    const HWAVEIN h = reinterpret_cast<HWAVEIN>(value);
    Captures.emplace(value, std::make_unique<TAlsaCapture>(h, std::move(name), pcm, wakeFd, window.Sink));
    *handle = h;
    return MMSYSERR_NOERROR;
  }

  MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* header) override {
    std::lock_guard<std::mutex> guard(Lock);
    if (!Find(handle)) return MMSYSERR_INVALHANDLE;
    if (!header || !header->lpData || header->dwBufferLength < CaptureFrameBytes)
      return MMSYSERR_INVALPARAM;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }

  MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* header) override {
    std::lock_guard<std::mutex> guard(Lock);
    TAlsaCapture* capture = Find(handle);
    if (!capture) return MMSYSERR_INVALHANDLE;
    if (!header) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }

  MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* header) override {
    std::lock_guard<std::mutex> guard(Lock);
    TAlsaCapture* capture = Find(handle);
    if (!capture) return MMSYSERR_INVALHANDLE;
    if (!header || !header->lpData || header->dwBufferLength < CaptureFrameBytes)
      return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    return capture->AddBuffer(header);
  }

  MMRESULT Start(HWAVEIN handle) override {
    std::lock_guard<std::mutex> guard(Lock);
    LastError.clear();
    TAlsaCapture* capture = Find(handle);
    return capture ? capture->Start(LastError) : MMSYSERR_INVALHANDLE;
  }

  MMRESULT Reset(HWAVEIN handle) override {
    std::lock_guard<std::mutex> guard(Lock);
    TAlsaCapture* capture = Find(handle);
    if (!capture) return MMSYSERR_INVALHANDLE;
    capture->Reset();
    return MMSYSERR_NOERROR;
  }

  // Releases everything, also when buffers are still queued: they come back as a reset
  // would return them, instead of the close being refused and the device left open.
  MMRESULT Close(HWAVEIN handle) override {
    std::lock_guard<std::mutex> guard(Lock);
    auto it = Captures.find(reinterpret_cast<uintptr_t>(handle));
    if (it == Captures.end()) return MMSYSERR_INVALHANDLE;
    it->second->Reset();
    Captures.erase(it);
    return MMSYSERR_NOERROR;
  }

  std::string LastErrorText() override {
    std::lock_guard<std::mutex> guard(Lock);
    return LastError;
  }

private:
  const std::vector<TAlsaCaptureDevice>& Devices() {
    if (!DeviceList) DeviceList = EnumerateAlsaCaptureDevices();
    return *DeviceList;
  }

  TAlsaCapture* Find(HWAVEIN handle) {
    auto it = Captures.find(reinterpret_cast<uintptr_t>(handle));
    return it == Captures.end() ? nullptr : it->second.get();
  }

  std::mutex Lock;
  std::optional<std::vector<TAlsaCaptureDevice>> DeviceList;
  std::map<uintptr_t, std::unique_ptr<TAlsaCapture>> Captures;
  std::string LastError;  // of the last failed Open or Start
};

}  // namespace

std::unique_ptr<IWaveIn> CreateAlsaWaveIn() { return std::make_unique<TAlsaWaveIn>(); }
