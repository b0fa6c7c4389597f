#pragma once
// The records and result codes of the waveform audio input. On Windows they are the
// system's own (the winmm backend hands them to the service as they stand); elsewhere the
// program carries copies with the same layout, so the capture file's format record and
// every caller read the same on both. This is the one place that chooses by platform.
#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
#else
#include <cstdint>

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
#endif

static_assert(sizeof(WAVEFORMATEX) == 18);
