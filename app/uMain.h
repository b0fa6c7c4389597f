#pragma once
// The main window: layout, capture control, the two timers and the buffer-done handler.
#include "DIBSurf.h"
#include "fastfourier.h"
#include "mmiochunk.h"
#include "uHistory.h"
#include "wavein.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class IClock;
class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QTimer;
class TDIBPaintBox;
class TFormSerializer;
class TWaveOutComboBox;

class TfMain : public QWidget {
public:
  // `waveIn` and `clock` are the platform services the window drives; they outlive it.
  // The background picture is read from `pictureFolder`; when empty, from the program's own
  // folder or else the installed data folder (ProgramFileFolder).
  TfMain(IWaveIn& waveIn, IClock& clock, QWidget* parent = nullptr,
         const QString& pictureFolder = {});
  ~TfMain() override;
  // Ends a running capture as 停止 would, without touching the window: for a process that
  // is leaving from under the event loop (the window system's connection broke, and the
  // toolkit calls exit).
  void EndCaptureAtExit();

  // Controls, named as in the window's layout.
  QFrame* Bevel1 = nullptr;
  TDIBPaintBox* dpb = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  TWaveOutComboBox* WaveInComboBox1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* lblFundamental = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* lblVolume = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label4 = nullptr;
  QPushButton* btnRecord = nullptr;
  QPushButton* btnStop = nullptr;
  QPushButton* Button3 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;
  TFastFourier FFT1{"FFT1"};
  TFormSerializer* FormSerializer1 = nullptr;

  // State beyond the controls; zero/false/empty at creation except where FormCreate says.
  uint32_t StartTime = 0;
  TCaptureFile CaptureFile;  // RiffChunk and DataChunk of the open capture file, if any
  double LevelDb = 0.0;
  double LastMean = 0.0;
  double ReferenceMean = 0.0;  // 0: not calibrated
  int32_t Threshold = 0;
  int32_t BelowCount = 0;
  int32_t AboveCount = 0;
  TBasicFreqenycyTable History;
  int32_t SaturationLevel = 0;
  TDIBSurface HistorySurface{220, 60, 32};
  QImage BackgroundBitmap;  // the history strip's background; empty when it failed to load
  bool Recording = false;
  HWAVEIN WaveInHandle = nullptr;
  std::unique_ptr<char[]> BufferHandle;  // the one capture buffer
  WAVEHDR BufferHeader{};
  float SpeedFactor = 0.0f;
  uint32_t BuffersAnalysed = 0;  // buffers handled in this run of the program (diagnostics)
  uint32_t ZeroBuffers = 0;  // exact-zero buffers in a row in this capture

  // What Button3 opens (the settings dialog), set by whoever creates that dialog.
  std::function<void()> ShowConfigDialog;

  // Handlers, public so tests can drive them as the window's events do.
  void FormCreate();
  void FormShow();
  bool FormCloseQuery();
  void btnRecordClick();
  void btnStopClick();
  void Button3Click();
  void Timer1Timer();
  void Timer2Timer();
  void ApplySpeed(float value);
  void DrawHistory();

  // How much exact-zero input the calibration waits through before it gives up: a live
  // input, even a quiet one, carries noise; only a muted or suspended one is all zeros.
  static constexpr double ZeroInputSeconds = 3.0;
  static uint32_t ZeroBuffersBeforeGivingUp();
  bool NothingDelivered(uint32_t since);
  void KeepAnalysingWhileSettingsWait(bool on);
  static WAVEFORMATEX CaptureFormat();
  // The background picture's file name, and the path it is read from.
  static constexpr const char* PictureName = "default.bmp";
  QString PictureFile() const;

protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

private:
  void MMWimData(TWaveInDataEvent* message);
  void DeviceFailed(TWaveInFailureEvent* message);
  void CaptureFileFailed();
  void SetRecording(bool active);
  void StartCapture();
  void StopCapture();

  IWaveIn& WaveIn;
  IClock& Clock;
  QString PictureFolder;
};

extern TfMain* fMain;
