#pragma once
// The reader's side of the speed mailbox, shared by korvel-mailbox's commands.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "uSharedMemory.h"

struct TMailboxRecord {
  uint8_t Flag = 0;
  double Speed = 0.0;
  // The same bytes: a NaN published twice is one record, not a change each time.
  friend bool operator==(const TMailboxRecord& A, const TMailboxRecord& B) {
    return A.Flag == B.Flag && std::memcmp(&A.Speed, &B.Speed, sizeof A.Speed) == 0;
  }
};

// The reader's objects, checked as korvel checks them (a foreign or broken object raises
// ESpeedLinkError). The event is opened only by the commands that wait: opening it resets
// it, which would swallow a publish meant for another waiter.
class TMailboxRecordReader {
public:
  TMailboxRecordReader(const std::string& Dir, bool WithEvent)
      : FLock(kSpeedLockName, true, Dir), FSection(kSpeedSectionName, kSpeedRecordSize, Dir) {
    if (WithEvent) FEvent = std::make_unique<TAutomaticEvent>(kSpeedEventName, true, Dir);
  }

  // A consistent copy: the lock is held for the copy only.
  TMailboxRecord Read() {
    uint8_t Bytes[kSpeedRecordSize];
    FLock.Enter();
    FSection.ReadAt(0, Bytes, sizeof Bytes);  // never faults, even on a section someone shortened
    FLock.Leave();
    TMailboxRecord R;
    R.Flag = Bytes[0];
    uint64_t Bits = 0;
    for (int I = 0; I < 8; ++I) Bits |= uint64_t{Bytes[1 + I]} << (8 * I);  // little-endian
    std::memcpy(&R.Speed, &Bits, sizeof R.Speed);
    return R;
  }

  TAutomaticEvent& Event() { return *FEvent; }

private:
  TSynchronize FLock;
  TCommonMemoryStream FSection;
  std::unique_ptr<TAutomaticEvent> FEvent;
};
