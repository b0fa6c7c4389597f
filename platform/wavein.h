#pragma once
// Waveform audio input with window notification, shaped like the Windows service the
// program was designed against: open a device, prepare a header, queue the one buffer,
// start, reset, unprepare, close. A filled buffer is announced to the window given at
// open; the window's handler runs on the window's thread and hands the buffer back with
// AddBuffer.
//
// No toolkit here: how a notice reaches the window's thread is the front end's business
// (a posted event for Qt, MM_WIM_DATA sent by the system to an HWND for Win32).
//
// Backends: CreateAlsaWaveIn() (wavein_alsa.h, capture thread) in the program; tests use
// their own (testing/FakeWaveIn.h).
#include "wavein_types.h"

#include <cstdint>
#include <string>
#include <vector>

// Where a backend announces filled buffers. A backend with its own capture thread (ALSA,
// the test fake) calls the sink from that thread; the sink hands the notice on to the
// window's thread and returns at once. A backend over a service that notifies a window
// itself (winmm) passes Native (an HWND) with CALLBACK_WINDOW instead.
class IWaveInSink {
public:
  // A filled buffer, or one Reset or Close returned (dwBytesRecorded says how much).
  virtual void WaveInData(HWAVEIN handle, WAVEHDR* header) = 0;
  // Once, when the device fails while capturing (unplugged, driver error): the capture
  // has stopped; the window ends it as a stop would and tells the user. `detail` is the
  // backend's own description, UTF-8, for the message's second line.
  virtual void WaveInFailed(HWAVEIN handle, const std::string& detail) = 0;

protected:
  ~IWaveInSink() = default;
};

// The window a device is opened for. Either member may be null; a backend uses the one it
// understands and announces nothing when that one is null.
struct TWaveInWindow {
  void* Native = nullptr;
  IWaveInSink* Sink = nullptr;
};

class IWaveIn {
public:
  virtual ~IWaveIn() = default;

  // Names of the capture devices (UTF-8), in device-number order: device number i is
  // DeviceNames()[i]. Enumerated once, when first asked, so names and numbers never drift
  // apart during a run.
  virtual std::vector<std::string> DeviceNames() = 0;

  // deviceId: WAVE_MAPPER (the preferred device) or 0..DeviceNames().size()-1.
  virtual MMRESULT Open(HWAVEIN* handle, int32_t deviceId, const WAVEFORMATEX& format,
                        TWaveInWindow window) = 0;
  virtual MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* header) = 0;
  virtual MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* header) = 0;
  virtual MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* header) = 0;
  virtual MMRESULT Start(HWAVEIN handle) = 0;
  // Stops capturing and returns the queued buffer, if any, with one last data notice.
  // When Reset returns, the backend no longer touches any buffer.
  virtual MMRESULT Reset(HWAVEIN handle) = 0;
  // Releases the device. Buffers still queued come back as Reset returns them. The window
  // given at Open must live until Close: notices reach it until then.
  virtual MMRESULT Close(HWAVEIN handle) = 0;

  // Why the last Open or Start failed, as "<device>: <system reason>" (UTF-8); empty after
  // one that succeeded, and when the backend knows no more than the result code.
  virtual std::string LastErrorText() { return {}; }
};
