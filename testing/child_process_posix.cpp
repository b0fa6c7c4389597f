#include "child_process.h"
#include "test_folder.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

TChildProcess::TChildProcess(const std::vector<std::string>& Argv) {
  int P[2];
  if (::pipe2(P, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<char*> Args;
  for (const auto& A : Argv) Args.push_back(const_cast<char*>(A.c_str()));
  Args.push_back(nullptr);
  FPid = ::fork();
  if (FPid < 0) throw std::runtime_error("fork failed");
  if (FPid == 0) {
    ::dup2(P[1], STDOUT_FILENO);
    ::dup2(P[1], STDERR_FILENO);
    ::execvp(Args[0], Args.data());
    ::_exit(127);
  }
  ::close(P[1]);
  FOut = P[0];
}

TChildProcess::~TChildProcess() {
  if (FStatus < 0) {
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
  }
  ::close(FOut);
}

std::string TChildProcess::ReadLine(int TimeoutMs) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    const auto Nl = FPending.find('\n');
    if (Nl != std::string::npos) {
      std::string Line = FPending.substr(0, Nl);
      FPending.erase(0, Nl + 1);
      return Line;
    }
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now()).count();
    if (Left <= 0) return {};
    pollfd Pfd{FOut, POLLIN, 0};
    if (::poll(&Pfd, 1, static_cast<int>(Left)) <= 0) continue;
    char Buf[256];
    const ssize_t N = ::read(FOut, Buf, sizeof Buf);
    if (N <= 0) {
      FClosed = true;
      return {};
    }
    FPending.append(Buf, static_cast<size_t>(N));
  }
}

int TChildProcess::WaitExit(int TimeoutMs) {
  if (FStatus >= 0) return FStatus;
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    int St = 0;
    const pid_t R = ::waitpid(FPid, &St, WNOHANG);
    if (R == FPid) {
      FStatus = WIFEXITED(St) ? WEXITSTATUS(St) : 128 + WTERMSIG(St);
      return FStatus;
    }
    if (std::chrono::steady_clock::now() >= Deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void TChildProcess::Kill(int Signal) { ::kill(FPid, Signal); }
