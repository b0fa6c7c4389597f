// The mailbox's Windows objects as a player meets them: opened by name with the plain
// Win32 calls, the record read through the player's own view, the access lists checked.
#include "uSharedMemory.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "namedobject.h"
#include "child_process.h"
#include "winstr.h"

namespace {

std::wstring NameIn(const TTempDir& Dir, const char* Name) { return Utf8ToWide(NamedObjectPath(Dir.Path(), Name)); }

TEST(SpeedMailboxWinTest, APlayerOpeningTheNamesReadsEachPublishUnderTheLock) {
  TTempDir Dir;
  TSpeedSharedMemory Mailbox(Dir.Path());
  HANDLE Section = OpenFileMappingW(FILE_MAP_READ, FALSE, NameIn(Dir, kSpeedSectionName).c_str());
  HANDLE Mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, NameIn(Dir, kSpeedLockName).c_str());
  HANDLE Event = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, NameIn(Dir, kSpeedEventName).c_str());
  ASSERT_TRUE(Section && Mutex && Event);
  const auto* View = static_cast<const uint8_t*>(MapViewOfFile(Section, FILE_MAP_READ, 0, 0, kSpeedRecordSize));
  ASSERT_NE(View, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(View, View + 9), std::vector<uint8_t>(9, 0));
  EXPECT_EQ(WaitForSingleObject(Event, 0), DWORD(WAIT_TIMEOUT)) << "set after construction";

  for (int I = 0; I < 2; ++I) {
    Mailbox.SetSpeed(1.1f);  // the same value twice still publishes twice
    EXPECT_EQ(WaitForSingleObject(Event, 0), WAIT_OBJECT_0) << I;
    EXPECT_EQ(WaitForSingleObject(Event, 0), DWORD(WAIT_TIMEOUT)) << "auto-reset " << I;
    ASSERT_EQ(WaitForSingleObject(Mutex, 0), WAIT_OBJECT_0) << "SetSpeed left the lock held";
    EXPECT_EQ(std::vector<uint8_t>(View, View + 9), (std::vector<uint8_t>{1, 0, 0, 0, 0xA0, 0x99, 0x99, 0xF1, 0x3F}));
    ReleaseMutex(Mutex);
  }
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

TEST(SpeedMailboxWinTest, OwnerCountRulesHoldOnTheNtFamily) {
  TSynchronize Lock;
  for (int I = 0; I < 30; ++I) Lock.Enter();
  EXPECT_THROW(Lock.Enter(), ESpeedLinkError);
  for (int I = 0; I < 31; ++I) Lock.Leave();
  EXPECT_EQ(Lock.OwnerCount(), 0);
  EXPECT_THROW(Lock.Leave(), ESpeedLinkError);
}

}  // namespace
