#pragma once
// korvel-mailbox's commands of every platform (read, watch) and what the platform's own
// commands (the Linux bridges in main.cpp, mprisbridge.cpp) share with them. The stop
// request and the wall clock differ per platform: console_posix.cpp, console_win.cpp.
#include <chrono>
#include <csignal>
#include <functional>
#include <string>

#include "synchronize.h"  // kSharedDirectory

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

// The command line: [--dir DIR] COMMAND with --count N (a whole number) and --timeout S
// (finite seconds), both non-negative; with the bridges (Linux) also --socket PATH,
// --player NAME, --all and --verbose.
struct TMailboxLine {
  std::string Dir = kSharedDirectory;
  std::string Command, Socket, Player;
  long Count = 0;
  double Timeout = -1;
  bool All = false, Verbose = false;
};

// The program on every platform: reads the command line (Usage, which prints the
// platform's text and gives 2, for a wrong one; status 0 after it for --help), runs read
// and watch, and hands any other command to Other (Usage when there is none). An error a
// command raises is printed as "korvel-mailbox: <text>" and gives 2.
int MailboxMain(int argc, char** argv, bool Bridges, int (*Usage)(),
                const std::function<int(const TMailboxLine&)>& Other = {});
