// The main window as a user sees it: layout, states, the threshold ramp, starting and
// stopping a capture, calibration, and the failure paths, over the test audio backend.
#include "WindowFixture.h"
#include "DIBpbox.h"
#include "WaveOutComboBox.h"
#include "../testing/main_window_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QTimer>

#include <algorithm>

namespace {

QWidget* Widget(TQtMainWindow& w, TMainControlId id) {
  QWidget* const byId[] = {w.Bevel1, w.dpb,    w.CheckBox1,      w.WaveInComboBox1, w.Label2,
                           w.Label3, w.Label1, w.lblFundamental, w.Label6,          w.lblVolume,
                           w.Label5, w.Label4, w.btnRecord,      w.btnStop,         w.Button3};
  return byId[id - idBevel1];
}

void ExpectEnabled(TQtMainWindow& w, bool capturing) {
  for (const TMainControlLayout& c : kMainControls)
    EXPECT_EQ(Widget(w, c.Id)->isEnabled(), capturing ? c.Capturing : c.Idle) << c.Id;
}

}  // namespace

TEST_F(MainWindowTest, LayoutTextsAndInitialStates) {
  TQtMainWindow& w = MakeWindow();
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8(kMainWindowCaption));
  EXPECT_EQ(w.size(), QSize(kMainClientWidth, kMainClientHeight));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);

  for (const TMainControlLayout& c : kMainControls) {
    SCOPED_TRACE(c.Id);
    QWidget* control = Widget(w, c.Id);
    EXPECT_EQ(control->pos(), QPoint(c.Left, c.Top));
    EXPECT_EQ(c.Width ? control->width() : 0, c.Width);
    EXPECT_EQ(c.Height ? control->height() : 0, c.Height);
    // A label's or a button's text, a combo box's selected item; a frame has none.
    const char* property = qobject_cast<QComboBox*>(control) ? "currentText" : "text";
    EXPECT_EQ(control->property(property).toString(), QString::fromUtf8(c.Text));
  }
  EXPECT_TRUE(w.CheckBox1->isChecked());
  ExpectEnabled(w, false);
  EXPECT_TRUE(w.Timer1->isActive());  // enabled when shown
  EXPECT_EQ(w.Timer1->interval(), 100);
  EXPECT_TRUE(w.Timer2->isActive());
  EXPECT_EQ(w.Timer2->interval(), 1000);
  EXPECT_EQ(w.SpeedFactor, 1.0f);
}

TEST_F(MainWindowTest, DeviceListMapsPositionsToDeviceNumbers) {
  TQtMainWindow& w = MakeWindow();
  ASSERT_EQ(w.WaveInComboBox1->count(), 3);
  EXPECT_EQ(w.WaveInComboBox1->itemText(0), QStringLiteral("利用可能なデバイス"));
  EXPECT_EQ(w.WaveInComboBox1->itemText(2), QStringLiteral("Card B"));
  EXPECT_EQ(w.WaveInComboBox1->currentIndex(), 0);
  EXPECT_EQ(w.WaveInComboBox1->DeviceId(), WAVE_MAPPER);
  w.WaveInComboBox1->setCurrentIndex(2);
  EXPECT_EQ(w.WaveInComboBox1->DeviceId(), 1);
  w.WaveInComboBox1->setCurrentIndex(-1);
  EXPECT_EQ(w.WaveInComboBox1->DeviceId(), -2);
}

TEST_F(MainWindowTest, NoDevicesLeavesOnlyThePreferredEntry) {
  WaveIn.Devices.clear();
  TQtMainWindow& w = MakeWindow();
  EXPECT_EQ(w.WaveInComboBox1->count(), 1);
  StartAndCalibrate(10);
  ASSERT_FALSE(WaveIn.Calls.empty());
  EXPECT_EQ(WaveIn.Calls.front(), "open -1");  // the preferred device
  w.btnStop->click();
}

TEST_F(MainWindowTest, StoredPositionIsSelectedWhenShownAndBeyondTheListSelectsNothing) {
  Settings->viWaveInDevice->Value = 2;
  EXPECT_EQ(MakeWindow().WaveInComboBox1->currentIndex(), 2);
  Window.reset();

  Settings->viWaveInDevice->Value = 7;
  TQtMainWindow& w = MakeWindow();
  EXPECT_EQ(w.WaveInComboBox1->currentIndex(), -1);
  TModalAnswer error;
  AnswerNextBox(error);
  w.btnRecord->click();
  EXPECT_TRUE(error.Seen);
  EXPECT_EQ(error.Text, QStringLiteral("録音の開始に失敗しました。"));
  EXPECT_EQ(error.Title, TApplication::Title());
  EXPECT_FALSE(w.Recording);
  EXPECT_EQ(WaveIn.OpenCount, 0);
}

TEST_F(MainWindowTest, StartCalibratesSavesTheDeviceAndStopReleasesEverything) {
  TQtMainWindow& w = MakeWindow();
  w.WaveInComboBox1->setCurrentIndex(1);
  Clock.Now = 5000;
  const TModalAnswer prompt = StartAndCalibrate(1000);

  EXPECT_TRUE(prompt.Seen);
  EXPECT_EQ(prompt.Text, QStringLiteral("Tallo2から指を離して無音状態にしてから、OKを押してください。"));
  EXPECT_EQ(prompt.Title, TApplication::Title());
  EXPECT_EQ(WaveIn.Calls.front(), "open 0");
  const WAVEFORMATEX& f = WaveIn.Format;
  EXPECT_EQ(std::tuple(f.nSamplesPerSec, f.nChannels, f.wBitsPerSample, f.nBlockAlign,
                       f.nAvgBytesPerSec),
            std::tuple(44100u, 2, 16, 4, 176400u));

  EXPECT_TRUE(w.Recording);
  EXPECT_EQ(w.StartTime, 5000u);
  EXPECT_DOUBLE_EQ(w.ReferenceMean, 1000.0);
  ExpectEnabled(w, true);
  EXPECT_FALSE(w.Timer1->isActive());
  EXPECT_EQ(w.BufferHeader.dwBufferLength, 32768u);

  // The buffer was handed back and the capture goes on.
  EXPECT_NE(WaveIn.Queued, nullptr);
  ASSERT_TRUE(WaveIn.DeliverConstant(-500));
  ASSERT_TRUE(ProcessUntil([&] { return w.LastMean == 500.0; }));
  EXPECT_NE(WaveIn.Queued, nullptr);

  // The device position was saved: a fresh settings object reads it back.
  TGlobalSettings reread(*Reg);
  EXPECT_EQ(reread.viWaveInDevice->Value, 1);

  w.btnStop->click();
  EXPECT_FALSE(w.Recording);
  EXPECT_EQ(WaveIn.OpenCount, 0);
  EXPECT_EQ(WaveIn.Calls.back(), "close");
  ExpectEnabled(w, false);
  EXPECT_TRUE(w.Timer1->isActive());
  EXPECT_EQ(w.BufferHandle, nullptr);

  // A second stop, or closing after a stop, releases nothing more.
  const size_t calls = WaveIn.Calls.size();
  w.close();
  EXPECT_EQ(WaveIn.Calls.size(), calls);
}

TEST_F(MainWindowTest, ReturnedBufferAfterStopIsNeitherReadNorRequeued) {
  TQtMainWindow& w = MakeWindow();
  StartAndCalibrate(800);
  // A filled buffer whose notice is still queued when the user stops.
  ASSERT_TRUE(WaveIn.DeliverConstant(3000));
  w.btnStop->click();
  QCoreApplication::processEvents();
  EXPECT_DOUBLE_EQ(w.LastMean, 800.0);
  EXPECT_EQ(std::count(WaveIn.Calls.begin(), WaveIn.Calls.end(), "add"), 2);
}

TEST_F(MainWindowTest, SecondCaptureKeepsTheOldReferenceUntilCalibrated) {
  TQtMainWindow& w = MakeWindow();
  StartAndCalibrate(400);
  w.btnStop->click();
  AnswerNextBox(QMessageBox::Ok);  // OK before any buffer of the new capture
  w.btnRecord->click();
  EXPECT_DOUBLE_EQ(w.ReferenceMean, 400.0);  // the last mean of the previous capture
  w.btnStop->click();
}

TEST_F(MainWindowTest, DeviceFailureMidCaptureStopsAndTellsTheUser) {
  TQtMainWindow& w = MakeWindow();
  StartAndCalibrate(900);
  TModalAnswer error;
  AnswerNextBox(error);
  WaveIn.Fail("unplugged");
  ASSERT_TRUE(ProcessUntil([&] { return error.Seen; }));
  EXPECT_TRUE(error.Text.startsWith(QStringLiteral("録音デバイスでエラーが発生したため")));
  EXPECT_TRUE(error.Text.contains(QStringLiteral("unplugged")));
  EXPECT_FALSE(w.Recording);
  EXPECT_EQ(WaveIn.OpenCount, 0);
  ExpectEnabled(w, false);
}

TEST_F(MainWindowTest, WindowReopensWhereItWasClosed) {
  MakeWindow().move(123, 77);
  const QPoint closedAt = Window->pos();
  Window.reset();
  EXPECT_TRUE(Reg->KeyExists("Software\\Trevane\\Korvel\\fMain"));
  EXPECT_EQ(MakeWindow().pos(), closedAt);
  // Fixed size: only the position is kept.
  EXPECT_EQ(Window->size(), QSize(kMainClientWidth, kMainClientHeight));
}
