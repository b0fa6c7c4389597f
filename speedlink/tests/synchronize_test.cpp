#include "synchronize.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "child_process.h"
#include "link_checks.h"

namespace {

using namespace std::chrono_literals;

const std::string kLock = "{6EB880ED-0365-4AA7-B6CE-5DE6681AFCD7}";
const std::string kEvent = "{36187C43-8604-4EC5-89CE-75C5220B89AB}";

TEST(SynchronizeTest, OwnerCountAllowsThirtyNestedEntriesAndRaisesOnTheThirtyFirst) {
  for (bool Named : {false, true}) {
    SCOPED_TRACE(Named ? "named" : "unnamed");
    TTempDir Dir;
    auto Lock = Named ? std::make_unique<TSynchronize>(kLock, true, Dir.Path()) : std::make_unique<TSynchronize>();
    for (int I = 0; I < 30; ++I) Lock->Enter();
    EXPECT_EQ(Lock->OwnerCount(), 30);
    EXPECT_EQ(ErrorOf([&] { Lock->Enter(); }).What,
              "ミューテックスが解放されずに30回以上超過して所有されました。");
    EXPECT_EQ(Lock->OwnerCount(), 31);
    // Still owned after the error: another thread cannot get in until every entry is left.
    EXPECT_FALSE(OtherThreadGets(*Lock));
    for (int I = 0; I < 31; ++I) Lock->Leave();
    EXPECT_EQ(Lock->OwnerCount(), 0);
    EXPECT_TRUE(OtherThreadGets(*Lock));
  }
}

TEST(SynchronizeTest, LeaveWithoutEnterRaisesAfterTheReleaseAndLeavesOthersUnharmed) {
  TSynchronize Lock;
  EXPECT_EQ(ErrorOf([&] { Lock.Leave(); }).What,
            "ミューテックスが所有されていない状態で開放されました。");
  EXPECT_EQ(Lock.OwnerCount(), -1);

  // A Leave from a thread that does not own the lock must not release the owner's hold.
  TSynchronize Held;
  Held.Enter();
  std::thread([&] { EXPECT_NO_THROW(Held.Leave()); }).join();  // count 1 -> 0
  EXPECT_FALSE(OtherThreadGets(Held));
  // The owner's Leave now finds the count below 0 and says so, but it has released.
  EXPECT_THROW(Held.Leave(), ESpeedLinkError);
  std::atomic<bool> Got{false};
  std::thread([&] {
    Got = Held.TryEnter(0);
    if (Got) {
      EXPECT_THROW(Held.Leave(), ESpeedLinkError);  // the count is off by one for good
    }
  }).join();
  EXPECT_TRUE(Got);
}

TEST(SynchronizeTest, UnnamedLockExcludesOtherThreadsAndTimesOut) {
  TSynchronize Lock;
  Lock.Enter();
  EXPECT_TRUE(Lock.TryEnter(0));  // recursive for the owner
  const auto T0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(OtherThreadGets(Lock, 50));
  EXPECT_GE(std::chrono::steady_clock::now() - T0, 45ms);
  EXPECT_EQ(Lock.OwnerCount(), 2);
  Lock.Leave();
  Lock.Leave();

  // Mutual exclusion under contention: the unguarded counter must come out exact.
  long Counter = 0;
  auto Work = [&] {
    for (int I = 0; I < 20000; ++I) {
      Lock.Enter();
      Counter = Counter + 1;
      Lock.Leave();
    }
  };
  std::thread A(Work), B(Work);
  A.join();
  B.join();
  EXPECT_EQ(Counter, 40000);
}

TEST(SynchronizeTest, ObjectsOfOneNameInOneProcessShareTheLock) {
  TTempDir Dir;
  TSynchronize First(kLock, true, Dir.Path());
  TSynchronize Second(kLock, true, Dir.Path());
  First.Enter();
  EXPECT_TRUE(Second.TryEnter(0)) << "the owning thread re-enters through another object of the name";
  EXPECT_FALSE(OtherThreadGets(Second, 20));
  Second.Leave();
  First.Leave();
  EXPECT_TRUE(OtherThreadGets(Second));
}

TEST(SynchronizeTest, AnswersItsInterfacesOnly) {
  auto* Lock = new TSynchronize;
  TInterfaceRef<ISynchronize> Ref(Lock);
  void* Obj = nullptr;
  EXPECT_EQ(Lock->QueryInterface(IID_ISynchronize, &Obj), kQueryOk);
  EXPECT_EQ(Obj, static_cast<ISynchronize*>(Lock));
  static_cast<ISynchronize*>(Obj)->Release();
  EXPECT_EQ(Lock->QueryInterface(IID_IAutomaticEvent, &Obj), kQueryNoInterface);
  EXPECT_EQ(Obj, nullptr);
}

TEST(AutomaticEventTest, SignalReleasesOneWaitThenTheEventIsReset) {
  TTempDir Dir;
  TAutomaticEvent Event(kEvent, true, Dir.Path());
  EXPECT_FALSE(Event.WaitFor(0));
  EXPECT_TRUE(Event.Signal());
  EXPECT_TRUE(Event.Signal());  // set twice is still set once
  EXPECT_TRUE(Event.WaitFor(0));
  EXPECT_FALSE(Event.WaitFor(0));

  Event.Signal();
  Event.Reset();
  EXPECT_FALSE(Event.WaitFor(0));

  const auto T0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(Event.WaitFor(40));
  EXPECT_GE(std::chrono::steady_clock::now() - T0, 35ms);
}

TEST(AutomaticEventTest, WaitIsReleasedBySignalThroughAnotherObjectOfTheName) {
  TTempDir Dir;
  TAutomaticEvent Waiter(kEvent, true, Dir.Path());
  TAutomaticEvent Signaller(kEvent, true, Dir.Path());
  std::atomic<bool> Done{false};
  std::thread T([&] { Done = Waiter.Wait(); });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(Done);
  Signaller.Signal();
  T.join();
  EXPECT_TRUE(Done);
  EXPECT_FALSE(Signaller.WaitFor(0)) << "the waiter consumed the signal";
}

TEST(AutomaticEventTest, ConstructionResetsAnEventLeftSignalled) {
  TTempDir Dir;
  TAutomaticEvent First(kEvent, true, Dir.Path());
  First.Signal();
  TAutomaticEvent Second(kEvent, true, Dir.Path());
  EXPECT_FALSE(First.WaitFor(0));
  EXPECT_FALSE(Second.WaitFor(0));
}

// ----------------------------------------------------------------- files that are not ours
// The files that stand for the named objects on POSIX systems.
#ifndef _WIN32

using TEntries = std::map<std::string, mode_t>;

// Every name in the folder with its type and mode (of a link, not of what it leads to).
TEntries Entries(const std::string& Folder) {
  TEntries Found;
  for (const auto& E : std::filesystem::directory_iterator(Folder)) {
    struct stat St {};
    Found[E.path().filename()] = ::lstat(E.path().c_str(), &St) == 0 ? St.st_mode : 0;
  }
  return Found;
}

// The errors of making a lock and an event of these names in Folder.
std::vector<TLinkError> CreationErrors(const std::string& Folder, const std::string& Lock = kLock,
                                       const std::string& Event = kEvent) {
  return {ErrorOf([&] { TSynchronize Object(Lock, true, Folder); }),
          ErrorOf([&] { TAutomaticEvent Object(Event, true, Folder); })};
}

// Our own lock file and event FIFO as an earlier run may have left them.
void MakeObjects(const TTempDir& Dir, mode_t LockMode, mode_t EventMode) {
  ::close(::open(Dir.File(kLock).c_str(), O_CREAT | O_WRONLY, 0600));
  ::mkfifo(Dir.File(kEvent).c_str(), 0600);
  ::chmod(Dir.File(kLock).c_str(), LockMode);
  ::chmod(Dir.File(kEvent).c_str(), EventMode);
}

// Made anew or found without the owner's own access (what a narrow umask left behind; root
// opens it all the same), the objects end up the owner's alone.
TEST(NamedObjectTest, OwnerOnlyWhateverTheUmaskOrAnEarlierRunLeft) {
  struct TCase {
    const char* Name;
    mode_t Umask, LockLeft, EventLeft;  // left: 0 when nothing was there
  };
  for (const TCase& C : {TCase{"umask 0000", 0000, 0, 0}, TCase{"umask 0277", 0277, 0, 0},
                         TCase{"left unreadable", 0022, 0400, 0200}}) {
    SCOPED_TRACE(C.Name);
    TTempDir Dir;
    if (C.LockLeft) MakeObjects(Dir, C.LockLeft, C.EventLeft);
    const mode_t Old = ::umask(C.Umask);
    const std::vector<TLinkError> Errors = CreationErrors(Dir.Path());
    ::umask(Old);
    for (const TLinkError& E : Errors) EXPECT_EQ(E.What, "(no error)") << E.Detail;
    EXPECT_EQ(Entries(Dir.Path()), (TEntries{{kLock, S_IFREG | 0600}, {kEvent, S_IFIFO | 0600}}));
    EXPECT_EQ(std::filesystem::file_size(Dir.File(kLock)), 0u);
  }
}

// Refused, and left as it was: no mode repaired, nothing made through a link.
TEST(NamedObjectTest, RefusesWhatIsNotOurOwnAndLeavesItAlone) {
  TTempDir Elsewhere;
  MakeObjects(Elsewhere, 0600, 0600);
  // Plant(name, path) puts something in the way of each object's file.
  const struct {
    std::string Name;
    mode_t Mode;  // of our own objects planted first; 0 for none
    std::function<void(const std::string&, const char*)> Plant;
  } Cases[] = {
      {"mode 0644", 0644, {}},
      {"mode 0660", 0660, {}},
      {"mode 0602", 0602, {}},
      {"wrong type", 0,  // a FIFO for the lock, a plain file for the event
       [](auto& Name, auto Path) {
         Name == kLock ? ::mkfifo(Path, 0600) : ::close(::open(Path, O_CREAT | O_WRONLY, 0600));
       }},
      {"directories", 0, [](auto&, auto Path) { ::mkdir(Path, 0700); }},
      {"symlinks to good files", 0,
       [&](auto& Name, auto Path) { ASSERT_EQ(::symlink(Elsewhere.File(Name).c_str(), Path), 0); }},
      {"dangling symlinks", 0,
       [](auto&, auto Path) { ::symlink((std::string(Path) + "-target").c_str(), Path); }},
      {"another user's", 0600,  // the last row: it alone is skipped without root
       [](auto&, auto Path) { ASSERT_EQ(::chown(Path, 4242, 4242), 0); }},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    if (C.Name == "another user's" && ::geteuid() != 0)
      GTEST_SKIP() << "needs root to give a file away";
    TTempDir Dir;
    if (C.Mode) MakeObjects(Dir, C.Mode, C.Mode);
    for (const std::string& Name : {kLock, kEvent})
      if (C.Plant) C.Plant(Name, Dir.File(Name).c_str());
    const TEntries Before = Entries(Dir.Path());
    for (const TLinkError& E : CreationErrors(Dir.Path())) {
      EXPECT_EQ(E.What, "作成に失敗しました。");
      EXPECT_FALSE(E.Detail.empty());
    }
    EXPECT_EQ(Entries(Dir.Path()), Before);
  }
}

TEST(NamedObjectTest, AMissingDirectoryIsReportedAsSuch) {
  TTempDir Dir;
  for (const TLinkError& E : CreationErrors(Dir.File("no-such-folder"))) {
    EXPECT_EQ(E.What, "作成に失敗しました。");
    EXPECT_NE(E.Detail.find("cannot create"), std::string::npos) << E.Detail;
    EXPECT_NE(E.Detail.find(std::strerror(ENOENT)), std::string::npos) << E.Detail;
  }
}

TEST(NamedObjectTest, RefusesNamesThatLeaveTheDirectory) {
  TTempDir Dir;
  for (const TLinkError& E : CreationErrors(Dir.Path(), "../x", ""))
    EXPECT_NE(E.What, "(no error)");
}

#endif

}  // namespace
