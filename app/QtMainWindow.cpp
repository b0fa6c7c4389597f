#include "QtMainWindow.h"

#include "DIBpbox.h"
#include "FormSerializer.h"
#include "WaveOutComboBox.h"
#include "rendoif.h"
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

namespace {
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

TQtMainWindow::TQtMainWindow(IWaveIn& waveIn, IClock& clock, QWidget* parent,
                             const QString& pictureFolder)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      TfMain(static_cast<IMainView&>(*this), waveIn, clock),
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
  Bevel1->setGeometry(23, 15, kStripWidth + 2, kStripHeight + 2);

  dpb = new TDIBPaintBox(this);
  dpb->SetDepth(32);
  dpb->SetEnableMask(false);
  dpb->SetBounds(24, 16, kStripWidth, kStripHeight);

  CheckBox1 = new QCheckBox(QStringLiteral("ラノフォンの速度を変更する"), this);
  CheckBox1->setGeometry(24, 88, 249, 17);
  CheckBox1->setChecked(true);

  WaveInComboBox1 = new TWaveOutComboBox(waveIn, this);
  WaveInComboBox1->setGeometry(24, 112, 225, 23);

  Label2 = MakeLabel(this, "現在の速度", 24, 144);
  Label3 = MakeLabel(this, SpeedCaption(1.0f).c_str(), 120, 144);
  Label1 = MakeLabel(this, "基本周波数", 24, 168);
  lblFundamental = MakeLabel(this, kNotDetectedCaption, 120, 168);
  Label6 = MakeLabel(this, "音量レベル", 24, 192);
  lblVolume = MakeLabel(this, "", 120, 192);
  Label5 = MakeLabel(this, "しきい値", 24, 216);
  Label4 = MakeLabel(this, ThresholdCaption(TSettingDefaults::viFloor).c_str(), 120, 216);

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

  // The window reopens where it was closed; the placement lives under the settings key.
  setObjectName(QStringLiteral("fMain"));
  FormSerializer1 = new TFormSerializer(this, QString::fromLatin1(SettingsKeyPath),
                                        GlobalSettings->Registry());
  FormSerializer1->Options = soSavePosition;
  RunGuarded([this] { FormSerializer1->ReadPlacement(); });

  WaveInComboBox1->Loaded();
  FormCreate();
  try {
    LoadBackground();
  } catch (...) {
    // Reported once the window is up; creation goes on without the picture.
    ReportLater(std::current_exception());
  }
  Timer2->start();
}

TQtMainWindow::~TQtMainWindow() {
  // Released while this window can still drop the device's posted notices.
  StopCapture();
}

void TQtMainWindow::LoadBackground() {
  const QString picture = PictureFile();
  if (!BackgroundBitmap.load(picture, "BMP")) {
    BackgroundBitmap = QImage();
    throw EMainWindowError(
        QStringLiteral("背景画像 \"%1\" を読み込めませんでした。").arg(picture).toStdString());
  }
  // A picture of another depth is made 32-bit here, once; the strip then copies its
  // pixels at every redraw without converting or allocating.
  if (BackgroundBitmap.format() != QImage::Format_RGB32 &&
      BackgroundBitmap.format() != QImage::Format_ARGB32)
    BackgroundBitmap.convertTo(QImage::Format_RGB32);
  auto pixels = std::make_unique<TDIBSurface>(BackgroundBitmap.width(), BackgroundBitmap.height(), 32);
  pixels->Canvas().Draw(0, 0, BackgroundBitmap);
  Background = std::move(pixels);
}

QString TQtMainWindow::PictureFile() const {
  return PictureFolder + QLatin1Char('/') + QLatin1String(PictureName);
}

void TQtMainWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) RunGuarded([this] { FormShow(); });
}

void TQtMainWindow::closeEvent(QCloseEvent* e) {
  bool allowed = true;
  RunGuarded([&] { allowed = FormCloseQuery(); });
  if (allowed) {
    e->accept();
  } else {
    e->ignore();
  }
}

bool TQtMainWindow::event(QEvent* e) {
  if (e->type() == TWaveInDataEvent::EventType) {
    auto* data = static_cast<TWaveInDataEvent*>(e);
    RunGuarded([&] { MMWimData(data->Handle, data->Header); });
    return true;
  }
  if (e->type() == TWaveInFailureEvent::EventType) {
    auto* failure = static_cast<TWaveInFailureEvent*>(e);
    RunGuarded([&] { WaveInFailed(failure->Handle, failure->Detail.toStdString()); });
    return true;
  }
  return QWidget::event(e);
}

QLabel* TQtMainWindow::Label(TMainLabel label) const {
  switch (label) {
    case TMainLabel::Label3: return Label3;
    case TMainLabel::lblFundamental: return lblFundamental;
    case TMainLabel::lblVolume: return lblVolume;
    case TMainLabel::Label4: return Label4;
  }
  return Label4;
}

void TQtMainWindow::SetCaption(TMainLabel label, const std::string& text) {
  QLabel* l = Label(label);
  l->setText(QString::fromStdString(text));
  l->adjustSize();
}

void TQtMainWindow::SetCaptionColor(TMainLabel label, uint32_t color) {
  QLabel* l = Label(label);
  QPalette palette = l->palette();
  palette.setColor(QPalette::WindowText, color == kColorRed ? Qt::red : Qt::black);
  l->setPalette(palette);
}

void TQtMainWindow::SetEnabled(TMainControl control, bool enabled) {
  switch (control) {
    case TMainControl::btnRecord: btnRecord->setEnabled(enabled); break;
    case TMainControl::btnStop: btnStop->setEnabled(enabled); break;
    case TMainControl::WaveInComboBox1: WaveInComboBox1->setEnabled(enabled); break;
  }
}

int32_t TQtMainWindow::DevicePosition() { return WaveInComboBox1->currentIndex(); }

int32_t TQtMainWindow::DeviceCount() { return WaveInComboBox1->count(); }

void TQtMainWindow::SelectDevice(int32_t position) { WaveInComboBox1->setCurrentIndex(position); }

bool TQtMainWindow::PublishChecked() { return CheckBox1->isChecked(); }

void TQtMainWindow::ShowInformation(const std::string& text) {
  QMessageBox box(QMessageBox::Information, TApplication::Title(), QString::fromStdString(text),
                  QMessageBox::Ok, this);
  box.exec();
}

void TQtMainWindow::ReportLater(std::exception_ptr error) {
  QTimer::singleShot(0, this, [error] { TApplication::ShowException(error); });
}

void TQtMainWindow::ProcessMessagesUntil(const std::function<bool()>& done) {
  while (!done())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TQtMainWindow::ProcessMessagesWithoutInput() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
}

void TQtMainWindow::SetTimerActive(TMainTimer timer, bool active) {
  QTimer* t = timer == TMainTimer::Timer1 ? Timer1 : Timer2;
  if (active) {
    t->start();
  } else {
    t->stop();
  }
}

TDIBSurface& TQtMainWindow::StripSurface() { return dpb->Surface(); }

void TQtMainWindow::PaintStrip() { dpb->Paint(); }

TWaveInWindow TQtMainWindow::WaveInWindow() { return WaveInSink.Window(); }

void TQtMainWindow::DropWaveInNotices() {
  QCoreApplication::removePostedEvents(this, TWaveInDataEvent::EventType);
  QCoreApplication::removePostedEvents(this, TWaveInFailureEvent::EventType);
}
