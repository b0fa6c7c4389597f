// The lock and the event between processes: each test starts copies of a small helper
// program (fork + exec, so nothing of this process's lock state is shared with them).
#include "uSharedMemory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include "child_process.h"

namespace {

TEST(CrossProcessTest, TryEnterFailsWhileAnotherProcessHoldsTheLock) {
  TTempDir Dir;
  TChildProcess Holder({SPEEDLINK_HELPER, "hold", Dir.Path()});
  ASSERT_EQ(Holder.ReadLine(5000), "held");
  TSynchronize Lock(kSpeedLockName, true, Dir.Path());
  EXPECT_FALSE(Lock.TryEnter(0));
  const auto T0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(Lock.TryEnter(30));
  EXPECT_GE(std::chrono::steady_clock::now() - T0, std::chrono::milliseconds(25));
  EXPECT_EQ(Lock.OwnerCount(), 0);

  // And the time-out path gave the in-process part back: once free, it is obtained.
  Holder.Kill(SIGTERM);
  Holder.WaitExit(5000);
  EXPECT_TRUE(Lock.TryEnter(1000));
  EXPECT_EQ(Lock.OwnerCount(), 1);
  Lock.Leave();
}

TEST(CrossProcessTest, AKilledHolderReleasesTheLockToTheNextEnter) {
  TTempDir Dir;
  TSynchronize Lock(kSpeedLockName, true, Dir.Path());
  TChildProcess Holder({SPEEDLINK_HELPER, "hold", Dir.Path()});
  ASSERT_EQ(Holder.ReadLine(5000), "held");
  ASSERT_FALSE(Lock.TryEnter(0));
  Holder.Kill(SIGKILL);
  EXPECT_EQ(Holder.WaitExit(5000), 128 + SIGKILL);
  Lock.Enter();  // would hang if the dead holder's lock survived (the test times out)
  EXPECT_EQ(Lock.OwnerCount(), 1);
  Lock.Leave();
}

TEST(CrossProcessTest, EnterAndUnlimitedTryEnterWaitForTheOtherProcessToLetGo) {
  for (bool UseTry : {false, true}) {
    SCOPED_TRACE(UseTry ? "TryEnter(kInfinite)" : "Enter");
    TTempDir Dir;
    TSynchronize Lock(kSpeedLockName, true, Dir.Path());
    TChildProcess Holder({SPEEDLINK_HELPER, "hold", Dir.Path()});
    ASSERT_EQ(Holder.ReadLine(5000), "held");
    const auto T0 = std::chrono::steady_clock::now();
    std::thread Killer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      Holder.Kill(SIGKILL);
    });
    if (UseTry) {
      EXPECT_TRUE(Lock.TryEnter(kInfinite));
    } else {
      Lock.Enter();
    }
    EXPECT_GE(std::chrono::steady_clock::now() - T0, std::chrono::milliseconds(90));
    EXPECT_EQ(Lock.OwnerCount(), 1);
    Lock.Leave();
    Killer.join();
  }
}

TEST(CrossProcessTest, OneSignalWakesExactlyOneOfTwoWaitingProcesses) {
  TTempDir Dir;
  TSpeedSharedMemory Mailbox(Dir.Path());
  TChildProcess A({SPEEDLINK_HELPER, "wait", Dir.Path(), "20000"});
  TChildProcess B({SPEEDLINK_HELPER, "wait", Dir.Path(), "20000"});
  ASSERT_EQ(A.ReadLine(5000), "ready");
  ASSERT_EQ(B.ReadLine(5000), "ready");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // both in their wait

  Mailbox.SetSpeed(1.2);
  ASSERT_TRUE(PollUntil([&] { return A.WaitExit(0) >= 0 || B.WaitExit(0) >= 0; }, 5000, 1))
      << "nobody woke";
  TChildProcess& Woken = A.WaitExit(0) >= 0 ? A : B;
  TChildProcess& Other = &Woken == &A ? B : A;
  EXPECT_EQ(Woken.WaitExit(0), 0);
  EXPECT_EQ(Other.WaitExit(300), -1) << "one signal woke both";

  Mailbox.SetSpeed(1.3);
  EXPECT_EQ(Other.WaitExit(5000), 0);
}

}  // namespace
