#include "synchronize.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "child_process.h"

namespace {

using namespace std::chrono_literals;

const std::string kLock = "{6EB880ED-0365-4AA7-B6CE-5DE6681AFCD7}";
const std::string kEvent = "{36187C43-8604-4EC5-89CE-75C5220B89AB}";

std::string ErrorText(const std::function<void()>& F) {
  try {
    F();
  } catch (const ESpeedLinkError& E) {
    return E.what();
  }
  return "(no error)";
}

// Whether another thread gets the lock within Ms (leaving it again).
bool OtherThreadGets(ISynchronize& Lock, uint32_t Ms = 0) {
  bool Got = false;
  std::thread([&] {
    Got = Lock.TryEnter(Ms);
    if (Got) Lock.Leave();
  }).join();
  return Got;
}

TEST(SynchronizeTest, OwnerCountAllowsThirtyNestedEntriesAndRaisesOnTheThirtyFirst) {
  for (bool Named : {false, true}) {
    SCOPED_TRACE(Named ? "named" : "unnamed");
    TTempDir Dir;
    auto Lock = Named ? std::make_unique<TSynchronize>(kLock, true, Dir.Path()) : std::make_unique<TSynchronize>();
    for (int I = 0; I < 30; ++I) Lock->Enter();
    EXPECT_EQ(Lock->OwnerCount(), 30);
    EXPECT_EQ(ErrorText([&] { Lock->Enter(); }), "ミューテックスが解放されずに30回以上超過して所有されました。");
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
  EXPECT_EQ(ErrorText([&] { Lock.Leave(); }), "ミューテックスが所有されていない状態で開放されました。");
  EXPECT_EQ(Lock.OwnerCount(), -1);

  // A Leave from a thread that does not own the lock must not release the owner's hold.
  TSynchronize Held;
  Held.Enter();
  std::thread([&] { EXPECT_NO_THROW(Held.Leave()); }).join();  // count 1 -> 0
  std::atomic<bool> Got{true};
  std::thread([&] { Got = Held.TryEnter(0); }).join();
  EXPECT_FALSE(Got);
  // The owner's Leave now finds the count below 0 and says so, but it has released.
  EXPECT_THROW(Held.Leave(), ESpeedLinkError);
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

class NamedObjectRefusalTest : public ::testing::Test {
protected:
  TTempDir Dir;

  void ExpectRefused(const std::string& Why) {
    SCOPED_TRACE(Why);
    try {
      TSynchronize Lock(kLock, true, Dir.Path());
      ADD_FAILURE() << "lock accepted";
    } catch (const ESpeedLinkError& E) {
      EXPECT_STREQ(E.what(), "作成に失敗しました。");
      EXPECT_FALSE(E.Detail().empty());
    }
    try {
      TAutomaticEvent Event(kEvent, true, Dir.Path());
      ADD_FAILURE() << "event accepted";
    } catch (const ESpeedLinkError& E) {
      EXPECT_STREQ(E.what(), "作成に失敗しました。");
      EXPECT_FALSE(E.Detail().empty());
    }
  }
};

// Sets the process umask for a scope and restores it however the scope is left.
struct TUmaskScope {
  mode_t Old;
  explicit TUmaskScope(mode_t Mask) : Old(::umask(Mask)) {}
  ~TUmaskScope() { ::umask(Old); }
};

TEST_F(NamedObjectRefusalTest, CreatesOwnerOnlyWhateverTheUmask) {
  for (mode_t Mask : {0000, 0277}) {
    TTempDir Fresh;
    {
      TUmaskScope Narrow(Mask);
      TSynchronize Lock(kLock, true, Fresh.Path());
      TAutomaticEvent Event(kEvent, true, Fresh.Path());
    }
    struct stat St {};
    ASSERT_EQ(::lstat(Fresh.File(kLock).c_str(), &St), 0);
    EXPECT_TRUE(S_ISREG(St.st_mode));
    EXPECT_EQ(St.st_mode & 07777, 0600u) << "umask " << Mask;
    EXPECT_EQ(St.st_size, 0);
    ASSERT_EQ(::lstat(Fresh.File(kEvent).c_str(), &St), 0);
    EXPECT_TRUE(S_ISFIFO(St.st_mode));
    EXPECT_EQ(St.st_mode & 07777, 0600u) << "umask " << Mask;
  }
}

TEST_F(NamedObjectRefusalTest, RepairsOwnObjectsLeftWithoutTheOwnersAccess) {
  // What a narrow umask left behind: the owner itself cannot open them (root can).
  ::close(::open(Dir.File(kLock).c_str(), O_CREAT | O_WRONLY, 0600));
  ::mkfifo(Dir.File(kEvent).c_str(), 0600);
  ::chmod(Dir.File(kLock).c_str(), 0400);
  ::chmod(Dir.File(kEvent).c_str(), 0200);
  TSynchronize Lock(kLock, true, Dir.Path());
  TAutomaticEvent Event(kEvent, true, Dir.Path());
  for (const auto& Name : {kLock, kEvent}) {
    struct stat St {};
    ASSERT_EQ(::lstat(Dir.File(Name).c_str(), &St), 0);
    EXPECT_EQ(St.st_mode & 07777, 0600u) << Name;
  }
}

TEST_F(NamedObjectRefusalTest, RefusesFilesOpenToOthers) {
  for (mode_t Mode : {0644, 0660, 0602}) {
    for (const auto& Name : {kLock, kEvent}) ::unlink(Dir.File(Name).c_str());
    ::close(::open(Dir.File(kLock).c_str(), O_CREAT | O_WRONLY, 0600));
    ::mkfifo(Dir.File(kEvent).c_str(), 0600);
    for (const auto& Name : {kLock, kEvent}) ::chmod(Dir.File(Name).c_str(), Mode);
    ExpectRefused("mode " + std::to_string(Mode));
    struct stat St {};
    ::lstat(Dir.File(kEvent).c_str(), &St);
    EXPECT_EQ(St.st_mode & 07777, Mode) << "left as it was";
  }
}

TEST_F(NamedObjectRefusalTest, RefusesTheWrongType) {
  ::mkfifo(Dir.File(kLock).c_str(), 0600);                          // a FIFO where the lock file belongs
  ::close(::open(Dir.File(kEvent).c_str(), O_CREAT | O_WRONLY, 0600));  // a regular file for the event
  ExpectRefused("wrong type");
  ::unlink(Dir.File(kLock).c_str());
  ::unlink(Dir.File(kEvent).c_str());
  ::mkdir(Dir.File(kLock).c_str(), 0700);
  ::mkdir(Dir.File(kEvent).c_str(), 0700);
  ExpectRefused("directories");
}

TEST_F(NamedObjectRefusalTest, RefusesSymbolicLinksEvenToGoodFiles) {
  TTempDir Elsewhere;
  { TSynchronize Lock(kLock, true, Elsewhere.Path()); TAutomaticEvent Event(kEvent, true, Elsewhere.Path()); }
  ASSERT_EQ(::symlink(Elsewhere.File(kLock).c_str(), Dir.File(kLock).c_str()), 0);
  ASSERT_EQ(::symlink(Elsewhere.File(kEvent).c_str(), Dir.File(kEvent).c_str()), 0);
  ExpectRefused("symlinks");
  // A dangling link must not be followed to create a file somewhere else either.
  ::unlink(Dir.File(kLock).c_str());
  ::unlink(Dir.File(kEvent).c_str());
  ::symlink(Dir.File("target-lock").c_str(), Dir.File(kLock).c_str());
  ::symlink(Dir.File("target-event").c_str(), Dir.File(kEvent).c_str());
  ExpectRefused("dangling symlinks");
  EXPECT_NE(::access(Dir.File("target-lock").c_str(), F_OK), 0);
  EXPECT_NE(::access(Dir.File("target-event").c_str(), F_OK), 0);
}

TEST_F(NamedObjectRefusalTest, RefusesFilesOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
  ::close(::open(Dir.File(kLock).c_str(), O_CREAT | O_WRONLY, 0600));
  ::mkfifo(Dir.File(kEvent).c_str(), 0600);
  ASSERT_EQ(::chown(Dir.File(kLock).c_str(), 4242, 4242), 0);
  ASSERT_EQ(::chown(Dir.File(kEvent).c_str(), 4242, 4242), 0);
  ExpectRefused("foreign owner");
}

TEST_F(NamedObjectRefusalTest, AMissingDirectoryIsReportedAsSuch) {
  const std::string Missing = Dir.File("no-such-folder");
  for (bool Lock : {true, false}) {
    try {
      if (Lock)
        TSynchronize Object(kLock, true, Missing);
      else
        TAutomaticEvent Object(kEvent, true, Missing);
      ADD_FAILURE() << "created in a folder that does not exist";
    } catch (const ESpeedLinkError& E) {
      EXPECT_STREQ(E.what(), "作成に失敗しました。");
      EXPECT_NE(E.Detail().find("cannot create"), std::string::npos) << E.Detail();
      EXPECT_NE(E.Detail().find(std::strerror(ENOENT)), std::string::npos) << E.Detail();
    }
  }
}

TEST_F(NamedObjectRefusalTest, RefusesNamesThatLeaveTheDirectory) {
  EXPECT_THROW(TSynchronize("../x", true, Dir.Path()), ESpeedLinkError);
  EXPECT_THROW(TAutomaticEvent("", true, Dir.Path()), ESpeedLinkError);
}

}  // namespace
