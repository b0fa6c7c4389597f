#pragma once
// Private directories that go away with the test, and helper processes.
#include <csignal>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Windows has no SIGKILL; TerminateProcess stands for it (child_process_win.cpp), leaving
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

// A child started with fork + exec (`Argv[0]` looked up in PATH when it has no slash), or
// CreateProcess on Windows (the program's own folder first); its stdout and stderr go to
// one pipe. Killed (SIGKILL) at destruction if still running.
class TChildProcess {
public:
  explicit TChildProcess(const std::vector<std::string>& Argv);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // One line of output without its newline; empty after TimeoutMs without a whole line.
  std::string ReadLine(int TimeoutMs);
  // Reads lines until one for which Wanted holds and returns it; empty after TimeoutMs.
  std::string ReadLineUntil(const std::function<bool(const std::string&)>& Wanted,
                            int TimeoutMs = 10000);
  // The same for the first line that contains Text.
  bool WaitForLine(const std::string& Text, int TimeoutMs = 10000) {
    return !ReadLineUntil([&](const std::string& L) { return L.find(Text) != std::string::npos; },
                          TimeoutMs)
                .empty();
  }
  // Exit status, or -1 while still running after TimeoutMs, or 128 + signal when killed.
  int WaitExit(int TimeoutMs);
  void Kill(int Signal);
  pid_t Pid() const { return FPid; }

private:
  // Appends to FPending what arrives within TimeoutMs; false once no more can come.
  bool ReadSome(int TimeoutMs);
  pid_t FPid = -1;
  int FOut = -1;
  std::string FPending;
  bool FClosed = false;  // the output reached its end
  int FStatus = -1;
};

// Asks Done every StepMs until it holds; false after TimeoutMs.
bool PollUntil(const std::function<bool()>& Done, int TimeoutMs, int StepMs = 20);
