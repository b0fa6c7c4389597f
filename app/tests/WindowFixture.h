#pragma once
// The main window over the test audio backend and a manual clock, with private settings and
// a private speed mailbox.
#include "FakeWaveIn.h"
#include "ManualClock.h"
#include "qt_test_app.h"
#include "registry.h"
#include "test_folder.h"
#include "uApplication.h"
#include "QtMainWindow.h"
#include "uSharedMemory.h"
#include "uglobal.h"

#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

class MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = NewTestFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    Registry = std::make_unique<TRegistry>((Dir / "registry.reg").string());
    Settings = std::make_unique<TGlobalSettings>(*Registry);
    GlobalSettings = Settings.get();
    fs::create_directories(Dir / "shm");
    Mailbox = std::make_unique<TSpeedSharedMemory>((Dir / "shm").string());
    SpeedSharedMemory = Mailbox.get();
    WaveIn.Devices = {"Card A", "Card B"};
  }
  void TearDown() override {
    Window.reset();
    QCoreApplication::removePostedEvents(nullptr);
    GlobalSettings = nullptr;
    SpeedSharedMemory = nullptr;
  }

  TQtMainWindow& MakeWindow() {
    Window = std::make_unique<TQtMainWindow>(WaveIn, Clock);
    Window->show();
    return *Window;
  }

  // Clicks 開始, feeds buffers of the given mean while the prompt is open, presses OK.
  TModalAnswer StartAndCalibrate(int16_t level) {
    TModalAnswer prompt;
    AnswerNextBox(prompt, QMessageBox::Ok, [&] { WaveIn.DeliverConstant(level); ProcessUntil([&] { return Window->LastMean != 0.0; }); });
    Window->btnRecord->click();
    return prompt;
  }

  bool DeviceSaved() {
    return Registry->ReadValue("Software\\Trevane\\Korvel", "viWaveInDevice").has_value();
  }

  fs::path Dir;
  std::unique_ptr<TRegistry> Registry;
  std::unique_ptr<TGlobalSettings> Settings;
  std::unique_ptr<TSpeedSharedMemory> Mailbox;
  TFakeWaveIn WaveIn;
  TManualClock Clock;
  std::unique_ptr<TQtMainWindow> Window;
};

