#include "mmiochunk.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

TMMIOChunk::~TMMIOChunk() { Close(); }

void TMMIOChunk::CreateRiff(const char* FileName, const char* FormType) {
  Close();  // a file this object still holds is finished, not leaked
  FOwnsFile = false;
  FHandle = mmioOpenA(const_cast<char*>(FileName), nullptr, MMIO_CREATE | MMIO_WRITE);
  if (FHandle == nullptr) {
    const std::string reason = MmioOpenFailureText();
    // The file as the system saw it: separators as opened, relative to the current folder.
    std::string path(FileName ? FileName : "");
    for (char& c : path)
      if (c == '\\') c = '/';
    if (path.empty() || path[0] != '/') {
      char cwd[4096];
      if (::getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
    }
    throw EMMIOChunkError(std::string(kCreateFileFailed) + "\n" + path + ": " + reason);
  }
  FOwnsFile = true;
  CreateChunk(FormType, 0);
}

void TMMIOChunk::CreateChunk(const char* Id, uint32_t Size) {
  FChunkInfo = MMCKINFO{};
  FChunkInfo.cksize = Size;
  if (FOwnsFile) {
    FChunkInfo.fccType = mmioStringToFOURCCA(Id, 0);
    mmioCreateChunk(FHandle, &FChunkInfo, MMIO_CREATERIFF);
  } else {
    FChunkInfo.ckid = mmioStringToFOURCCA(Id, 0);
    mmioCreateChunk(FHandle, &FChunkInfo, 0);
  }
  FAscendPending = Size == 0;
}

int32_t TMMIOChunk::Write(const void* Buffer, int32_t Count) {
  return mmioWrite(FHandle, static_cast<const char*>(Buffer), Count);
}

void TMMIOChunk::Ascend() {
  if (FAscendPending && FHandle != nullptr) mmioAscend(FHandle, &FChunkInfo, 0);
  FAscendPending = false;
}

void TMMIOChunk::Close() {
  Ascend();
  if (FOwnsFile && FHandle != nullptr) mmioClose(FHandle, 0);
  FHandle = nullptr;
}

void TCaptureFile::Open(const char* FileName, const void* WaveFormat18) {
  Reset();
  auto riff = std::make_unique<TMMIOChunk>();
  riff->CreateRiff(FileName, "WAVE");
  {
    TMMIOChunk fmt;
    fmt.SetHandle(riff->Handle());
    fmt.CreateChunk("fmt ", 18);
    fmt.Write(WaveFormat18, 18);
  }
  auto data = std::make_unique<TMMIOChunk>();
  data->SetHandle(riff->Handle());
  data->CreateChunk("data", 0);
  RiffChunk = std::move(riff);
  DataChunk = std::move(data);
}

int32_t TCaptureFile::Append(const void* Buffer, int32_t Count) {
  const int32_t written = DataChunk->Write(Buffer, Count);
  // Two 4-byte writes in the header; the data was written first, so the sizes never
  // declare more than the file holds.
  if (written > 0 && mmioUpdateSize(DataChunk->Handle(), &DataChunk->ChunkInfo()) == 0)
    mmioUpdateSize(RiffChunk->Handle(), &RiffChunk->ChunkInfo());
  return written;
}

void TCaptureFile::Reset() {
  DataChunk.reset();
  RiffChunk.reset();
}
