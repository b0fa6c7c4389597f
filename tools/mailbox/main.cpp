// korvel-mailbox: the player's side of the speed mailbox, for trying korvel without a
// dedicated player and as a bridge to mpv.
//
//   korvel-mailbox [--dir DIR] read
//   korvel-mailbox [--dir DIR] watch [--count N] [--timeout S]
//   korvel-mailbox [--dir DIR] mpv --socket PATH
//   korvel-mailbox [--dir DIR] mpris [--player NAME] [--all] [--verbose]
//
// It opens the same three objects as korvel (DIR defaults to /dev/shm) with the same
// checks, and holds the lock only for the copy of the 9 bytes, so it never holds up the
// writer. It never writes the record.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <poll.h>
#include <string>
#include <utility>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "mailboxcommands.h"
#include "mailboxreader.h"
#include "mprisbridge.h"
#include "uSharedMemory.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: korvel-mailbox [--dir DIR] read\n"
               "       korvel-mailbox [--dir DIR] watch [--count N] [--timeout SECONDS]\n"
               "       korvel-mailbox [--dir DIR] mpv --socket PATH\n"
               "       korvel-mailbox [--dir DIR] mpris [--player NAME] [--all] [--verbose]\n"
               "DIR holds the mailbox objects (default /dev/shm).\n");
  return 2;
}

// ----------------------------------------------------------------------------- mpv bridge

// mpv refuses speeds outside this range.
constexpr double kMpvMinSpeed = 0.01;
constexpr double kMpvMaxSpeed = 100.0;
// Reconnection waits this long after the first failure, doubling up to kRetryMax; a
// connection that stays up for kStableAfter counts as a success and starts again from the
// shortest wait.
constexpr auto kRetryMin = std::chrono::milliseconds(200);
constexpr auto kRetryMax = std::chrono::milliseconds(5000);
constexpr auto kStableAfter = std::chrono::milliseconds(2000);
// An mpv that takes no byte for this long (suspended, hung) is given up and reconnected.
constexpr auto kStalledAfter = std::chrono::milliseconds(5000);

// A non-blocking connection holding at most one line in flight and the newest value behind
// it: a player that stops reading makes the bridge wait, never block or queue without end,
// and the value it finally gets is the newest.
class TMpvConnection {
public:
  explicit TMpvConnection(std::string Path) : FPath(std::move(Path)) {}
  ~TMpvConnection() { Close(); }

  bool Connected() const { return FFd >= 0; }
  int Fd() const { return FFd; }
  bool Pending() const { return !FInFlight.empty() || !FNext.empty(); }

  bool Connect() {
    sockaddr_un Addr{};
    Addr.sun_family = AF_UNIX;
    if (FPath.size() >= sizeof Addr.sun_path) return false;
    std::memcpy(Addr.sun_path, FPath.c_str(), FPath.size() + 1);
    // Non-blocking from the start: a listener whose backlog is full fails at once
    // (EAGAIN) instead of holding the bridge in connect.
    FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (FFd < 0) return false;
    if (::connect(FFd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) != 0) {
      Close();
      return false;
    }
    FLastProgress = TClock::now();
    return true;
  }

  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    FInFlight.clear();
    FNext.clear();
  }

  // Queues the speed behind the line in flight, replacing a value not yet begun.
  void SetSpeed(double Speed) {
    FNext = "{\"command\":[\"set_property\",\"speed\"," + FormatDouble(Speed) + "]}\n";
    if (FInFlight.empty()) FLastProgress = TClock::now();
  }

  // Writes what the socket takes now. False when mpv has gone or has taken nothing for
  // kStalledAfter (the connection is then closed).
  bool Flush() {
    for (;;) {
      if (FInFlight.empty()) FInFlight.swap(FNext);
      if (FInFlight.empty()) return true;
      const ssize_t N = ::send(FFd, FInFlight.data(), FInFlight.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (N > 0) {
        FInFlight.erase(0, static_cast<size_t>(N));
        FLastProgress = TClock::now();
        continue;
      }
      if (N < 0 && errno == EINTR) continue;
      if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (TClock::now() - FLastProgress < kStalledAfter) return true;
        FStalled = true;
      }
      Close();
      return false;
    }
  }

  // True once after Flush gave up on an mpv that stopped reading.
  bool TakeStalled() { return std::exchange(FStalled, false); }

  // mpv's replies and events are not needed, but must be read so its side never fills.
  // False when mpv has gone.
  bool Drain() {
    char Buf[4096];
    for (;;) {
      const ssize_t N = ::recv(FFd, Buf, sizeof Buf, MSG_DONTWAIT);
      if (N > 0) continue;
      if (N < 0 && errno == EINTR) continue;
      if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      Close();
      return false;
    }
  }

private:
  std::string FPath;
  int FFd = -1;
  std::string FInFlight, FNext;
  TClock::time_point FLastProgress;
  bool FStalled = false;
};

int CmdMpv(const std::string& Dir, const std::string& Socket) {
  TMailboxRecordReader Reader(Dir, true);
  InstallStopHandlers();
  TMpvConnection Mpv(Socket);

  // The value mpv should have: the last published one (none while korvel has not published
  // since it started). It is sent again after every reconnection.
  std::optional<double> Wanted;
  auto Take = [&](const TMailboxRecord& R) {
    if (R.Flag == 0) return;
    if (std::isnan(R.Speed)) {
      std::fprintf(stderr, "korvel-mailbox: ignoring a published speed that is not a number\n");
      return;
    }
    Wanted = std::clamp(R.Speed, kMpvMinSpeed, kMpvMaxSpeed);
    if (Mpv.Connected()) Mpv.SetSpeed(*Wanted);
  };
  Take(Reader.Read());

  // Failures in a row (refused connections, or connections lost before kStableAfter) make
  // the pause before the next attempt grow. A failure is reported when it begins, not at
  // each attempt, so a player that keeps closing at once costs neither a core nor the
  // journal.
  int Failures = 0, Refused = 0, Flapping = 0;
  auto Pause = [&] {
    auto P = kRetryMin;
    for (int I = 1; I < Failures && P < kRetryMax; ++I) P *= 2;
    return std::min(P, kRetryMax);
  };
  auto Say = [](const std::string& Text) { std::fprintf(stderr, "korvel-mailbox: %s\n", Text.c_str()); };
  auto ConnectedAt = TClock::now();
  auto NextAttempt = TClock::now();
  auto Lost = [&](const std::string& Why) {
    if (TClock::now() - ConnectedAt >= kStableAfter) {
      Failures = Flapping = 0;
    } else {
      ++Failures;
      ++Flapping;
    }
    if (Flapping < 2) Say(Why);
    if (Flapping == 2)
      Say("mpv at " + Socket + " keeps closing the connection; retrying with pauses of up to " +
          std::to_string(kRetryMax.count() / 1000) + " s, quietly until it stays");
    NextAttempt = TClock::now() + Pause();
  };
  while (!GStop) {
    if (!Mpv.Connected() && TClock::now() >= NextAttempt) {
      if (Mpv.Connect()) {
        ConnectedAt = TClock::now();
        Refused = 0;
        if (Flapping < 2) Say("connected to mpv at " + Socket);
        if (Wanted) Mpv.SetSpeed(*Wanted);
      } else {
        ++Failures;
        if (++Refused == 1 && Flapping < 2) Say("waiting for mpv at " + Socket);
        NextAttempt = TClock::now() + Pause();
      }
    }
    if (Mpv.Connected() && Mpv.Pending()) {
      const bool WasPending = Mpv.Pending();
      if (!Mpv.Flush()) {
        Lost(Mpv.TakeStalled() ? "mpv at " + Socket + " stopped reading its socket; reconnecting"
                               : "lost mpv at " + Socket);
      } else if (WasPending && !Mpv.Pending() && Wanted) {
        std::printf("forwarded speed=%s\n", FormatDouble(*Wanted).c_str());
        std::fflush(stdout);
      }
    }
    // Short slices, so SIGTERM (which may land between the check and the poll) ends the
    // bridge within one of them in every state.
    const auto Wait = Mpv.Connected() ? kRetryMin
                                      : std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                       NextAttempt - TClock::now()),
                                                   std::chrono::milliseconds(0), kRetryMin);
    const short MpvEvents = static_cast<short>(POLLIN | (Mpv.Pending() ? POLLOUT : 0));
    pollfd Fds[2] = {{Reader.Event().Handle(), POLLIN, 0}, {Mpv.Fd(), MpvEvents, 0}};
    const int R = ::poll(Fds, Mpv.Connected() ? 2 : 1, static_cast<int>(Wait.count()));
    if (R < 0 && errno != EINTR) {
      std::fprintf(stderr, "korvel-mailbox: poll: %s\n", std::strerror(errno));
      return 2;
    }
    if (R <= 0) continue;
    if (Mpv.Connected() && (Fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      if (!Mpv.Drain()) Lost("mpv at " + Socket + " went away");
    }
    if ((Fds[0].revents & POLLIN) && Reader.Event().WaitFor(0)) Take(Reader.Read());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return MailboxMain(argc, argv, true, Usage, [](const TMailboxLine& Line) {
    // A socket path the address cannot hold would never connect; say so instead of waiting.
    if (Line.Command == "mpv" && Line.Socket.size() >= sizeof(sockaddr_un::sun_path)) {
      std::fprintf(stderr, "korvel-mailbox: %s: socket path too long (%zu bytes, at most %zu)\n",
                   Line.Socket.c_str(), Line.Socket.size(), sizeof(sockaddr_un::sun_path) - 1);
      return 2;
    }
    if (Line.Command == "mpv" && !Line.Socket.empty()) return CmdMpv(Line.Dir, Line.Socket);
    if (Line.Command == "mpris") return CmdMpris(Line.Dir, {Line.Player, Line.All, Line.Verbose});
    return Usage();
  });
}
