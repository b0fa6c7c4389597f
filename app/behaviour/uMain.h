#pragma once
// The main window as behaviour, for any toolkit: the capture control with its nested waits,
// the buffer-done handler MMWimData, both timers' handlers, the speed step and its publish,
// the strip's redraw, start-up and close. A front end (QtMainWindow.h; a Win32 window) owns
// the controls and their layout, routes events to the handlers below and implements
// IMainView, which is all the behaviour asks of a window.
#include "fastfourier.h"
#include "mmiochunk.h"
#include "toneanalysis.h"
#include "uHistory.h"
#include "wavein.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

class IClock;
class TRegistry;

// The labels the behaviour writes.
enum class TMainLabel { Label3, lblFundamental, lblVolume, Label4 };
// The controls whose enabled state follows the capture.
enum class TMainControl { btnRecord, btnStop, WaveInComboBox1 };
enum class TMainTimer { Timer1, Timer2 };

class IMainView {
public:
  virtual void SetCaption(TMainLabel label, const std::string& text) = 0;
  // The caption colour as the core's colour values (kColorBlack, kColorRed).
  virtual void SetCaptionColor(TMainLabel label, uint32_t color) = 0;
  virtual void SetEnabled(TMainControl control, bool enabled) = 0;
  // WaveInComboBox1: the selected position (-1: none), the number of positions, selecting
  // one (-1 selects none).
  virtual int32_t DevicePosition() = 0;
  virtual int32_t DeviceCount() = 0;
  virtual void SelectDevice(int32_t position) = 0;
  virtual bool PublishChecked() = 0;  // CheckBox1
  // An information box with OK, owned by the window and titled with the application
  // title; returns once answered. Buffers keep being handled meanwhile.
  virtual void ShowInformation(const std::string& text) = 0;
  // The application's default error report, once the current handler has returned.
  virtual void ReportLater(std::exception_ptr error) = 0;
  // Runs the message loop, waiting for events, until `done` holds: buffers, timers and
  // clicks are handled meanwhile.
  virtual void ProcessMessagesUntil(const std::function<bool()>& done) = 0;
  // Handles what is pending, buffers and timers but no user input, for a few milliseconds
  // at most, and returns: for a wait the user must not interrupt.
  virtual void ProcessMessagesWithoutInput() = 0;
  virtual void SetTimerActive(TMainTimer timer, bool active) = 0;
  // dpb: its surface (kStripWidth x kStripHeight, 32 bits) and showing it now.
  virtual TDIBSurface& StripSurface() = 0;
  virtual void PaintStrip() = 0;
  // Where the audio input announces buffers for this window, and forgetting notices of a
  // device that has just been closed (already on their way to the window's thread).
  virtual TWaveInWindow WaveInWindow() = 0;
  virtual void DropWaveInNotices() = 0;

protected:
  ~IMainView() = default;
};

// An error of a main-window handler; what() is the message for the user.
class EMainWindowError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TfMain {
public:
  // `waveIn` and `clock` are the platform services the window drives; they and `view`
  // outlive it. Nothing is asked of the view until FormCreate.
  TfMain(IMainView& view, IWaveIn& waveIn, IClock& clock);
  TfMain(const TfMain&) = delete;
  TfMain& operator=(const TfMain&) = delete;
  // Stops a capture still running (device, buffer and file released).
  virtual ~TfMain();

  TFastFourier FFT1{"FFT1"};

  // State beyond the controls; zero/false/empty at creation except where FormCreate says.
  uint32_t StartTime = 0;
  TCaptureFile CaptureFile;  // RiffChunk and DataChunk of the open capture file, if any
  double LevelDb = 0.0;
  double LastMean = 0.0;
  double ReferenceMean = 0.0;  // 0: not calibrated
  int32_t Threshold = 0;
  TSpeedState Speed;  // the speed rule's run counters and the current factor
  // BelowCount, AboveCount and SpeedFactor as the window has always named them.
  int32_t& BelowCount = Speed.BelowCount;
  int32_t& AboveCount = Speed.AboveCount;
  float& SpeedFactor = Speed.SpeedFactor;
  TBasicFreqenycyTable History;
  int32_t SaturationLevel = 0;
  TDIBSurface HistorySurface{kStripWidth, kStripHeight, 32};
  // The strip's background picture as 32-bit pixels; null when it did not load.
  std::unique_ptr<TDIBSurface> Background;
  bool Recording = false;
  HWAVEIN WaveInHandle = nullptr;
  std::unique_ptr<char[]> BufferHandle;  // the one capture buffer
  WAVEHDR BufferHeader{};
  uint32_t BuffersAnalysed = 0;  // buffers handled in this run of the program (diagnostics)
  uint32_t ZeroBuffers = 0;  // exact-zero buffers in a row in this capture

  // What Button3 opens (the settings dialog, modally), set by whoever creates that dialog.
  std::function<void()> ShowConfigDialog;

  // Handlers, called by the front end as its events arrive (and by tests). An error leaves
  // them as an exception for the front end's default error report.
  void FormCreate();  // once the view's controls exist; the picture is the front end's
  void FormShow();
  bool FormCloseQuery();
  void btnRecordClick();
  void btnStopClick();
  void Button3Click();
  void Timer1Timer();
  void Timer2Timer();
  void MMWimData(HWAVEIN handle, WAVEHDR* header);
  void WaveInFailed(HWAVEIN handle, const std::string& detail);
  void ApplySpeed(float value);
  void DrawHistory();
  // Ends a running capture as 停止 would, without touching the controls: for a process
  // that is leaving from under the event loop (the window system's connection broke, and
  // the toolkit calls exit).
  void EndCaptureAtExit();

  // How much exact-zero input the calibration waits through before it gives up: a live
  // input, even a quiet one, carries noise; only a muted or suspended one is all zeros.
  static constexpr double ZeroInputSeconds = 3.0;
  static uint32_t ZeroBuffersBeforeGivingUp();
  // No buffer of this capture has been analysed for ZeroInputSeconds since `since`.
  bool NothingDelivered(uint32_t since) const;
  static WAVEFORMATEX CaptureFormat();
  // The device number a list position opens: position 0 is the preferred device
  // (WAVE_MAPPER), position k device k - 1; no selection (-1) gives -2, which no input opens.
  static int32_t DeviceIdOf(int32_t position) { return position - 1; }

  static constexpr const char* CalibrationPrompt =
      "Tallo2から指を離して無音状態にしてから、OKを押してください。";
  static constexpr const char* StartFailedText = "録音の開始に失敗しました。";

protected:
  // Ends a capture and releases what it holds; a front end whose view goes away before
  // this object calls it from its own destructor.
  void StopCapture();

private:
  void CaptureFileFailed();
  void SetRecording(bool active);
  void StartCapture();
  void KeepAnalysingWhileSettingsWait(bool on);

  IMainView& View;
  IWaveIn& WaveIn;
  IClock& Clock;
  TRegistry* HookedRegistry = nullptr;  // whose OnLockWait this window set
};

extern TfMain* fMain;
