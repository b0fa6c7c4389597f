#pragma once
// A headless mpv for the bridges' tests, watched over its own IPC socket: every speed it
// takes is recorded (mpv reports an observed property each time its value changes), so a
// check does not depend on the bridge's own view.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "child_process.h"

inline const char* const kMpv = "/usr/bin/mpv";

inline int ConnectUnix(const std::string& Path) {
  const int Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un Addr{};
  Addr.sun_family = AF_UNIX;
  std::strncpy(Addr.sun_path, Path.c_str(), sizeof Addr.sun_path - 1);
  if (::connect(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) == 0) return Fd;
  ::close(Fd);
  return -1;
}

class TMpvPlayer {
public:
  // Extra: what follows the common options (a script, --pause, a file to play).
  TMpvPlayer(const std::string& Socket, std::vector<std::string> Extra)
      : FProcess([&] {
          Extra.insert(Extra.begin(), {kMpv, "--no-config", "--no-video", "--ao=null", "--no-terminal",
                                       "--input-ipc-server=" + Socket});
          return Extra;
        }()) {
    PollUntil([&] { return (FFd = ConnectUnix(Socket)) >= 0; }, 10000);
    Send(R"({"command":["observe_property",1,"speed"]})");
  }
  ~TMpvPlayer() {
    if (FFd >= 0) ::close(FFd);
    FProcess.Kill(SIGTERM);
    FProcess.WaitExit(5000);
  }

  pid_t Pid() const { return FProcess.Pid(); }
  void Send(const std::string& Json) { (void)!::send(FFd, (Json + "\n").data(), Json.size() + 1, MSG_NOSIGNAL); }
  void Pause(bool On) { Send(std::string(R"({"command":["set_property","pause",)") + (On ? "true" : "false") + "]}"); }

  // The speeds mpv has taken so far, first the one it started with.
  const std::vector<double>& History() {
    char Buf[4096];
    ssize_t N;
    while ((N = ::recv(FFd, Buf, sizeof Buf, MSG_DONTWAIT)) > 0) FIn.append(Buf, static_cast<size_t>(N));
    for (size_t Nl; (Nl = FIn.find('\n')) != std::string::npos; FIn.erase(0, Nl + 1)) {
      const std::string Line = FIn.substr(0, Nl);
      const auto Data = Line.find("\"data\":");
      if (Line.find("\"name\":\"speed\"") != std::string::npos && Data != std::string::npos)
        FHistory.push_back(std::strtod(Line.c_str() + Data + 7, nullptr));
    }
    return FHistory;
  }
  double Speed() { return History().empty() ? std::nan("") : History().back(); }
  // mpv prints the property with six decimals, so nearness is all that can be asked.
  bool Reaches(double Want) {
    return PollUntil([&] { return std::abs(Speed() - Want) <= 1e-6 * Want; }, 10000);
  }

private:
  TChildProcess FProcess;
  int FFd = -1;
  std::string FIn;
  std::vector<double> FHistory;
};
