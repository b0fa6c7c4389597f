// The speed mailbox on Linux: files in the shared directory opened with the named-object
// checks, the section read and written through its descriptor, and every name checked
// again before a publish (a cleaner may remove or replace the files).
#include "uSharedMemory.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "namedobject.h"

// ---------------------------------------------------------------------- TCommonMemoryStream

TCommonMemoryStream::TCommonMemoryStream(const std::string& Name, int32_t Size, const std::string& Directory)
    : FSize(Size) {
  const std::string CannotOpen = SectionCannotOpenText(Name);
  if (Size <= 0) throw ESpeedLinkError(CannotOpen, "section size must be positive");
  TNamedOpen Opened = OpenNamedObject(Directory, Name, TNamedKind::Regular);
  if (Opened.Fd < 0) throw ESpeedLinkError(CannotOpen, Opened.Why);
  FFd = Opened.Fd;

  // The bytes are reserved for real, not only made part of the file: a section whose pages
  // the tmpfs cannot supply (a full /dev/shm) would fault (SIGBUS) at the first access
  // through the mapping. A longer section is left alone; only the first Size bytes are ours.
  if (const int Err = ::posix_fallocate(FFd, 0, Size); Err != 0) {
    ::close(FFd);
    throw ESpeedLinkError(CannotOpen, NamedObjectPath(Directory, Name) + ": cannot reserve " + std::to_string(Size) +
                                          " bytes: " + std::strerror(Err));
  }
  void* View = ::mmap(nullptr, static_cast<size_t>(Size), PROT_READ | PROT_WRITE, MAP_SHARED, FFd, 0);
  if (View == MAP_FAILED) {
    const int Err = errno;
    ::close(FFd);
    throw ESpeedLinkError(std::strerror(Err), NamedObjectPath(Directory, Name) + ": cannot map");
  }
  FMemory = static_cast<uint8_t*>(View);
}

TCommonMemoryStream::~TCommonMemoryStream() {
  if (FMemory) ::munmap(FMemory, static_cast<size_t>(FSize));
  if (FFd >= 0) ::close(FFd);
}

// Through the descriptor, not the mapping: another process may shorten the file at any
// moment, and an access through the mapping past the new end would fault.
void TCommonMemoryStream::ReadAt(int32_t Offset, void* Buffer, int32_t Count) const {
  auto* Out = static_cast<uint8_t*>(Buffer);
  ssize_t Got = 0;
  while (Got < Count) {
    const ssize_t N = ::pread(FFd, Out + Got, static_cast<size_t>(Count - Got), Offset + Got);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) break;
    Got += N;
  }
  // What the file no longer holds reads as it would after growing back: zero.
  std::memset(Out + Got, 0, static_cast<size_t>(Count - Got));
}

bool TCommonMemoryStream::WriteAt(int32_t Offset, const void* Buffer, int32_t Count) {
  const auto* In = static_cast<const uint8_t*>(Buffer);
  ssize_t Done = 0;
  while (Done < Count) {
    const ssize_t N = ::pwrite(FFd, In + Done, static_cast<size_t>(Count - Done), Offset + Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) {
      if (N == 0) errno = ENOSPC;
      return false;
    }
    Done += N;
  }
  return true;
}

// ----------------------------------------------------------------------- TSpeedSharedMemory

TSpeedSharedMemory::TSpeedSharedMemory(const std::string& Directory) : FDirectory(Directory) {
  auto* Event = new TAutomaticEvent(kSpeedEventName, true, Directory);
  FEvent = TInterfaceRef<IAutomaticEvent>(Event);
  FEventId = Identify(NamedObjectPath(Directory, kSpeedEventName), Event->Handle());
  auto* Lock = new TSynchronize(kSpeedLockName, true, Directory);
  FLock = TInterfaceRef<ISynchronize>(Lock);
  FLockId = Identify(NamedObjectPath(Directory, kSpeedLockName), Lock->Handle());
  OpenSection();
}

void TSpeedSharedMemory::OpenSection() {
  FStream = std::make_unique<TCommonMemoryStream>(kSpeedSectionName, kSpeedRecordSize, FDirectory);
  FSectionId = Identify(NamedObjectPath(FDirectory, kSpeedSectionName), FStream->Handle());
  const uint8_t Zero[kSpeedRecordSize] = {};
  if (!FStream->WriteAt(0, Zero, kSpeedRecordSize))
    throw ESpeedLinkError(SectionCannotOpenText(kSpeedSectionName),
                          FSectionId.Path + ": cannot write: " + std::strerror(errno));
}

TSpeedSharedMemory::TIdentity TSpeedSharedMemory::Identify(std::string Path, int Fd) {
  struct stat St {};
  ::fstat(Fd, &St);  // cannot fail on a descriptor OpenNamedObject has just checked
  return {std::move(Path), St.st_dev, St.st_ino};
}

bool TSpeedSharedMemory::StillNamed(const TIdentity& Id) {
  struct stat St {};
  return ::lstat(Id.Path.c_str(), &St) == 0 && St.st_dev == Id.Dev && St.st_ino == Id.Ino;
}

void TSpeedSharedMemory::Reconnect() {
  const bool EventMoved = FNamedPeers && !StillNamed(FEventId);
  const bool LockMoved = FNamedPeers && !StillNamed(FLockId);
  const bool SectionMoved = !StillNamed(FSectionId);
  if (!EventMoved && !LockMoved && !SectionMoved) return;
  // All or nothing: what could be opened is dropped again when a later one fails, so the
  // next attempt starts from the same state.
  try {
    std::string Paths;
    TInterfaceRef<IAutomaticEvent> Event = FEvent;
    TIdentity EventId = FEventId;
    if (EventMoved) {
      auto* E = new TAutomaticEvent(kSpeedEventName, true, FDirectory);
      Event = TInterfaceRef<IAutomaticEvent>(E);
      EventId = Identify(FEventId.Path, E->Handle());
      Paths += "\n" + EventId.Path;
    }
    TInterfaceRef<ISynchronize> Lock = FLock;
    TIdentity LockId = FLockId;
    if (LockMoved) {
      auto* L = new TSynchronize(kSpeedLockName, true, FDirectory);
      Lock = TInterfaceRef<ISynchronize>(L);
      LockId = Identify(FLockId.Path, L->Handle());
      Paths += "\n" + LockId.Path;
    }
    std::unique_ptr<TCommonMemoryStream> Stream;
    TIdentity SectionId = FSectionId;
    if (SectionMoved) {
      Stream = std::make_unique<TCommonMemoryStream>(kSpeedSectionName, kSpeedRecordSize, FDirectory);
      SectionId = Identify(FSectionId.Path, Stream->Handle());
      Paths += "\n" + SectionId.Path;
    }
    FEvent = std::move(Event);
    FEventId = std::move(EventId);
    FLock = std::move(Lock);
    FLockId = std::move(LockId);
    if (Stream) FStream = std::move(Stream);
    FSectionId = std::move(SectionId);
    FReconnectFailed = false;
    AddNotice("再生ソフトとの速度の受け渡しに使うファイルが削除されたか置き換えられたため、開き直しました。"
              "再生ソフトが速度を受け取らない場合は再生ソフトを起動し直してください。" + Paths);
  } catch (const ESpeedLinkError& E) {
    if (FReconnectFailed) return;
    FReconnectFailed = true;
    AddNotice("再生ソフトとの速度の受け渡しに使うファイルを開き直せません。速度は再生ソフトに届きません。\n" +
              (E.Detail().empty() ? std::string(E.what()) : E.Detail()));
  }
}
