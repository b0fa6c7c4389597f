// Stop requests and the wall clock on Windows.
#include <windows.h>

#include <cstdio>

#include "mailboxcommands.h"

volatile std::sig_atomic_t GStop = 0;

namespace {
// Ctrl-C, Ctrl-Break and the console window closing all ask the command to end; it does
// so within one of its short waits.
BOOL WINAPI OnConsoleEvent(DWORD) {
  GStop = 1;
  return TRUE;
}
}  // namespace

void InstallStopHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

std::string WallClockNow() {
  SYSTEMTIME T{};
  GetLocalTime(&T);
  char Buf[48];
  std::snprintf(Buf, sizeof Buf, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", T.wYear, T.wMonth, T.wDay, T.wHour, T.wMinute,
                T.wSecond, T.wMilliseconds);
  return Buf;
}
