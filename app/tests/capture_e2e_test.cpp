// The program's capture end to end through real ALSA: a private ALSA configuration makes
// `default` a test device that plays a generated file at 44100 frames per second.
#include "alsa_test_route.h"
#include "test_files.h"
#include "test_signals.h"
#include "wavein_alsa.h"
#include "WindowFixture.h"

#include <QLabel>

#include <cerrno>
#include <cstring>

class CaptureEndToEndTest : public MainWindowTest {
protected:
  void TearDown() override {
    Window.reset();
    AlsaWaveIn.reset();
    MainWindowTest::TearDown();
  }
  // `default` plays `frames` in real time, then ends as `end` says (held exclusively while
  // open when a lock file is named); the window, shown, captures from it.
  TQtMainWindow& PlayPaced(const std::vector<int16_t>& frames, TAlsaTestEnd end,
                           const std::string& lock = {}) {
    WriteRawFrames(Route.File("in.raw"), frames);
    Route.Add({.InputFile = Route.File("in.raw"), .Paced = true, .End = end, .LockFile = lock})
        .Install();
    AlsaWaveIn = CreateAlsaWaveIn();
    Window = std::make_unique<TQtMainWindow>(*AlsaWaveIn, SystemClock());
    Window->show();
    return *Window;
  }
  // Clicks 開始 and answers the next box (the calibration prompt, or an error) with OK at
  // once, as a user who is not touching the sensor.
  void Record() {
    Answer = {};
    AnswerNextBox(Answer);
    Window->btnRecord->click();
  }
  // Ended as the stop button ends a capture: device released, 開始 enabled again.
  void ExpectStopped() {
    EXPECT_FALSE(Window->Recording);
    EXPECT_EQ(Window->WaveInHandle, nullptr);
    EXPECT_TRUE(Window->btnRecord->isEnabled());
  }
  // The capture file was finished: its data size matches what was written.
  void ExpectFinishedFile() {
    const auto file = ReadFileBytes(Dir / "output.wav");
    ASSERT_GE(file.size(), 46u);
    EXPECT_EQ(ReadLe32(file, 42), file.size() - 46);
  }
  TAlsaTestRoute Route;  // under the test's private root
  std::unique_ptr<IWaveIn> AlsaWaveIn;
  TModalAnswer Answer;
  TInTestFolder InDir{Dir};
};

TEST_F(CaptureEndToEndTest, CounterSignalIsCapturedGaplessIntoTheFileAndStopReleasesTheDevice) {
  Settings->vbRecordToFile->Value = true;
  TQtMainWindow& w = PlayPaced(CounterFrames(0, 40 * 8192), TAlsaTestEnd::Hang);
  Record();  // returns once the first buffer calibrated the level
  ASSERT_TRUE(Answer.Seen);
  ASSERT_TRUE(w.Recording);
  EXPECT_GT(w.ReferenceMean, 0.0);
  ASSERT_TRUE(ProcessUntil([&] { return w.BuffersAnalysed >= 6; }, 20000));
  w.btnStop->click();
  const uint32_t buffers = w.BuffersAnalysed;
  ExpectStopped();

  const auto file = ReadFileBytes(Dir / "output.wav");
  ASSERT_EQ(file.size(), 46u + size_t(buffers) * 32768u);
  const auto* frames = reinterpret_cast<const int16_t*>(file.data() + 46);
  for (uint32_t i = 0; i < buffers * 8192; ++i)
    ASSERT_EQ(CounterValue(frames + 2 * i), i) << "first break at frame " << i;

  // The device is free again: a second capture opens it and measures.
  Record();
  EXPECT_TRUE(Answer.Seen);
  ASSERT_TRUE(w.Recording);
  ASSERT_TRUE(ProcessUntil([&] { return w.BuffersAnalysed > buffers; }, 20000));
  w.btnStop->click();
}

TEST_F(CaptureEndToEndTest, QuietStartThenToneIsMeasuredAgainstTheQuietReference) {
  std::vector<int16_t> input = ToneFrames(1000.0, 30.0, 2 * 8192);  // barely audible
  const std::vector<int16_t> tone = ToneFrames(1000.0, 12000.0, 8 * 8192);
  input.insert(input.end(), tone.begin(), tone.end());
  TQtMainWindow& w = PlayPaced(input, TAlsaTestEnd::Hang);
  Record();
  ASSERT_TRUE(w.Recording);
  ASSERT_TRUE(ProcessUntil([&] { return w.lblFundamental->text() == "1001"; }, 20000));
  EXPECT_GT(w.LevelDb, 40.0);
  EXPECT_GE(w.AboveCount, 1);
  w.btnStop->click();
}

TEST_F(CaptureEndToEndTest, DeviceFailingMidCaptureEndsTheCaptureWithAMessage) {
  Settings->vbRecordToFile->Value = true;
  PlayPaced(CounterFrames(1, 3 * 8192), TAlsaTestEnd::Fail);
  Record();
  TModalAnswer failure;
  AnswerNextBox(failure, QMessageBox::Ok, {}, 20000);
  ASSERT_TRUE(ProcessUntil([&] { return failure.Seen; }, 20000));
  EXPECT_TRUE(failure.Text.startsWith(QStringLiteral("録音デバイスでエラーが発生したため")));
  ExpectStopped();
  ExpectFinishedFile();  // at the stop
}

TEST_F(CaptureEndToEndTest, ExactZeroInputEndsTheCalibrationWaitWithAMessage) {
  Settings->vbRecordToFile->Value = true;
  // Then silent: zeros for good.
  TQtMainWindow& w = PlayPaced(SilenceFrames(8192), TAlsaTestEnd::Silence);
  TModalAnswer prompt, notice;
  // OK at once; the next box is the notice, answered from the wait it ends.
  AnswerNextBox(prompt, QMessageBox::Ok,
                [&] { AnswerNextBox(notice, QMessageBox::Ok, {}, 20000); });
  w.btnRecord->click();  // returns once the notice is answered
  ASSERT_TRUE(notice.Seen);
  EXPECT_TRUE(notice.Text.startsWith(
      QStringLiteral("入力から無音（すべて 0）の信号しか届かないため")));
  EXPECT_TRUE(notice.Text.contains(QStringLiteral("ミュート")));
  EXPECT_GE(w.BuffersAnalysed, TQtMainWindow::ZeroBuffersBeforeGivingUp());
  // Ended as the stop button ends a capture: nothing calibrated or saved, the file finished.
  ExpectFinishedFile();
  ExpectStopped();
  EXPECT_EQ(w.ReferenceMean, 0.0);
  EXPECT_FALSE(DeviceSaved());
}

TEST_F(CaptureEndToEndTest, BusyDeviceRefusesTheStart) {
  PlayPaced(CounterFrames(0, 8192), TAlsaTestEnd::Hang, Route.File("busy.lock"));
  std::unique_ptr<IWaveIn> other = CreateAlsaWaveIn();  // another program holds the device
  HWAVEIN held = nullptr;
  ASSERT_EQ(other->Open(&held, WAVE_MAPPER, TfMain::CaptureFormat(), TWaveInWindow{}),
            MMSYSERR_NOERROR);
  Record();
  // The fixed text, then the device and ALSA's reason.
  EXPECT_EQ(Answer.Text, QStringLiteral("録音の開始に失敗しました。\ndefault: ") +
                             QString::fromLocal8Bit(std::strerror(EBUSY)));
  ExpectStopped();
  other->Close(held);
}
