#pragma once
// The named lock and the named auto-reset event shared with another process, and the
// unnamed lock used between threads of this program.
//
// Windows has them: synchronize_win.cpp creates them with CreateMutex/CreateEvent.
// Linux has no named kernel mutexes or events, so each named object is a file in a shared
// directory (/dev/shm for the program; tests pass a private one):
//   lock  - an empty regular file; holding the lock = holding an exclusive OFD record lock
//           over the whole file. The kernel drops it when its owner dies, which is the
//           "abandoned" case: the next Enter simply obtains it.
//   event - a FIFO that holds at most one byte; set = a byte present. A waiter consumes the
//           byte, so one Signal releases exactly one waiter (auto-reset).
// Files are created with mode 0600 and, whoever created them, must be of the right type,
// owned by our uid and closed to group and others; anything else is refused. Opening
// them for everybody would let another local user forge values, freeze the writer by
// holding the lock, or crash it by truncating the section. Nobody deletes the files: a
// reader still holding the old ones would never see another value.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "speedipc.h"

// The system's handle of a named object (a descriptor on Linux, a HANDLE on Windows) and
// where the program keeps its named objects. On Windows the objects are kernel objects
// (synchronize_win.cpp) and the "directory" is a prefix of their names: empty for the
// program, so the player finds them under the bare GUID names; a test passes a folder of
// its own, which keeps its names apart ('\' cannot stand in a name and is read as '/').
#ifdef _WIN32
using TNativeHandle = void*;
inline constexpr TNativeHandle kNoNativeHandle = nullptr;
inline constexpr const char* kSharedDirectory = "";
#else
using TNativeHandle = int;
inline constexpr TNativeHandle kNoNativeHandle = -1;
inline constexpr const char* kSharedDirectory = "/dev/shm";
#endif

struct TLockState;  // in-process part of a lock, shared by every TSynchronize of one name

class TSynchronize final : public ISynchronize {
public:
  // Unnamed: a recursive lock between threads of this process only.
  TSynchronize();
  // Named: creates or opens Directory/Name. Secure keeps its meaning of "shareable with the
  // peer", which on Linux is owner-only access (see above); the file mode is the same
  // either way. Raises ESpeedLinkError("作成に失敗しました。") when the object cannot be
  // created or opened, or is not ours.
  TSynchronize(const std::string& Name, bool Secure, const std::string& Directory = kSharedDirectory);
  ~TSynchronize();
  TSynchronize(const TSynchronize&) = delete;
  TSynchronize& operator=(const TSynchronize&) = delete;

  int32_t QueryInterface(const TInterfaceID& Iid, void** Obj) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  bool TryEnter(uint32_t Milliseconds) override;
  void Enter() override;
  void Leave() override;

  // Enter and successful TryEnter calls minus Leave calls on this object, by any thread:
  // a plausibility check, not a per-thread depth.
  int32_t OwnerCount() const { return FOwnerCount.load(); }
  // The lock file's descriptor (-1 when unnamed), to compare its identity with the name's;
  // the mutex's handle on Windows.
  TNativeHandle Handle() const;

private:
  std::atomic<uint32_t> FRefCount{0};
  std::atomic<int32_t> FOwnerCount{0};
  std::shared_ptr<TLockState> FState;
};

class TAutomaticEvent final : public IAutomaticEvent {
public:
  // Creates or opens the event Directory/Name and resets it, so it is not set after
  // construction even when it was before. Errors as TSynchronize's named constructor.
  TAutomaticEvent(const std::string& Name, bool Secure, const std::string& Directory = kSharedDirectory);
  ~TAutomaticEvent();
  TAutomaticEvent(const TAutomaticEvent&) = delete;
  TAutomaticEvent& operator=(const TAutomaticEvent&) = delete;

  int32_t QueryInterface(const TInterfaceID& Iid, void** Obj) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  // Reset, then set; true when the event is set afterwards.
  bool Signal() override;
  void Reset() override;
  // Waits until the event is set and consumes it; false only when waiting failed.
  bool Wait() override;
  // As Wait, giving up after Milliseconds (0: just test).
  bool WaitFor(uint32_t Milliseconds) override;

  // The descriptor, for callers that multiplex the event with other input (poll for POLLIN,
  // then WaitFor(0) to consume).
  TNativeHandle Handle() const { return FFd; }

private:
  std::atomic<uint32_t> FRefCount{0};
  TNativeHandle FFd = kNoNativeHandle;
};
