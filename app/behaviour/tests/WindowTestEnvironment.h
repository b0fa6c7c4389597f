#pragma once
// What the main window's tests give it, with or without a toolkit: private settings in a
// folder of the test's own, a private speed mailbox, the test audio backend with two
// devices and a manual clock. The program's globals point at them while the test runs.
#include "FakeWaveIn.h"
#include "ManualClock.h"
#include "test_store.h"
#include "uSharedMemory.h"
#include "uglobal.h"

#include <gtest/gtest.h>

#include <cstring>

// The test's folder is the current one while the object lives: the capture file goes there.
struct TInTestFolder {
  explicit TInTestFolder(const std::filesystem::path& dir) { std::filesystem::current_path(dir); }
  ~TInTestFolder() { std::filesystem::current_path(Previous); }
  std::filesystem::path Previous = std::filesystem::current_path();
};

struct TWindowTestEnvironment : TTestStore {
  TWindowTestEnvironment()
      : TTestStore(::testing::UnitTest::GetInstance()->current_test_info()->name()),
        Settings(std::make_unique<TGlobalSettings>(*Reg)) {
    KeepFolder = true;
    GlobalSettings = Settings.get();
    std::filesystem::create_directories(Dir / "shm");
    Mailbox = std::make_unique<TSpeedSharedMemory>((Dir / "shm").string());
    SpeedSharedMemory = Mailbox.get();
    WaveIn.Devices = {"Card A", "Card B"};
  }
  ~TWindowTestEnvironment() { GlobalSettings = nullptr, SpeedSharedMemory = nullptr; }

  bool DeviceSaved() { return Stored("viWaveInDevice").has_value(); }
  // The factor in the mailbox's record.
  double Published() {
    double speed = 0.0;
    std::memcpy(&speed, Mailbox->Memory() + 1, 8);
    return speed;
  }

  std::unique_ptr<TGlobalSettings> Settings;
  std::unique_ptr<TSpeedSharedMemory> Mailbox;
  TFakeWaveIn WaveIn;
  TManualClock Clock;
};
