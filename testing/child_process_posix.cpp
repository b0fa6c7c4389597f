#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <sys/wait.h>
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

bool TChildProcess::ReadSome(int TimeoutMs) {
  pollfd Pfd{FOut, POLLIN, 0};
  if (::poll(&Pfd, 1, TimeoutMs) <= 0) return true;
  char Buf[256];
  const ssize_t N = ::read(FOut, Buf, sizeof Buf);
  if (N <= 0) return !(FClosed = true);
  FPending.append(Buf, static_cast<size_t>(N));
  return true;
}

int TChildProcess::WaitExit(int TimeoutMs) {
  int St = 0;
  if (FStatus < 0 && PollUntil([&] { return ::waitpid(FPid, &St, WNOHANG) == FPid; }, TimeoutMs, 2))
    FStatus = WIFEXITED(St) ? WEXITSTATUS(St) : 128 + WTERMSIG(St);
  return FStatus;
}

void TChildProcess::Kill(int Signal) { ::kill(FPid, Signal); }
