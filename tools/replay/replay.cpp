#include "replay.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "fastfourier.h"

namespace {

uint32_t U32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t U16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

bool ReadExact(std::FILE* f, void* buffer, size_t count) {
  return std::fread(buffer, 1, count, f) == count;
}

int64_t FileSize(std::FILE* f) {
  const long here = std::ftell(f);
  if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(f);
  std::fseek(f, here, SEEK_SET);
  return size;
}

// The PCM subformat GUID of WAVE_FORMAT_EXTENSIBLE, after its first two bytes.
const unsigned char kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

TWavInfo ReadWavHeader(std::FILE* file) {
  const int64_t fileSize = FileSize(file);
  if (fileSize < 0 || std::fseek(file, 0, SEEK_SET) != 0) throw EReplayInput("cannot read the file");
  unsigned char riff[12];
  if (!ReadExact(file, riff, 12)) throw EReplayInput("not a WAV file: shorter than a RIFF header");
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
    throw EReplayInput("not a WAV file: no RIFF/WAVE header");
  // The RIFF size is not trusted: a killed capture leaves it 0 while audio follows.

  TWavInfo info;
  bool haveFormat = false;
  int64_t pos = 12;
  for (;;) {
    unsigned char ck[8];
    if (!ReadExact(file, ck, 8))
      throw EReplayInput(haveFormat ? "malformed WAV file: no data chunk"
                                    : "malformed WAV file: no fmt chunk");
    pos += 8;
    const uint32_t size = U32(ck + 4);
    if (std::memcmp(ck, "fmt ", 4) == 0) {
      if (size < 16 || size > 1024) throw EReplayInput("malformed WAV file: bad fmt chunk size");
      unsigned char fmt[1024];
      if (!ReadExact(file, fmt, size)) throw EReplayInput("truncated WAV file: fmt chunk cut short");
      uint16_t tag = U16(fmt);
      if (tag == 0xFFFE && size >= 40 && std::memcmp(fmt + 26, kPcmGuidTail, 14) == 0) tag = U16(fmt + 24);
      const int channels = U16(fmt + 2);
      const uint32_t rate = U32(fmt + 4);
      const int align = U16(fmt + 12);
      const int bits = U16(fmt + 14);
      if (tag != 1) throw EReplayInput("unsupported WAV format: not PCM (format tag " + std::to_string(U16(fmt)) + ")");
      if (bits != 16) throw EReplayInput("unsupported WAV format: " + std::to_string(bits) + " bits per sample, need 16");
      if (rate != uint32_t(kSampleRate))
        throw EReplayInput("unsupported WAV format: " + std::to_string(rate) + " Hz, need " +
                           std::to_string(kSampleRate));
      if (channels != 1 && channels != 2)
        throw EReplayInput("unsupported WAV format: " + std::to_string(channels) + " channels, need 1 or 2");
      if (align != 2 * channels) throw EReplayInput("malformed WAV file: block alignment " + std::to_string(align));
      info.Channels = channels;
      info.BlockAlign = align;
      haveFormat = true;
      if (size & 1) std::fgetc(file);
      pos += size + (size & 1);
    } else if (std::memcmp(ck, "data", 4) == 0) {
      if (!haveFormat) throw EReplayInput("malformed WAV file: data chunk before fmt chunk");
      info.DataOffset = pos;
      const int64_t available = fileSize - pos;
      // A zero data size with frames after it is a capture that never stopped, whatever the
      // RIFF size says (a killed writer may have got one of the two updates out).
      if (size == 0 && available > 0) {
        info.Unfinished = true;
        info.DataBytes = available;
      } else if (int64_t(size) > available) {
        throw EReplayInput("truncated WAV file: the data chunk declares " + std::to_string(size) +
                           " bytes, the file holds " + std::to_string(available));
      } else {
        info.DataBytes = size;
      }
      return info;
    } else {
      const int64_t skip = int64_t(size) + (size & 1);
      if (pos + skip > fileSize) throw EReplayInput("truncated WAV file: a chunk runs past the end");
      if (std::fseek(file, long(skip), SEEK_CUR) != 0) throw EReplayInput("cannot read the file");
      pos += skip;
    }
  }
}

int32_t ReplayThreshold(int64_t buffer, const TReplayOptions& options, double referenceMean) {
  // Whole seconds elapsed when buffer b completes: floor((b + 1) * 8192 / 44100).
  const int64_t tick = (buffer + 1) * kFramesPerBuffer / kSampleRate;
  if (tick < 1 || referenceMean == 0.0) return options.viFloor;
  const bool calibrated = (options.CalibrateBuffer + 1) * kFramesPerBuffer <= tick * kSampleRate;
  if (!calibrated) return options.viFloor;
  const uint32_t elapsedMs = uint32_t(std::min<int64_t>(tick * 1000, kRampMs));
  return RampThreshold(elapsedMs, options.viFloor, options.viFloor2);
}

void RunReplay(std::FILE* file, const TWavInfo& info, const TReplayOptions& options,
               std::FILE* out, const std::function<void(double)>& publish,
               const std::function<void(const TReplayRow&)>& row) {
  TFastFourier fft("FFT1");
  SetUpTransform(fft);

  const size_t fileBytes = size_t(info.BlockAlign) * kFramesPerBuffer;
  std::vector<uint8_t> raw(fileBytes);
  std::vector<uint8_t> frames(kBufferBytes, 0);  // the program's 4-byte stereo frames
  TSpeedState state;
  double reference = 0.0;
  // OK is pressed after buffer CalibrateBuffer. The program then waits while the last mean
  // is exactly 0 and takes the first one that is not, so a calibration buffer of digital
  // silence hands the calibration on to the next buffer with a level; the threshold ticks
  // count the calibration complete from that buffer on.
  TReplayOptions timing = options;
  bool awaitingReference = false;
  const int64_t buffers = info.Buffers();
  const auto period = std::chrono::duration<double>(double(kFramesPerBuffer) / kSampleRate);
  const auto start = std::chrono::steady_clock::now();

  if (out) std::fprintf(out, "buffer,time_s,mean,level_db,frequency_hz,case,threshold_hz,below,above,speed,published\n");
  if (std::fseek(file, long(info.DataOffset), SEEK_SET) != 0) throw EReplayInput("cannot read the file");
  for (int64_t b = 0; b < buffers; ++b) {
    if (!ReadExact(file, raw.data(), fileBytes))
      throw EReplayInput("truncated WAV file: read failed in buffer " + std::to_string(b));
    if (info.Channels == 2) {
      std::memcpy(frames.data(), raw.data(), fileBytes);
    } else {
      for (int p = 0; p < kFramesPerBuffer; ++p) {
        frames[4 * size_t(p)] = raw[2 * size_t(p)];
        frames[4 * size_t(p) + 1] = raw[2 * size_t(p) + 1];
      }
    }
    if (options.Realtime)
      std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(period * double(b + 1)));

    const TBufferMeasure m = MeasureBuffer(frames, fft);
    const int32_t threshold = ReplayThreshold(b, timing, reference);
    const TDecision d = Decide(m, options.Speed, threshold, reference, state);
    if (b == options.CalibrateBuffer) awaitingReference = true;
    if (awaitingReference && m.Mean != 0.0) {
      reference = m.Mean;
      timing.CalibrateBuffer = b;
      awaitingReference = false;
    }
    if (d.ApplySpeed && publish) publish(double(state.SpeedFactor));

    TReplayRow r;
    r.Buffer = b;
    r.TimeS = double(b) * kFramesPerBuffer / kSampleRate;
    r.Mean = m.Mean;
    r.LevelDb = d.LevelDb;
    r.Frequency = m.Frequency;
    r.Case = d.Case;
    r.AtOrAbove = d.Case == TToneCase::InRange && d.FundamentalColor == kColorRed;
    r.Threshold = threshold;
    r.BelowCount = state.BelowCount;
    r.AboveCount = state.AboveCount;
    r.Speed = state.SpeedFactor;
    r.Published = d.ApplySpeed;
    if (row) row(r);
    if (!out) continue;
    char freq[32] = "";
    if (r.Case != TToneCase::Silent) std::snprintf(freq, sizeof freq, "%.2f", r.Frequency);
    std::fprintf(out, "%lld,%.3f,%.6f,%.6f,%s,%c,%d,%d,%d,%.2f,%d\n", static_cast<long long>(b), r.TimeS,
                 r.Mean, r.LevelDb, freq, static_cast<char>(r.Case), threshold, r.BelowCount,
                 r.AboveCount, double(r.Speed), r.Published ? 1 : 0);
    if (options.Realtime) std::fflush(out);
  }
}
