#pragma once
// The main window's Qt front end: the controls, their layout and the plumbing from Qt's
// events (clicks, timers, the audio input's posted notices, show and close) to TfMain's
// handlers (behaviour/uMain.h holds what the window does). It also reads the strip's
// background picture, since reading picture files is the toolkit's.
#include "uMain.h"
#include "wavein_qt.h"

#include <QImage>
#include <QWidget>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QTimer;
class TDIBPaintBox;
class TFormSerializer;
class TWaveOutComboBox;

class TQtMainWindow : public QWidget, private IMainView, public TfMain {
public:
  // The background picture is read from `pictureFolder`; when empty, from the program's own
  // folder or else the installed data folder (ProgramFileFolder).
  TQtMainWindow(IWaveIn& waveIn, IClock& clock, QWidget* parent = nullptr,
                const QString& pictureFolder = {});
  ~TQtMainWindow() override;

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
  TFormSerializer* FormSerializer1 = nullptr;

  // The strip's background picture as read (made 32-bit once); empty when it failed to load.
  QImage BackgroundBitmap;
  static constexpr const char* PictureName = "default.bmp";
  QString PictureFile() const;

protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

private:
  void LoadBackground();

  // IMainView
  void SetCaption(TMainLabel label, const std::string& text) override;
  void SetCaptionColor(TMainLabel label, uint32_t color) override;
  void SetEnabled(TMainControl control, bool enabled) override;
  int32_t DevicePosition() override;
  int32_t DeviceCount() override;
  void SelectDevice(int32_t position) override;
  bool PublishChecked() override;
  void ShowInformation(const std::string& text) override;
  void ReportLater(std::exception_ptr error) override;
  void ProcessMessagesUntil(const std::function<bool()>& done) override;
  void ProcessMessagesWithoutInput() override;
  void SetTimerActive(TMainTimer timer, bool active) override;
  TDIBSurface& StripSurface() override;
  void PaintStrip() override;
  TWaveInWindow WaveInWindow() override;
  void DropWaveInNotices() override;

  QLabel* Label(TMainLabel label) const;

  TQtWaveInSink WaveInSink{this};  // the audio input's notices, posted to this window
  QString PictureFolder;
};
