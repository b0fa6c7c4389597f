#include "uMain.h"

#include "WaveOutComboBox.h"
#include "clock.h"
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

#include <cmath>
#include <cstdlib>
#include <stdexcept>

TfMain* fMain = nullptr;

namespace {
const char* const kStartFailed = "録音の開始に失敗しました。";
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
      PictureFolder(pictureFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                            : pictureFolder) {
  setWindowTitle(QStringLiteral("Korvel 2.0"));
  setFixedSize(269, 280);  // single fixed border: no resizing, no maximise box
  QFont windowFont(QStringLiteral("MS UI Gothic"));
  windowFont.setPixelSize(15);
  setFont(windowFont);

  Bevel1 = new QFrame(this);
  Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Bevel1->setGeometry(23, 15, 222, 62);

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
}

TfMain::~TfMain() {
  // A window destroyed while capturing must not leave the device or its buffer behind.
  StopCapture();
  if (fMain == this) fMain = nullptr;
}

void TfMain::FormCreate() {
  SpeedFactor = 1.0f;
  SaturationLevel = 0;
  const QString picture = PictureFolder + QStringLiteral("/default.bmp");
  if (!BackgroundBitmap.load(picture, "BMP")) {
    BackgroundBitmap = QImage();
    throw EMainWindowError(
        QStringLiteral("背景画像 \"%1\" を読み込めませんでした。").arg(picture).toStdString());
  }
}

void TfMain::FormShow() {
  WaveInComboBox1->setCurrentIndex(0);
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
  // calibrated and nothing is saved.
  while (LastMean == 0.0 && Recording)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  if (!Recording) return;

  ReferenceMean = LastMean;
  GlobalSettings->viWaveInDevice->Value = WaveInComboBox1->currentIndex();
  GlobalSettings->Save();
}

void TfMain::btnStopClick() { SetRecording(false); }

void TfMain::Button3Click() {
  if (ShowConfigDialog) ShowConfigDialog();
}

void TfMain::Timer1Timer() {
  // The history strip scrolls in a zero here; it joins with the strip itself.
}

void TfMain::Timer2Timer() {
  const int32_t floor = GlobalSettings->viFloor->Value;
  if (Recording && ReferenceMean != 0.0) {
    const uint32_t elapsed = Clock.timeGetTime() - StartTime;  // wraps like the clock
    if (elapsed >= 300000u) {
      Threshold = GlobalSettings->viFloor2->Value;
    } else {
      // Signed 64-bit product and quotient, truncated toward zero: 400 + (-200*1500)/300000
      // is 399; a 32-bit product would overflow for large settings.
      const int64_t span = int64_t(GlobalSettings->viFloor2->Value) - int64_t(floor);
      Threshold = int32_t(int64_t(floor) + span * int64_t(elapsed) / 300000);
    }
  } else {
    Threshold = floor;
  }
  Label4->setText(QStringLiteral("%1hz").arg(Threshold));
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

  // What a failed start acquired is released before the failure is reported, so nothing is
  // left open behind the message.
  auto fail = [this] {
    StopCapture();
    throw EMainWindowError(kStartFailed);
  };

  if (WaveIn.Open(&WaveInHandle, WaveInComboBox1->DeviceId(), format, this) !=
      MMSYSERR_NOERROR) {
    WaveInHandle = nullptr;
    fail();
  }
  const uint32_t bytes = uint32_t(format.nBlockAlign) << 13;  // 8192 frames
  BufferHandle = std::make_unique<char[]>(bytes);
  BufferHeader = WAVEHDR{};
  BufferHeader.lpData = BufferHandle.get();
  BufferHeader.dwBufferLength = bytes;
  if (WaveIn.PrepareHeader(WaveInHandle, &BufferHeader) != MMSYSERR_NOERROR) fail();
  if (WaveIn.AddBuffer(WaveInHandle, &BufferHeader) != MMSYSERR_NOERROR) fail();
  WaveIn.Start(WaveInHandle);
}

void TfMain::StopCapture() {
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

  // Mean of the absolute first-channel samples over all frames of the buffer.
  const auto* frames = reinterpret_cast<const int16_t*>(message->Header->lpData);
  double sum = 0.0;
  for (uint32_t p = 0; p < BufferFrames; ++p) sum += std::abs(double(frames[2 * p]));
  const double mean = sum / BufferFrames;

  WaveIn.AddBuffer(WaveInHandle, message->Header);
  LastMean = mean;
}

void TfMain::DeviceFailed(TWaveInFailureEvent* message) {
  if (!Recording || message->Handle != WaveInHandle) return;
  SetRecording(false);
  QString text = QStringLiteral("録音デバイスでエラーが発生したため、録音を停止しました。");
  if (!message->Detail.isEmpty()) text += QStringLiteral("\n") + message->Detail;
  throw EMainWindowError(text.toStdString());
}
