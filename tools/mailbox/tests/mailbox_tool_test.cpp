// korvel-mailbox as a user runs it, against a private mailbox directory, and its mpv
// bridge against a real headless mpv.
#include "uSharedMemory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <atomic>
#include <thread>
#include <unistd.h>

#include "mailboxreader.h"
#include "child_process.h"
#include "mpv_player.h"

namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Pair;
using ::testing::StartsWith;

std::vector<std::string> Tool(const TTempDir& Dir, std::vector<std::string> Args) {
  Args.insert(Args.begin(), {KORVEL_MAILBOX, "--dir", Dir.Path()});
  return Args;
}

// Runs a command to its end: its first line of output and its exit status.
std::pair<std::string, int> RunToEnd(const std::vector<std::string>& Argv) {
  TChildProcess P(Argv);
  std::string Line = P.ReadLine(5000);
  return {Line, P.WaitExit(5000)};
}

// The tool on a mailbox of the test's own, in a private folder.
class ToolOnMailboxTest : public ::testing::Test {
protected:
  TTempDir Dir;
  TSpeedSharedMemory Mailbox{Dir.Path()};
};

// A NaN left in the record is one record, not a change at every look (NaN != NaN).
TEST(MailboxRecordTest, TheSameBytesAreTheSameRecord) {
  EXPECT_EQ((TMailboxRecord{1, std::nan("")}), (TMailboxRecord{1, std::nan("")}));
  EXPECT_FALSE((TMailboxRecord{1, 0.0}) == (TMailboxRecord{0, 0.0}));
}

TEST_F(ToolOnMailboxTest, ReadPrintsTheRecordAsPublished) {
  EXPECT_THAT(RunToEnd(Tool(Dir, {"read"})), Pair("flag=0 speed=0.0", 0));
  Mailbox.SetSpeed(1.1f);
  EXPECT_THAT(RunToEnd(Tool(Dir, {"read"})), Pair("flag=1 speed=1.100000023841858", 0));
}

TEST_F(ToolOnMailboxTest, WatchPrintsEachPublishAndStopsAfterCountOrSilence) {
  TChildProcess Watch(Tool(Dir, {"watch", "--count", "2", "--timeout", "20"}));
  ASSERT_TRUE(Watch.WaitForLine("watching"));  // it has opened (and reset) the event
  for (const auto& [Speed, Printed] : {std::pair{1.5, " speed=1.5"}, {2.0, " speed=2.0"}}) {
    Mailbox.SetSpeed(Speed);
    EXPECT_THAT(Watch.ReadLine(5000), HasSubstr(Printed));
  }
  EXPECT_EQ(Watch.WaitExit(5000), 0);

  TChildProcess Quiet(Tool(Dir, {"watch", "--timeout", "0.2"}));
  EXPECT_EQ(Quiet.WaitExit(5000), 1);

  TChildProcess Stopped(Tool(Dir, {"watch"}));
  ASSERT_TRUE(Stopped.WaitForLine("watching"));
  Stopped.Kill(SIGINT);
  EXPECT_EQ(Stopped.WaitExit(5000), 0);
}

TEST_F(ToolOnMailboxTest, OutputThatCannotBeWrittenIsAnError) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  auto Shell = [&](const std::string& Args) {
    return std::vector<std::string>{"/bin/sh", "-c",
                                    std::string("exec '") + KORVEL_MAILBOX + "' --dir '" + Dir.Path() + "' " + Args +
                                        " >/dev/full"};
  };
  EXPECT_THAT(RunToEnd(Shell("read")), Pair(HasSubstr("cannot write the output"), 2));

  // A watcher whose output has gone stops at the first line instead of running on unseen.
  TChildProcess Watch(Shell("watch --timeout 20"));
  ASSERT_TRUE(Watch.WaitForLine("watching"));
  Mailbox.SetSpeed(1.5);
  EXPECT_THAT(Watch.ReadLine(5000), HasSubstr("cannot write the output"));
  EXPECT_EQ(Watch.WaitExit(5000), 2);
}

TEST(MailboxToolTest, MpvSocketPathTooLongForAnAddressIsRefused) {
  TTempDir Dir;
  const std::string Long = Dir.File(std::string(sizeof(sockaddr_un::sun_path), 's'));
  EXPECT_THAT(RunToEnd(Tool(Dir, {"mpv", "--socket", Long})),
              Pair(HasSubstr("socket path too long"), 2));
}

TEST_F(ToolOnMailboxTest, ASectionShortenedByAnotherReaderEndsNeitherReadNorWatch) {
  Mailbox.SetSpeed(1.5);
  TChildProcess Watch(Tool(Dir, {"watch", "--count", "1", "--timeout", "20"}));
  ASSERT_TRUE(Watch.WaitForLine("watching"));
  ASSERT_EQ(::truncate(Dir.File(kSpeedSectionName).c_str(), 0), 0);
  EXPECT_THAT(RunToEnd(Tool(Dir, {"read"})), Pair("flag=0 speed=0.0", 0));
  ASSERT_EQ(::truncate(Dir.File(kSpeedSectionName).c_str(), 0), 0);  // the read grew it back
  TAutomaticEvent(kSpeedEventName, true, Dir.Path()).Signal();  // wakes the watch, record untouched
  EXPECT_THAT(Watch.ReadLine(5000), HasSubstr(" speed=0.0"));
  EXPECT_EQ(Watch.WaitExit(5000), 0);
}

TEST(MailboxToolTest, RefusesObjectsThatAreNotOurs) {
  TTempDir Dir;
  const std::string Section = Dir.File(kSpeedSectionName);
  const int Fd = ::open(Section.c_str(), O_CREAT | O_WRONLY, 0600);
  ::fchmod(Fd, 0644);
  ::close(Fd);
  TChildProcess Read(Tool(Dir, {"read"}));
  EXPECT_EQ(Read.ReadLine(5000),
            std::string("korvel-mailbox: 共有メモリ[") + kSpeedSectionName + "]を開けません");
  // The reason on a line of its own.
  EXPECT_THAT(Read.ReadLine(5000), AllOf(StartsWith(Section + ": "), HasSubstr("0644")));
  EXPECT_EQ(Read.WaitExit(5000), 2);

  ::unlink(Section.c_str());
  ::mkdir(Dir.File(kSpeedEventName).c_str(), 0700);
  EXPECT_THAT(RunToEnd(Tool(Dir, {"watch", "--timeout", "1"})),
              Pair(HasSubstr("作成に失敗しました。"), 2));
}

// ------------------------------------------------------------------------------ mpv bridge

TEST_F(ToolOnMailboxTest, MpvBridgeForwardsClampsAndSurvivesRestarts) {
  if (::access(kMpv, X_OK) != 0) GTEST_SKIP() << "mpv is not installed (scripts/setup installs it)";
  const std::string Socket = Dir.File("mpv.sock");

  // The bridge starts first and waits for mpv.
  TChildProcess Bridge(Tool(Dir, {"mpv", "--socket", Socket}));
  auto First = std::make_unique<TMpvPlayer>(Socket, std::vector<std::string>{"--idle=yes"});
  ASSERT_TRUE(Bridge.WaitForLine("connected to mpv")) << "mpv did not come up";

  // Forwarded; clamped to what mpv takes.
  for (auto [Published, Taken] : {std::pair{1.5, 1.5}, {double(1.1f), 1.100000023841858}, {500.0, 100.0}, {0.0, 0.01}}) {
    Mailbox.SetSpeed(Published);
    EXPECT_TRUE(First->Reaches(Taken)) << Published;
  }

  // mpv restarts: the bridge reconnects and brings the new one up to date.
  Mailbox.SetSpeed(2.0);
  EXPECT_TRUE(First->Reaches(2.0));
  First.reset();
  ::unlink(Socket.c_str());
  TMpvPlayer Second(Socket, {"--idle=yes"});
  EXPECT_TRUE(Bridge.WaitForLine("connected to mpv"));
  EXPECT_TRUE(Second.Reaches(2.0)) << "the last value was not sent after reconnecting";
  Mailbox.SetSpeed(3.0);
  EXPECT_TRUE(Second.Reaches(3.0));

  EXPECT_EQ(Bridge.WaitExit(0), -1) << "the bridge ended";
  Bridge.Kill(SIGTERM);
  EXPECT_EQ(Bridge.WaitExit(5000), 0);
}

// A broken player: it accepts and never reads (suspended), or closes at once.
struct TBadPlayer {
  TBadPlayer(const std::string& Path, bool CloseAtOnce) {
    sockaddr_un Addr{AF_UNIX, {}};
    std::strncpy(Addr.sun_path, Path.c_str(), sizeof Addr.sun_path - 1);
    ::bind(Listen, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr);
    ::listen(Listen, 4);
    Thread = std::thread([this, CloseAtOnce] {
      for (int Fd; (Fd = ::accept(Listen, nullptr, nullptr)) >= 0; ++Accepted)
        if (CloseAtOnce) ::close(Fd);  // else left open, unread, until the test ends
    });
  }
  ~TBadPlayer() {
    ::shutdown(Listen, SHUT_RDWR);
    Thread.join();
    ::close(Listen);
  }
  int Listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::atomic<int> Accepted{0};
  std::thread Thread;
};

TEST(MailboxToolTest, MpvBridgeNeitherHangsNorSpinsOnABrokenPlayer) {
  for (const bool CloseAtOnce : {false, true}) {
    SCOPED_TRACE(CloseAtOnce ? "player closes at once" : "player stops reading");
    TTempDir Dir;
    TSpeedSharedMemory Mailbox(Dir.Path());
    TBadPlayer Player(Dir.File("mpv.sock"), CloseAtOnce);
    TChildProcess Bridge(Tool(Dir, {"mpv", "--socket", Dir.File("mpv.sock")}));
    ASSERT_TRUE(Bridge.WaitForLine("connected to mpv"));
    // Far more than a socket buffer holds, then time for the reconnections to pile up.
    for (int I = 0; I < 3000; ++I) Mailbox.SetSpeed(1.0 + (I % 20) / 10.0);
    std::this_thread::sleep_for(3s);
    int Lines = 0;
    for (std::string L; !(L = Bridge.ReadLine(50)).empty();) Lines += L.rfind("forwarded", 0) != 0;
    EXPECT_LE(Player.Accepted.load(), 8) << "reconnects without a growing pause";
    EXPECT_LE(Lines, 6) << "reports each attempt";
    const auto Start = std::chrono::steady_clock::now();
    Bridge.Kill(SIGTERM);
    EXPECT_EQ(Bridge.WaitExit(2000), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 1s);
  }
}

}  // namespace
