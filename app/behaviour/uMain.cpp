#include "uMain.h"

#include "clock.h"
#include "registry.h"
#include "rendoif.h"
#include "uSharedMemory.h"
#include "uglobal.h"

#include <cmath>

TfMain* fMain = nullptr;

namespace {
const char* const kNoInput =
    "入力デバイスから音声がまったく届かないため、録音を停止しました。\n"
    "デバイスが他のプログラムに使われていないか、サウンドサーバーが止まっていないかを確認してください。";
const char* const kZeroInput =
    "入力から無音（すべて 0）の信号しか届かないため、録音を停止しました。\n"
    "録音デバイスのキャプチャスイッチがミュートになっていないか、サウンドサーバーの入力が"
    "一時停止（サスペンド）していないかを確認してください。";
const char* const kDeviceFailed = "録音デバイスでエラーが発生したため、録音を停止しました。";
const char* const kCaptureFileFailed =
    "録音ファイルへの書き込みに失敗したため、ファイルへの保存を中止しました。測定は続けます。";
}  // namespace

WAVEFORMATEX TfMain::CaptureFormat() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = kSampleRate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = uint16_t(2 * format.nChannels);
  format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
  format.cbSize = 0;
  static_assert(2 * 2 == kBytesPerFrame, "the analysis reads the capture's frames");
  return format;
}

uint32_t TfMain::ZeroBuffersBeforeGivingUp() {
  return uint32_t(std::ceil(ZeroInputSeconds * kSampleRate / kFramesPerBuffer));
}

TfMain::TfMain(IMainView& view, IWaveIn& waveIn, IClock& clock)
    : View(view), WaveIn(waveIn), Clock(clock) {
  SetUpTransform(FFT1);
}

TfMain::~TfMain() {
  KeepAnalysingWhileSettingsWait(false);
  // A window destroyed while capturing must not leave the device or its buffer behind.
  StopCapture();
  if (fMain == this) fMain = nullptr;
}

void TfMain::FormCreate() {
  SpeedFactor = 1.0f;
  SaturationLevel = 0;
  KeepAnalysingWhileSettingsWait(true);
  // History and HistorySurface are members, made with the window; the background picture
  // is read by the front end, which knows the picture formats.
}

void TfMain::FormShow() {
  View.SelectDevice(0);
  History.Push(0.0f);
  DrawHistory();
  // A stored position that is not in the list leaves the list without a selection: the
  // start then fails with the usual message until the user picks a device.
  const int32_t stored = GlobalSettings->viWaveInDevice->Value;
  View.SelectDevice(stored >= 0 && stored < View.DeviceCount() ? stored : -1);
  View.SetTimerActive(TMainTimer::Timer1, true);
}

// A save that waits for another process's lock on the settings file (at most the store's
// kLockWait) keeps the capture going: buffers and timers are handled meanwhile; the user's
// input waits for the save, which then succeeds or reports the lock.
void TfMain::KeepAnalysingWhileSettingsWait(bool on) {
  if (HookedRegistry) HookedRegistry->OnLockWait = nullptr;
  HookedRegistry = nullptr;
  if (!on || !GlobalSettings) return;
  HookedRegistry = &GlobalSettings->Registry();
  HookedRegistry->OnLockWait = [this] { View.ProcessMessagesWithoutInput(); };
}

void TfMain::EndCaptureAtExit() {
  if (!Recording) return;
  StopCapture();
  Recording = false;
}

bool TfMain::FormCloseQuery() {
  SetRecording(false);
  return true;
}

void TfMain::btnRecordClick() {
  StartTime = Clock.timeGetTime();
  Timer1Timer();
  Threshold = GlobalSettings->viFloor->Value;
  SetRecording(true);

  View.ShowInformation(CalibrationPrompt);

  // Wait for the first analysed buffer; buffers keep being handled meanwhile. The wait also
  // ends when the capture ends (stop button, closed window, failed device): then nothing is
  // calibrated and nothing is saved. An input that delivers nothing but exact zeros (a muted
  // capture switch, a suspended source) would keep it waiting without end: after a few
  // seconds of them the capture ends as the stop button would and the user is told why.
  // A device that delivers no buffer at all is given the same few seconds; Timer2 wakes
  // the wait every second to look at the clock.
  const uint32_t waitStart = Clock.timeGetTime();
  View.ProcessMessagesUntil([this, waitStart] {
    return LastMean != 0.0 || !Recording || ZeroBuffers >= ZeroBuffersBeforeGivingUp() ||
           NothingDelivered(waitStart);
  });
  if (!Recording) return;
  if (LastMean == 0.0) {
    const bool nothing = ZeroBuffers == 0;
    SetRecording(false);
    throw EMainWindowError(nothing ? kNoInput : kZeroInput);
  }

  ReferenceMean = LastMean;
  GlobalSettings->viWaveInDevice->Value = View.DevicePosition();
  GlobalSettings->Save();
}

// Every analysed buffer either sets LastMean or counts as a zero buffer. Unsigned
// difference: correct across the clock's wrap.
bool TfMain::NothingDelivered(uint32_t since) const {
  return LastMean == 0.0 && ZeroBuffers == 0 &&
         Clock.timeGetTime() - since >= uint32_t(ZeroInputSeconds * 1000);
}

void TfMain::btnStopClick() { SetRecording(false); }

void TfMain::Button3Click() {
  if (ShowConfigDialog) ShowConfigDialog();
}

void TfMain::Timer1Timer() {
  History.Push(0.0f);
  DrawHistory();
}

void TfMain::Timer2Timer() {
  const int32_t floor = GlobalSettings->viFloor->Value;
  if (Recording && ReferenceMean != 0.0) {
    // Unsigned difference: correct across the clock's wrap.
    Threshold = RampThreshold(Clock.timeGetTime() - StartTime, floor,
                              GlobalSettings->viFloor2->Value);
  } else {
    Threshold = floor;
  }
  View.SetCaption(TMainLabel::Label4, ThresholdCaption(Threshold));
}

void TfMain::SetRecording(bool active) {
  if (active) {
    StartCapture();  // an error leaves Recording and the controls as they were
  } else {
    StopCapture();
  }
  Recording = active;
  View.SetEnabled(TMainControl::btnRecord, !active);
  View.SetEnabled(TMainControl::btnStop, active);
  View.SetEnabled(TMainControl::WaveInComboBox1, !active);
  View.SetTimerActive(TMainTimer::Timer1, !active);
}

void TfMain::StartCapture() {
  const WAVEFORMATEX format = CaptureFormat();
  ZeroBuffers = 0;
  if (GlobalSettings->vbRecordToFile->Value) CaptureFile.Open(kCaptureFileName, &format);

  // What a failed start acquired is released before the failure is reported, so nothing is
  // left open behind the message.
  auto fail = [this] {
    const std::string reason = WaveIn.LastErrorText();  // before the release below asks again
    StopCapture();
    throw EMainWindowError(reason.empty() ? std::string(StartFailedText)
                                          : StartFailedText + ("\n" + reason));
  };

  if (WaveIn.Open(&WaveInHandle, DeviceIdOf(View.DevicePosition()), format,
                  View.WaveInWindow()) != MMSYSERR_NOERROR) {
    WaveInHandle = nullptr;
    fail();
  }
  const uint32_t bytes = uint32_t(format.nBlockAlign) * uint32_t(kFramesPerBuffer);
  BufferHandle = std::make_unique<char[]>(bytes);
  BufferHeader = WAVEHDR{};
  BufferHeader.lpData = BufferHandle.get();
  BufferHeader.dwBufferLength = bytes;
  if (WaveIn.PrepareHeader(WaveInHandle, &BufferHeader) != MMSYSERR_NOERROR) fail();
  if (WaveIn.AddBuffer(WaveInHandle, &BufferHeader) != MMSYSERR_NOERROR) fail();
  // Its result is not needed for the capture, but a device that will not start delivers
  // nothing and would leave the calibration waiting: it fails the start like an open.
  if (WaveIn.Start(WaveInHandle) != MMSYSERR_NOERROR) fail();
}

void TfMain::StopCapture() {
  CaptureFile.Reset();  // data size, then RIFF size, then the file is closed
  if (WaveInHandle) {
    WaveIn.Reset(WaveInHandle);
    if (BufferHeader.dwFlags & WHDR_PREPARED) WaveIn.UnprepareHeader(WaveInHandle, &BufferHeader);
    WaveIn.Close(WaveInHandle);
    WaveInHandle = nullptr;
    // Reset returned the buffer with one last notice; it and any failure notice of this
    // device concern a capture that no longer exists. Dropping them here means a notice can
    // never be taken for the next capture's, whose device may get the same handle value.
    View.DropWaveInNotices();
  }
  BufferHeader = WAVEHDR{};
  BufferHandle.reset();
}

void TfMain::MMWimData(HWAVEIN handle, WAVEHDR* header) {
  if (!Recording || handle != WaveInHandle) return;

  bool fileFailed = false;
  if (CaptureFile.DataChunk) {
    const int32_t bytes = int32_t(header->dwBytesRecorded);
    fileFailed = CaptureFile.Append(header->lpData, bytes) != bytes;
  }
  const TBufferMeasure measure = MeasureBuffer(
      {reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength}, FFT1);

  // Handed back as soon as the spectrum is done: until then the driver's ring buffer
  // holds the audio.
  WaveIn.AddBuffer(WaveInHandle, header);

  LastMean = measure.Mean;
  ZeroBuffers = measure.Mean == 0.0 ? ZeroBuffers + 1 : 0;
  ++BuffersAnalysed;
  const TDecision decision =
      Decide(measure, SpeedSettings(*GlobalSettings), Threshold, ReferenceMean, Speed);
  LevelDb = decision.LevelDb;

  View.SetCaptionColor(TMainLabel::lblFundamental, decision.FundamentalColor);
  View.SetCaption(TMainLabel::lblFundamental, decision.FundamentalCaption);
  View.SetCaption(TMainLabel::lblVolume, decision.VolumeCaption);
  if (decision.HistoryPush) History.Push(decision.HistoryValue);
  if (decision.ApplySpeed) ApplySpeed(decision.SpeedValue);
  DrawHistory();

  if (fileFailed) CaptureFileFailed();
}

void TfMain::CaptureFileFailed() {
  // A write that did not go through (full disk, 4 GiB reached) ends the file, not the
  // capture: the sizes written so far are fixed so what reached the disk stays a valid
  // file, and the user is told once.
  CaptureFile.Reset();
  View.ReportLater(std::make_exception_ptr(EMainWindowError(kCaptureFileFailed)));
}

void TfMain::ApplySpeed(float value) {
  SpeedFactor = value;
  View.SetCaption(TMainLabel::Label3, SpeedCaption(SpeedFactor));
  if (View.PublishChecked() && SpeedSharedMemory) SpeedSharedMemory->SetSpeed(double(SpeedFactor));
}

void TfMain::DrawHistory() {
  const int32_t level = NextSaturationLevel(SaturationLevel, Recording);
  DrawHistoryStrip(History, HistorySurface, Background.get(), level, View.StripSurface(),
                   Engine.get());
  View.PaintStrip();
}

void TfMain::WaveInFailed(HWAVEIN handle, const std::string& detail) {
  if (!Recording || handle != WaveInHandle) return;
  SetRecording(false);
  std::string text = kDeviceFailed;
  if (!detail.empty()) text += "\n" + detail;
  throw EMainWindowError(text);
}
