// korvel-mailbox mpris against real mpv with its MPRIS plugin, on a private session bus and
// in a private /dev/shm. mpv's speed is read back through mpv's own IPC socket, so the
// check does not depend on the bridge's view of D-Bus.
#include "uSharedMemory.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "test_files.h"
#include "test_signals.h"
#include "child_process.h"
#include "mpv_player.h"
#include "qt_test_loop.h"

namespace {

const char* const kMprisPlugin = "/usr/lib/mpv-mpris/mpris.so";
const char* const kDbusDaemon = "/usr/bin/dbus-daemon";
const std::string kPrefix = "org.mpris.MediaPlayer2.";

// A session bus of the test's own, on a socket in its folder.
class TSessionBus {
public:
  explicit TSessionBus(const TTempDir& Dir) : FSocket(Dir.File("bus")) {
    const std::string Config = Dir.File("bus.conf");
    std::ofstream(Config) << "<busconfig><type>session</type><listen>unix:path=" << FSocket
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                             "<allow own=\"*\"/></policy></busconfig>\n";
    FDaemon = std::make_unique<TChildProcess>(std::vector<std::string>{kDbusDaemon, "--config-file=" + Config, "--nofork"});
    PollUntil([&] {
      const int Fd = ConnectUnix(FSocket);
      if (Fd >= 0) ::close(Fd);
      return Fd >= 0;
    }, 5000);
  }
  ~TSessionBus() {
    QDBusConnection::disconnectFromBus("test");
    FDaemon->Kill(SIGTERM);
    FDaemon->WaitExit(5000);
  }
  static std::string AddressOf(const TTempDir& Dir) { return "unix:path=" + Dir.File("bus"); }
  // The test's own connection, for asking who is on the bus and for owning names.
  QDBusConnection Connection() {
    return QDBusConnection::connectToBus(QString::fromStdString("unix:path=" + FSocket), "test");
  }
  bool HasName(const std::string& Name) {
    return PollUntil([&] { return Connection().interface()->isServiceRegistered(QString::fromStdString(Name)).value(); }, 10000);
  }

private:
  std::string FSocket;
  std::unique_ptr<TChildProcess> FDaemon;
};

// mpv with the MPRIS plugin, looping the fixture's tone.
struct TMprisMpv : TMpvPlayer {
  TMprisMpv(const TTempDir& Dir, const std::string& Socket, bool Paused)
      : TMpvPlayer(Dir.File(Socket), {"--loop-file=inf", std::string("--script=") + kMprisPlugin,
                                      Paused ? "--pause" : "--pause=no", Dir.File("tone.wav")}) {}
};

// A player of the test's own, one process on the bus under one or more MPRIS names: a
// connection of its own serving the Player interface with the properties the bridge reads,
// every Rate written to it recorded. Its calls are served from the test's event loop, so
// the test waits with ProcessUntil while the bridge talks to it.
class TTestPlayerProcess : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ Status)
  Q_PROPERTY(double Rate READ Rate WRITE SetRate)
  Q_PROPERTY(double MinimumRate READ MinRate)
  Q_PROPERTY(double MaximumRate READ MaxRate)

public:
  TTestPlayerProcess(const TTempDir& Dir, const std::vector<std::string>& Names)
      : FConnection(QStringLiteral("player%1").arg(++Made)) {
    QDBusConnection C = QDBusConnection::connectToBus(QString::fromStdString(TSessionBus::AddressOf(Dir)), FConnection);
    C.registerObject(QStringLiteral("/org/mpris/MediaPlayer2"), this,
                     QDBusConnection::ExportAllProperties);
    for (const std::string& Name : Names) C.registerService(QString::fromStdString(kPrefix + Name));
  }
  ~TTestPlayerProcess() { QDBusConnection::disconnectFromBus(FConnection); }
  QString Status() const { return QStringLiteral("Playing"); }
  double Rate() const { return Sets.empty() ? 1.0 : Sets.back(); }
  void SetRate(double R) { Sets.push_back(R); }
  double MinRate() const { return 0.1; }
  double MaxRate() const { return 10.0; }
  std::vector<double> Sets;

private:
  static inline int Made = 0;
  QString FConnection;
};

// The bridge, with everything it has said kept for the checks.
class TBridge {
public:
  explicit TBridge(std::vector<std::string> Args) : FProcess([&] {
      Args.insert(Args.begin(), {KORVEL_MAILBOX, "mpris", "--verbose"});
      return Args;
    }()) {}

  // Reads on until a line contains Text; false after a few seconds.
  bool Says(const std::string& Text) {
    const std::string Said = FProcess.ReadLineUntil([&](const std::string& Line) {
      FLog += Line + "\n";
      return Line.find(Text) != std::string::npos;
    });
    return !Said.empty();
  }
  // Stops it as systemd does; its status, and everything it said, are then known.
  int Stop() {
    FProcess.Kill(SIGTERM);
    const int Status = FProcess.WaitExit(5000);
    for (std::string Line; !(Line = FProcess.ReadLine(200)).empty();) FLog += Line + "\n";
    return Status;
  }
  const std::string& Log() const { return FLog; }

private:
  TChildProcess FProcess;
  std::string FLog;
};

class MprisBridgeTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("KORVEL_PRIVATE_SHM")) GTEST_SKIP() << "needs a private /dev/shm (run through ctest)";
    for (const char* Need : {kMpv, kMprisPlugin, kDbusDaemon})
      if (::access(Need, R_OK) != 0) GTEST_SKIP() << Need << " is missing (scripts/setup installs mpv, mpv-mpris, dbus-daemon)";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", TSessionBus::AddressOf(Dir).c_str(), 1);
    WriteWavFile(Dir.File("tone.wav"), ToneFrames(440, 8000, 44100));  // a second, looped
    Mailbox = std::make_unique<TSpeedSharedMemory>();
  }

  TTempDir Dir;
  std::unique_ptr<TSpeedSharedMemory> Mailbox;
};

TEST_F(MprisBridgeTest, FollowsTheFactorThroughBusAndPlayerRestarts) {
  Mailbox->SetSpeed(1.5);
  TBridge Bridge({});
  ASSERT_TRUE(Bridge.Says("no session bus yet")) << Bridge.Log();
  TSessionBus Bus(Dir);
  ASSERT_TRUE(Bridge.Says("waiting for an MPRIS player")) << Bridge.Log();

  // A player that appears gets the factor published before it was there.
  auto Player = std::make_unique<TMprisMpv>(Dir, "a.sock", false);
  EXPECT_TRUE(Player->Reaches(1.5));
  Mailbox->SetSpeed(2.0);
  EXPECT_TRUE(Player->Reaches(2.0));
  Mailbox->SetSpeed(500.0);  // mpv ignores a rate beyond its MaximumRate
  EXPECT_TRUE(Player->Reaches(100.0));

  // Neither a factor of 0 nor korvel's zeroed record (flag 0) reaches the player.
  Mailbox->SetSpeed(0.0);
  ASSERT_TRUE(Bridge.Says("not passing on speed=0"));
  TSpeedSharedMemory Restarted;
  TAutomaticEvent(kSpeedEventName, true).Signal();
  ASSERT_TRUE(Bridge.Says("flag 0"));
  Mailbox->SetSpeed(3.0);
  EXPECT_TRUE(Player->Reaches(3.0));
  std::vector<double> Seen = Player->History();
  if (!Seen.empty() && Seen.front() == 1.0) Seen.erase(Seen.begin());
  EXPECT_EQ(Seen, (std::vector<double>{1.5, 2.0, 100.0, 3.0}));

  // The player restarts while korvel publishes.
  Player.reset();
  ASSERT_TRUE(Bridge.Says("went away")) << Bridge.Log();
  Mailbox->SetSpeed(2.5);
  Player = std::make_unique<TMprisMpv>(Dir, "b.sock", false);
  EXPECT_TRUE(Player->Reaches(2.5));

  EXPECT_EQ(Bridge.Stop(), 0) << Bridge.Log();
}

TEST_F(MprisBridgeTest, ChoosesTheNamedPlayerOrThePlayingOneOrAll) {
  TSessionBus Bus(Dir);
  TMprisMpv First(Dir, "a.sock", false);
  ASSERT_TRUE(Bus.HasName(kPrefix + "mpv"));
  TMprisMpv Second(Dir, "b.sock", true);  // paused
  const std::string SecondName = "mpv.instance" + std::to_string(Second.Pid());
  ASSERT_TRUE(Bus.HasName(kPrefix + SecondName));

  {
    TBridge Named({"--player", SecondName});
    Mailbox->SetSpeed(1.5);
    ASSERT_TRUE(Named.Says("set Rate=1.5 on " + kPrefix + SecondName)) << Named.Log();
    EXPECT_TRUE(Second.Reaches(1.5));
    EXPECT_EQ(Named.Stop(), 0);
    EXPECT_EQ(First.Speed(), 1.0);

    TBridge Unknown({"--player", "nosuchplayer"});
    EXPECT_TRUE(Unknown.Says("waiting for MPRIS player " + kPrefix + "nosuchplayer")) << Unknown.Log();
    EXPECT_EQ(Unknown.Stop(), 0);
  }
  {
    // The playing one, and the other as soon as it plays instead.
    TBridge Default({});
    Mailbox->SetSpeed(2.0);
    EXPECT_TRUE(First.Reaches(2.0));
    First.Pause(true);
    Second.Pause(false);
    EXPECT_TRUE(Second.Reaches(2.0));
    EXPECT_EQ(Default.Stop(), 0);
  }
  {
    // A name on the bus that answers every call with an error stands for a player that
    // refuses Rate: said once, and the others still follow.
    QDBusConnection Own = Bus.Connection();
    ASSERT_TRUE(Own.registerService(QString::fromStdString(kPrefix + "broken")));
    TBridge All({"--all"});
    for (const double Speed : {3.0, 1.25}) {
      Mailbox->SetSpeed(Speed);
      EXPECT_TRUE(First.Reaches(Speed));
      EXPECT_TRUE(Second.Reaches(Speed));
    }
    EXPECT_EQ(All.Stop(), 0);
    const std::string Refuses = kPrefix + "broken refuses";
    EXPECT_NE(All.Log().find(Refuses), std::string::npos) << All.Log();
    EXPECT_EQ(All.Log().find(Refuses), All.Log().rfind(Refuses)) << "said more than once";
  }
}

// What the bridge writes on the bus, seen by players of the test's own: the name a
// --player option matches, a process under two names set once, and a record with flag 0
// (korvel started again) forgetting the factor held for players that come later.
TEST_F(MprisBridgeTest, WhatTheBridgeSetsOnTheBus) {
  TestCoreApp();
  TSessionBus Bus(Dir);
  struct TCase {
    const char* Name;
    std::vector<std::string> Options, PlayerNames;
    bool RestartAfterFlagZero;
    std::vector<double> Before, After;  // Rates set before and after the restart
  } Cases[] = {
      {"--player NAME takes NAME.instanceN", {"--player", "rec"}, {"rec.instance77"}, false, {1.5, 2.0}, {}},
      {"one process under two names", {"--all"}, {"rec.instance77", "rec"}, false, {1.5, 2.0}, {}},
      {"flag 0 forgets the factor", {}, {"rec"}, true, {1.5}, {2.0}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    Mailbox = std::make_unique<TSpeedSharedMemory>();
    TBridge Bridge(C.Options);
    ASSERT_TRUE(Bridge.Says("following MPRIS players")) << Bridge.Log();
    // The player comes after the first factor, and its names in the order given.
    std::unique_ptr<TTestPlayerProcess> Player;
    for (const double Speed : C.Before) {
      Mailbox->SetSpeed(Speed);
      if (!Player) Player = std::make_unique<TTestPlayerProcess>(Dir, C.PlayerNames);
      ASSERT_TRUE(ProcessUntil(
          [&] { return !Player->Sets.empty() && Player->Sets.back() == Speed; }, 10000));
    }
    if (C.RestartAfterFlagZero) {
      Mailbox = std::make_unique<TSpeedSharedMemory>();  // korvel again: the record zeroed
      TAutomaticEvent(kSpeedEventName, true).Signal();
      ASSERT_TRUE(Bridge.Says("flag 0")) << Bridge.Log();
      Player.reset();  // and the player comes back
      Player = std::make_unique<TTestPlayerProcess>(Dir, C.PlayerNames);
      ASSERT_TRUE(Bridge.Says("found MPRIS player")) << Bridge.Log();
      ProcessUntil([] { return false; }, 1000);  // time to set a rate it should not
      EXPECT_TRUE(Player->Sets.empty());
      Mailbox->SetSpeed(C.After.back());
      ProcessUntil([&] { return !Player->Sets.empty(); }, 10000);
    }
    ProcessUntil([] { return false; }, 300);  // a second write would arrive meanwhile
    EXPECT_EQ(Player->Sets, C.RestartAfterFlagZero ? C.After : C.Before);
    EXPECT_EQ(Bridge.Stop(), 0) << Bridge.Log();
  }
}

TEST(MprisBridgeRefusalTest, RefusesAMailboxThatIsNotOursBeforeLookingForTheBus) {
  TTempDir Dir;
  ASSERT_EQ(::mkdir(Dir.File(kSpeedEventName).c_str(), 0700), 0);  // not a FIFO
  TChildProcess Bridge({KORVEL_MAILBOX, "--dir", Dir.Path(), "mpris"});
  EXPECT_NE(Bridge.ReadLine(5000).find("作成に失敗しました。"), std::string::npos);
  EXPECT_EQ(Bridge.WaitExit(5000), 2);
}

}  // namespace

#include "mpris_bridge_test.moc"
