#pragma once
// Shared by the speed-link tests: private directories and helper processes.
#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

// Windows has no SIGKILL; TerminateProcess stands for it (testsupport_win.cpp), leaving
// the exit code a killed process has here.
#ifndef SIGKILL
#define SIGKILL 9
#endif

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

// A child started with fork + exec (CreateProcess on Windows); its stdout and stderr go to one pipe. Killed (SIGKILL) at destruction
// if still running.
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
