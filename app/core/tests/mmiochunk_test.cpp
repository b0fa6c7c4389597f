#include "mmiochunk.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "toneanalysis.h"
#include "test_files.h"
#include "test_folder.h"

namespace {

// The capture's format record: PCM, 2 channels, 44100 Hz, 176400 B/s, align 4, 16 bits.
const unsigned char kFormat[18] = {0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10,
                                   0xB1, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x00};

std::filesystem::path WorkDir() {
  static const std::filesystem::path dir = NewTestFolder("capture");
  return dir;
}

// Buffer b of a counter signal: every frame carries its index in the capture.
std::vector<unsigned char> CounterBuffer(int b) {
  std::vector<unsigned char> buf(kBufferBytes);
  for (int p = 0; p < kFramesPerBuffer; ++p) {
    const uint32_t frame = uint32_t(b) * kFramesPerBuffer + uint32_t(p);
    std::memcpy(&buf[4 * size_t(p)], &frame, 4);
  }
  return buf;
}

}  // namespace

TEST(CaptureFile, TenBuffersGiveTheExactRiffLayout) {
  const auto dir = WorkDir();
  ASSERT_EQ(::chdir(dir.string().c_str()), 0);
  {
    // A longer file of the same name from an earlier run is replaced.
    std::ofstream old(dir / "output.wav", std::ios::binary);
    old << std::string(400000, 'x');
  }
  TCaptureFile file;
  file.Open(kCaptureFileName, kFormat);
  ASSERT_NE(file.DataChunk, nullptr);
  EXPECT_TRUE(file.RiffChunk->OwnsFile());
  EXPECT_FALSE(file.DataChunk->OwnsFile());
  for (int b = 0; b < 10; ++b) {
    const auto buf = CounterBuffer(b);
    EXPECT_EQ(file.Append(buf.data(), kBufferBytes), kBufferBytes);
    // After each buffer the file is whole as it stands: a kill now loses nothing written.
    const auto running = ReadFileBytes(dir / "output.wav");
    ASSERT_EQ(running.size(), 46u + 32768u * (b + 1));
    EXPECT_EQ(ReadLe32(running, 4), running.size() - 8);
    EXPECT_EQ(ReadLe32(running, 42), running.size() - 46);
  }
  file.Reset();

  const auto b = ReadFileBytes(dir / "output.wav");
  ASSERT_EQ(b.size(), 327726u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
  EXPECT_EQ(ReadLe32(b, 4), 327718u);
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(ReadLe32(b, 16), 18u);
  EXPECT_TRUE(std::equal(b.begin() + 20, b.begin() + 38, kFormat));
  EXPECT_EQ(std::string(b.begin() + 38, b.begin() + 42), "data");
  EXPECT_EQ(ReadLe32(b, 42), 327680u);
  // The data are the buffers back to back: no gap, no repeat.
  for (uint32_t frame = 0; frame < 10u * kFramesPerBuffer; ++frame)
    ASSERT_EQ(ReadLe32(b, 46 + 4 * size_t(frame)), frame);
}

TEST(CaptureFile, StoppedBeforeTheFirstBufferIsAHeaderOnly) {
  const auto path = WorkDir() / "empty.wav";
  {
    TCaptureFile file;
    file.Open(path.string().c_str(), kFormat);
  }  // destruction finishes the file as a stop does
  const auto b = ReadFileBytes(path);
  ASSERT_EQ(b.size(), 46u);
  EXPECT_EQ(ReadLe32(b, 4), 38u);
  EXPECT_EQ(ReadLe32(b, 42), 0u);
}

TEST(CaptureFile, OddDataGetsAPadByteAndSharingObjectsNeverCloseTheFile) {
  const auto path = WorkDir() / "odd.wav";
  TMMIOChunk riff;
  riff.CreateRiff(path.string().c_str(), "WAVE");
  EXPECT_TRUE(riff.AscendPending());
  {
    TMMIOChunk data;
    data.SetHandle(riff.Handle());
    data.CreateChunk("data", 0);
    data.Write("abc", 3);
  }  // ascends the data chunk, leaves the file open
  EXPECT_NE(riff.Handle(), nullptr);
  riff.Close();
  riff.Close();  // a second close releases nothing
  EXPECT_EQ(riff.Handle(), nullptr);
  const auto b = ReadFileBytes(path);
  ASSERT_EQ(b.size(), 24u);
  EXPECT_EQ(ReadLe32(b, 16), 3u);
  EXPECT_EQ(b[23], 0);
  EXPECT_EQ(ReadLe32(b, 4), 16u);
}

TEST(CaptureFile, UncreatableFileRaisesTheJapaneseMessage) {
  TCaptureFile file;
  try {
    file.Open((WorkDir() / "no-such-folder" / "output.wav").string().c_str(), kFormat);
    FAIL() << "no error";
  } catch (const EMMIOChunkError& e) {
    // The system's words for a missing folder differ per system; never a "success".
    const std::string head = "ファイルの作成に失敗しました。\n" +
                             (WorkDir() / "no-such-folder" / "output.wav").generic_string() + ": ";
    const std::string what = e.what();
    EXPECT_EQ(what.substr(0, head.size()), head);
    EXPECT_GT(what.size(), head.size());
    EXPECT_NE(what.substr(head.size()), std::strerror(0));
  }
  EXPECT_EQ(file.RiffChunk, nullptr);
  EXPECT_EQ(file.DataChunk, nullptr);
}
