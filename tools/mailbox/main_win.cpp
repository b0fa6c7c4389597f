// korvel-mailbox for Windows: the player's side of the speed mailbox, for checking the
// link without a player. The mpv and MPRIS bridges are Linux-only.
//
//   korvel-mailbox [--dir PREFIX] read
//   korvel-mailbox [--dir PREFIX] watch [--count N] [--timeout S]
//
// It opens the session's section, mutex and event by their names as a player does (a
// PREFIX, for tests, keeps to objects of its own), holds the mutex only for the copy of the
// 9 bytes and never writes the record.
#include <cstdio>
#include <exception>
#include <string>

#include "mailboxcommands.h"
#include "uSharedMemory.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: korvel-mailbox [--dir PREFIX] read\n"
               "       korvel-mailbox [--dir PREFIX] watch [--count N] [--timeout SECONDS]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string Dir = kSharedDirectory;
  std::string Command;
  long Count = 0;
  double Timeout = -1;
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    const bool HasValue = I + 1 < argc;
    if (A == "--dir" && HasValue) {
      Dir = argv[++I];
    } else if (A == "--count" && HasValue) {
      if (!ParseLong(argv[++I], Count)) return Usage();
    } else if (A == "--timeout" && HasValue) {
      if (!ParseSeconds(argv[++I], Timeout)) return Usage();
    } else if (A == "-h" || A == "--help") {
      Usage();
      return 0;
    } else if (Command.empty() && !A.empty() && A[0] != '-') {
      Command = A;
    } else {
      return Usage();
    }
  }
  try {
    if (Command == "read") return CmdRead(Dir);
    if (Command == "watch") return CmdWatch(Dir, Count, Timeout);
  } catch (const ESpeedLinkError& E) {
    std::fprintf(stderr, "korvel-mailbox: %s\n", E.FullText().c_str());
    return 2;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "korvel-mailbox: %s\n", E.what());
    return 2;
  }
  return Usage();
}
