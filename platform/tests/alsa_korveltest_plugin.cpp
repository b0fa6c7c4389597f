// Test-only ALSA capture device (ioplug), loaded by alsa-lib from the test's ALSA
// configuration:
//
//   pcm_type.korveltest { lib "/abs/path/libasound_module_pcm_korveltest.so" }
//   pcm.default { type korveltest  file "/tmp/in.raw"  end "fail"  lock "/tmp/dev.lock" }
//
// It plays a raw file of 16-bit little-endian stereo frames into the capture stream at
// 44100 frames per second of the monotonic clock, like a sound card with a steady input,
// and then, by `end`:
//   "silence" (default)  goes on delivering zero frames;
//   "hang"               delivers nothing more: a reader waits for ever (until reset);
//   "fail"               once every frame of the file has been read, fails like an
//                        unplugged device: the stream breaks and cannot be prepared again.
// `lock` names a file the device holds an exclusive lock on while open, so a second open
// reports the device busy (EBUSY), as a hardware device opened twice would.
//
// The device keeps real-time semantics a reader can get wrong: the ring holds buffer_size
// frames; a reader that falls further behind gets an overrun (EPIPE), and the audio
// produced meanwhile is lost: after the restart the file continues at the position the
// clock has reached, not where reading stopped.
#include "alsa_test_route.h"

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr unsigned Rate = 44100;
constexpr unsigned Channels = 2;
constexpr unsigned FrameBytes = 2 * Channels;
// Wake-up tick of the poll descriptor; the device reports readiness on the tick after
// avail_min frames have arrived, as an interrupt-driven card does at period ends.
constexpr long TickNs = 5'000'000;

using TEnd = TAlsaTestEnd;

struct TTestDevice {
  snd_pcm_ioplug_t Io{};
  std::vector<int16_t> Samples;  // interleaved L R L R ...
  TEnd End = TEnd::Silence;
  int TimerFd = -1;
  int LockFd = -1;
  bool Running = false;
  bool Failed = false;
  bool EverStarted = false;
  timespec FirstStart{};  // the source's time origin: the file runs from here
  timespec RunStart{};    // start of the current run (hw position 0)
  uint64_t RunBase = 0;   // source frame at hw position 0 of the current run
  uint64_t ReadPos = 0;   // source frame the next transfer delivers
  snd_pcm_uframes_t AvailMin = 1;

  ~TTestDevice() {
    if (TimerFd >= 0) close(TimerFd);
    if (LockFd >= 0) close(LockFd);  // releases the exclusive lock
  }
  uint64_t SourceFrames() const { return Samples.size() / Channels; }
};

// Starts the poll descriptor's tick, or stops it (0).
void SetTick(const TTestDevice& d, long ns) {
  itimerspec tick{};
  tick.it_interval.tv_nsec = tick.it_value.tv_nsec = ns;
  timerfd_settime(d.TimerFd, 0, &tick, nullptr);
}

uint64_t FramesSince(const timespec& origin) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const int64_t ns = int64_t(now.tv_sec - origin.tv_sec) * 1'000'000'000 +
                     (now.tv_nsec - origin.tv_nsec);
  return ns <= 0 ? 0 : uint64_t(ns) * Rate / 1'000'000'000u;
}

TTestDevice* Device(snd_pcm_ioplug_t* io) { return static_cast<TTestDevice*>(io->private_data); }

// Frames the device has produced in this run, before the end rules and the ring limit.
// For "hang" and "fail" the device produces nothing past the end of the file.
uint64_t ProducedFrames(const TTestDevice& d) {
  const uint64_t produced = FramesSince(d.RunStart);
  if (d.End == TEnd::Silence) return produced;
  return std::min(produced, d.SourceFrames() > d.RunBase ? d.SourceFrames() - d.RunBase : 0);
}

bool SourceExhausted(const TTestDevice& d) {
  return d.End != TEnd::Silence && d.RunBase + ProducedFrames(d) >= d.SourceFrames();
}

int DeviceStart(snd_pcm_ioplug_t* io) {
  TTestDevice& d = *Device(io);
  if (d.Failed) return -ENODEV;
  clock_gettime(CLOCK_MONOTONIC, &d.RunStart);
  if (!d.EverStarted) {
    d.FirstStart = d.RunStart;
    d.EverStarted = true;
  }
  // A restart after an overrun or a stop resumes the source where its clock stands.
  d.ReadPos = d.RunBase = std::max(FramesSince(d.FirstStart), d.ReadPos);
  d.Running = true;
  SetTick(d, TickNs);
  return 0;
}

int DeviceStop(snd_pcm_ioplug_t* io) {
  TTestDevice& d = *Device(io);
  d.Running = false;
  SetTick(d, 0);
  return 0;
}

snd_pcm_sframes_t DevicePointer(snd_pcm_ioplug_t* io) {
  TTestDevice& d = *Device(io);
  if (d.Failed) return -EIO;
  if (!d.Running) return snd_pcm_sframes_t(io->hw_ptr % io->buffer_size);
  const uint64_t produced = ProducedFrames(d);
  const uint64_t consumed = io->appl_ptr;
  if (d.End == TEnd::Fail && SourceExhausted(d) && consumed >= produced) {
    d.Failed = true;  // everything was delivered: now the device goes away
    return -EIO;
  }
  // A full ring counts as lost: the position alone cannot tell a full ring from an empty one.
  if (produced - consumed >= io->buffer_size) return -EPIPE;
  return snd_pcm_sframes_t(produced % io->buffer_size);
}

snd_pcm_sframes_t DeviceTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                                 snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  TTestDevice& d = *Device(io);
  // Interleaved access only (the hw constraints allow nothing else): one area per channel
  // over the same memory, channel 0 first.
  auto* out = reinterpret_cast<int16_t*>(static_cast<char*>(areas[0].addr) +
                                         (areas[0].first + offset * areas[0].step) / 8);
  for (snd_pcm_uframes_t i = 0; i < size; ++i) {
    const uint64_t frame = d.ReadPos + i;
    for (unsigned c = 0; c < Channels; ++c)
      out[i * Channels + c] = frame < d.SourceFrames() ? d.Samples[frame * Channels + c] : 0;
  }
  d.ReadPos += size;
  return snd_pcm_sframes_t(size);
}

int DevicePrepare(snd_pcm_ioplug_t* io) { return Device(io)->Failed ? -ENODEV : 0; }

int DeviceSwParams(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params) {
  snd_pcm_uframes_t availMin = 1;
  snd_pcm_sw_params_get_avail_min(params, &availMin);
  Device(io)->AvailMin = availMin ? availMin : 1;
  return 0;
}

int DevicePollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds,
                      unsigned short* revents) {
  TTestDevice& d = *Device(io);
  uint64_t ticks = 0;
  if (nfds >= 1 && (pfd[0].revents & POLLIN)) {
    [[maybe_unused]] const ssize_t got = read(d.TimerFd, &ticks, sizeof ticks);  // drains it
  }
  *revents = d.Failed ? POLLIN | POLLERR : 0;
  if (d.Failed || !d.Running) return 0;
  const uint64_t produced = ProducedFrames(d);
  const uint64_t avail = produced - io->appl_ptr;
  const bool endReached = d.End == TEnd::Fail && SourceExhausted(d);
  // A device whose input has ended hands over its last partial period; a failing one
  // wakes the reader so that it meets the failure.
  if (avail >= d.AvailMin || avail >= io->buffer_size || (SourceExhausted(d) && avail > 0) ||
      endReached)
    *revents = POLLIN;
  return 0;
}

int DeviceClose(snd_pcm_ioplug_t* io) {
  delete Device(io);
  return 0;
}

const snd_pcm_ioplug_callback_t Callbacks = [] {
  snd_pcm_ioplug_callback_t c{};
  c.start = DeviceStart;
  c.stop = DeviceStop;
  c.pointer = DevicePointer;
  c.transfer = DeviceTransfer;
  c.close = DeviceClose;
  c.prepare = DevicePrepare;
  c.sw_params = DeviceSwParams;
  c.poll_revents = DevicePollRevents;
  return c;
}();

bool LoadSamples(const std::string& path, std::vector<int16_t>& samples) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  const std::streamoff bytes = f.tellg();
  if (!f || bytes < 0) return false;
  samples.resize(size_t(bytes) / FrameBytes * Channels);
  f.seekg(0);
  return bool(f.read(reinterpret_cast<char*>(samples.data()),
                     std::streamsize(samples.size() * sizeof(int16_t))));
}

// Interleaved 16-bit stereo at the one rate; periods and ring within what a card allows.
int Configure(snd_pcm_ioplug_t* io) {
  static const unsigned access = SND_PCM_ACCESS_RW_INTERLEAVED, format = SND_PCM_FORMAT_S16_LE;
  const struct {
    int Param;
    unsigned Min, Max;
  } ranges[] = {{SND_PCM_IOPLUG_HW_CHANNELS, Channels, Channels},
                {SND_PCM_IOPLUG_HW_RATE, Rate, Rate},
                {SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64 * FrameBytes, 65536 * FrameBytes},
                {SND_PCM_IOPLUG_HW_BUFFER_BYTES, 256 * FrameBytes, 4 * Rate * FrameBytes},
                {SND_PCM_IOPLUG_HW_PERIODS, 2, 1024}};
  int err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, &access);
  if (err >= 0) err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, &format);
  for (const auto& r : ranges)
    if (err >= 0) err = snd_pcm_ioplug_set_param_minmax(io, r.Param, r.Min, r.Max);
  return err < 0 ? err : 0;
}

}  // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(korveltest) {
  std::string file;
  std::string lock;
  TEnd end = TEnd::Silence;
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* n = snd_config_iterator_entry(i);
    const char* id = nullptr;
    if (snd_config_get_id(n, &id) < 0) continue;
    const std::string key = id;
    if (key == "comment" || key == "type" || key == "hint") continue;
    const char* value = nullptr;
    if (snd_config_get_string(n, &value) < 0) {
      SNDERR("korveltest: %s must be a string", id);
      return -EINVAL;
    }
    const auto& ends = kAlsaTestEndNames;
    const auto named = std::find(std::begin(ends), std::end(ends), std::string(value));
    if (key == "file") {
      file = value;
    } else if (key == "lock") {
      lock = value;
    } else if (key == "end" && named != std::end(ends)) {
      end = TEnd(named - std::begin(ends));
    } else {
      SNDERR(key == "end" ? "korveltest: unknown end %s" : "korveltest: unknown field %s",
             key == "end" ? value : id);
      return -EINVAL;
    }
  }
  if (stream != SND_PCM_STREAM_CAPTURE) return -EINVAL;

  // Owned here until the PCM exists; from then on closing the PCM frees it.
  auto d = std::make_unique<TTestDevice>();
  d->End = end;
  if (!file.empty() && !LoadSamples(file, d->Samples)) return -ENOENT;
  if (!lock.empty()) {
    d->LockFd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (d->LockFd < 0) return -errno;
    if (flock(d->LockFd, LOCK_EX | LOCK_NB) < 0) return errno == EWOULDBLOCK ? -EBUSY : -errno;
  }
  d->TimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (d->TimerFd < 0) return -errno;
  d->Io.version = SND_PCM_IOPLUG_VERSION;
  d->Io.name = "Korvel paced test input";
  d->Io.poll_fd = d->TimerFd;
  d->Io.poll_events = POLLIN;
  d->Io.callback = &Callbacks;
  d->Io.private_data = d.get();
  if (const int err = snd_pcm_ioplug_create(&d->Io, name, stream, mode); err < 0) return err;
  snd_pcm_ioplug_t* io = &d.release()->Io;
  if (const int err = Configure(io); err < 0) {
    snd_pcm_ioplug_delete(io);  // runs DeviceClose
    return err;
  }
  *pcmp = io->pcm;
  return 0;
}

SND_PCM_PLUGIN_SYMBOL(korveltest)

}  // extern "C"
