#include "mailboxcommands.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "mailboxreader.h"

std::string FormatDouble(double V) {
  char Buf[64];
  auto [End, Ec] = std::to_chars(Buf, Buf + sizeof Buf, V);
  std::string S(Buf, End);
  if (std::isfinite(V) && S.find_first_of(".e") == std::string::npos) S += ".0";
  return S;
}

bool FlushOutput() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  std::fprintf(stderr, "korvel-mailbox: cannot write the output: %s\n", std::strerror(errno));
  return false;
}

int CmdRead(const std::string& Dir) {
  TMailboxRecordReader Reader(Dir, false);
  const TMailboxRecord R = Reader.Read();
  std::printf("flag=%u speed=%s\n", unsigned{R.Flag}, FormatDouble(R.Speed).c_str());
  return FlushOutput() ? 0 : 2;
}

// Waits in short slices so Ctrl-C and the time-out are noticed; a publish wakes the wait
// at once whatever the slice.
constexpr uint32_t kSliceMs = 100;

int CmdWatch(const std::string& Dir, long Count, double TimeoutSeconds) {
  TMailboxRecordReader Reader(Dir, true);
  InstallStopHandlers();
  std::fprintf(stderr, "korvel-mailbox: watching the mailbox in %s\n", Dir.empty() ? "the session" : Dir.c_str());
  long Seen = 0;
  auto LastPublish = TClock::now();
  while (!GStop) {
    if (Count > 0 && Seen >= Count) return 0;
    if (TimeoutSeconds >= 0 &&
        std::chrono::duration<double>(TClock::now() - LastPublish).count() >= TimeoutSeconds) {
      std::fprintf(stderr, "korvel-mailbox: no publish for %g s\n", TimeoutSeconds);
      return 1;
    }
    if (!Reader.Event().WaitFor(kSliceMs)) continue;
    const TMailboxRecord R = Reader.Read();
    LastPublish = TClock::now();
    ++Seen;
    std::printf("%s speed=%s\n", WallClockNow().c_str(), FormatDouble(R.Speed).c_str());
    if (!FlushOutput()) return 2;
  }
  return 0;
}

namespace {

bool ParseLong(const char* S, long& Out) {
  char* End = nullptr;
  errno = 0;
  Out = std::strtol(S, &End, 10);
  return errno == 0 && End != S && *End == '\0' && Out >= 0;
}

bool ParseSeconds(const char* S, double& Out) {
  char* End = nullptr;
  Out = std::strtod(S, &End);
  return End != S && *End == '\0' && std::isfinite(Out) && Out >= 0;
}

enum class TLineRead { Run, Help, Wrong };

TLineRead ReadMailboxLine(int argc, char** argv, bool Bridges, TMailboxLine& Line) {
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    const bool HasValue = I + 1 < argc;
    if (A == "--dir" && HasValue) {
      Line.Dir = argv[++I];
    } else if (A == "--count" && HasValue) {
      if (!ParseLong(argv[++I], Line.Count)) return TLineRead::Wrong;
    } else if (A == "--timeout" && HasValue) {
      if (!ParseSeconds(argv[++I], Line.Timeout)) return TLineRead::Wrong;
    } else if (Bridges && A == "--socket" && HasValue) {
      Line.Socket = argv[++I];
    } else if (Bridges && A == "--player" && HasValue) {
      Line.Player = argv[++I];
    } else if (Bridges && A == "--all") {
      Line.All = true;
    } else if (Bridges && A == "--verbose") {
      Line.Verbose = true;
    } else if (A == "-h" || A == "--help") {
      return TLineRead::Help;
    } else if (Line.Command.empty() && !A.empty() && A[0] != '-') {
      Line.Command = A;
    } else {
      return TLineRead::Wrong;
    }
  }
  return TLineRead::Run;
}

}  // namespace

int MailboxMain(int argc, char** argv, bool Bridges, int (*Usage)(),
                const std::function<int(const TMailboxLine&)>& Other) {
  TMailboxLine Line;
  switch (ReadMailboxLine(argc, argv, Bridges, Line)) {
    case TLineRead::Help: Usage(); return 0;
    case TLineRead::Wrong: return Usage();
    case TLineRead::Run: break;
  }
  try {
    if (Line.Command == "read") return CmdRead(Line.Dir);
    if (Line.Command == "watch") return CmdWatch(Line.Dir, Line.Count, Line.Timeout);
    return Other ? Other(Line) : Usage();
  } catch (const ESpeedLinkError& E) {
    std::fprintf(stderr, "korvel-mailbox: %s\n", E.FullText().c_str());
  } catch (const std::exception& E) {
    std::fprintf(stderr, "korvel-mailbox: %s\n", E.what());
  }
  return 2;
}
