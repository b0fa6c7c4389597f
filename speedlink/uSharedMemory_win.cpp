// The speed mailbox on Windows: the section is a paging-file-backed file mapping, the lock
// and the event are the kernel objects of synchronize_win.cpp. The kernel keeps every
// object alive while any process holds a handle, and nobody can remove or replace a name
// meanwhile, so unlike the Linux files nothing needs checking before a publish.
#include "uSharedMemory.h"

#include <cstring>
#include <windows.h>

#include "namedobject.h"
#include "winstr.h"

// ---------------------------------------------------------------------- TCommonMemoryStream

TCommonMemoryStream::TCommonMemoryStream(const std::string& Name, int32_t Size, const std::string& Directory)
    : FSize(Size) {
  const std::string Full = NamedObjectPath(Directory, Name);
  if (Size <= 0) throw ESpeedLinkError(SectionCannotOpenText(Name), "section size must be positive");
  // Backed by the paging file, read/write, maximum size Size (high part 0), default
  // security. An existing section of that name is opened; its size is its creator's.
  FFd = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DWORD(Size), Utf8ToWide(Full).c_str());
  if (FFd == nullptr) throw ESpeedLinkError(SectionCannotOpenText(Name), Full + ": " + SystemErrorText(GetLastError()));
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

// A mapping cannot shrink under its view, so the view itself is safe to use.
void TCommonMemoryStream::ReadAt(int32_t Offset, void* Buffer, int32_t Count) const {
  std::memcpy(Buffer, FMemory + Offset, static_cast<size_t>(Count));
}

bool TCommonMemoryStream::WriteAt(int32_t Offset, const void* Buffer, int32_t Count) {
  std::memcpy(FMemory + Offset, Buffer, static_cast<size_t>(Count));
  return true;
}

// ----------------------------------------------------------------------- TSpeedSharedMemory

TSpeedSharedMemory::TSpeedSharedMemory(const std::string& Directory) : FDirectory(Directory) {
  FEvent = TInterfaceRef<IAutomaticEvent>(new TAutomaticEvent(kSpeedEventName, true, Directory));
  FLock = TInterfaceRef<ISynchronize>(new TSynchronize(kSpeedLockName, true, Directory));
  OpenSection();
}

// Zeroed without the lock, also when the section existed: the player finds flag 0 and
// factor 0.0 until the first publish.
void TSpeedSharedMemory::OpenSection() {
  FStream = std::make_unique<TCommonMemoryStream>(kSpeedSectionName, kSpeedRecordSize, FDirectory);
  std::memset(FStream->Memory(), 0, kSpeedRecordSize);
}

// The kernel keeps every object alive while a handle is open, and no name can be removed
// or replaced meanwhile: nothing to open again before a publish.
void TSpeedSharedMemory::Reconnect() {}
