// The mailbox under its real names in /dev/shm, as korvel and a player on this machine
// see it. Runs only inside a private /dev/shm (testing/private-shm-run), never on the
// machine's own objects.
#include "uSharedMemory.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(RealNamesTest, MailboxLivesInDevShmUnderTheGuidNamesOwnerOnly) {
  if (!std::getenv("KORVEL_PRIVATE_SHM")) GTEST_SKIP() << "needs a private /dev/shm (run through ctest)";
  TSpeedSharedMemory Mailbox;
  Mailbox.SetSpeed(1.0);
  for (const auto& [Name, Type] : {std::pair{kSpeedSectionName, S_IFREG}, {kSpeedLockName, S_IFREG},
                                   {kSpeedEventName, S_IFIFO}}) {
    SCOPED_TRACE(Name);
    struct stat St {};
    ASSERT_EQ(::lstat((std::string("/dev/shm/") + Name).c_str(), &St), 0);
    EXPECT_EQ(St.st_mode, mode_t(Type | 0600));
    EXPECT_EQ(St.st_uid, ::geteuid());
  }
  // A second view of the name sees the first one's publish.
  TCommonMemoryStream Section(kSpeedSectionName, kSpeedRecordSize);
  uint8_t Bytes[9];
  EXPECT_EQ(Section.Read(Bytes, 9), 9);
  EXPECT_EQ(Bytes[0], 1);
  EXPECT_EQ(Bytes[8], 0x3F);
}

}  // namespace
