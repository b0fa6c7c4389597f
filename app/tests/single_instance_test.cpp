// The single-instance lock file: the user's own, mode 0600 whatever the umask, gone after a
// normal end, and another user's refused with its owner named.
#include "uSingleInstance.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

fs::path Folder() {
  const char* root = std::getenv("KORVEL_TEST_ROOT");
  fs::path dir = fs::path(root ? root : "/tmp") / "single-instance";
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

mode_t Mode(const fs::path& p) {
  struct stat st{};
  return stat(p.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

TEST(SingleInstanceLock, OwnerOnlyWhateverTheUmaskAndGoneAfterANormalEnd) {
  const fs::path lock = Folder() / "korvel.lock";
  for (const mode_t mask : {mode_t(0277), mode_t(0022), mode_t(0)}) {
    SCOPED_TRACE(mask);
    const mode_t old = umask(mask);
    {
      TSingleInstanceLock first(lock.string());
      ASSERT_TRUE(first.Held());
      EXPECT_EQ(Mode(lock), 0600u);
      TSingleInstanceLock second(lock.string());  // a second open file description
      EXPECT_FALSE(second.Held());
      EXPECT_NE(second.AlreadyRunningText().find("held by process " + std::to_string(getpid())),
                std::string::npos);
    }
    umask(old);
    EXPECT_FALSE(fs::exists(lock));
  }
  // Left by an earlier run under a narrow umask: repaired, not a failure for good.
  std::ofstream(lock) << "1\n";
  fs::permissions(lock, fs::perms::owner_read);
  TSingleInstanceLock again(lock.string());
  EXPECT_TRUE(again.Held());
  EXPECT_EQ(Mode(lock), 0600u);
}

TEST(SingleInstanceLock, AnotherUsersFileIsRefusedWithItsOwnerNamed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
  const fs::path lock = Folder() / "korvel.lock";
  std::ofstream(lock) << "4242\n";
  ASSERT_EQ(chown(lock.c_str(), 65534, 65534), 0);
  try {
    TSingleInstanceLock taken(lock.string());
    ADD_FAILURE() << "taken, held=" << taken.Held();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(lock.string() + ": belongs to uid 65534"), std::string::npos) << e.what();
  }
  std::ifstream in(lock);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "4242\n");
}

}  // namespace
