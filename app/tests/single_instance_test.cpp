// The single-instance lock file: the user's own at 0600, gone after a normal end.
#include "uSingleInstance.h"
#include "test_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(SingleInstanceLock, OwnerOnlyWhateverTheUmaskRepairedAndGoneAfterANormalEnd) {
  const auto lock = NewTestFolder("instance") / "korvel.lock";
  for (const mode_t mask : {0277, 0022, 0}) {
    const mode_t old = umask(mask);
    {
      TSingleInstanceLock first(lock), second(lock);  // two open file descriptions
      EXPECT_TRUE(first.Held() && !second.Held()) << mask;
      EXPECT_EQ(fs::status(lock).permissions(), fs::perms::owner_read | fs::perms::owner_write)
          << mask;
      EXPECT_NE(second.AlreadyRunningText().find("by process " + std::to_string(getpid())), std::string::npos);
    }
    umask(old);
    EXPECT_FALSE(fs::exists(lock)) << mask;
  }
  std::ofstream(lock) << "1\n";  // left at 0400 by an earlier run under a narrow umask
  fs::permissions(lock, fs::perms::owner_read);
  EXPECT_TRUE(TSingleInstanceLock(lock).Held());
}

TEST(SingleInstanceLock, AnotherUsersFileIsRefusedWithItsOwnerNamed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
  const auto lock = NewTestFolder("instance") / "korvel.lock";
  std::ofstream(lock) << "4242\n";
  ASSERT_EQ(chown(lock.c_str(), 65534, 65534), 0);
  EXPECT_THAT([&] { TSingleInstanceLock taken(lock); },
              ::testing::ThrowsMessage<std::runtime_error>(
                  ::testing::HasSubstr(lock.string() + ": belongs to uid 65534")));
  EXPECT_EQ(fs::file_size(lock), 5u);  // nothing of ours written into it
}

}  // namespace
