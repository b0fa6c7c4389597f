// The speed mailbox's code on every platform: the stream's bounds and positions, the
// record and its publish, the notices. Opening the objects by name and keeping them
// valid is each platform's (uSharedMemory.cpp, uSharedMemory_win.cpp).
#include "uSharedMemory.h"

#include <cerrno>
#include <cstring>

#include "namedobject.h"

TSpeedSharedMemory* SpeedSharedMemory = nullptr;

namespace {

const char* const kOutOfBounds = "共有メモリを逸脱した書き込み";

// Positions are 32-bit and not clamped; sums that leave the range wrap as two's
// complement instead of being undefined.
int32_t Wrap32(int64_t V) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(V))); }

}  // namespace

std::string SectionCannotOpenText(const std::string& Name) { return "共有メモリ[" + Name + "]を開けません"; }

// ---------------------------------------------------------------------- TCommonMemoryStream

int32_t TCommonMemoryStream::Read(void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count < 0) return 0;
  int32_t N = FSize - FPosition;  // both non-negative: no overflow
  if (N <= 0) return 0;
  if (N > Count) N = Count;
  ReadAt(FPosition, Buffer, N);
  FPosition += N;
  return N;
}

int32_t TCommonMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count < 0) return 0;
  const int64_t End = int64_t{FPosition} + Count;
  if (End <= 0) return 0;
  if (End > FSize) throw ESharedMemoryOutOfBounds(kOutOfBounds);
  if (!WriteAt(FPosition, Buffer, Count)) throw ESpeedLinkError(std::strerror(errno));
  FPosition = static_cast<int32_t>(End);
  return Count;
}

int32_t TCommonMemoryStream::Seek(int32_t Offset, uint16_t Origin) {
  switch (Origin) {
    case 0: FPosition = Offset; break;
    case 1: FPosition = Wrap32(int64_t{FPosition} + Offset); break;
    case 2: FPosition = Wrap32(int64_t{FSize} + Offset); break;
    default: break;
  }
  return FPosition;
}

// ----------------------------------------------------------------------- TSpeedSharedMemory

TSpeedSharedMemory::TSpeedSharedMemory(ISynchronize* Lock, IAutomaticEvent* Event, const std::string& Directory)
    : FLock(Lock), FEvent(Event), FDirectory(Directory), FNamedPeers(false) {
  OpenSection();
}

TSpeedSharedMemory::~TSpeedSharedMemory() = default;

uint8_t* TSpeedSharedMemory::Memory() const { return FStream->Memory(); }

void TSpeedSharedMemory::AddNotice(const std::string& Text) {
  if (!FNotice.empty()) FNotice += "\n\n";
  FNotice += Text;
  if (OnNotice) OnNotice();
}

std::string TSpeedSharedMemory::TakeNotice() {
  std::string N;
  N.swap(FNotice);
  return N;
}

void TSpeedSharedMemory::SetSpeed(double Speed) {
  Reconnect();
  uint8_t Record[kSpeedRecordSize];
  Record[0] = 1;
  uint64_t Bits;
  std::memcpy(&Bits, &Speed, sizeof Bits);
  for (int I = 0; I < 8; ++I) Record[1 + I] = static_cast<uint8_t>(Bits >> (8 * I));  // low byte first

  FLock->Enter();
  // One write of the whole record: a reader that shortened the section cannot make it
  // fault, and the write grows it back.
  const bool Stored = FStream->WriteAt(0, Record, kSpeedRecordSize);
  const int Err = errno;
  if (Stored) FEvent->Signal();
  FLock->Leave();

  if (Stored) {
    FStoreFailed = false;
  } else if (!FStoreFailed) {
    FStoreFailed = true;
    AddNotice("再生ソフトに速度を伝えられません。\n" + FSectionId.Path + ": " + std::strerror(Err));
  }
}
