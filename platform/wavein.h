#pragma once
// Waveform audio input with window notification, shaped like the Windows service the
// program was designed against: open a device, prepare a header, queue the one buffer,
// start, reset, unprepare, close. A filled buffer is announced by posting a
// TWaveInDataEvent (MM_WIM_DATA) to the window given at open; the window's handler runs on
// the GUI thread and hands the buffer back with AddBuffer.
//
// Backends: CreateAlsaWaveIn() (ALSA, capture thread) in the program; tests use their own.
#include <QEvent>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

using MMRESULT = uint32_t;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;     // device busy
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr int32_t WAVE_MAPPER = -1;
constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr int MM_WIM_DATA = 0x3C0;

// Header flags.
constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

#pragma pack(push, 1)
// The 18-byte format record; the capture file stores it as it stands.
struct WAVEFORMATEX {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

struct WAVEHDR {
  char* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;  // written by the driver before it announces the buffer
  uintptr_t dwUser = 0;
  uint32_t dwFlags = 0;
  uint32_t dwLoops = 0;
  WAVEHDR* lpNext = nullptr;
  uintptr_t reserved = 0;
};

using HWAVEIN = struct HWAVEIN__*;

// Posted for every filled (or, by Reset, returned) buffer.
class TWaveInDataEvent : public QEvent {
public:
  static constexpr QEvent::Type EventType = QEvent::Type(QEvent::User + MM_WIM_DATA);
  TWaveInDataEvent(HWAVEIN handle, WAVEHDR* header)
      : QEvent(EventType), Handle(handle), Header(header) {}
  HWAVEIN Handle;
  WAVEHDR* Header;
};

// Posted once when the device fails while capturing (unplugged, driver error). The capture
// thread has stopped; the window ends the capture as a stop would and tells the user.
class TWaveInFailureEvent : public QEvent {
public:
  static constexpr QEvent::Type EventType = QEvent::Type(QEvent::User + MM_WIM_DATA + 1);
  TWaveInFailureEvent(HWAVEIN handle, QString detail)
      : QEvent(EventType), Handle(handle), Detail(std::move(detail)) {}
  HWAVEIN Handle;
  QString Detail;  // the backend's own description, for the message's second line
};

class IWaveIn {
public:
  virtual ~IWaveIn() = default;

  // Names of the capture devices, in device-number order: device number i is
  // DeviceNames()[i]. Enumerated once, when first asked, so names and numbers never drift
  // apart during a run.
  virtual std::vector<QString> DeviceNames() = 0;

  // deviceId: WAVE_MAPPER (the preferred device) or 0..DeviceNames().size()-1.
  virtual MMRESULT Open(HWAVEIN* handle, int32_t deviceId, const WAVEFORMATEX& format,
                        QObject* window) = 0;
  virtual MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* header) = 0;
  virtual MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* header) = 0;
  virtual MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* header) = 0;
  virtual MMRESULT Start(HWAVEIN handle) = 0;
  // Stops capturing and returns the queued buffer, if any, with one last TWaveInDataEvent.
  // When Reset returns, the backend no longer touches any buffer.
  virtual MMRESULT Reset(HWAVEIN handle) = 0;
  // Releases the device. Buffers still queued come back as Reset returns them. The window
  // given at Open must live until Close: events are posted to it until then.
  virtual MMRESULT Close(HWAVEIN handle) = 0;

  // Why the last Open or Start failed, as "<device>: <system reason>"; empty after one
  // that succeeded, and when the backend knows no more than the result code.
  virtual QString LastErrorText() { return {}; }
};

// ALSA backend. Device numbers index ALSA's capture-capable PCMs; WAVE_MAPPER opens
// "default".
std::unique_ptr<IWaveIn> CreateAlsaWaveIn();
