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
constexpr auto kReconnectEvery = std::chrono::milliseconds(200);

class TMpvConnection {
public:
  explicit TMpvConnection(std::string Path) : FPath(std::move(Path)) {}
  ~TMpvConnection() { Close(); }

  bool Connected() const { return FFd >= 0; }
  int Fd() const { return FFd; }

  bool Connect() {
    sockaddr_un Addr{};
    Addr.sun_family = AF_UNIX;
    if (FPath.size() >= sizeof Addr.sun_path) return false;
    std::memcpy(Addr.sun_path, FPath.c_str(), FPath.size() + 1);
    FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FFd < 0) return false;
    if (::connect(FFd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) != 0) {
      Close();
      return false;
    }
    return true;
  }

  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }

  bool SetSpeed(double Speed) {
    const std::string Line = "{\"command\":[\"set_property\",\"speed\"," + FormatDouble(Speed) + "]}\n";
    size_t Done = 0;
    while (Done < Line.size()) {
      const ssize_t N = ::send(FFd, Line.data() + Done, Line.size() - Done, MSG_NOSIGNAL);
      if (N < 0 && errno == EINTR) continue;
      if (N <= 0) {
        Close();
        return false;
      }
      Done += static_cast<size_t>(N);
    }
    return true;
  }

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

  const std::string& Path() const { return FPath; }

private:
  std::string FPath;
  int FFd = -1;
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
  };
  auto Forward = [&] {
    if (!Wanted || !Mpv.Connected()) return;
    if (Mpv.SetSpeed(*Wanted)) {
      std::printf("forwarded speed=%s\n", FormatDouble(*Wanted).c_str());
      std::fflush(stdout);
    } else {
      std::fprintf(stderr, "korvel-mailbox: lost mpv at %s\n", Socket.c_str());
    }
  };
  Take(Reader.Read());

  bool SaidWaiting = false;
  auto NextAttempt = TClock::now();
  while (!GStop) {
    if (!Mpv.Connected() && TClock::now() >= NextAttempt) {
      if (Mpv.Connect()) {
        std::fprintf(stderr, "korvel-mailbox: connected to mpv at %s\n", Socket.c_str());
        SaidWaiting = false;
        Forward();
      } else {
        if (!SaidWaiting) std::fprintf(stderr, "korvel-mailbox: waiting for mpv at %s\n", Socket.c_str());
        SaidWaiting = true;
        NextAttempt = TClock::now() + kReconnectEvery;
      }
    }
    pollfd Fds[2] = {{Reader.Event().Handle(), POLLIN, 0}, {Mpv.Fd(), POLLIN, 0}};
    const int R = ::poll(Fds, Mpv.Connected() ? 2 : 1, static_cast<int>(kReconnectEvery.count()));
    if (R < 0 && errno != EINTR) {
      std::fprintf(stderr, "korvel-mailbox: poll: %s\n", std::strerror(errno));
      return 2;
    }
    if (R <= 0) continue;
    if (Mpv.Connected() && (Fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      if (!Mpv.Drain()) {
        std::fprintf(stderr, "korvel-mailbox: mpv at %s went away\n", Socket.c_str());
        NextAttempt = TClock::now();
      }
    }
    if ((Fds[0].revents & POLLIN) && Reader.Event().WaitFor(0)) {
      Take(Reader.Read());
      Forward();
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string Dir = kSharedDirectory;
  std::string Command, Socket;
  long Count = 0;
  double Timeout = -1;
  TMprisOptions Mpris;
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    const bool HasValue = I + 1 < argc;
    if (A == "--dir" && HasValue) {
      Dir = argv[++I];
    } else if (A == "--socket" && HasValue) {
      Socket = argv[++I];
    } else if (A == "--count" && HasValue) {
      if (!ParseLong(argv[++I], Count)) return Usage();
    } else if (A == "--timeout" && HasValue) {
      if (!ParseSeconds(argv[++I], Timeout)) return Usage();
    } else if (A == "--player" && HasValue) {
      Mpris.Player = argv[++I];
    } else if (A == "--all") {
      Mpris.All = true;
    } else if (A == "--verbose") {
      Mpris.Verbose = true;
    } else if (A == "-h" || A == "--help") {
      Usage();
      return 0;
    } else if (Command.empty() && !A.empty() && A[0] != '-') {
      Command = A;
    } else {
      return Usage();
    }
  }
  // A socket path the address cannot hold would never connect; say so instead of waiting.
  if (Command == "mpv" && Socket.size() >= sizeof(sockaddr_un::sun_path)) {
    std::fprintf(stderr, "korvel-mailbox: %s: socket path too long (%zu bytes, at most %zu)\n", Socket.c_str(),
                 Socket.size(), sizeof(sockaddr_un::sun_path) - 1);
    return 2;
  }
  try {
    if (Command == "read") return CmdRead(Dir);
    if (Command == "watch") return CmdWatch(Dir, Count, Timeout);
    if (Command == "mpv" && !Socket.empty()) return CmdMpv(Dir, Socket);
    if (Command == "mpris") return CmdMpris(Dir, Mpris);
  } catch (const ESpeedLinkError& E) {
    std::fprintf(stderr, "korvel-mailbox: %s\n", E.FullText().c_str());
    return 2;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "korvel-mailbox: %s\n", E.what());
    return 2;
  }
  return Usage();
}
