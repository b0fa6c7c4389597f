#include "uMain.h"

#include "DIBpbox.h"
#include "FormSerializer.h"
#include "WaveOutComboBox.h"
#include "clock.h"
#include "registry.h"
#include "rendo/reference.h"
#include "rendoif.h"
#include "toneanalysis.h"
#include "uSharedMemory.h"
#include "ucpuid.h"
#include "uApplication.h"
#include "uglobal.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <stdexcept>

TfMain* fMain = nullptr;

namespace {
const char* const kStartFailed = "録音の開始に失敗しました。";
const char* const kNoInput =
    "入力デバイスから音声がまったく届かないため、録音を停止しました。\n"
    "デバイスが他のプログラムに使われていないか、サウンドサーバーが止まっていないかを確認してください。";
const char* const kZeroInput =
    "入力から無音（すべて 0）の信号しか届かないため、録音を停止しました。\n"
    "録音デバイスのキャプチャスイッチがミュートになっていないか、サウンドサーバーの入力が"
    "一時停止（サスペンド）していないかを確認してください。";
const char* const kCalibrationPrompt =
    "Tallo2から指を離して無音状態にしてから、OKを押してください。";

class EMainWindowError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

QLabel* MakeLabel(QWidget* owner, const char* text, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), owner);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QPushButton* MakeButton(QWidget* owner, const char* text, int left, int top) {
  auto* button = new QPushButton(QString::fromUtf8(text), owner);
  button->setGeometry(left, top, 75, 25);
  return button;
}
}  // namespace

WAVEFORMATEX TfMain::CaptureFormat() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = 44100;
  format.wBitsPerSample = 16;
  format.nBlockAlign = uint16_t(2 * format.nChannels);
  format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
  format.cbSize = 0;
  return format;
}

TfMain::TfMain(IWaveIn& waveIn, IClock& clock, QWidget* parent, const QString& pictureFolder)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      WaveIn(waveIn),
      Clock(clock),
      PictureFolder(pictureFolder.isEmpty() ? QString::fromStdString(ProgramFileFolder(
                                                  PictureName, TProgramFileKind::Data))
                                            : pictureFolder) {
  setWindowTitle(QStringLiteral("Korvel 2.0"));
  setFixedSize(269, 280);  // single fixed border: no resizing, no maximise box
  QFont windowFont(QStringLiteral("MS UI Gothic"));
  windowFont.setPixelSize(15);
  setFont(windowFont);

  Bevel1 = new QFrame(this);
  Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Bevel1->setGeometry(23, 15, 222, 62);

  dpb = new TDIBPaintBox(this);
  dpb->SetDepth(32);
  dpb->SetEnableMask(false);
  dpb->SetBounds(24, 16, 220, 60);

  CheckBox1 = new QCheckBox(QStringLiteral("ラノフォンの速度を変更する"), this);
  CheckBox1->setGeometry(24, 88, 249, 17);
  CheckBox1->setChecked(true);

  WaveInComboBox1 = new TWaveOutComboBox(WaveIn, this);
  WaveInComboBox1->setGeometry(24, 112, 225, 23);

  Label2 = MakeLabel(this, "現在の速度", 24, 144);
  Label3 = MakeLabel(this, "1.00倍速", 120, 144);
  Label1 = MakeLabel(this, "基本周波数", 24, 168);
  lblFundamental = MakeLabel(this, "(未検出)", 120, 168);
  Label6 = MakeLabel(this, "音量レベル", 24, 192);
  lblVolume = MakeLabel(this, "", 120, 192);
  Label5 = MakeLabel(this, "しきい値", 24, 216);
  Label4 = MakeLabel(this, "400hz", 120, 216);

  btnRecord = MakeButton(this, "開始", 16, 240);
  btnStop = MakeButton(this, "停止", 96, 240);
  btnStop->setEnabled(false);
  Button3 = MakeButton(this, "環境設定", 176, 240);

  Timer1 = new QTimer(this);
  Timer1->setInterval(100);
  Timer2 = new QTimer(this);
  Timer2->setInterval(1000);

  connect(btnRecord, &QPushButton::clicked, this, Guarded([this] { btnRecordClick(); }));
  connect(btnStop, &QPushButton::clicked, this, Guarded([this] { btnStopClick(); }));
  connect(Button3, &QPushButton::clicked, this, Guarded([this] { Button3Click(); }));
  connect(Timer1, &QTimer::timeout, this, Guarded([this] { Timer1Timer(); }));
  connect(Timer2, &QTimer::timeout, this, Guarded([this] { Timer2Timer(); }));

  FFT1.SetSpectrumSize(kFramesPerBuffer);  // one spectrum per capture buffer
  FFT1.SetWeightingWindow(fwRectangle);

  // The window reopens where it was closed; the placement lives under the settings key.
  setObjectName(QStringLiteral("fMain"));
  FormSerializer1 = new TFormSerializer(this, QString::fromLatin1(SettingsKeyPath),
                                        GlobalSettings->Registry());
  FormSerializer1->Options = soSavePosition;
  RunGuarded([this] { FormSerializer1->ReadPlacement(); });

  WaveInComboBox1->Loaded();
  try {
    FormCreate();
  } catch (...) {
    // Reported once the window is up; creation goes on without the picture.
    QTimer::singleShot(0, this, [error = std::current_exception()] {
      TApplication::ShowException(error);
    });
  }
  Timer2->start();
  KeepAnalysingWhileSettingsWait(true);
}

// A save that waits for another process's lock on the settings file (at most the store's
// kLockWait) keeps the capture going: buffers and timers are handled meanwhile; the user's
// input waits for the save, which then succeeds or reports the lock.
void TfMain::KeepAnalysingWhileSettingsWait(bool on) {
  std::function<void()> hook;
  if (on) hook = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5); };
  GlobalSettings->Registry().OnLockWait = std::move(hook);
}

void TfMain::EndCaptureAtExit() {
  if (!Recording) return;
  StopCapture();
  Recording = false;
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
  // History and HistorySurface are members, made with the window.
  const QString picture = PictureFile();
  if (!BackgroundBitmap.load(picture, "BMP")) {
    BackgroundBitmap = QImage();
    throw EMainWindowError(
        QStringLiteral("背景画像 \"%1\" を読み込めませんでした。").arg(picture).toStdString());
  }
  // Every redraw copies the picture into the strip as 32-bit pixels: a picture of another
  // depth is converted here, once, so a redraw allocates nothing.
  if (BackgroundBitmap.format() != QImage::Format_RGB32 &&
      BackgroundBitmap.format() != QImage::Format_ARGB32)
    BackgroundBitmap.convertTo(QImage::Format_RGB32);
}

QString TfMain::PictureFile() const {
  return PictureFolder + QLatin1Char('/') + QLatin1String(PictureName);
}

void TfMain::FormShow() {
  WaveInComboBox1->setCurrentIndex(0);
  History.Push(0.0f);
  DrawHistory();
  // A stored position that is not in the list leaves the list without a selection: the
  // start then fails with the usual message until the user picks a device.
  const int32_t stored = GlobalSettings->viWaveInDevice->Value;
  WaveInComboBox1->setCurrentIndex(stored >= 0 && stored < WaveInComboBox1->count() ? stored
                                                                                   : -1);
  Timer1->start();
}

void TfMain::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) RunGuarded([this] { FormShow(); });
}

void TfMain::closeEvent(QCloseEvent* e) {
  bool allowed = true;
  RunGuarded([&] { allowed = FormCloseQuery(); });
  if (allowed) {
    e->accept();
  } else {
    e->ignore();
  }
}

bool TfMain::FormCloseQuery() {
  SetRecording(false);
  return true;
}

bool TfMain::event(QEvent* e) {
  if (e->type() == TWaveInDataEvent::EventType) {
    RunGuarded([&] { MMWimData(static_cast<TWaveInDataEvent*>(e)); });
    return true;
  }
  if (e->type() == TWaveInFailureEvent::EventType) {
    RunGuarded([&] { DeviceFailed(static_cast<TWaveInFailureEvent*>(e)); });
    return true;
  }
  return QWidget::event(e);
}

void TfMain::btnRecordClick() {
  StartTime = Clock.timeGetTime();
  Timer1Timer();
  Threshold = GlobalSettings->viFloor->Value;
  SetRecording(true);

  QMessageBox prompt(QMessageBox::Information, TApplication::Title(),
                     QString::fromUtf8(kCalibrationPrompt), QMessageBox::Ok, this);
  prompt.exec();

  // Wait for the first analysed buffer; buffers keep being handled meanwhile. The wait also
  // ends when the capture ends (stop button, closed window, failed device): then nothing is
  // calibrated and nothing is saved. An input that delivers nothing but exact zeros (a muted
  // capture switch, a suspended source) would keep it waiting without end: after a few
  // seconds of them the capture ends as the stop button would and the user is told why.
  // A device that delivers no buffer at all is given the same few seconds; Timer2 wakes
  // the wait every second to look at the clock.
  const uint32_t waitStart = Clock.timeGetTime();
  while (LastMean == 0.0 && Recording && ZeroBuffers < ZeroBuffersBeforeGivingUp() &&
         !NothingDelivered(waitStart))
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  if (!Recording) return;
  if (LastMean == 0.0) {
    const bool nothing = ZeroBuffers == 0;
    SetRecording(false);
    throw EMainWindowError(nothing ? kNoInput : kZeroInput);
  }

  ReferenceMean = LastMean;
  GlobalSettings->viWaveInDevice->Value = WaveInComboBox1->currentIndex();
  GlobalSettings->Save();
}

// No buffer of this capture has been analysed (every one either sets LastMean or counts as
// a zero buffer) for ZeroInputSeconds since `since`.
bool TfMain::NothingDelivered(uint32_t since) {
  return LastMean == 0.0 && ZeroBuffers == 0 &&
         Clock.timeGetTime() - since >= uint32_t(ZeroInputSeconds * 1000);
}

uint32_t TfMain::ZeroBuffersBeforeGivingUp() {
  return uint32_t(std::ceil(ZeroInputSeconds * CaptureFormat().nSamplesPerSec / kFramesPerBuffer));
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
  Label4->setText(QString::fromStdString(ThresholdCaption(Threshold)));
  Label4->adjustSize();
}

void TfMain::SetRecording(bool active) {
  if (active) {
    StartCapture();
  } else {
    StopCapture();
  }
  Recording = active;
  btnRecord->setEnabled(!active);
  btnStop->setEnabled(active);
  WaveInComboBox1->setEnabled(!active);
  if (active) {
    Timer1->stop();
  } else {
    Timer1->start();
  }
}

void TfMain::StartCapture() {
  const WAVEFORMATEX format = CaptureFormat();
  ZeroBuffers = 0;
  if (GlobalSettings->vbRecordToFile->Value) CaptureFile.Open(kCaptureFileName, &format);

  // What a failed start acquired is released before the failure is reported, so nothing is
  // left open behind the message.
  auto fail = [this] {
    const QString reason = WaveIn.LastErrorText();  // before the release below asks again
    StopCapture();
    throw EMainWindowError(reason.isEmpty() ? std::string(kStartFailed)
                                            : kStartFailed + ("\n" + reason).toStdString());
  };

  if (WaveIn.Open(&WaveInHandle, WaveInComboBox1->DeviceId(), format, this) !=
      MMSYSERR_NOERROR) {
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
    QCoreApplication::removePostedEvents(this, TWaveInDataEvent::EventType);
    QCoreApplication::removePostedEvents(this, TWaveInFailureEvent::EventType);
  }
  BufferHeader = WAVEHDR{};
  BufferHandle.reset();
}

void TfMain::MMWimData(TWaveInDataEvent* message) {
  if (!Recording || message->Handle != WaveInHandle) return;
  WAVEHDR* header = message->Header;

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
  TSpeedState state{BelowCount, AboveCount, SpeedFactor};
  const TDecision decision =
      Decide(measure,
             {GlobalSettings->viSpeed->Value, GlobalSettings->viMinFreq->Value,
              GlobalSettings->viMaxFreq->Value},
             Threshold, ReferenceMean, state);
  BelowCount = state.BelowCount;
  AboveCount = state.AboveCount;
  LevelDb = decision.LevelDb;

  QPalette palette = lblFundamental->palette();
  palette.setColor(QPalette::WindowText,
                   decision.FundamentalColor == kColorRed ? Qt::red : Qt::black);
  lblFundamental->setPalette(palette);
  lblFundamental->setText(QString::fromStdString(decision.FundamentalCaption));
  lblFundamental->adjustSize();
  lblVolume->setText(QString::fromStdString(decision.VolumeCaption));
  lblVolume->adjustSize();
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
  QTimer::singleShot(0, this, [] {
    TApplication::ShowException(std::make_exception_ptr(EMainWindowError(
        "録音ファイルへの書き込みに失敗したため、ファイルへの保存を中止しました。"
        "測定は続けます。")));
  });
}

void TfMain::ApplySpeed(float value) {
  SpeedFactor = value;
  Label3->setText(QString::fromStdString(SpeedCaption(SpeedFactor)));
  Label3->adjustSize();
  if (CheckBox1->isChecked() && SpeedSharedMemory) SpeedSharedMemory->SetSpeed(double(SpeedFactor));
}

void TfMain::DrawHistory() {
  constexpr int32_t width = 220, height = 60, pixels = width * height;
  std::memset(HistorySurface.Bits(), 0, size_t(pixels) * 4);
  TDIBCanvas& canvas = HistorySurface.Canvas();
  canvas.Pen.Style = TPenStyle::psSolid;
  for (int32_t c = 0; c < width; ++c) {
    const int32_t a = int32_t(History.ReadAge(c) * 60.0);  // truncated toward zero
    if (a <= 0) continue;
    const uint8_t g = uint8_t(39 - a / 2);
    canvas.Pen.Color = uint32_t(g) * 65793u;
    canvas.MoveTo(c, 59);
    canvas.LineTo(c, a);  // rows a+1..59: the end point is not painted
  }

  TDIBSurface& target = dpb->Surface();
  if (!BackgroundBitmap.isNull()) target.Canvas().Draw(0, 0, BackgroundBitmap);

  int32_t level = -1;  // the level to apply, -1 for none
  if (Recording) {
    if (SaturationLevel < 255) {
      level = SaturationLevel;
      SaturationLevel += 4;
    }
  } else {
    SaturationLevel = SaturationLevel > 0 ? SaturationLevel - 4 : 0;
    level = std::min(SaturationLevel, 255);
  }

  if (IPixelEngine* engine = Engine.get()) {
    target.BindTarget(engine);
    engine->SubtractSaturated(HistorySurface.Bits(), pixels);
    if (level >= 0) engine->Desaturate(target.Bits(), width * 4, uint32_t(level));
  } else {
    // Without the engine library the same pixels come from its reference kernels, so the
    // strip looks the same; only the speed differs.
    rendo_ref::SubtractSaturatedRun(static_cast<uint32_t*>(target.Bits()),
                                    static_cast<const uint32_t*>(HistorySurface.Bits()), pixels);
    if (level >= 0)
      rendo_ref::DesaturateTarget(target.Bits(), width * 4, width, height, target.Bits(),
                                  width * 4, uint32_t(level), CpuUseSSE);
  }
  dpb->Paint();
}

void TfMain::DeviceFailed(TWaveInFailureEvent* message) {
  if (!Recording || message->Handle != WaveInHandle) return;
  SetRecording(false);
  QString text = QStringLiteral("録音デバイスでエラーが発生したため、録音を停止しました。");
  if (!message->Detail.isEmpty()) text += QStringLiteral("\n") + message->Detail;
  throw EMainWindowError(text.toStdString());
}
