#include "uSharedMemory.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "testsupport.h"

namespace {

using TBytes = std::vector<uint8_t>;

TBytes RecordOf(const TSpeedSharedMemory& Mailbox) {
  return TBytes(Mailbox.Memory(), Mailbox.Memory() + kSpeedRecordSize);
}

TBytes FileBytes(const std::string& Path) {
  TBytes B(64);
  const int Fd = ::open(Path.c_str(), O_RDONLY);
  const ssize_t N = ::read(Fd, B.data(), B.size());
  ::close(Fd);
  B.resize(N < 0 ? 0 : static_cast<size_t>(N));
  return B;
}

TEST(SpeedMailboxTest, PublishWritesFlagAndLittleEndianDouble) {
  TTempDir Dir;
  TSpeedSharedMemory Mailbox(Dir.Path());
  EXPECT_EQ(RecordOf(Mailbox), TBytes(9, 0));

  Mailbox.SetSpeed(1.0);
  EXPECT_EQ(RecordOf(Mailbox), (TBytes{0x01, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  Mailbox.SetSpeed(3.0);
  EXPECT_EQ(RecordOf(Mailbox), (TBytes{0x01, 0, 0, 0, 0, 0, 0, 0x08, 0x40}));
  const float Factor = 1.1f;  // the window holds the factor as a float
  Mailbox.SetSpeed(Factor);
  EXPECT_EQ(RecordOf(Mailbox), (TBytes{0x01, 0, 0, 0, 0xA0, 0x99, 0x99, 0xF1, 0x3F}));
  // The bytes are in the file every other process maps, not only in our view.
  EXPECT_EQ(FileBytes(Dir.File(kSpeedSectionName)), RecordOf(Mailbox));
}

TEST(SpeedMailboxTest, StartZeroesARecordThatExistedAndGrowsAShortSection) {
  TTempDir Dir;
  {
    TSpeedSharedMemory Earlier(Dir.Path());
    Earlier.SetSpeed(2.5);
  }
  TSpeedSharedMemory Mailbox(Dir.Path());
  EXPECT_EQ(RecordOf(Mailbox), TBytes(9, 0));
  EXPECT_EQ(FileBytes(Dir.File(kSpeedSectionName)), TBytes(9, 0));

  TTempDir Short;
  const int Fd = ::open(Short.File(kSpeedSectionName).c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_EQ(::write(Fd, "\x07\x07\x07", 3), 3);
  ::close(Fd);
  TSpeedSharedMemory Grown(Short.Path());
  Grown.SetSpeed(1.0);  // would fault past the end of a 3-byte file
  EXPECT_EQ(FileBytes(Short.File(kSpeedSectionName)).size(), 9u);
  EXPECT_EQ(RecordOf(Grown)[8], 0x3F);
}

TEST(SpeedMailboxTest, EveryPublishSetsTheEventOnceAndLeavesTheLockFree) {
  TTempDir Dir;
  TSpeedSharedMemory Mailbox(Dir.Path());
  TAutomaticEvent Reader(kSpeedEventName, true, Dir.Path());
  TSynchronize ReaderLock(kSpeedLockName, true, Dir.Path());
  EXPECT_FALSE(Reader.WaitFor(0));
  for (int I = 0; I < 3; ++I) {
    Mailbox.SetSpeed(1.5);  // the same value again still publishes
    EXPECT_TRUE(Reader.WaitFor(0)) << "publish " << I;
    EXPECT_FALSE(Reader.WaitFor(0)) << "publish " << I;
  }
  // From another thread: on this one a lock still held by SetSpeed would be re-entered.
  bool Got = false;
  std::thread([&] {
    Got = ReaderLock.TryEnter(0);
    if (Got) ReaderLock.Leave();
  }).join();
  EXPECT_TRUE(Got) << "SetSpeed left the lock held";
}

TEST(SpeedMailboxTest, CreationErrorsNameTheSection) {
  TTempDir Dir;
  ::mkdir(Dir.File(kSpeedSectionName).c_str(), 0700);
  try {
    TSpeedSharedMemory Mailbox(Dir.Path());
    ADD_FAILURE() << "accepted a directory as the section";
  } catch (const ESpeedLinkError& E) {
    EXPECT_EQ(std::string(E.what()), std::string("共有メモリ[") + kSpeedSectionName + "]を開けません");
  }
  ::rmdir(Dir.File(kSpeedSectionName).c_str());
  const int Fd = ::open(Dir.File(kSpeedSectionName).c_str(), O_CREAT | O_WRONLY, 0600);
  ::fchmod(Fd, 0666);
  ::close(Fd);
  EXPECT_THROW(TSpeedSharedMemory Mailbox(Dir.Path()), ESpeedLinkError);
}

// ---------------------------------------------------------------------------- the stream

class MemoryStreamTest : public ::testing::Test {
protected:
  TTempDir Dir;
  TCommonMemoryStream Stream{"section", 9, Dir.Path()};
  std::array<uint8_t, 20> Buf{};
};

TEST_F(MemoryStreamTest, ReadStopsAtTheEnd) {
  const uint8_t Data[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::memcpy(Stream.Memory(), Data, 9);
  EXPECT_EQ(Stream.Read(Buf.data(), 20), 9);
  EXPECT_EQ(Stream.Position(), 9);
  EXPECT_EQ(0, std::memcmp(Buf.data(), Data, 9));
  EXPECT_EQ(Stream.Read(Buf.data(), 20), 0);
  EXPECT_EQ(Stream.Seek(-1, 2), 8);
  Buf[0] = 0;
  EXPECT_EQ(Stream.Read(Buf.data(), 1), 1);
  EXPECT_EQ(Buf[0], 9);
  EXPECT_EQ(Stream.Seek(-20, 1), -11);  // no clamping
  EXPECT_EQ(Stream.Read(Buf.data(), 1), 0);
  EXPECT_EQ(Stream.Seek(3, 0), 3);
  EXPECT_EQ(Stream.Read(Buf.data(), -1), 0);
  EXPECT_EQ(Stream.Seek(100, 0), 100);
  EXPECT_EQ(Stream.Read(Buf.data(), 1), 0);
  EXPECT_EQ(Stream.Seek(5, 7), 100) << "an unknown origin leaves the position";
}

TEST_F(MemoryStreamTest, WriteRefusesToPassTheEndAndWritesNothingThen) {
  const uint8_t Data[9] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
  EXPECT_EQ(Stream.Write(Data, 0), 0);
  EXPECT_EQ(Stream.Write(Data, 9), 9);
  EXPECT_EQ(Stream.Position(), 9);
  EXPECT_EQ(0, std::memcmp(Stream.Memory(), Data, 9));
  try {
    Stream.Write(Data, 1);
    ADD_FAILURE() << "wrote past the end";
  } catch (const ESharedMemoryOutOfBounds& E) {
    EXPECT_STREQ(E.what(), "共有メモリを逸脱した書き込み");
  }
  EXPECT_EQ(Stream.Position(), 9);
  Stream.Seek(5, 0);
  EXPECT_THROW(Stream.Write(Data, 5), ESharedMemoryOutOfBounds);
  EXPECT_EQ(Stream.Memory()[5], 4) << "a refused write changes nothing";
  EXPECT_EQ(Stream.Write(Data, -1), 0);
  Stream.Seek(-2, 0);
  EXPECT_EQ(Stream.Write(Data, 1), 0);
  // Far positions must not wrap around into an accepted write.
  Stream.Seek(0x7FFFFFF0, 0);
  EXPECT_THROW(Stream.Write(Data, 0x20), ESharedMemoryOutOfBounds);
  EXPECT_EQ(Stream.Seek(0x20, 1), static_cast<int32_t>(0x80000010u));
}

}  // namespace
