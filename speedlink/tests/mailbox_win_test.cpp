// The mailbox's Windows objects as a player meets them: opened by name with the plain
// Win32 calls, the record read through the player's own view, the access lists checked.
#include "uSharedMemory.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>
#include <vector>

#include "namedobject.h"
#include "child_process.h"
#include "mailbox_contract.h"
#include "winstr.h"

namespace {

std::wstring NameIn(const TTempDir& Dir, const char* Name) { return Utf8ToWide(NamedObjectPath(Dir.Path(), Name)); }

TEST(SpeedMailboxWinTest, APlayerOpeningTheNamesReadsEachPublish) {
  TTempDir Dir;
  TSpeedSharedMemory Mailbox(Dir.Path());
  HANDLE Section = OpenFileMappingW(FILE_MAP_READ, FALSE, NameIn(Dir, kSpeedSectionName).c_str());
  HANDLE Mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, NameIn(Dir, kSpeedLockName).c_str());
  HANDLE Event = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, NameIn(Dir, kSpeedEventName).c_str());
  ASSERT_TRUE(Section && Mutex && Event);
  const auto* View = static_cast<const uint8_t*>(MapViewOfFile(Section, FILE_MAP_READ, 0, 0, kSpeedRecordSize));
  ASSERT_NE(View, nullptr);
  const auto LockFree = [&] {
    bool Got = false;
    std::thread([&] {
      Got = WaitForSingleObject(Mutex, 0) == WAIT_OBJECT_0;
      if (Got) ReleaseMutex(Mutex);
    }).join();
    return Got;
  };
  ExpectEveryPublishReachesThePlayer(
      Mailbox, {[&] { return std::vector<uint8_t>(View, View + 9); },
                [&] { return WaitForSingleObject(Event, 0) == WAIT_OBJECT_0; }, LockFree});
  UnmapViewOfFile(View);
  for (HANDLE H : {Section, Mutex, Event}) CloseHandle(H);
}

// The lock and the event carry a present but null access list (everybody may open them);
// the section has the default one.
TEST(SpeedMailboxWinTest, LockAndEventAreOpenToEveryUser) {
  TTempDir Dir;
  TSpeedSharedMemory Mailbox(Dir.Path());
  for (const char* Name : {kSpeedLockName, kSpeedEventName}) {
    HANDLE H = OpenMutexW(READ_CONTROL, FALSE, NameIn(Dir, Name).c_str());
    if (!H) H = OpenEventW(READ_CONTROL, FALSE, NameIn(Dir, Name).c_str());
    alignas(8) static char Sd[4096];
    DWORD Needed = 0;
    BOOL InList = FALSE, Defaulted = FALSE;
    PACL Dacl = reinterpret_cast<PACL>(1);
    EXPECT_TRUE(H &&
                GetKernelObjectSecurity(H, DACL_SECURITY_INFORMATION, Sd, sizeof Sd, &Needed) &&
                GetSecurityDescriptorDacl(Sd, &InList, &Dacl, &Defaulted) && InList)
        << Name;
    EXPECT_EQ(Dacl, nullptr) << Name;
    if (H) CloseHandle(H);
  }
}

}  // namespace
