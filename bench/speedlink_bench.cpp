// Speed mailbox figures:
//  - SetSpeed cost (check of the three names, lock, write, signal, unlock), against the four
//    operations of the publish itself made bare (fcntl lock, 9-byte store, FIFO drain +
//    write, fcntl unlock);
//  - publish-to-reader wake-up latency across processes: from just before SetSpeed to the
//    moment a reader process, woken by the event, has copied the record under the lock;
//    against a bare pipe ping to the same process (the kernel's own wake-up floor).
// Each benchmark alternates the measured operation with its reference, sample by sample,
// so both see the same machine load; medians and 99th percentiles are counters, and
// ratio_median = measured median / reference median.
//
//   build-*/bench/speedlink_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "uSharedMemory.h"

namespace {

int64_t MonotonicNs() {
  timespec Ts{};
  clock_gettime(CLOCK_MONOTONIC, &Ts);
  return int64_t{Ts.tv_sec} * 1000000000 + Ts.tv_nsec;
}

double Percentile(std::vector<double> V, double P) {
  std::sort(V.begin(), V.end());
  const size_t I = std::min(V.size() - 1, static_cast<size_t>(P * static_cast<double>(V.size() - 1) + 0.5));
  return V[I];
}

// A private mailbox directory on the same tmpfs the program uses.
struct TBenchDir {
  std::string Path;
  TBenchDir() {
    std::string T = "/dev/shm/korvel-bench-XXXXXX";
    if (!mkdtemp(T.data())) throw std::runtime_error("mkdtemp in /dev/shm failed");
    Path = T;
  }
  ~TBenchDir() {
    std::error_code Ec;
    std::filesystem::remove_all(Path, Ec);
  }
};

void Report(benchmark::State& State, const std::vector<double>& Measured, const std::vector<double>& Reference,
            double Scale) {
  const double Median = Percentile(Measured, 0.5), RefMedian = Percentile(Reference, 0.5);
  State.counters["median_us"] = Median * Scale;
  State.counters["p99_us"] = Percentile(Measured, 0.99) * Scale;
  State.counters["ref_median_us"] = RefMedian * Scale;
  State.counters["ref_p99_us"] = Percentile(Reference, 0.99) * Scale;
  State.counters["ratio_median"] = RefMedian > 0 ? Median / RefMedian : 0;
}

// ---------------------------------------------------------------------------- SetSpeed cost

void BM_SetSpeed(benchmark::State& State) {
  TBenchDir Dir;
  TSpeedSharedMemory Mailbox(Dir.Path);
  // The reference works on its own files, so the two never touch the same objects.
  TBenchDir RefDir;
  const int LockFd = open((RefDir.Path + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  const int RecFd = open((RefDir.Path + "/record").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (ftruncate(RecFd, 9) != 0) State.SkipWithError("ftruncate");
  auto* Rec = static_cast<uint8_t*>(mmap(nullptr, 9, PROT_READ | PROT_WRITE, MAP_SHARED, RecFd, 0));
  mkfifo((RefDir.Path + "/event").c_str(), 0600);
  const int EvFd = open((RefDir.Path + "/event").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);

  auto Bare = [&](double Speed) {
    struct flock Fl {};
    Fl.l_type = F_WRLCK;
    fcntl(LockFd, F_OFD_SETLKW, &Fl);
    Rec[0] = 1;
    std::memcpy(Rec + 1, &Speed, 8);
    char Buf[8];
    while (read(EvFd, Buf, sizeof Buf) > 0) {
    }
    const char One = 1;
    benchmark::DoNotOptimize(write(EvFd, &One, 1));
    Fl.l_type = F_UNLCK;
    fcntl(LockFd, F_OFD_SETLK, &Fl);
  };

  std::vector<double> Measured, Reference;
  double Speed = 1.0;
  for (auto _ : State) {
    Speed = Speed > 4.0 ? 1.0 : Speed + 0.1;
    const int64_t T0 = MonotonicNs();
    Mailbox.SetSpeed(Speed);
    const int64_t T1 = MonotonicNs();
    Bare(Speed);
    const int64_t T2 = MonotonicNs();
    Measured.push_back(static_cast<double>(T1 - T0));
    Reference.push_back(static_cast<double>(T2 - T1));
    State.SetIterationTime(static_cast<double>(T1 - T0) * 1e-9);
  }
  Report(State, Measured, Reference, 1e-3);
  munmap(Rec, 9);
  close(LockFd);
  close(RecFd);
  close(EvFd);
}
BENCHMARK(BM_SetSpeed)->UseManualTime()->Iterations(20000)->Unit(benchmark::kMicrosecond);

// ------------------------------------------------------------------- wake-up across processes

struct TWake {
  char Tag;  // 'M' mailbox publish, 'P' pipe ping
  int64_t Ns;
};

// The reader process: waits on the event and on a plain pipe at once; reports when each
// woke it (for the event: after the record copy under the lock, as a player would).
int RunReader(const std::string& Dir, int ReportFd, int PingFd) {
  TSynchronize Lock(kSpeedLockName, true, Dir);
  TCommonMemoryStream Section(kSpeedSectionName, kSpeedRecordSize, Dir);
  TAutomaticEvent Event(kSpeedEventName, true, Dir);
  const TWake Ready{'R', 0};
  if (write(ReportFd, &Ready, sizeof Ready) != sizeof Ready) return 1;
  for (;;) {
    pollfd Fds[2] = {{Event.Handle(), POLLIN, 0}, {PingFd, POLLIN, 0}};
    if (poll(Fds, 2, -1) < 0) continue;
    if (Fds[0].revents & POLLIN) {
      if (Event.WaitFor(0)) {
        uint8_t Copy[kSpeedRecordSize];
        Lock.Enter();
        std::memcpy(Copy, Section.Memory(), sizeof Copy);
        Lock.Leave();
        benchmark::DoNotOptimize(Copy);
        const TWake W{'M', MonotonicNs()};
        if (write(ReportFd, &W, sizeof W) != sizeof W) return 1;
      }
    }
    if (Fds[1].revents & (POLLIN | POLLHUP)) {
      char Byte;
      if (read(PingFd, &Byte, 1) != 1) return 0;  // the benchmark closed the pipe: done
      const TWake W{'P', MonotonicNs()};
      if (write(ReportFd, &W, sizeof W) != sizeof W) return 1;
    }
  }
}

bool ReadWake(int Fd, TWake& W) {
  size_t Got = 0;
  auto* P = reinterpret_cast<char*>(&W);
  while (Got < sizeof W) {
    const ssize_t N = read(Fd, P + Got, sizeof W - Got);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return false;
    Got += static_cast<size_t>(N);
  }
  return true;
}

void BM_PublishToReaderWakeUp(benchmark::State& State) {
  TBenchDir Dir;
  TSpeedSharedMemory Mailbox(Dir.Path);
  int ReportPipe[2], PingPipe[2];
  if (pipe(ReportPipe) != 0 || pipe(PingPipe) != 0) {
    State.SkipWithError("pipe");
    return;
  }
  const pid_t Pid = fork();
  if (Pid == 0) {
    // A fresh process image: nothing of this process's lock state carries over.
    close(ReportPipe[0]);
    close(PingPipe[1]);
    const std::string R = std::to_string(ReportPipe[1]), P = std::to_string(PingPipe[0]);
    execl("/proc/self/exe", "speedlink_bench", "--reader", Dir.Path.c_str(), R.c_str(), P.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ReportPipe[1]);
  close(PingPipe[0]);
  TWake W{};
  if (!ReadWake(ReportPipe[0], W) || W.Tag != 'R') {
    State.SkipWithError("reader did not start");
  }

  // Quiet between samples, as between two analysis buffers: the reader is asleep, not spinning.
  const auto Gap = std::chrono::microseconds(500);
  std::vector<double> Measured, Reference;
  double Speed = 1.0;
  for (auto _ : State) {
    if (W.Tag != 'R' && W.Tag != 'M' && W.Tag != 'P') break;
    std::this_thread::sleep_for(Gap);
    Speed = Speed > 4.0 ? 1.0 : Speed + 0.1;
    const int64_t T0 = MonotonicNs();
    Mailbox.SetSpeed(Speed);
    if (!ReadWake(ReportPipe[0], W) || W.Tag != 'M') {
      State.SkipWithError("reader lost");
      break;
    }
    Measured.push_back(static_cast<double>(W.Ns - T0));
    State.SetIterationTime(static_cast<double>(W.Ns - T0) * 1e-9);

    std::this_thread::sleep_for(Gap);
    const int64_t T1 = MonotonicNs();
    const char One = 1;
    if (write(PingPipe[1], &One, 1) != 1 || !ReadWake(ReportPipe[0], W) || W.Tag != 'P') {
      State.SkipWithError("reader lost");
      break;
    }
    Reference.push_back(static_cast<double>(W.Ns - T1));
  }
  close(PingPipe[1]);
  close(ReportPipe[0]);
  waitpid(Pid, nullptr, 0);
  if (!Measured.empty() && !Reference.empty()) Report(State, Measured, Reference, 1e-3);
}
BENCHMARK(BM_PublishToReaderWakeUp)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--reader") == 0) {
    try {
      return RunReader(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    } catch (const std::exception& E) {
      std::fprintf(stderr, "reader: %s\n", E.what());
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
