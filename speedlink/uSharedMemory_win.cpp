// The speed mailbox on Windows: the section is a paging-file-backed file mapping, the lock
// and the event are the kernel objects of synchronize_win.cpp. The kernel keeps every
// object alive while any process holds a handle, and nobody can remove or replace a name
// meanwhile, so unlike the Linux files nothing needs checking before a publish.
#include "uSharedMemory.h"

#include <cstring>
#include <windows.h>

#include "namedobject.h"
#include "winstr.h"

TSpeedSharedMemory* SpeedSharedMemory = nullptr;

namespace {

const char* const kOutOfBounds = "共有メモリを逸脱した書き込み";

int32_t Wrap32(int64_t V) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(V))); }

std::string CannotOpenText(const std::string& Name) { return "共有メモリ[" + Name + "]を開けません"; }

}  // namespace

// ---------------------------------------------------------------------- TCommonMemoryStream

TCommonMemoryStream::TCommonMemoryStream(const std::string& Name, int32_t Size, const std::string& Directory)
    : FSize(Size) {
  const std::string Full = NamedObjectPath(Directory, Name);
  if (Size <= 0) throw ESpeedLinkError(CannotOpenText(Name), "section size must be positive");
  // Backed by the paging file, read/write, maximum size Size (high part 0), default
  // security. An existing section of that name is opened; its size is its creator's.
  FFd = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DWORD(Size), Utf8ToWide(Full).c_str());
  if (FFd == nullptr) throw ESpeedLinkError(CannotOpenText(Name), Full + ": " + SystemErrorText(GetLastError()));
  void* View = MapViewOfFile(FFd, FILE_MAP_ALL_ACCESS, 0, 0, SIZE_T(Size));
  if (View == nullptr) {
    const DWORD Err = GetLastError();
    CloseHandle(FFd);
    // A section a peer made smaller than Size cannot give a view this long.
    throw ESpeedLinkError(SystemErrorText(Err), Full + ": cannot map");
  }
  FMemory = static_cast<uint8_t*>(View);
}

TCommonMemoryStream::~TCommonMemoryStream() {
  if (FMemory) UnmapViewOfFile(FMemory);
  if (FFd) CloseHandle(FFd);
}

int32_t TCommonMemoryStream::Read(void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count < 0) return 0;
  int32_t N = FSize - FPosition;
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
  WriteAt(FPosition, Buffer, Count);
  FPosition = static_cast<int32_t>(End);
  return Count;
}

// A mapping cannot shrink under its view, so the view itself is safe to use.
void TCommonMemoryStream::ReadAt(int32_t Offset, void* Buffer, int32_t Count) const {
  std::memcpy(Buffer, FMemory + Offset, static_cast<size_t>(Count));
}

bool TCommonMemoryStream::WriteAt(int32_t Offset, const void* Buffer, int32_t Count) {
  std::memcpy(FMemory + Offset, Buffer, static_cast<size_t>(Count));
  return true;
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

TSpeedSharedMemory::TSpeedSharedMemory(const std::string& Directory) : FDirectory(Directory) {
  FEvent = TInterfaceRef<IAutomaticEvent>(new TAutomaticEvent(kSpeedEventName, true, Directory));
  FLock = TInterfaceRef<ISynchronize>(new TSynchronize(kSpeedLockName, true, Directory));
  OpenSection();
}

TSpeedSharedMemory::TSpeedSharedMemory(ISynchronize* Lock, IAutomaticEvent* Event, const std::string& Directory)
    : FLock(Lock), FEvent(Event), FDirectory(Directory), FNamedPeers(false) {
  OpenSection();
}

// Zeroed without the lock, also when the section existed: the player finds flag 0 and
// factor 0.0 until the first publish.
void TSpeedSharedMemory::OpenSection() {
  FStream = std::make_unique<TCommonMemoryStream>(kSpeedSectionName, kSpeedRecordSize, FDirectory);
  std::memset(FStream->Memory(), 0, kSpeedRecordSize);
}

TSpeedSharedMemory::~TSpeedSharedMemory() = default;

uint8_t* TSpeedSharedMemory::Memory() const { return FStream->Memory(); }

std::string TSpeedSharedMemory::TakeNotice() {
  std::string N;
  N.swap(FNotice);
  return N;
}

void TSpeedSharedMemory::SetSpeed(double Speed) {
  uint64_t Bits;
  std::memcpy(&Bits, &Speed, sizeof Bits);
  FLock->Enter();
  uint8_t* Record = FStream->Memory();
  Record[0] = 1;
  for (int I = 0; I < 8; ++I) Record[1 + I] = static_cast<uint8_t>(Bits >> (8 * I));  // low byte first
  FEvent->Signal();
  FLock->Leave();
}
