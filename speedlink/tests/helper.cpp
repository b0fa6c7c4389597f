// Helper process for the cross-process tests: acts on the mailbox objects in a directory
// given on the command line and reports on stdout, one line per step.
//   hold DIR         Enter the lock, print "held", then sleep until killed
//   wait DIR MS      open the event, print "ready", WaitFor(MS); exit 0 when signalled, 3 if not
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <thread>

#include "uSharedMemory.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const char* Cmd = argv[1];
  const std::string Dir = argv[2];
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // each line reaches the test as it is printed
  try {
    if (std::strcmp(Cmd, "hold") == 0) {
      TSynchronize Lock(kSpeedLockName, true, Dir);
      Lock.Enter();
      std::printf("held\n");
      for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    if (std::strcmp(Cmd, "wait") == 0 && argc >= 4) {
      TAutomaticEvent Event(kSpeedEventName, true, Dir);
      std::printf("ready\n");
      return Event.WaitFor(static_cast<uint32_t>(std::atoi(argv[3]))) ? 0 : 3;
    }
  } catch (const std::exception& E) {
    std::printf("error %s\n", E.what());
    return 4;
  }
  return 2;
}
