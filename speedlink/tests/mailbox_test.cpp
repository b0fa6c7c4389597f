#include "uSharedMemory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "child_process.h"
#include "link_checks.h"
#include "mailbox_contract.h"
#include "test_files.h"

namespace {

using TBytes = std::vector<uint8_t>;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// The records of 1.0 and 3.0 as published: the flag, then the factor as a little-endian double.
const TBytes kOne{0x01, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
const TBytes kThree{0x01, 0, 0, 0, 0, 0, 0, 0x08, 0x40};

TBytes RecordOf(const TSpeedSharedMemory& Mailbox) {
  return TBytes(Mailbox.Memory(), Mailbox.Memory() + kSpeedRecordSize);
}

// A mailbox of the test's own, in a private folder.
class OwnMailboxTest : public ::testing::Test {
protected:
  TTempDir Dir;
  TSpeedSharedMemory Mailbox{Dir.Path()};
};

TEST_F(OwnMailboxTest, PublishWritesFlagAndLittleEndianDouble) {
  Mailbox.SetSpeed(1.0);
  EXPECT_EQ(RecordOf(Mailbox), kOne);
  Mailbox.SetSpeed(3.0);
  EXPECT_EQ(RecordOf(Mailbox), kThree);
}

// The player maps the file, not our view.
TEST_F(OwnMailboxTest, EveryPublishReachesThePlayer) {
  TAutomaticEvent Event(kSpeedEventName, true, Dir.Path());
  TSynchronize Lock(kSpeedLockName, true, Dir.Path());
  ExpectEveryPublishReachesThePlayer(
      Mailbox, {[&] { return ReadFileBytes(Dir.File(kSpeedSectionName)); },
                [&] { return Event.WaitFor(0); }, [&] { return OtherThreadGets(Lock); }});
}

TEST(SpeedMailboxTest, StartZeroesARecordThatExistedAndGrowsAShortSection) {
  TTempDir Dir;
  {
    TSpeedSharedMemory Earlier(Dir.Path());
    Earlier.SetSpeed(2.5);
  }
  TSpeedSharedMemory Mailbox(Dir.Path());
  EXPECT_EQ(RecordOf(Mailbox), TBytes(9, 0));
  EXPECT_EQ(ReadFileBytes(Dir.File(kSpeedSectionName)), TBytes(9, 0));

  TTempDir Short;
  ASSERT_TRUE(WriteFileText(Short.File(kSpeedSectionName), "\x07\x07\x07"));
  ::chmod(Short.File(kSpeedSectionName).c_str(), 0600);
  TSpeedSharedMemory Grown(Short.Path());
  Grown.SetSpeed(1.0);  // would fault past the end of a 3-byte file
  EXPECT_EQ(ReadFileBytes(Short.File(kSpeedSectionName)).size(), 9u);
  EXPECT_EQ(RecordOf(Grown)[8], 0x3F);
}

TEST(SpeedMailboxTest, CreationErrorsNameTheSection) {
  TTempDir Dir;
  ::mkdir(Dir.File(kSpeedSectionName).c_str(), 0700);
  EXPECT_EQ(ErrorOf([&] { TSpeedSharedMemory Mailbox(Dir.Path()); }).What,
            std::string("共有メモリ[") + kSpeedSectionName + "]を開けません");
  ::rmdir(Dir.File(kSpeedSectionName).c_str());
  WriteFileText(Dir.File(kSpeedSectionName), "");
  ::chmod(Dir.File(kSpeedSectionName).c_str(), 0660);  // group-writable is refused as well
  EXPECT_THROW(TSpeedSharedMemory Mailbox(Dir.Path()), ESpeedLinkError);
}

TEST_F(OwnMailboxTest, ASectionShortenedByAReaderNeitherFaultsNorStaysShort) {
  TCommonMemoryStream Reader(kSpeedSectionName, kSpeedRecordSize, Dir.Path());
  ASSERT_EQ(::truncate(Dir.File(kSpeedSectionName).c_str(), 0), 0);
  uint8_t Bytes[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
  EXPECT_EQ(Reader.Read(Bytes, 9), 9) << "a read through the mapping would fault here";
  EXPECT_EQ(TBytes(Bytes, Bytes + 9), TBytes(9, 0));
  Mailbox.SetSpeed(1.0);  // a store through the mapping would fault here
  EXPECT_EQ(ReadFileBytes(Dir.File(kSpeedSectionName)), kOne);
  EXPECT_EQ(Mailbox.TakeNotice(), "");
}

TEST_F(OwnMailboxTest, NamesThatNoLongerLeadToTheHeldObjectsAreOpenedAgainAndTheUserToldOnce) {
  int Calls = 0;
  Mailbox.OnNotice = [&] { ++Calls; };
  Mailbox.SetSpeed(1.0);
  EXPECT_EQ(Calls, 0);
  for (const char* Name : {kSpeedSectionName, kSpeedLockName, kSpeedEventName})
    ASSERT_EQ(::unlink(Dir.File(Name).c_str()), 0);
  {
    // A player started after the removal makes the objects anew and waits on them.
    TAutomaticEvent Event(kSpeedEventName, true, Dir.Path());
    TSynchronize Lock(kSpeedLockName, true, Dir.Path());
    TCommonMemoryStream Section(kSpeedSectionName, kSpeedRecordSize, Dir.Path());
    Mailbox.SetSpeed(3.0);
    EXPECT_TRUE(Event.WaitFor(0)) << "the publish went to the removed event";
    TBytes Bytes(9);
    Section.ReadAt(0, Bytes.data(), 9);
    EXPECT_EQ(Bytes, kThree);
  }
  EXPECT_EQ(Calls, 1);
  const std::string Notice = Mailbox.TakeNotice();
  EXPECT_NE(Notice.find("開き直しました"), std::string::npos) << Notice;
  EXPECT_NE(Notice.find(Dir.File(kSpeedLockName)), std::string::npos) << Notice;
  Mailbox.SetSpeed(3.0);
  EXPECT_EQ(Mailbox.TakeNotice(), "") << "told once";

  // A name that cannot be opened again: the user is told once, and the next publish that
  // finds it good again reconnects.
  ASSERT_EQ(::unlink(Dir.File(kSpeedSectionName).c_str()), 0);
  ASSERT_EQ(::mkdir(Dir.File(kSpeedSectionName).c_str(), 0700), 0);
  Mailbox.SetSpeed(1.0);
  Mailbox.SetSpeed(1.0);
  EXPECT_EQ(Calls, 2);
  EXPECT_NE(Mailbox.TakeNotice().find(Dir.File(kSpeedSectionName)), std::string::npos);
  ::rmdir(Dir.File(kSpeedSectionName).c_str());
  Mailbox.SetSpeed(1.0);
  EXPECT_EQ(ReadFileBytes(Dir.File(kSpeedSectionName)), kOne);
}

// Stands for the named lock and event at once: records the order of the steps and what the
// section holds when the event is set.
struct TStepLog final : ISynchronize, IAutomaticEvent {
  std::vector<std::string> Steps;
  int Depth = 0;
  std::string SectionPath;

  int32_t QueryInterface(const TInterfaceID&, void**) override { return kQueryNoInterface; }
  uint32_t AddRef() override { return 1; }
  uint32_t Release() override { return 1; }
  bool TryEnter(uint32_t) override { Enter(); return true; }
  void Enter() override { ++Depth; Steps.push_back("Enter"); }
  void Leave() override { --Depth; Steps.push_back("Leave"); }
  bool Signal() override {
    Steps.push_back(std::string("Signal") + (Depth > 0 ? " locked" : " unlocked") +
                    (ReadFileBytes(SectionPath) == kThree ? " complete" : " incomplete"));
    return true;
  }
  void Reset() override {}
  bool Wait() override { return false; }
  bool WaitFor(uint32_t) override { return false; }
};

TEST(SpeedMailboxTest, TheEventIsSetUnderTheLockAfterTheRecordIsComplete) {
  TTempDir Dir;
  TStepLog Log;
  Log.SectionPath = Dir.File(kSpeedSectionName);
  TSpeedSharedMemory Mailbox(&Log, &Log, Dir.Path());
  Mailbox.SetSpeed(3.0);
  EXPECT_EQ(Log.Steps, (std::vector<std::string>{"Enter", "Signal locked complete", "Leave"}));
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
  EXPECT_THAT([&] { Stream.Write(Data, 1); },
              ThrowsMessage<ESharedMemoryOutOfBounds>(StrEq("共有メモリを逸脱した書き込み")));
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
