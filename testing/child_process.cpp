// The platform-independent part of the test support: folders, and waiting for lines and
// conditions (the processes themselves are child_process_posix.cpp / _win.cpp).
#include "child_process.h"
#include "test_folder.h"

#include <chrono>
#include <filesystem>
#include <thread>

using namespace std::chrono;

TTempDir::TTempDir() : FPath(NewTestFolder("speedlink").string()) {}

TTempDir::~TTempDir() {
  std::error_code Ec;
  std::filesystem::remove_all(FPath, Ec);
}

std::string TChildProcess::ReadLine(int TimeoutMs) {
  const auto Deadline = steady_clock::now() + milliseconds(TimeoutMs);
  for (;;) {
    const auto Nl = FPending.find('\n');
    if (Nl != std::string::npos) {
      std::string Line = FPending.substr(0, Nl);
      FPending.erase(0, Nl + 1);
      if (!Line.empty() && Line.back() == '\r') Line.pop_back();  // a Windows line end
      return Line;
    }
    const auto Left = duration_cast<milliseconds>(Deadline - steady_clock::now()).count();
    if (Left <= 0 || !ReadSome(static_cast<int>(Left))) return {};
  }
}

std::string TChildProcess::ReadLineUntil(const std::function<bool(const std::string&)>& Wanted,
                                         int TimeoutMs) {
  const auto Deadline = steady_clock::now() + milliseconds(TimeoutMs);
  while (steady_clock::now() < Deadline) {
    std::string Line = ReadLine(100);
    if (!Line.empty() && Wanted(Line)) return Line;
    if (FClosed && FPending.find('\n') == std::string::npos) return {};  // no more lines will come
  }
  return {};
}

bool PollUntil(const std::function<bool()>& Done, int TimeoutMs, int StepMs) {
  const auto Deadline = steady_clock::now() + milliseconds(TimeoutMs);
  while (!Done()) {
    if (steady_clock::now() >= Deadline) return false;
    std::this_thread::sleep_for(milliseconds(StepMs));
  }
  return true;
}
