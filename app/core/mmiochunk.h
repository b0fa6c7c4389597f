#pragma once
// TMMIOChunk: one chunk of a RIFF file written through the chunk-writer stand-in. Several
// objects share one open file: the one that opened it (OwnsFile) holds the RIFF chunk
// and closes the file; the others get its Handle copied and create plain sub-chunks at
// the current position. Destroy the sharing objects first, so the RIFF chunk's size is
// fixed last.
//
// A chunk created with declared size 0 is ascended when the object is closed or
// destroyed: its real size (and a pad byte for odd data) is written then. Write errors
// are not reported to the capture: a full disk costs the file, not the measurement.
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "mmio.h"

class EMMIOChunkError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TMMIOChunk {
public:
  TMMIOChunk() = default;
  ~TMMIOChunk();
  TMMIOChunk(const TMMIOChunk&) = delete;
  TMMIOChunk& operator=(const TMMIOChunk&) = delete;

  // Creates (replaces) the file and writes "RIFF", 0, FormType. Raises EMMIOChunkError
  // "ファイルの作成に失敗しました。" when the file cannot be created, with the full path and
  // the system's reason on a second line.
  void CreateRiff(const char* FileName, const char* FormType);
  // Writes a chunk header at the current position: the RIFF header with FormType when
  // this object owns the file, else Id and Size.
  void CreateChunk(const char* Id, uint32_t Size);
  // Bytes written or -1.
  int32_t Write(const void* Buffer, int32_t Count);
  void Ascend();
  void Close();

  HMMIO Handle() const { return FHandle; }
  // Shares a file opened by another object (which must outlive this one).
  void SetHandle(HMMIO Handle) { FHandle = Handle; }
  bool OwnsFile() const { return FOwnsFile; }
  bool AscendPending() const { return FAscendPending; }
  const MMCKINFO& ChunkInfo() const { return FChunkInfo; }

private:
  bool FAscendPending = false;
  HMMIO FHandle = nullptr;
  bool FOwnsFile = false;
  MMCKINFO FChunkInfo{};
};

// The capture file of one capture, as the main window opens it at the start: the RIFF
// form "WAVE", a "fmt " chunk holding the 18-byte format record, and an open "data"
// chunk to which every buffer is appended (sizes kept true after each). Reset() (or destruction) fixes the sizes:
// the data chunk first, then the RIFF chunk, then the file is closed.
struct TCaptureFile {
  std::unique_ptr<TMMIOChunk> RiffChunk;
  std::unique_ptr<TMMIOChunk> DataChunk;

  void Open(const char* FileName, const void* WaveFormat18);
  // Appends to the data chunk, then writes the data and RIFF sizes as they now stand, so
  // the file is a valid WAVE file after every buffer: a program killed mid-capture (the X
  // server gone, SIGKILL, out of memory) leaves all it had written playable. Bytes written
  // or -1, as TMMIOChunk::Write.
  int32_t Append(const void* Buffer, int32_t Count);
  void Reset();
  ~TCaptureFile() { Reset(); }
};

inline constexpr const char* kCaptureFileName = ".\\output.wav";
inline constexpr const char* kCreateFileFailed = "ファイルの作成に失敗しました。";
