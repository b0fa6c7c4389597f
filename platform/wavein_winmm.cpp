// winmm capture: every call is the service's own, with the window notification of the
// design (MM_WIM_DATA posted by the driver to the window's HWND).
//
// Two buffers in turn. With one buffer the driver has nowhere to put the audio that
// arrives while the window analyses it and hands it back, and some drivers drop that
// audio (Wine's pulse driver loses about 187 frames at every boundary). So when the
// caller queues its buffer the first time, the backend queues a second one of the same
// size, from global memory, behind it. The driver fills them alternately and announces
// each with its own header; the window handles one notice at a time and hands back the
// header it was given, whichever it is, so the analysis still sees one buffer at a time,
// in order, and the capture is gapless.
#include "wavein_winmm.h"

#include <map>

#include "globalmem.h"
#include "winstr.h"

namespace {

constexpr int32_t kMapper = int32_t(WAVE_MAPPER);
constexpr int32_t kNoDevice = -2;  // a failure that names no device (Start)

std::string ResultText(MMRESULT Result) {
  char Text[MAXERRORLENGTH] = {};
  if (waveInGetErrorTextA(Result, Text, sizeof Text) != MMSYSERR_NOERROR) return "error " + std::to_string(Result);
  return AnsiToUtf8(Text);
}

// The second buffer of one open device.
struct TSpare {
  TGlobalBuffer Memory;
  WAVEHDR Header{};
  bool Prepared = false;
  bool Queued = false;
};

class TWinmmWaveIn final : public IWaveIn {
public:
  std::vector<std::string> DeviceNames() override {
    if (FListed) return FNames;
    FListed = true;
    const UINT Count = waveInGetNumDevs();
    for (UINT Id = 0; Id < Count; ++Id) {
      WAVEINCAPSW Caps{};
      // One entry per device number even when its capabilities cannot be read, so that
      // positions keep mapping to numbers. The wide name: a device named outside the ANSI
      // code page keeps its name.
      if (waveInGetDevCapsW(Id, &Caps, sizeof Caps) == MMSYSERR_NOERROR)
        FNames.push_back(WideToUtf8(std::wstring(Caps.szPname, wcsnlen(Caps.szPname, MAXPNAMELEN))));
      else
        FNames.push_back("(" + std::to_string(Id) + ")");
    }
    return FNames;
  }

  MMRESULT Open(HWAVEIN* Handle, int32_t DeviceId, const WAVEFORMATEX& Format, TWaveInWindow Window) override {
    const DWORD Notify = Window.Native ? CALLBACK_WINDOW : CALLBACK_NULL;
    const MMRESULT R = waveInOpen(Handle, UINT(DeviceId), &Format, DWORD_PTR(Window.Native), 0, Notify);
    Remember(R, DeviceId);
    if (R == MMSYSERR_NOERROR) FSpares[*Handle];
    return R;
  }

  MMRESULT PrepareHeader(HWAVEIN Handle, WAVEHDR* Header) override {
    if (const MMRESULT C = Checked(Handle, Header); C != MMSYSERR_NOERROR) return C;
    const MMRESULT R = waveInPrepareHeader(Handle, Header, sizeof(WAVEHDR));
    auto It = FSpares.find(Handle);
    if (R != MMSYSERR_NOERROR || It == FSpares.end() || It->second.Prepared || Header == &It->second.Header) return R;
    TSpare& S = It->second;
    try {
      S.Memory = TGlobalBuffer(Header->dwBufferLength);
    } catch (const std::bad_alloc&) {
      return R;  // one buffer still captures, only not gaplessly
    }
    S.Header = WAVEHDR{};
    S.Header.lpData = S.Memory.Data();
    S.Header.dwBufferLength = Header->dwBufferLength;
    S.Prepared = waveInPrepareHeader(Handle, &S.Header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
    return R;
  }

  MMRESULT UnprepareHeader(HWAVEIN Handle, WAVEHDR* Header) override {
    if (!FSpares.count(Handle)) return MMSYSERR_INVALHANDLE;
    if (!Header) return MMSYSERR_INVALPARAM;
    if (Header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    const MMRESULT R = waveInUnprepareHeader(Handle, Header, sizeof(WAVEHDR));
    if (R == MMSYSERR_NOERROR) ReleaseSpare(Handle);
    return R;
  }

  // The first AddBuffer after Open or Reset also queues the spare, right behind.
  MMRESULT AddBuffer(HWAVEIN Handle, WAVEHDR* Header) override {
    if (const MMRESULT C = Checked(Handle, Header); C != MMSYSERR_NOERROR) return C;
    const MMRESULT R = waveInAddBuffer(Handle, Header, sizeof(WAVEHDR));
    auto It = FSpares.find(Handle);
    if (R == MMSYSERR_NOERROR && It != FSpares.end() && It->second.Prepared && !It->second.Queued &&
        Header != &It->second.Header)
      It->second.Queued = waveInAddBuffer(Handle, &It->second.Header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
    return R;
  }

  MMRESULT Start(HWAVEIN Handle) override {
    const MMRESULT R = waveInStart(Handle);
    Remember(R, kNoDevice);
    return R;
  }

  MMRESULT Reset(HWAVEIN Handle) override {
    const MMRESULT R = waveInReset(Handle);
    if (auto It = FSpares.find(Handle); It != FSpares.end()) It->second.Queued = false;
    return R;
  }

  MMRESULT Close(HWAVEIN Handle) override {
    if (FSpares.count(Handle)) {
      waveInReset(Handle);  // a queued buffer would make waveInClose refuse
      ReleaseSpare(Handle);
    }
    const MMRESULT R = waveInClose(Handle);
    if (R == MMSYSERR_NOERROR) FSpares.erase(Handle);
    return R;
  }

  std::string LastErrorText() override { return FLastError; }

private:
  // The checks the other backends make before the device is asked, in their order. Wine's
  // winmm looks at the header before the handle, accepts a header without memory, queues
  // a queued header again (its queue then loops) and unprepares a queued header (after
  // which the spare would be freed while the driver still fills it); the window must get
  // the same answers from every backend.
  MMRESULT Checked(HWAVEIN Handle, const WAVEHDR* Header) const {
    if (!FSpares.count(Handle)) return MMSYSERR_INVALHANDLE;
    if (!Header || !Header->lpData || Header->dwBufferLength < 4) return MMSYSERR_INVALPARAM;
    return Header->dwFlags & WHDR_INQUEUE ? WAVERR_STILLPLAYING : MMSYSERR_NOERROR;
  }

  void ReleaseSpare(HWAVEIN Handle) {
    auto It = FSpares.find(Handle);
    if (It == FSpares.end() || !It->second.Prepared) return;
    if (waveInUnprepareHeader(Handle, &It->second.Header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return;
    It->second.Prepared = It->second.Queued = false;
    It->second.Memory = TGlobalBuffer();
  }

  // "<device>: <reason>" after a failure, empty after a success.
  void Remember(MMRESULT Result, int32_t DeviceId) {
    if (Result == MMSYSERR_NOERROR) {
      FLastError.clear();
      return;
    }
    std::string Device;
    if (DeviceId == kMapper) {
      Device = "WAVE_MAPPER";
    } else if (DeviceId >= 0) {
      const auto Names = DeviceNames();
      Device = size_t(DeviceId) < Names.size() ? Names[size_t(DeviceId)] : "device " + std::to_string(DeviceId);
    }
    FLastError = (Device.empty() ? "" : Device + ": ") + ResultText(Result);
  }

  bool FListed = false;
  std::vector<std::string> FNames;
  std::map<HWAVEIN, TSpare> FSpares;
  std::string FLastError;
};

}  // namespace

std::unique_ptr<IWaveIn> CreateWinmmWaveIn() { return std::make_unique<TWinmmWaveIn>(); }
