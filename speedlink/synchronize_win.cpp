// The named lock and event as Windows kernel objects (CreateMutexW, CreateEventW), and the
// unnamed lock as an unnamed mutex.
//
// Secure objects carry a security descriptor with a null access list: every user of the
// machine may open them, as the player of another account must. The section of the
// mailbox (uSharedMemory_win.cpp) keeps the default security.
#include "synchronize.h"

#include <windows.h>

#include "namedobject.h"
#include "winstr.h"

namespace {

const char* const kCreationFailed = "作成に失敗しました。";
const char* const kOverOwned = "ミューテックスが解放されずに30回以上超過して所有されました。";
const char* const kNotOwned = "ミューテックスが所有されていない状態で開放されました。";

constexpr int32_t kMaxOwnerCount = 30;

// The count checks apply on the NT family only (platform identifier above 1), asked of the
// system at every check as the design does.
bool IsNtFamily() {
  OSVERSIONINFOA Info{};
  Info.dwOSVersionInfoSize = sizeof Info;
  return GetVersionExA(&Info) && Info.dwPlatformId > 1;
}

// Security attributes for Create*: a fresh zero-filled descriptor with a present but null
// access list and an inheritable handle when Secure, nothing otherwise. The descriptor
// lives exactly as long as the creation call needs it.
class TCreationSecurity {
public:
  explicit TCreationSecurity(bool Secure) {
    if (!Secure) return;
    FDescriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (FDescriptor == nullptr || !InitializeSecurityDescriptor(FDescriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(FDescriptor, TRUE, nullptr, FALSE))
      return;  // the creation then runs with default security and may still succeed
    FAttributes.nLength = sizeof FAttributes;
    FAttributes.lpSecurityDescriptor = FDescriptor;
    FAttributes.bInheritHandle = TRUE;
    FUsed = true;
  }
  ~TCreationSecurity() {
    if (FDescriptor) LocalFree(FDescriptor);
  }
  TCreationSecurity(const TCreationSecurity&) = delete;
  TCreationSecurity& operator=(const TCreationSecurity&) = delete;
  SECURITY_ATTRIBUTES* Get() { return FUsed ? &FAttributes : nullptr; }

private:
  HLOCAL FDescriptor = nullptr;
  SECURITY_ATTRIBUTES FAttributes{};
  bool FUsed = false;
};

[[noreturn]] void CreationFailed(const std::string& Name) {
  throw ESpeedLinkError(kCreationFailed, Name + ": " + SystemErrorText(GetLastError()));
}

}  // namespace

// The mutex handle; every TSynchronize has its own, as every handle of a kernel mutex is
// one more way to the same object.
struct TLockState {
  HANDLE Mutex = nullptr;
  ~TLockState() {
    if (Mutex) CloseHandle(Mutex);
  }
};

// ---------------------------------------------------------------------------- TSynchronize

TSynchronize::TSynchronize() : FState(std::make_shared<TLockState>()) {
  FState->Mutex = CreateMutexW(nullptr, FALSE, nullptr);  // a failure shows at the first Enter
}

TSynchronize::TSynchronize(const std::string& Name, bool Secure, const std::string& Directory)
    : FState(std::make_shared<TLockState>()) {
  const std::string Full = NamedObjectPath(Directory, Name);
  TCreationSecurity Security(Secure);
  FState->Mutex = CreateMutexW(Security.Get(), FALSE, Utf8ToWide(Full).c_str());
  if (FState->Mutex == nullptr) CreationFailed(Full);
}

TSynchronize::~TSynchronize() = default;

TNativeHandle TSynchronize::Handle() const { return FState->Mutex; }

// A mutex whose owner ended without releasing it (WAIT_ABANDONED) now belongs to the
// caller: reported as obtained, so the caller also releases it. Reporting false would
// leave it owned with nobody to let go, and the player locked out for good.
bool TSynchronize::TryEnter(uint32_t Milliseconds) {
  const DWORD R = WaitForSingleObject(FState->Mutex, Milliseconds);
  if (R != WAIT_OBJECT_0 && R != WAIT_ABANDONED) return false;
  ++FOwnerCount;
  return true;
}

void TSynchronize::Enter() {
  const DWORD R = WaitForSingleObject(FState->Mutex, INFINITE);
  if (R != WAIT_OBJECT_0 && R != WAIT_ABANDONED) throw ESpeedLinkError(SystemErrorText(GetLastError()));
  // The mutex stays owned when the count check fails, as a caller may still Leave.
  if (++FOwnerCount > kMaxOwnerCount && IsNtFamily()) throw ESpeedLinkError(kOverOwned);
}

void TSynchronize::Leave() {
  ReleaseMutex(FState->Mutex);  // a release by a non-owner fails harmlessly; the count tells
  if (--FOwnerCount < 0 && IsNtFamily()) throw ESpeedLinkError(kNotOwned);
}

// ------------------------------------------------------------------------- TAutomaticEvent

TAutomaticEvent::TAutomaticEvent(const std::string& Name, bool Secure, const std::string& Directory) {
  const std::string Full = NamedObjectPath(Directory, Name);
  TCreationSecurity Security(Secure);
  // Auto-reset and set at creation, then reset at once: an event that existed keeps the
  // kind its creator gave it and is not set after construction either way.
  FFd = CreateEventW(Security.Get(), FALSE, TRUE, Utf8ToWide(Full).c_str());
  if (FFd == nullptr) CreationFailed(Full);
  Reset();
}

TAutomaticEvent::~TAutomaticEvent() {
  if (FFd) CloseHandle(FFd);
}

bool TAutomaticEvent::Signal() {
  Reset();
  return SetEvent(FFd) != 0;
}

void TAutomaticEvent::Reset() { ResetEvent(FFd); }

bool TAutomaticEvent::Wait() { return WaitFor(kInfinite); }

// The wait of an auto-reset event consumes the signal already; the reset after it keeps
// a manual-reset event made by a peer from staying set.
bool TAutomaticEvent::WaitFor(uint32_t Milliseconds) {
  if (WaitForSingleObject(FFd, Milliseconds) != WAIT_OBJECT_0) return false;
  Reset();
  return true;
}
