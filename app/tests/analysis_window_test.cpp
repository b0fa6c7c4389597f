// What every analysed buffer does to the window: labels, speed steps reaching the mailbox,
// the history strip, settings read at the moment of use, and the capture file.
#include "DIBpbox.h"
#include "NumberEdit.h"
#include "QtConfigDialog.h"
#include "WindowFixture.h"
#include "test_files.h"
#include "test_signals.h"

#include <QCheckBox>
#include <QLabel>

class AnalysisWindowTest : public MainWindowTest {
protected:
  // Delivers one buffer and runs the loop until the window has handed it back.
  void Feed(const std::function<int16_t(uint32_t)>& left, int times = 1) {
    for (int i = 0; i < times; ++i) {
      ASSERT_TRUE(WaveIn.Deliver(left));
      ASSERT_TRUE(ProcessUntil([&] { return WaveIn.Queued != nullptr; }));
    }
  }
};

TEST_F(AnalysisWindowTest, ToneAtOrAboveTheThresholdIsRedAndCountsDown) {
  TQtMainWindow& w = MakeWindow();
  StartAndCalibrate(10);
  const int32_t before = w.History.Position;
  Feed(Tone(1000));
  EXPECT_EQ(w.lblFundamental->text(), QStringLiteral("1001"));
  EXPECT_EQ(w.lblFundamental->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(w.AboveCount, 1);
  EXPECT_EQ(w.History.Position, (before + 1) % 220);
  EXPECT_GT(w.History.ReadAge(1), 0.0f);

  // Silence neither continues nor breaks the run and pushes nothing.
  Feed([](uint32_t) { return int16_t(10); });
  EXPECT_EQ(w.lblVolume->text(), QStringLiteral("(無音)"));
  EXPECT_EQ(w.lblFundamental->text(), QStringLiteral("(未検出)"));
  EXPECT_EQ(w.AboveCount, 1);
  EXPECT_EQ(w.History.Position, (before + 1) % 220);
  w.btnStop->click();
}

TEST_F(AnalysisWindowTest, StripIsGreyWhenIdleAndShowsColumnsOverColourWhileCapturing) {
  TQtMainWindow& w = MakeWindow();
  ASSERT_FALSE(w.BackgroundBitmap.isNull());
  const auto* pixels = static_cast<const uint32_t*>(w.dpb->Surface().Bits());
  auto grey = [](uint32_t p) {
    return (p & 0xFF) == ((p >> 8) & 0xFF) && (p & 0xFF) == ((p >> 16) & 0xFF);
  };
  EXPECT_TRUE(std::all_of(pixels, pixels + 13200, grey));  // level 0 right after start-up

  StartAndCalibrate(10);
  Feed(Tone(300), 70);  // 64 redraws bring the colour back
  EXPECT_GE(w.SaturationLevel, 256);
  EXPECT_FALSE(std::all_of(pixels, pixels + 13200, grey));
  // The newest value sits in column 1; a 301 Hz detection in 20..3000 Hz gives a column
  // that darkens the bottom row against the background.
  const float value = w.History.ReadAge(1);
  ASSERT_GT(value, 0.0f);
  const int32_t a = int32_t(value * 60.0);
  const uint32_t g = uint32_t(39 - a / 2);
  const QImage background = w.BackgroundBitmap.convertToFormat(QImage::Format_RGB32);
  const uint32_t under = background.pixel(1, 59) & 0xFFFFFF;
  const uint32_t shown = pixels[1] & 0xFFFFFF;  // memory row 0 is the bottom row
  for (int shift : {0, 8, 16}) {
    const int expected = std::max(int((under >> shift) & 0xFF) - int(g), 0);
    EXPECT_EQ(int((shown >> shift) & 0xFF), expected) << shift;
  }
  // Kept as an artifact of the run: the window with grey columns over the coloured picture.
  EXPECT_TRUE(w.grab().save(QString::fromStdString((Dir / "main-window.png").string())));
  w.btnStop->click();
}

TEST_F(AnalysisWindowTest, PictureOfAnotherDepthIsConvertedOnceWhenLoaded) {
  QImage indexed = QImage(220, 60, QImage::Format_RGB32);
  indexed.fill(QColor(0x40, 0x80, 0xC0));
  indexed = indexed.convertToFormat(QImage::Format_Indexed8);
  ASSERT_TRUE(indexed.save(QString::fromStdString((Dir / "default.bmp").string()), "BMP"));
  TQtMainWindow w(WaveIn, Clock, nullptr, QString::fromStdString(Dir.string()));
  EXPECT_EQ(w.BackgroundBitmap.format(), QImage::Format_RGB32);  // not converted per redraw
  EXPECT_EQ(w.BackgroundBitmap.pixel(5, 5) & 0xFFFFFF, 0x4080C0u);
}

class CaptureFileWindowTest : public AnalysisWindowTest {
protected:
  CaptureFileWindowTest() { Settings->vbRecordToFile->Value = true; }
  std::vector<unsigned char> OutputWav() const { return ReadFileBytes(Dir / "output.wav"); }
  TInTestFolder InDir{Dir};
};

TEST_F(CaptureFileWindowTest, TenBuffersGiveTheWholeCaptureWithTrueSizesThroughout) {
  TQtMainWindow& w = MakeWindow();
  StartAndCalibrate(10);  // the calibration buffer is the first of the file
  for (uint32_t frame = 0; frame < 9; ++frame)
    Feed([&](uint32_t p) { return int16_t((frame * 8192 + p) & 0x7FFF); });
  EXPECT_EQ(ReadLe32(OutputWav(), 42), 327680u);  // sizes true after every buffer
  w.btnStop->click();

  const auto file = OutputWav();
  ASSERT_EQ(file.size(), 327726u);
  // The capture's format (PCM, 2 x 16 bits at 44100 Hz, extension size 0) and true sizes.
  EXPECT_EQ(std::string(file.begin(), file.begin() + 46), WavHeader(327680, {.FmtBytes = 18}));
  // Frames as delivered: the counter on the first channel, 0 on the second.
  EXPECT_EQ(ReadLe32(file, 46), 10u);
  EXPECT_EQ(ReadLe32(file, 46 + 2 * 32768 + 4 * 5), 8192u + 5);  // buffer 2, frame 5
}

TEST_F(CaptureFileWindowTest, StopBeforeAnyBufferLeavesAHeaderOnlyFile) {
  TQtMainWindow& w = MakeWindow();
  AnswerNextBox(QMessageBox::Ok);
  QTimer::singleShot(30, &w, [&] { w.btnStop->click(); });
  w.btnRecord->click();
  EXPECT_EQ(ReadFileText(Dir / "output.wav"), WavHeader(0, {.FmtBytes = 18}));
}

TEST_F(CaptureFileWindowTest, UncreatableFileRefusesTheStart) {
  fs::create_directory(Dir / "output.wav");  // a folder where the file should go
  TQtMainWindow& w = MakeWindow();
  TModalAnswer error;
  AnswerNextBox(error);
  w.btnRecord->click();
  EXPECT_EQ(error.Text, QStringLiteral("ファイルの作成に失敗しました。\n") +
                            QString::fromStdString(fs::current_path() / "output.wav") +
                            QStringLiteral(": Is a directory"));
  EXPECT_FALSE(w.Recording);
  EXPECT_EQ(WaveIn.OpenCount, 0);
}

TEST_F(CaptureFileWindowTest, FullDiskEndsTheFileOnceAndTheCaptureGoesOn) {
  fs::create_symlink("/dev/full", Dir / "output.wav");
  TQtMainWindow& w = MakeWindow();
  AnswerNextBox(QMessageBox::Ok, [&] { WaveIn.DeliverConstant(10); });
  w.btnRecord->click();  // the calibration buffer's write fails and queues the notice
  TModalAnswer error;
  AnswerNextBox(error);
  ASSERT_TRUE(ProcessUntil([&] { return error.Seen; }));
  EXPECT_TRUE(error.Text.startsWith(QStringLiteral("録音ファイルへの書き込みに失敗")));
  EXPECT_TRUE(w.Recording);
  EXPECT_EQ(w.CaptureFile.DataChunk, nullptr);
  Feed(Tone(300), 3);  // no further notice, the analysis goes on
  EXPECT_EQ(w.lblFundamental->text(), QStringLiteral("301"));
  w.btnStop->click();
}

TEST_F(AnalysisWindowTest, SettingsDialogKeepsTheCaptureRunningAndItsOkAppliesToTheNextBuffer) {
  TQtMainWindow& w = MakeWindow();
  TQtConfigDialog config(&w);
  fConfig = &config;
  w.ShowConfigDialog = [&config] { config.exec(); };
  StartAndCalibrate(10);

  bool sawDialog = false;
  QTimer::singleShot(20, &w, [&] {
    sawDialog = QApplication::activeModalWidget() == &config;
    Feed(Tone(1000));  // analysed while the dialog is open
    EXPECT_EQ(w.lblFundamental->text(), QStringLiteral("1001"));
    config.editMaxFreq->setText(QStringLiteral("500"));
    config.btnOK->click();
  });
  w.Button3->click();  // modal: returns when the dialog closes
  EXPECT_TRUE(sawDialog);
  EXPECT_EQ(Settings->viMaxFreq->Value, 500);
  Feed(Tone(1000));
  EXPECT_EQ(w.lblFundamental->text(), QStringLiteral("(未検出)"));
  EXPECT_TRUE(w.Recording);
  w.btnStop->click();
  fConfig = nullptr;
}

TEST_F(AnalysisWindowTest, HistoryColumnsFollowTheValuesAge) {
  TQtMainWindow& w = MakeWindow();
  for (float value : {0.5f, 0.99f, 0.01f, 0.02f}) w.History.Push(value);  // ages 4, 3, 2, 1
  w.DrawHistory();
  TDIBCanvas& canvas = w.HistorySurface.Canvas();
  auto column = [&](int32_t c) {
    std::vector<uint32_t> rows;
    for (int32_t y = 0; y < 60; ++y) rows.push_back(canvas.Pixel(c, y) & 0xFFFFFF);
    return rows;
  };
  // 0.5: a = 30, grey 24 over rows 31..59.
  const std::vector<uint32_t> half = column(4);
  for (int32_t y = 0; y < 60; ++y) EXPECT_EQ(half[size_t(y)], y >= 31 ? 24u * 65793u : 0u) << y;
  // 0.99 gives a = 59 and 0.01 gives a = 0: no column either way.
  for (int32_t c : {3, 2})
    for (uint32_t p : column(c)) EXPECT_EQ(p, 0u) << c;
  // 0.02: a = 1, grey 39 over rows 2..59.
  const std::vector<uint32_t> low = column(1);
  EXPECT_EQ(low[1], 0u);
  EXPECT_EQ(low[2], 39u * 65793u);
  EXPECT_EQ(low[59], 39u * 65793u);
}

TEST_F(AnalysisWindowTest, ColourLevelWalksUpWhileCapturingAndDownWhenIdle) {
  TQtMainWindow& w = MakeWindow();
  w.Timer1->stop();
  EXPECT_EQ(w.SaturationLevel, 0);
  StartAndCalibrate(10);
  const int32_t start = w.SaturationLevel;
  for (int i = 0; i < 70; ++i) w.DrawHistory();
  EXPECT_EQ(w.SaturationLevel, 256);  // 0, 4, ..., 252 applied, then 256 and no more
  EXPECT_GT(start, 0);
  w.btnStop->click();
  w.Timer1->stop();
  const int32_t idle = w.SaturationLevel;
  w.DrawHistory();
  EXPECT_EQ(w.SaturationLevel, idle - 4);
  for (int i = 0; i < 70; ++i) w.DrawHistory();
  EXPECT_EQ(w.SaturationLevel, 0);
}
