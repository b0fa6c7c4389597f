#pragma once
// What every backend of IWaveIn promises, whatever window its notices reach: bad handles,
// headers unprepared or already queued, devices out of range, formats the device refuses,
// and a close with a buffer still queued. Each front end's test runs these bodies on its
// backends (Qt's sink: ALSA and the tests' fake, so the fake cannot drift from the real
// one; an HWND: winmm), through a TWaveInSession over its own window.
#include "wavein.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

inline constexpr uint32_t BufferFrames = 8192;
inline constexpr uint32_t BufferBytes = BufferFrames * 4;

inline WAVEFORMATEX CaptureFormat() { return {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0}; }

// What a front end's window was handed back, each buffer as it came (its samples copied
// then, before a re-queue refills them); OnData runs after the return is recorded, as the
// window's handler would.
struct TReturnedBuffers {
  struct TData {
    HWAVEIN Handle;
    WAVEHDR* Header;
    uint32_t Bytes, Flags;
    std::vector<int16_t> Samples;
    std::chrono::steady_clock::time_point At;
  };
  std::vector<TData> Data;
  std::function<void(WAVEHDR*)> OnData;

  void Returned(HWAVEIN handle, WAVEHDR* h) {
    const auto* first = reinterpret_cast<const int16_t*>(h->lpData);
    Data.push_back({handle, h, uint32_t(h->dwBytesRecorded), uint32_t(h->dwFlags),
                    std::vector<int16_t>(first, first + h->dwBytesRecorded / 2),
                    std::chrono::steady_clock::now()});
    if (OnData) OnData(h);
  }
  // The samples of the buffers from `from` to before `to`, one after the other.
  std::vector<int16_t> Joined(size_t from = 0, size_t to = SIZE_MAX) const {
    std::vector<int16_t> all;
    for (size_t i = from; i < to && i < Data.size(); ++i)
      all.insert(all.end(), Data[i].Samples.begin(), Data[i].Samples.end());
    return all;
  }
};

// One open device with its one buffer, as the window holds it. TWindow is the front end's
// window: Target() is what Open is given, Data the buffers handed back (TReturnedBuffers),
// WaitUntil(done, ms) runs its loop until `done` holds.
// The window is the base and the backend the last member, so the backend goes first,
// stopping its thread before the buffer and the window it writes to are gone (a failed
// assertion leaves it open).
template <class TWindow>
struct TWaveInSession : TWindow {
  std::vector<char> Memory = std::vector<char>(BufferBytes);
  WAVEHDR Header{};
  HWAVEIN Handle = nullptr;
  std::unique_ptr<IWaveIn> WaveIn;

  explicit TWaveInSession(std::unique_ptr<IWaveIn> backend) : WaveIn(std::move(backend)) {
    Header.lpData = Memory.data();
    Header.dwBufferLength = BufferBytes;
  }
  MMRESULT Open(int32_t device = int32_t(WAVE_MAPPER)) {
    return WaveIn->Open(&Handle, device, CaptureFormat(), this->Target());
  }
  // Opens, prepares and queues the buffer: the first failure, or MMSYSERR_NOERROR.
  MMRESULT OpenAndQueue(int32_t device = int32_t(WAVE_MAPPER)) {
    MMRESULT r = Open(device);
    if (r == MMSYSERR_NOERROR) r = WaveIn->PrepareHeader(Handle, &Header);
    return r != MMSYSERR_NOERROR ? r : WaveIn->AddBuffer(Handle, &Header);
  }
  // Return `i` handed this device's prepared buffer back done, out of the queue, with
  // `bytes` recorded.
  void ExpectReturned(size_t i, uint32_t bytes) {
    const auto& d = this->Data.at(i);
    EXPECT_EQ(d.Handle, Handle);
    EXPECT_EQ(d.Header, &Header);
    EXPECT_EQ(d.Bytes, bytes);
    EXPECT_EQ(d.Flags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED), WHDR_DONE | WHDR_PREPARED);
  }
  void Stop() {
    EXPECT_EQ(WaveIn->Reset(Handle), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveIn->UnprepareHeader(Handle, &Header), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveIn->Close(Handle), MMSYSERR_NOERROR);
  }
};

template <class TSession>
void ExpectCloseWithABufferQueuedHandsItBackAndReleasesTheDevice(TSession& s) {
  ASSERT_EQ(s.OpenAndQueue(), MMSYSERR_NOERROR);
  EXPECT_EQ(s.WaveIn->Close(s.Handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(s.WaitUntil([&] { return s.Data.size() >= 1; }, 5000));
  s.ExpectReturned(0, 0);
  EXPECT_EQ(s.Header.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
  EXPECT_EQ(s.WaveIn->Reset(s.Handle), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(s.WaveIn->Close(s.Handle), MMSYSERR_INVALHANDLE);
}

// The checks before the device is asked: the fake must answer them as the real backends
// do, or a window test could pass on a call the device refuses. `refusesFormats`: the
// backend captures only the program's format (a mapper that converts accepts the others).
template <class TSession>
void ExpectHandlesHeadersDevicesAndFormatsChecked(TSession& s, bool refusesFormats) {
  WAVEHDR h{};
  for (HWAVEIN bad : {HWAVEIN(nullptr), reinterpret_cast<HWAVEIN>(uintptr_t(0xDEAD))}) {
    EXPECT_EQ(s.WaveIn->PrepareHeader(bad, &h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(s.WaveIn->UnprepareHeader(bad, &h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(s.WaveIn->AddBuffer(bad, &h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(s.WaveIn->Start(bad), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(s.WaveIn->Reset(bad), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(s.WaveIn->Close(bad), MMSYSERR_INVALHANDLE);
  }
  EXPECT_EQ(s.WaveIn->Open(nullptr, int32_t(WAVE_MAPPER), CaptureFormat(), s.Target()),
            MMSYSERR_INVALPARAM);
  EXPECT_EQ(s.Open(-2), MMSYSERR_BADDEVICEID);  // the list has no selection
  EXPECT_EQ(s.Open(int32_t(s.WaveIn->DeviceNames().size())), MMSYSERR_BADDEVICEID);
  // Mono, 48000 Hz, 8-bit samples, floating point.
  for (const WAVEFORMATEX& f : {WAVEFORMATEX{WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0},
                                {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0},
                                {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 8, 0},
                                {3, 2, 44100, 176400, 4, 16, 0}}) {
    if (!refusesFormats) break;
    EXPECT_EQ(s.WaveIn->Open(&s.Handle, int32_t(WAVE_MAPPER), f, s.Target()), WAVERR_BADFORMAT);
  }

  ASSERT_EQ(s.Open(), MMSYSERR_NOERROR);
  EXPECT_EQ(s.WaveIn->AddBuffer(s.Handle, &s.Header), WAVERR_UNPREPARED);
  WAVEHDR empty{};
  EXPECT_EQ(s.WaveIn->PrepareHeader(s.Handle, &empty), MMSYSERR_INVALPARAM);
  EXPECT_EQ(s.WaveIn->PrepareHeader(s.Handle, nullptr), MMSYSERR_INVALPARAM);
  ASSERT_EQ(s.WaveIn->PrepareHeader(s.Handle, &s.Header), MMSYSERR_NOERROR);
  ASSERT_EQ(s.WaveIn->AddBuffer(s.Handle, &s.Header), MMSYSERR_NOERROR);
  EXPECT_EQ(s.WaveIn->AddBuffer(s.Handle, &s.Header), WAVERR_STILLPLAYING);
  EXPECT_EQ(s.WaveIn->UnprepareHeader(s.Handle, &s.Header), WAVERR_STILLPLAYING);
  EXPECT_EQ(s.WaveIn->Close(s.Handle), MMSYSERR_NOERROR);
}
