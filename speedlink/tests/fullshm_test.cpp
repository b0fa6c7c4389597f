// A full /dev/shm, shared by every user of the machine: the program and both tools must
// say so and end, not die of a fault at the first access to the record. Runs only inside a
// private /dev/shm (testing/private-shm-run), which it fills.
#include "uSharedMemory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "child_process.h"
#include "link_checks.h"
#include "test_files.h"

namespace {

// Fills the file system of Path until it has no block left; the file stays.
void FillFileSystem(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
  ASSERT_GE(Fd, 0);
  std::vector<char> Chunk(1 << 20, 'x');
  for (size_t Size = Chunk.size(); Size > 0; Size /= 2)
    while (::write(Fd, Chunk.data(), Size) == static_cast<ssize_t>(Size)) {
    }
  ::close(Fd);
}

TEST(FullSharedMemoryTest, ProgramAndToolsSayTheSectionCannotBeReservedAndEndWithoutAFault) {
  if (!std::getenv("KORVEL_PRIVATE_SHM")) GTEST_SKIP() << "needs a private /dev/shm (run through ctest)";
  FillFileSystem("/dev/shm/filler");
  const std::string NoSpace = std::strerror(ENOSPC);
  const std::string CannotOpen = std::string("共有メモリ[") + kSpeedSectionName + "]を開けません";

  const TLinkError Error = ErrorOf([] { TSpeedSharedMemory Mailbox; });
  EXPECT_EQ(Error.What, CannotOpen);
  EXPECT_NE(Error.Detail.find(NoSpace), std::string::npos) << Error.Detail;

  TTempDir Dir;  // not on /dev/shm
  const std::string Wav = Dir.File("empty.wav");
  ASSERT_TRUE(WriteFileText(Wav, WavHeader(0, {.Channels = 1})));

  struct TCase {
    std::vector<std::string> Argv;
    int Exit;  // -1: the program, which shows the error in a box and waits for OK
  };
  for (const TCase& C : {TCase{{KORVEL_MAILBOX, "read"}, 2}, TCase{{KORVEL_MAILBOX, "watch", "--count", "1"}, 2},
                         TCase{{KORVEL_REPLAY, "--defaults", "--publish", Wav}, 1}, TCase{{KORVEL_PROGRAM}, -1}}) {
    SCOPED_TRACE(C.Argv[0] + " " + (C.Argv.size() > 1 ? C.Argv[1] : ""));
    TChildProcess Child(C.Argv);
    std::string Message = Child.ReadLineUntil(
        [&](const std::string& L) { return L.find(CannotOpen) != std::string::npos; }, 20000);
    Message += "\n" + Child.ReadLine(2000);  // the reason
    EXPECT_NE(Message.find(CannotOpen), std::string::npos) << Message;
    if (C.Exit >= 0) {
      EXPECT_NE(Message.find(NoSpace), std::string::npos) << Message;
      EXPECT_EQ(Child.WaitExit(10000), C.Exit);
    } else {
      const int Status = Child.WaitExit(500);
      EXPECT_TRUE(Status == -1 || Status == 1) << "ended with " << Status;
    }
  }
}

}  // namespace
