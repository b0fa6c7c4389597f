// The main window as a user sees it: layout, states, the threshold ramp, starting and
// stopping a capture, calibration, and the failure paths, over the test audio backend.
#include "WindowFixture.h"
#include "WaveOutComboBox.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QTimer>

#include <algorithm>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TEST_F(MainWindowTest, LayoutTextsAndInitialStates) {
  TfMain& w = MakeWindow();
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
  TfMain& w = MakeWindow();
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
  TfMain& w = MakeWindow();
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
  TfMain& w = MakeWindow();
  EXPECT_EQ(w.WaveInComboBox1->currentIndex(), -1);
  TModalAnswer error;
  AnswerNextBox(error);
  w.btnRecord->click();
  EXPECT_TRUE(error.Seen);
  EXPECT_EQ(error.Text, QStringLiteral("録音の開始に失敗しました。"));
  EXPECT_FALSE(w.Recording);
  EXPECT_EQ(WaveIn.OpenCount, 0);
}

TEST_F(MainWindowTest, StartCalibratesSavesTheDeviceAndStopReleasesEverything) {
  TfMain& w = MakeWindow();
  w.WaveInComboBox1->setCurrentIndex(1);
  Clock.Now = 5000;
  const TModalAnswer prompt = StartAndCalibrate(1000);

  EXPECT_TRUE(prompt.Seen);
  EXPECT_EQ(prompt.Text, QStringLiteral("Tallo2から指を離して無音状態にしてから、OKを押してください。"));
  EXPECT_EQ(prompt.Title, TApplication::Title());
  EXPECT_EQ(WaveIn.Calls.front(), "open 0");
  EXPECT_EQ(WaveIn.Format.nSamplesPerSec, 44100u);
  EXPECT_EQ(WaveIn.Format.nChannels, 2);
  EXPECT_EQ(WaveIn.Format.wBitsPerSample, 16);
  EXPECT_EQ(WaveIn.Format.nBlockAlign, 4);
  EXPECT_EQ(WaveIn.Format.nAvgBytesPerSec, 176400u);

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
  TGlobalSettings reread(*Registry);
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
  TfMain& w = MakeWindow();
  StartAndCalibrate(800);
  // A filled buffer whose notice is still queued when the user stops.
  ASSERT_TRUE(WaveIn.DeliverConstant(3000));
  w.btnStop->click();
  QCoreApplication::processEvents();
  EXPECT_DOUBLE_EQ(w.LastMean, 800.0);
  EXPECT_EQ(std::count(WaveIn.Calls.begin(), WaveIn.Calls.end(), "add"), 2);
}

TEST_F(MainWindowTest, ThresholdRampsOverFiveMinutesOnceCalibrated) {
  TfMain& w = MakeWindow();
  w.Timer2Timer();
  EXPECT_EQ(w.Label4->text(), QStringLiteral("400hz"));  // idle

  Clock.Now = 0xFFFFF000u;  // a start shortly before the clock wraps
  TModalAnswer prompt;
  // Before calibration the threshold stays at the floor whatever the time.
  AnswerNextBox(prompt, QMessageBox::Ok, [&] {
    Clock.Now += 200000;
    w.Timer2Timer();
    EXPECT_EQ(w.Label4->text(), QStringLiteral("400hz"));
    WaveIn.DeliverConstant(100);
  });
  w.btnRecord->click();
  ASSERT_DOUBLE_EQ(w.ReferenceMean, 100.0);

  const std::pair<uint32_t, const char*> ramp[] = {
      {1, "400hz"}, {1500, "399hz"}, {150000, "300hz"}, {299999, "201hz"},
      {300000, "200hz"}, {4000000, "200hz"}};
  for (const auto& [elapsed, text] : ramp) {
    Clock.Now = 0xFFFFF000u + elapsed;  // wraps past zero for most of these
    w.Timer2Timer();
    EXPECT_EQ(w.Label4->text(), QString::fromUtf8(text)) << elapsed;
  }

  w.btnStop->click();
  w.Timer2Timer();
  EXPECT_EQ(w.Label4->text(), QStringLiteral("400hz"));
}

TEST_F(MainWindowTest, RampFollowsTheSettingsAtEachTick) {
  TfMain& w = MakeWindow();
  StartAndCalibrate(100);
  Settings->viFloor->Value = 1000;
  Settings->viFloor2->Value = 2000;  // a rising ramp is taken as it is
  Clock.Now = w.StartTime + 150000;
  w.Timer2Timer();
  EXPECT_EQ(w.Threshold, 1500);
  Settings->viFloor->Value = -2147483647 - 1;
  Settings->viFloor2->Value = 2147483647;  // the 64-bit product does not overflow
  w.Timer2Timer();
  EXPECT_EQ(w.Threshold, int32_t(-2147483648LL + (4294967295LL * 150000) / 300000));
  w.btnStop->click();
}

TEST_F(MainWindowTest, FailedOpenReportsLeavesIdleAndSavesNothing) {
  TfMain& w = MakeWindow();
  WaveIn.OpenResult = MMSYSERR_ALLOCATED;  // device busy
  Clock.Now = 1234;
  Settings->viFloor->Value = 321;
  w.Timer1->stop();  // only the click may push into the history
  const int32_t position = w.History.Position;
  TModalAnswer error;
  AnswerNextBox(error);
  w.btnRecord->click();

  EXPECT_TRUE(error.Seen);
  EXPECT_EQ(error.Text, QStringLiteral("録音の開始に失敗しました。"));
  EXPECT_EQ(error.Title, TApplication::Title());
  EXPECT_FALSE(w.Recording);
  EXPECT_TRUE(w.btnRecord->isEnabled());
  EXPECT_FALSE(w.btnStop->isEnabled());
  EXPECT_EQ(w.StartTime, 1234u);
  EXPECT_EQ(w.Threshold, 321);
  EXPECT_EQ(w.History.Position, (position + 1) % TBasicFreqenycyTable::Size);  // one zero
  EXPECT_FALSE(DeviceSaved());  // nothing saved
}

TEST_F(MainWindowTest, FailedQueueReleasesTheOpenedDevice) {
  for (const bool prepareFails : {true, false}) {
    TfMain& w = MakeWindow();
    WaveIn.PrepareResult = prepareFails ? MMSYSERR_NOMEM : MMSYSERR_NOERROR;
    WaveIn.AddResult = prepareFails ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
    TModalAnswer error;
    AnswerNextBox(error);
    w.btnRecord->click();
    EXPECT_EQ(error.Text, QStringLiteral("録音の開始に失敗しました。"));
    EXPECT_EQ(WaveIn.OpenCount, 0) << prepareFails;
    EXPECT_EQ(w.WaveInHandle, nullptr);
    EXPECT_EQ(w.BufferHandle, nullptr);
    EXPECT_FALSE(w.Recording);
    Window.reset();
  }
}

TEST_F(MainWindowTest, ClosingDuringThePromptStopsWithoutCalibrating) {
  TfMain& w = MakeWindow();
  TModalAnswer prompt;
  AnswerNextBox(prompt, QMessageBox::Ok, [&] {
    WaveIn.DeliverConstant(700);
    w.close();
  });
  w.btnRecord->click();
  EXPECT_TRUE(prompt.Seen);
  EXPECT_FALSE(w.Recording);
  EXPECT_EQ(WaveIn.OpenCount, 0);
  EXPECT_EQ(w.ReferenceMean, 0.0);
  EXPECT_FALSE(DeviceSaved());
}

TEST_F(MainWindowTest, StoppingOrClosingDuringTheWaitEndsIt) {
  for (const bool closeWindow : {false, true}) {
    TfMain& w = MakeWindow();
    TModalAnswer prompt;
    AnswerNextBox(prompt);  // OK at once: no buffer has been measured yet
    QTimer::singleShot(50, &w, [&] {
      if (closeWindow) {
        w.close();
      } else {
        w.btnStop->click();
      }
    });
    w.btnRecord->click();  // returns only when the wait is over
    EXPECT_FALSE(w.Recording) << closeWindow;
    EXPECT_EQ(w.ReferenceMean, 0.0);
    EXPECT_EQ(WaveIn.OpenCount, 0);
    EXPECT_FALSE(DeviceSaved());
    Window.reset();
  }
}

TEST_F(MainWindowTest, NoBufferAtAllEndsTheWaitAfterTheZeroInputTime) {
  TfMain& w = MakeWindow();
  TModalAnswer prompt, error;
  AnswerNextBox(prompt);  // OK at once; the device never delivers
  QTimer::singleShot(50, &w, [&] {
    AnswerNextBox(error);
    Clock.Now += uint32_t(TfMain::ZeroInputSeconds * 1000);
  });
  w.btnRecord->click();  // returns when the wait gives up
  ASSERT_TRUE(ProcessUntil([&] { return error.Seen; }));
  EXPECT_TRUE(error.Text.startsWith(QStringLiteral("入力デバイスから音声がまったく届かない"))) << error.Text.toStdString();
  EXPECT_FALSE(w.Recording);
  EXPECT_EQ(WaveIn.OpenCount, 0);
  EXPECT_FALSE(DeviceSaved());
}

TEST_F(MainWindowTest, SettingsLockedByAnotherProcessKeepTheCaptureAnalysedAndAreReported) {
  TfMain& w = MakeWindow();
  const int held = ::open((Registry->FilePath() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  TModalAnswer error;
  QTimer::singleShot(500, &w, [&] { WaveIn.DeliverConstant(900), AnswerNextBox(error); });  // in the save's wait
  StartAndCalibrate(400);
  ASSERT_TRUE(ProcessUntil([&] { return error.Seen; }));
  ::close(held);
  EXPECT_DOUBLE_EQ(w.LastMean, 900.0) << "no buffer analysed while the save waited";
  EXPECT_TRUE(error.Text.startsWith(QStringLiteral("'viSpeed' の設定に失敗しました\n"))) << error.Text.toStdString();
  EXPECT_TRUE(error.Text.contains(QStringLiteral(": settings file locked by another process")));
  EXPECT_TRUE(w.Recording);
  w.btnStop->click();
}

TEST_F(MainWindowTest, SecondCaptureKeepsTheOldReferenceUntilCalibrated) {
  TfMain& w = MakeWindow();
  StartAndCalibrate(400);
  w.btnStop->click();
  TModalAnswer prompt;
  AnswerNextBox(prompt);  // OK before any buffer of the new capture
  w.btnRecord->click();
  EXPECT_DOUBLE_EQ(w.ReferenceMean, 400.0);  // the last mean of the previous capture
  w.btnStop->click();
}

TEST_F(MainWindowTest, DeviceFailureMidCaptureStopsAndTellsTheUser) {
  TfMain& w = MakeWindow();
  StartAndCalibrate(900);
  TModalAnswer error;
  AnswerNextBox(error);
  WaveIn.Fail(QStringLiteral("unplugged"));
  ASSERT_TRUE(ProcessUntil([&] { return error.Seen; }));
  EXPECT_TRUE(error.Text.startsWith(QStringLiteral("録音デバイスでエラーが発生したため")));
  EXPECT_TRUE(error.Text.contains(QStringLiteral("unplugged")));
  EXPECT_FALSE(w.Recording);
  EXPECT_EQ(WaveIn.OpenCount, 0);
  EXPECT_TRUE(w.btnRecord->isEnabled());
}

TEST(ApplicationTitle, FileNameWithoutFolderAndExtensionFirstLetterKept) {
  EXPECT_EQ(ApplicationTitleFromPath("/usr/bin/korvel"), QStringLiteral("korvel"));
  EXPECT_EQ(ApplicationTitleFromPath("build/bin/KORVEL.real.exe"), QStringLiteral("Korvel"));
  EXPECT_EQ(ApplicationTitleFromPath("./x"), QStringLiteral("x"));
}

TEST_F(MainWindowTest, WindowReopensWhereItWasClosed) {
  MakeWindow().move(123, 77);
  const QPoint closedAt = Window->pos();
  Window.reset();
  EXPECT_TRUE(Registry->KeyExists("Software\\Trevane\\Korvel\\fMain"));
  EXPECT_EQ(MakeWindow().pos(), closedAt);
  EXPECT_EQ(Window->size(), QSize(269, 280));  // fixed size: only the position is kept
}
