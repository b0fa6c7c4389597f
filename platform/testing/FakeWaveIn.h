#pragma once
// Test backend of the audio input: no thread, no device. A test fills the queued buffer
// with Deliver() and the window's sink receives the same notice the ALSA backend gives.
#include "wavein.h"

#include <functional>
#include <string>
#include <vector>

class TFakeWaveIn : public IWaveIn {
public:
  std::vector<std::string> Devices;
  MMRESULT OpenResult = MMSYSERR_NOERROR;
  MMRESULT PrepareResult = MMSYSERR_NOERROR;
  MMRESULT AddResult = MMSYSERR_NOERROR;

  // What was asked of the backend, in order ("open -1", "prepare", "add", "start", ...).
  std::vector<std::string> Calls;
  int OpenCount = 0;     // devices currently open
  WAVEHDR* Queued = nullptr;
  IWaveInSink* Sink = nullptr;

  std::vector<std::string> DeviceNames() override { return Devices; }

  // Checks what the ALSA backend checks, in its order; the *Result fields then stand for
  // what a device could still answer.
  MMRESULT Open(HWAVEIN* handle, int32_t deviceId, const WAVEFORMATEX& format,
                TWaveInWindow window) override {
    Calls.push_back("open " + std::to_string(deviceId));
    Format = format;
    if (!handle) return MMSYSERR_INVALPARAM;
    if (deviceId < int32_t(WAVE_MAPPER) || deviceId >= int32_t(Devices.size()))
      return MMSYSERR_BADDEVICEID;
    // The one format the program captures in: 44100 Hz, 16-bit stereo PCM.
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels != 2 ||
        format.nSamplesPerSec != 44100 || format.wBitsPerSample != 16 || format.nBlockAlign != 4 ||
        format.nAvgBytesPerSec != 176400)
      return WAVERR_BADFORMAT;
    if (OpenResult != MMSYSERR_NOERROR) return OpenResult;
    ++OpenCount;
    Sink = window.Sink;
    *handle = reinterpret_cast<HWAVEIN>(++Serial);
    Current = *handle;
    return MMSYSERR_NOERROR;
  }
  MMRESULT PrepareHeader(HWAVEIN h, WAVEHDR* header) override {
    Calls.push_back("prepare");
    if (!IsCurrent(h)) return MMSYSERR_INVALHANDLE;
    if (!Usable(header)) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    if (PrepareResult == MMSYSERR_NOERROR) header->dwFlags |= WHDR_PREPARED;
    return PrepareResult;
  }
  MMRESULT UnprepareHeader(HWAVEIN h, WAVEHDR* header) override {
    Calls.push_back("unprepare");
    if (!IsCurrent(h)) return MMSYSERR_INVALHANDLE;
    if (!header) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }
  MMRESULT AddBuffer(HWAVEIN h, WAVEHDR* header) override {
    Calls.push_back("add");
    if (!IsCurrent(h)) return MMSYSERR_INVALHANDLE;
    if (!Usable(header)) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    if (AddResult != MMSYSERR_NOERROR) return AddResult;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    Queued = header;
    return MMSYSERR_NOERROR;
  }
  MMRESULT Start(HWAVEIN h) override {
    Calls.push_back("start");
    Started = IsCurrent(h);
    return Started ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
  }
  MMRESULT Reset(HWAVEIN h) override { return Stop("reset", h, false); }
  // As the interface promises, a buffer still queued comes back as Reset returns it.
  MMRESULT Close(HWAVEIN h) override { return Stop("close", h, true); }

  // Fills the queued buffer with `frames` stereo frames (first channel from `left`,
  // second channel zero) and posts the notice. False when no buffer is queued.
  bool Deliver(const std::function<int16_t(uint32_t frame)>& left) {
    if (!Queued || !Started) return false;
    auto* samples = reinterpret_cast<int16_t*>(Queued->lpData);
    for (uint32_t p = 0; p < Queued->dwBufferLength / 4; ++p) {
      samples[2 * p] = left(p);
      samples[2 * p + 1] = 0;
    }
    Post(Queued->dwBufferLength);
    return true;
  }
  bool DeliverConstant(int16_t value) { return Deliver([value](uint32_t) { return value; }); }

  void Fail(const std::string& detail) {
    Started = false;
    if (Sink) Sink->WaveInFailed(Current, detail);
  }

  bool IsOpen() const { return Current != nullptr; }
  WAVEFORMATEX Format{};

private:
  bool IsCurrent(HWAVEIN h) const { return h != nullptr && h == Current; }
  static bool Usable(const WAVEHDR* header) {
    return header && header->lpData && header->dwBufferLength >= 4;
  }

  // Reset, and for a close also closes: the queued buffer comes back empty.
  MMRESULT Stop(const char* call, HWAVEIN h, bool close) {
    Calls.push_back(call);
    if (!IsCurrent(h)) return MMSYSERR_INVALHANDLE;
    Started = false;
    if (Queued) Post(0);
    if (close) {
      --OpenCount;
      Current = nullptr;
    }
    return MMSYSERR_NOERROR;
  }
  void Post(uint32_t bytes) {
    WAVEHDR* header = Queued;
    Queued = nullptr;
    header->dwBytesRecorded = bytes;
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (Sink) Sink->WaveInData(Current, header);
  }

  uintptr_t Serial = 0;
  HWAVEIN Current = nullptr;
  bool Started = false;
};
