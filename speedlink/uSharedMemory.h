#pragma once
// The speed mailbox: a 9-byte record in a named shared section, written under the named
// lock and announced by the named auto-reset event. This program only writes it; the
// player reads it. docs/speed-mailbox.md describes the reader's side.
//
// Record: byte 0 = new-value flag (0 after this program starts, 1 after every publish);
// bytes 1..8 = the speed factor, an IEEE 754 double, little-endian, unaligned.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

#include "speedipc.h"
#include "synchronize.h"

inline constexpr const char* kSpeedSectionName = "{27A5202C-14D9-4AB2-B94F-EBA8C281B542}";
inline constexpr const char* kSpeedLockName = "{6EB880ED-0365-4AA7-B6CE-5DE6681AFCD7}";
inline constexpr const char* kSpeedEventName = "{36187C43-8604-4EC5-89CE-75C5220B89AB}";
inline constexpr int32_t kSpeedRecordSize = 9;

// A stream over a named shared section: the file Directory/Name, at least Size bytes
// (grown when shorter, and its blocks reserved), mapped shared. Owns the mapping and the
// descriptor.
class TCommonMemoryStream {
public:
  // Raises ESpeedLinkError("共有メモリ[Name]を開けません") when the section cannot be
  // created, opened or reserved (a full /dev/shm) or is not ours, and
  // ESpeedLinkError(system message) when it cannot be mapped; Detail() names the path and
  // the reason.
  TCommonMemoryStream(const std::string& Name, int32_t Size, const std::string& Directory = kSharedDirectory);
  ~TCommonMemoryStream();
  TCommonMemoryStream(const TCommonMemoryStream&) = delete;
  TCommonMemoryStream& operator=(const TCommonMemoryStream&) = delete;

  // Copies up to Count bytes from Position on; returns how many (0 when Position or Count
  // is negative or Position is at or past the end).
  int32_t Read(void* Buffer, int32_t Count);
  // Copies Count bytes to Position; 0 (nothing written) when Position or Count is negative
  // or both are 0. A write that would pass the end raises ESharedMemoryOutOfBounds and
  // writes nothing; one the file system cannot store raises ESpeedLinkError(system message).
  int32_t Write(const void* Buffer, int32_t Count);
  // Origin 0: from the start, 1: from Position, 2: from the end. No clamping; an unknown
  // origin leaves Position as it is. Returns Position.
  int32_t Seek(int32_t Offset, uint16_t Origin);

  // Count bytes at Offset, through the descriptor: never faults, whatever another process
  // does to the file's size. ReadAt fills what the file no longer holds with 0; WriteAt
  // grows the file as needed and is false (errno set) when the bytes could not be stored.
  void ReadAt(int32_t Offset, void* Buffer, int32_t Count) const;
  bool WriteAt(int32_t Offset, const void* Buffer, int32_t Count);

  // The mapped view, valid only while the file keeps its size: a reader that shortens it
  // makes accesses past the new end fault. The link itself goes through ReadAt/WriteAt.
  uint8_t* Memory() const { return FMemory; }
  TNativeHandle Handle() const { return FFd; }
  int32_t Size() const { return FSize; }
  int32_t Position() const { return FPosition; }

private:
  uint8_t* FMemory = nullptr;
  TNativeHandle FFd = kNoNativeHandle;
  int32_t FSize = 0;
  int32_t FPosition = 0;
};

class TSpeedSharedMemory {
public:
  // Creates or opens the event, then the lock, then the section, and zeroes the record
  // (without the lock, also when the section existed): the player sees flag 0 and factor
  // 0.0 until the first publish. Errors as the three objects raise them.
  explicit TSpeedSharedMemory(const std::string& Directory = kSharedDirectory);
  // Publishes through the given lock and event (for tests that watch the order of the
  // steps); only the section is opened by name, and only it is checked before a publish.
  TSpeedSharedMemory(ISynchronize* Lock, IAutomaticEvent* Event, const std::string& Directory);
  ~TSpeedSharedMemory();
  TSpeedSharedMemory(const TSpeedSharedMemory&) = delete;
  TSpeedSharedMemory& operator=(const TSpeedSharedMemory&) = delete;

  // The mapped record (see TCommonMemoryStream::Memory for its limits).
  uint8_t* Memory() const;

  // Publishes Speed: lock, flag 1 and factor, signal, unlock. The event is set while the
  // lock is still held, after the record is complete. An error of Enter propagates before
  // anything is written; allocates nothing unless something below goes wrong.
  //
  // Before that it checks that the three names still lead to the objects it holds (same
  // device and inode): a cleaner may have removed them, and a player started since then
  // has made new ones that would never hear from us. Any that differ are opened or created
  // again, with the same checks, and the user is told (TakeNotice). When that fails, or
  // the record cannot be stored (a shortened section on a full /dev/shm), the publish goes
  // to what is held or is dropped, the user is told once, and it is tried again next time.
  void SetSpeed(double Speed);

  // The pending message for the user about the link (objects opened again, a publish that
  // could not be made), first line the fixed text, then the reason; empty when none. Each
  // message is handed out once.
  std::string TakeNotice();
  // Called (inside SetSpeed, on its thread) whenever a new notice is pending; the receiver
  // should show it later, not from inside the call.
  std::function<void()> OnNotice;

private:
  struct TIdentity {
    std::string Path;
    dev_t Dev = 0;
    ino_t Ino = 0;
  };
  void OpenSection();
  static TIdentity Identify(std::string Path, int Fd);
  static bool StillNamed(const TIdentity& Id);
  void Reconnect();
  void AddNotice(const std::string& Text);

  TInterfaceRef<ISynchronize> FLock;
  TInterfaceRef<IAutomaticEvent> FEvent;
  std::unique_ptr<TCommonMemoryStream> FStream;
  std::string FDirectory;
  bool FNamedPeers = true;  // lock and event opened by name, so checked as well
  TIdentity FEventId, FLockId, FSectionId;
  bool FReconnectFailed = false;
  bool FStoreFailed = false;
  std::string FNotice;
};

// The program's one mailbox, created first at start-up (before the settings and the
// window) and destroyed at exit.
extern TSpeedSharedMemory* SpeedSharedMemory;
