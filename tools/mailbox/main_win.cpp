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

int main(int argc, char** argv) { return MailboxMain(argc, argv, false, Usage); }
