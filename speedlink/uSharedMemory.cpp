#include "uSharedMemory.h"

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "namedobject.h"

TSpeedSharedMemory* SpeedSharedMemory = nullptr;

namespace {

const char* const kOutOfBounds = "共有メモリを逸脱した書き込み";

// Positions are 32-bit and not clamped; sums that leave the range wrap as two's
// complement instead of being undefined.
int32_t Wrap32(int64_t V) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(V))); }

}  // namespace

// ---------------------------------------------------------------------- TCommonMemoryStream

TCommonMemoryStream::TCommonMemoryStream(const std::string& Name, int32_t Size, const std::string& Directory)
    : FSize(Size) {
  const std::string CannotOpen = "共有メモリ[" + Name + "]を開けません";
  if (Size <= 0) throw ESpeedLinkError(CannotOpen, "section size must be positive");
  TNamedOpen Opened = OpenNamedObject(Directory, Name, TNamedKind::Regular);
  if (Opened.Fd < 0) throw ESpeedLinkError(CannotOpen, Opened.Why);
  FFd = Opened.Fd;

  // A section shorter than the record would fault (SIGBUS) past its end: grow it. A longer
  // one is left alone; only the first Size bytes are ours.
  struct stat St {};
  if (::fstat(FFd, &St) != 0 || (St.st_size < Size && ::ftruncate(FFd, Size) != 0)) {
    const int Err = errno;
    ::close(FFd);
    throw ESpeedLinkError(std::strerror(Err), NamedObjectPath(Directory, Name));
  }
  void* View = ::mmap(nullptr, static_cast<size_t>(Size), PROT_READ | PROT_WRITE, MAP_SHARED, FFd, 0);
  if (View == MAP_FAILED) {
    const int Err = errno;
    ::close(FFd);
    throw ESpeedLinkError(std::strerror(Err), NamedObjectPath(Directory, Name));
  }
  FMemory = static_cast<uint8_t*>(View);
}

TCommonMemoryStream::~TCommonMemoryStream() {
  if (FMemory) ::munmap(FMemory, static_cast<size_t>(FSize));
  if (FFd >= 0) ::close(FFd);
}

int32_t TCommonMemoryStream::Read(void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count < 0) return 0;
  int32_t N = FSize - FPosition;  // both non-negative: no overflow
  if (N <= 0) return 0;
  if (N > Count) N = Count;
  std::memcpy(Buffer, FMemory + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

int32_t TCommonMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count < 0) return 0;
  const int64_t End = int64_t{FPosition} + Count;
  if (End <= 0) return 0;
  if (End > FSize) throw ESharedMemoryOutOfBounds(kOutOfBounds);
  std::memcpy(FMemory + FPosition, Buffer, static_cast<size_t>(Count));
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

TSpeedSharedMemory::TSpeedSharedMemory(const std::string& Directory) {
  FEvent = TInterfaceRef<IAutomaticEvent>(new TAutomaticEvent(kSpeedEventName, true, Directory));
  FLock = TInterfaceRef<ISynchronize>(new TSynchronize(kSpeedLockName, true, Directory));
  FStream = std::make_unique<TCommonMemoryStream>(kSpeedSectionName, kSpeedRecordSize, Directory);
  std::memset(FStream->Memory(), 0, kSpeedRecordSize);
}

TSpeedSharedMemory::~TSpeedSharedMemory() = default;

uint8_t* TSpeedSharedMemory::Memory() const { return FStream->Memory(); }

void TSpeedSharedMemory::SetSpeed(double Speed) {
  FLock->Enter();
  uint8_t* Record = FStream->Memory();
  Record[0] = 1;
  uint64_t Bits;
  std::memcpy(&Bits, &Speed, sizeof Bits);
  for (int I = 0; I < 8; ++I) Record[1 + I] = static_cast<uint8_t>(Bits >> (8 * I));  // low byte first
  FEvent->Signal();
  FLock->Leave();
}
