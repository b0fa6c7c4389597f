// Stop requests and the wall clock on Linux.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/time.h>

#include "mailboxcommands.h"

volatile std::sig_atomic_t GStop = 0;

namespace {
void OnStopSignal(int) { GStop = 1; }
}  // namespace

void InstallStopHandlers() {
  struct sigaction Sa {};
  Sa.sa_handler = OnStopSignal;
  sigemptyset(&Sa.sa_mask);
  sigaction(SIGINT, &Sa, nullptr);
  sigaction(SIGTERM, &Sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

std::string WallClockNow() {
  timeval Tv{};
  gettimeofday(&Tv, nullptr);
  tm Tm{};
  localtime_r(&Tv.tv_sec, &Tm);
  char Buf[48];
  const size_t N = std::strftime(Buf, sizeof Buf, "%Y-%m-%dT%H:%M:%S", &Tm);
  std::snprintf(Buf + N, sizeof Buf - N, ".%03ld", static_cast<long>(Tv.tv_usec / 1000));
  return Buf;
}
