// The platform-independent part of the test support: folders, and waiting for lines and
// conditions (the processes themselves are child_process_posix.cpp / _win.cpp).
#include "child_process.h"
#include "test_folder.h"

#include <chrono>
#include <filesystem>
#include <thread>

TTempDir::TTempDir() {
  FPath = NewTestFolder("speedlink").string();
}

TTempDir::~TTempDir() {
  std::error_code Ec;
  std::filesystem::remove_all(FPath, Ec);
}

std::string TChildProcess::ReadLineUntil(const std::function<bool(const std::string&)>& Wanted, int TimeoutMs) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (std::chrono::steady_clock::now() < Deadline) {
    std::string Line = ReadLine(100);
    if (!Line.empty() && Wanted(Line)) return Line;
    if (FClosed && FPending.find('\n') == std::string::npos) return {};  // no more lines will come
  }
  return {};
}

bool PollUntil(const std::function<bool()>& Done, int TimeoutMs, int StepMs) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (!Done()) {
    if (std::chrono::steady_clock::now() >= Deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(StepMs));
  }
  return true;
}
