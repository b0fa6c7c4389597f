// korvel's capture through the desktop's sound server: sound_server_run.sh starts a private
// PipeWire with a virtual sink; a separate player plays a tone into the sink, the window
// captures the sink's monitor through ALSA's `default` and publishes under the mailbox's
// real names (inside a private /dev/shm).
#include "qt_test_app.h"
#include "alsa_test_route.h"
#include "clock.h"
#include "registry.h"
#include "QtMainWindow.h"
#include "uSharedMemory.h"
#include "uglobal.h"
#include "wavein_alsa.h"
#include "WaveOutComboBox.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;
namespace fs = std::filesystem;

TEST(SoundServer, ToneOnTheSinkMonitorStepsTheSpeedAndTheListNamesTheServer) {
  const char* sink = std::getenv("KORVEL_TEST_SINK");
  const char* tone = std::getenv("KORVEL_TEST_TONE");
  if (!std::getenv("KORVEL_PRIVATE_SHM") || !sink || !tone)
    GTEST_SKIP() << "run through ctest: sound_server_run.sh starts the server in a private /dev/shm";
  const fs::path dir = fs::path(std::getenv("KORVEL_TEST_ROOT")) / "window";
  fs::remove_all(dir);
  fs::create_directories(dir);
  TRegistry registry((dir / "registry.reg").string());
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
    EXPECT_TRUE(items.filter(QStringLiteral("PipeWire")).size() >= 1) << items.join(u'|').toStdString();
    EXPECT_FALSE(items.contains(QStringLiteral("pipewire"))) << items.join(u'|').toStdString();

    // The player: quiet at first, so the capture's first buffer makes a quiet reference.
    pid_t player = 0;
    const char* argv[] = {"pw-play", "--target", sink, tone, nullptr};
    ASSERT_EQ(posix_spawnp(&player, "pw-play", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    ProcessUntil([] { return false; }, 500);

    TModalAnswer prompt;
    AnswerNextBox(prompt);
    w.btnRecord->click();
    ASSERT_TRUE(prompt.Seen);
    EXPECT_TRUE(w.Recording);

    TCommonMemoryStream section(kSpeedSectionName, kSpeedRecordSize);
    double speed = 0;
    const bool stepped = ProcessUntil([&] {
      uint8_t record[kSpeedRecordSize];
      section.Seek(0, 0);
      if (section.Read(record, kSpeedRecordSize) != kSpeedRecordSize) return false;
      std::memcpy(&speed, record + 1, sizeof speed);
      return std::fabs(speed - 1.1) < 1e-6;
    }, 30000);
    w.btnStop->click();
    kill(player, SIGTERM);
    waitpid(player, nullptr, 0);
    EXPECT_TRUE(stepped) << "speed in the mailbox: " << speed << ", last frequency "
                         << w.lblFundamental->text().toStdString() << ", buffers " << w.BuffersAnalysed;
  }
  SpeedSharedMemory = nullptr;
  GlobalSettings = nullptr;
}
