// The main window as a user sees it: layout, states, the threshold ramp, starting and
// stopping a capture, calibration, and the failure paths, over the test audio backend.
#include "WindowFixture.h"
#include "WaveOutComboBox.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QTimer>

#include <algorithm>

TEST_F(MainWindowTest, LayoutTextsAndInitialStates) {
  TQtMainWindow& w = MakeWindow();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Korvel 2.0"));
  EXPECT_EQ(w.size(), QSize(269, 280));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);

  EXPECT_EQ(w.Bevel1->geometry(), QRect(23, 15, 222, 62));
  EXPECT_EQ(w.CheckBox1->geometry(), QRect(24, 88, 249, 17));
  EXPECT_TRUE(w.CheckBox1->isChecked());
  EXPECT_EQ(w.CheckBox1->text(), QStringLiteral("ラノフォンの速度を変更する"));
  EXPECT_EQ(w.WaveInComboBox1->geometry(), QRect(24, 112, 225, 23));
  EXPECT_EQ(w.btnRecord->geometry(), QRect(16, 240, 75, 25));
  EXPECT_EQ(w.btnStop->geometry(), QRect(96, 240, 75, 25));
  EXPECT_EQ(w.Button3->geometry(), QRect(176, 240, 75, 25));

  const std::pair<QLabel*, std::pair<QPoint, const char*>> labels[] = {
      {w.Label2, {{24, 144}, "現在の速度"}},  {w.Label3, {{120, 144}, "1.00倍速"}},
      {w.Label1, {{24, 168}, "基本周波数"}},  {w.lblFundamental, {{120, 168}, "(未検出)"}},
      {w.Label6, {{24, 192}, "音量レベル"}},  {w.lblVolume, {{120, 192}, ""}},
      {w.Label5, {{24, 216}, "しきい値"}},    {w.Label4, {{120, 216}, "400hz"}},
  };
  for (const auto& [label, expected] : labels) {
    EXPECT_EQ(label->pos(), expected.first) << expected.second;
    EXPECT_EQ(label->text(), QString::fromUtf8(expected.second));
  }
  EXPECT_EQ(w.btnRecord->text(), QStringLiteral("開始"));
  EXPECT_EQ(w.btnStop->text(), QStringLiteral("停止"));
  EXPECT_EQ(w.Button3->text(), QStringLiteral("環境設定"));

  EXPECT_TRUE(w.btnRecord->isEnabled());
  EXPECT_FALSE(w.btnStop->isEnabled());
  EXPECT_TRUE(w.Button3->isEnabled());
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
  EXPECT_FALSE(w.btnRecord->isEnabled());
  EXPECT_TRUE(w.btnStop->isEnabled());
  EXPECT_FALSE(w.WaveInComboBox1->isEnabled());
  EXPECT_FALSE(w.Timer1->isActive());
  EXPECT_TRUE(w.Button3->isEnabled());
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
  EXPECT_TRUE(w.btnRecord->isEnabled());
  EXPECT_FALSE(w.btnStop->isEnabled());
  EXPECT_TRUE(w.WaveInComboBox1->isEnabled());
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
  EXPECT_TRUE(w.btnRecord->isEnabled());
}

TEST(ApplicationTitle, FileNameWithoutFolderAndExtensionFirstLetterKept) {
  EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral("/usr/bin/korvel")), QStringLiteral("korvel"));
  EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral("build/bin/KORVEL.real.exe")), QStringLiteral("Korvel"));
  EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral("./x")), QStringLiteral("x"));
}

TEST_F(MainWindowTest, WindowReopensWhereItWasClosed) {
  MakeWindow().move(123, 77);
  const QPoint closedAt = Window->pos();
  Window.reset();
  EXPECT_TRUE(Reg->KeyExists("Software\\Trevane\\Korvel\\fMain"));
  EXPECT_EQ(MakeWindow().pos(), closedAt);
  EXPECT_EQ(Window->size(), QSize(269, 280));  // fixed size: only the position is kept
}
