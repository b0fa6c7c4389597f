// korvel's capture through the desktop's sound server: sound_server_run.sh starts a private
// PipeWire with a virtual sink; a separate player plays a tone into the sink, the window
// captures the sink's monitor through ALSA's `default` and publishes under the mailbox's
// real names (inside a private /dev/shm).
#include "qt_test_app.h"
#include "child_process.h"
#include "clock.h"
#include "registry.h"
#include "QtMainWindow.h"
#include "uSharedMemory.h"
#include "uglobal.h"
#include "wavein_alsa.h"
#include "WaveOutComboBox.h"
#include "test_folder.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

TEST(SoundServer, ToneOnTheSinkMonitorStepsTheSpeedAndTheListNamesTheServer) {
  const char* sink = std::getenv("KORVEL_TEST_SINK");
  const char* tone = std::getenv("KORVEL_TEST_TONE");
  if (!std::getenv("KORVEL_PRIVATE_SHM") || !sink || !tone)
    GTEST_SKIP() << "run through ctest: sound_server_run.sh starts the server in a private /dev/shm";
  TRegistry registry((NewTestFolder("window") / "registry.reg").string());
  TGlobalSettings settings(registry);
  GlobalSettings = &settings;
  TSpeedSharedMemory mailbox;  // the real names
  SpeedSharedMemory = &mailbox;
  {
    std::unique_ptr<IWaveIn> waveIn = CreateAlsaWaveIn();
    TQtMainWindow w(*waveIn, SystemClock());
    w.show();

    // ALSA lists the server's devices under their descriptions, not their bare names.
    QStringList items;
    for (int i = 1; i < w.WaveInComboBox1->count(); ++i) items << w.WaveInComboBox1->itemText(i);
    const std::string listed = items.join(u'|').toStdString();
    EXPECT_GE(items.filter(QStringLiteral("PipeWire")).size(), 1) << listed;
    EXPECT_FALSE(items.contains(QStringLiteral("pipewire"))) << listed;

    // The player: quiet at first, so the capture's first buffer makes a quiet reference.
    TChildProcess player({"pw-play", "--target", sink, tone});
    ProcessUntil([] { return false; }, 500);

    TModalAnswer prompt;
    AnswerNextBox(prompt);
    w.btnRecord->click();
    ASSERT_TRUE(prompt.Seen);
    EXPECT_TRUE(w.Recording);

    TCommonMemoryStream section(kSpeedSectionName, kSpeedRecordSize);
    double speed = 0;
    const bool stepped = ProcessUntil([&] {
      section.ReadAt(1, &speed, sizeof speed);  // after the flag
      return std::fabs(speed - 1.1) < 1e-6;
    }, 30000);
    w.btnStop->click();
    EXPECT_TRUE(stepped) << "speed in the mailbox: " << speed << ", last frequency "
                         << w.lblFundamental->text().toStdString() << ", buffers " << w.BuffersAnalysed;
  }
  SpeedSharedMemory = nullptr;
  GlobalSettings = nullptr;
}
