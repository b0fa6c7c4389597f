#pragma once
// Private directories that go away with the test, and helper processes.
#include <string>
#include <sys/types.h>
#include <vector>

// A fresh directory under $KORVEL_TEST_ROOT (or /tmp), removed with its files at the end.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& Name) const { return FPath + "/" + Name; }

private:
  std::string FPath;
};

// A child started with fork + exec (`Argv[0]` looked up in PATH when it has no slash);
// its stdout and stderr go to one pipe. Killed (SIGKILL) at destruction if still running.
class TChildProcess {
public:
  explicit TChildProcess(const std::vector<std::string>& Argv);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // One line of output without its newline; empty after TimeoutMs without a whole line.
  std::string ReadLine(int TimeoutMs);
  // Exit status, or -1 while still running after TimeoutMs, or 128 + signal when killed.
  int WaitExit(int TimeoutMs);
  void Kill(int Signal);
  pid_t Pid() const { return FPid; }

private:
  pid_t FPid = -1;
  int FOut = -1;
  std::string FPending;
  int FStatus = -1;
};
