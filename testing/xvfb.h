#pragma once
// An X server of the test's own (Xvfb): -displayfd 1 makes it pick a free display and print
// its number on a line of its own (among whatever else it says). Ended with the object, or
// earlier with Stop (a test that takes the server away from a client).
#include "child_process.h"

#include <csignal>
#include <string>

class TXvfb {
public:
  explicit TXvfb(const std::string& Screen = "320x240x24")
      : FProcess({"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", Screen}) {
    const std::string Number = FProcess.ReadLineUntil(
        [](const std::string& Line) { return !Line.empty() && Line.find_first_not_of("0123456789") == std::string::npos; },
        20000);
    if (!Number.empty()) Name = ":" + Number;
  }
  ~TXvfb() { Stop(); }
  void Stop() {
    if (FProcess.WaitExit(0) >= 0) return;  // ended already
    FProcess.Kill(SIGTERM);
    FProcess.WaitExit(5000);
  }
  std::string Name;  // empty when the server did not come up

private:
  TChildProcess FProcess;
};
