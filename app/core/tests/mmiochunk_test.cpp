#include "mmiochunk.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <numeric>
#include <vector>

#include "toneanalysis.h"
#include "test_files.h"
#include "test_folder.h"

namespace {

// The capture's header: PCM, 2 channels, 44100 Hz, 176400 B/s, align 4, 16 bits, and the
// format record's extension size 0; the format record is the 18 bytes after "fmt " and
// its size.
std::string CaptureHeader(uint32_t dataBytes) { return WavHeader(dataBytes, {.FmtBytes = 18}); }
const std::string kFormat = CaptureHeader(0).substr(20, 18);

std::filesystem::path WorkDir() {
  static const std::filesystem::path dir = NewTestFolder("capture");
  return dir;
}

}  // namespace

TEST(CaptureFile, TenBuffersGiveTheExactRiffLayout) {
  const auto dir = WorkDir();
  ASSERT_EQ(::chdir(dir.string().c_str()), 0);
  // A longer file of the same name from an earlier run is replaced.
  ASSERT_TRUE(WriteFileText(dir / "output.wav", std::string(400000, 'x')));
  TCaptureFile file;
  file.Open(kCaptureFileName, kFormat.data());
  ASSERT_NE(file.DataChunk, nullptr);
  EXPECT_TRUE(file.RiffChunk->OwnsFile());
  EXPECT_FALSE(file.DataChunk->OwnsFile());
  for (int b = 0; b < 10; ++b) {
    // Buffer b of a counter signal: every frame carries its index in the capture.
    std::vector<uint32_t> frames(kFramesPerBuffer);
    std::iota(frames.begin(), frames.end(), uint32_t(b) * kFramesPerBuffer);
    EXPECT_EQ(file.Append(frames.data(), kBufferBytes), kBufferBytes);
    // After each buffer the file is whole as it stands: a kill now loses nothing written.
    const std::string running = ReadFileText(dir / "output.wav");
    ASSERT_EQ(running.size(), 46u + 32768u * (b + 1));
    EXPECT_EQ(running.substr(0, 46), CaptureHeader(32768u * (b + 1)));
  }
  file.Reset();

  const auto b = ReadFileBytes(dir / "output.wav");
  ASSERT_EQ(b.size(), 327726u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 46), CaptureHeader(327680));
  // The data are the buffers back to back: no gap, no repeat.
  for (uint32_t frame = 0; frame < 10u * kFramesPerBuffer; ++frame)
    ASSERT_EQ(ReadLe32(b, 46 + 4 * size_t(frame)), frame);
}

TEST(CaptureFile, StoppedBeforeTheFirstBufferIsAHeaderOnly) {
  const auto path = WorkDir() / "empty.wav";
  {
    TCaptureFile file;
    file.Open(path.string().c_str(), kFormat.data());
  }  // destruction finishes the file as a stop does
  EXPECT_EQ(ReadFileText(path), CaptureHeader(0));
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
  EXPECT_EQ(ReadFileText(path), std::string("RIFF\x10\0\0\0WAVEdata\x03\0\0\0abc\0", 24));
}

TEST(CaptureFile, UncreatableFileRaisesTheJapaneseMessage) {
  const auto path = WorkDir() / "no-such-folder" / "output.wav";
  TCaptureFile file;
  // The system's words for a missing folder differ per system; never a "success".
  const std::string head = "ファイルの作成に失敗しました。\n" + path.generic_string() + ": ";
  namespace t = ::testing;
  EXPECT_THAT([&] { file.Open(path.string().c_str(), kFormat.data()); },
              t::ThrowsMessage<EMMIOChunkError>(
                  t::AllOf(t::StartsWith(head), t::Ne(head), t::Ne(head + std::strerror(0)))));
  EXPECT_EQ(file.RiffChunk, nullptr);
  EXPECT_EQ(file.DataChunk, nullptr);
}
