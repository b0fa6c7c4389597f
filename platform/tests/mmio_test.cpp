#include "mmio.h"
#include "test_files.h"
#include "test_folder.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

namespace {

std::filesystem::path TestDir() {
  static const std::filesystem::path dir = NewTestFolder("mmio");
  return dir;
}
HMMIO Create(const std::filesystem::path& p) {
  return mmioOpenA(const_cast<char*>(p.string().c_str()), nullptr, MMIO_CREATE | MMIO_WRITE);
}
#ifdef _WIN32
constexpr FOURCC MakeFourCC(char a, char b, char c, char d) { return mmioFOURCC(a, b, c, d); }
#endif

}  // namespace

// The cases up to the next mark run on our POSIX implementation and on the system's own
// service, so both write the same files.

TEST(Mmio, RiffWithSizedAndOpenChunksIsFinishedByAscending) {
  const auto path = TestDir() / "chunks.riff";
  HMMIO h = Create(path);
  ASSERT_NE(h, nullptr);
  MMCKINFO riff{};
  riff.fccType = mmioStringToFOURCCA("TEST", 0);
  EXPECT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), 0u);
  EXPECT_EQ(riff.ckid, FOURCC_RIFF);
  EXPECT_EQ(riff.dwDataOffset, 8u);

  MMCKINFO fixed{};
  fixed.ckid = mmioStringToFOURCCA("abc", 0);  // padded with a space
  fixed.cksize = 4;
  EXPECT_EQ(mmioCreateChunk(h, &fixed, 0), 0u);
  EXPECT_EQ(mmioWrite(h, "wxyz", 4), 4);

  MMCKINFO open{};
  open.ckid = mmioStringToFOURCCA("data", 0);
  EXPECT_EQ(mmioCreateChunk(h, &open, 0), 0u);
  EXPECT_EQ(open.dwDataOffset, 32u);
  EXPECT_EQ(mmioWrite(h, "12345", 5), 5);  // odd: ascending adds a pad byte
  EXPECT_EQ(mmioAscend(h, &open, 0), 0u);
  EXPECT_EQ(open.cksize, 5u);
  EXPECT_EQ(mmioAscend(h, &riff, 0), 0u);
  EXPECT_EQ(mmioClose(h, 0), 0u);

  // The RIFF size (30) counts the pad byte.
  EXPECT_EQ(ReadFileText(path),
            std::string("RIFF\x1e\0\0\0TESTabc \x04\0\0\0wxyzdata\x05\0\0\0" "12345\0", 38));
}

TEST(Mmio, FourCCIsPaddedWithSpacesAndKeepsTheCase) {
  EXPECT_EQ(mmioStringToFOURCCA("WAVE", 0), MakeFourCC('W', 'A', 'V', 'E'));
  EXPECT_EQ(mmioStringToFOURCCA("fmt ", 0), MakeFourCC('f', 'm', 't', ' '));
  EXPECT_EQ(mmioStringToFOURCCA("wave", 0), MakeFourCC('w', 'a', 'v', 'e'));  // no case change
  EXPECT_EQ(mmioStringToFOURCCA("wave", MMIO_TOUPPER), MakeFourCC('W', 'A', 'V', 'E'));
  EXPECT_EQ(mmioStringToFOURCCA("", 0), MakeFourCC(' ', ' ', ' ', ' '));
}

// ----------------------------------------------------------------- the POSIX implementation
#ifndef _WIN32

TEST(Mmio, BackslashPathsAndOpenFailures) {
  const auto dir = TestDir();
  ASSERT_EQ(::chdir(dir.c_str()), 0);
  HMMIO h = Create(".\\back.bin");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(mmioClose(h, 0), 0u);
  EXPECT_TRUE(std::filesystem::exists(dir / "back.bin"));

  EXPECT_EQ(Create(dir / "missing" / "x.wav"), nullptr);
  // A FIFO in the file's place with nobody reading it fails at once instead of hanging.
  std::filesystem::remove(dir / "fifo.wav");
  ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
  EXPECT_EQ(Create(dir / "fifo.wav"), nullptr);
  EXPECT_EQ(mmioWrite(nullptr, "x", 1), -1);
}

TEST(Mmio, ALinkOfAnotherUserInASharedStickyFolderIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a link of another user";
  const auto shared = TestDir() / "sticky", victim = TestDir() / "victim", link = shared / "output.wav";
  std::filesystem::create_directories(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  std::ofstream(victim) << "keep";
  std::filesystem::remove(link);
  std::filesystem::create_symlink(victim, link);
  ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
  EXPECT_EQ(Create(link), nullptr);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(std::filesystem::file_size(victim), 4u);
  ASSERT_EQ(::lchown(link.c_str(), 0, 0), 0);  // our own link is followed
  HMMIO h = Create(link);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(mmioClose(h, 0), 0u);

  // Planted between a look at the name and the open: the other user's link appears and
  // goes again as fast as a thread can, while the file is created under the name. Creating
  // truncates, so following the link even once empties the victim.
  std::filesystem::remove(link);
  std::ofstream(victim) << "keep";
  std::atomic<bool> stop{false};
  std::thread planter([&] {
    const auto staged = (shared / "staged").string();
    while (!stop) {
      ::unlink(staged.c_str());
      if (::symlink(victim.c_str(), staged.c_str()) != 0 || ::lchown(staged.c_str(), 65534, 65534) != 0) break;
      ::rename(staged.c_str(), link.c_str());
      ::unlink(link.c_str());
    }
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < until && std::filesystem::file_size(victim) == 4)
    if (HMMIO raced = Create(link)) mmioClose(raced, 0);
  stop = true;
  planter.join();
  EXPECT_EQ(std::filesystem::file_size(victim), 4u);
}

TEST(Mmio, WritesThatWouldOutgrowThirtyTwoBitSizesAreRefused) {
  const auto path = TestDir() / "large.bin";
  HMMIO h = Create(path);
  ASSERT_NE(h, nullptr);
  // A sparse file: only the last bytes before the limit are real.
  ASSERT_EQ(mmioSeek64(h, 0xFFFFFFFFll - 6, 0), 0xFFFFFFFFll - 6);
  EXPECT_EQ(mmioWrite(h, "abcd", 4), 4);
  EXPECT_EQ(mmioWrite(h, "efg", 3), -1);
  EXPECT_EQ(mmioWrite(h, "ef", 2), 2);  // the last byte ends at offset 0xFFFFFFFF
  EXPECT_EQ(mmioWrite(h, "g", 1), -1);
  EXPECT_EQ(mmioClose(h, 0), 0u);
  std::filesystem::remove(path);
}

TEST(Mmio, AnAppendCutShortIsTakenBackWhole) {
  // A file-size limit stands in for a full disk: write(2) stores what fits, then fails.
  const auto path = TestDir() / "full.bin";
  HMMIO h = Create(path);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(mmioWrite(h, "0123456789", 10), 10);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int32_t result = mmioWrite(h, "abcdefgh", 8);  // 6 bytes fit, then EFBIG
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(mmioSeek64(h, 0, 1), 10) << "the position stands where the failed write began";
  EXPECT_EQ(mmioWrite(h, "xy", 2), 2);
  EXPECT_EQ(mmioClose(h, 0), 0u);
  EXPECT_EQ(ReadFileText(path), "0123456789xy");
}

#endif
