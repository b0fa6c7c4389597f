#pragma once
// korvel-mailbox's commands of every platform (read, watch) and what the platform's own
// commands (the Linux bridges in main.cpp, mprisbridge.cpp) share with them. The stop
// request and the wall clock differ per platform: console_posix.cpp, console_win.cpp.
#include <chrono>
#include <csignal>
#include <string>

using TClock = std::chrono::steady_clock;

// Set when the user asks the tool to stop (Ctrl-C, SIGTERM; on Windows also the console
// closing), once InstallStopHandlers has run. Commands poll it between short waits.
extern volatile std::sig_atomic_t GStop;
void InstallStopHandlers();

// The local time as 2026-01-31T12:34:56.789.
std::string WallClockNow();

// Shortest text that reads back as the same double, always with a decimal point or an
// exponent so it is a JSON number that looks like one.
std::string FormatDouble(double V);

// The printed lines are the tool's result: a line that cannot be written (a full disk, a
// closed pipe) is an error, not a quiet success. False (and a message) then.
bool FlushOutput();

// read: prints the record once. watch: prints each publish until Count of them (0: no
// limit), TimeoutSeconds without one (negative: no limit) or a stop request. Dir holds the
// mailbox objects (a name prefix on Windows). Raise ESpeedLinkError for a mailbox that
// cannot be opened or is not ours.
int CmdRead(const std::string& Dir);
int CmdWatch(const std::string& Dir, long Count, double TimeoutSeconds);

// Option values: a non-negative whole number; a non-negative finite number of seconds.
bool ParseLong(const char* S, long& Out);
bool ParseSeconds(const char* S, double& Out);
