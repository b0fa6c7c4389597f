// The test support on Windows: a child is a process made with CreateProcessW whose output
// comes through one pipe; Kill is TerminateProcess, which leaves a held mutex abandoned as
// a killed process does, with the exit code a signal would give.
#include "child_process.h"

#include <windows.h>

#include <stdexcept>

namespace {
std::wstring Quoted(const std::string& Arg) {
  std::wstring W(Arg.begin(), Arg.end());  // test arguments are ASCII
  return L"\"" + W + L"\"";
}
HANDLE AsHandle(pid_t P) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(P)); }
}  // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& Argv) {
  SECURITY_ATTRIBUTES Sa{sizeof Sa, nullptr, TRUE};
  HANDLE Read = nullptr, Write = nullptr;
  if (!CreatePipe(&Read, &Write, &Sa, 0)) throw std::runtime_error("pipe failed");
  SetHandleInformation(Read, HANDLE_FLAG_INHERIT, 0);
  std::wstring Line;
  for (const auto& A : Argv) Line += (Line.empty() ? L"" : L" ") + Quoted(A);
  STARTUPINFOW Si{};
  Si.cb = sizeof Si;
  Si.dwFlags = STARTF_USESTDHANDLES;
  Si.hStdOutput = Si.hStdError = Write;
  Si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION Pi{};
  if (!CreateProcessW(nullptr, Line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &Si, &Pi))
    throw std::runtime_error("CreateProcess failed");
  CloseHandle(Write);
  CloseHandle(Pi.hThread);
  // The process handle and the pipe's read end travel in the POSIX-shaped fields.
  FPid = static_cast<pid_t>(reinterpret_cast<intptr_t>(Pi.hProcess));
  FOut = static_cast<int>(reinterpret_cast<intptr_t>(Read));
}

TChildProcess::~TChildProcess() {
  if (FStatus < 0) {
    TerminateProcess(AsHandle(FPid), 128 + 9);
    WaitForSingleObject(AsHandle(FPid), 5000);
  }
  CloseHandle(AsHandle(FPid));
  CloseHandle(AsHandle(FOut));
}

bool TChildProcess::ReadSome(int) {
  DWORD Avail = 0;
  if (!PeekNamedPipe(AsHandle(FOut), nullptr, 0, nullptr, &Avail, nullptr)) return false;
  if (Avail == 0) {
    Sleep(2);
    return true;
  }
  char Buf[256];
  DWORD N = 0;
  if (!ReadFile(AsHandle(FOut), Buf, Avail < sizeof Buf ? Avail : sizeof Buf, &N, nullptr) ||
      N == 0)
    return false;
  FPending.append(Buf, N);
  return true;
}

int TChildProcess::WaitExit(int TimeoutMs) {
  if (FStatus >= 0) return FStatus;
  if (WaitForSingleObject(AsHandle(FPid), DWORD(TimeoutMs)) != WAIT_OBJECT_0) return -1;
  DWORD Code = 0;
  GetExitCodeProcess(AsHandle(FPid), &Code);
  FStatus = int(Code);
  return FStatus;
}

void TChildProcess::Kill(int Signal) { TerminateProcess(AsHandle(FPid), UINT(128 + Signal)); }
