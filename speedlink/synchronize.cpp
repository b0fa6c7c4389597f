#include "synchronize.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "namedobject.h"

namespace {

using TClock = std::chrono::steady_clock;

const char* const kCreationFailed = "作成に失敗しました。";
const char* const kOverOwned = "ミューテックスが解放されずに30回以上超過して所有されました。";
const char* const kNotOwned = "ミューテックスが所有されていない状態で開放されました。";

// Deeper nesting than this on one object means Leave calls are missing.
constexpr int32_t kMaxOwnerCount = 30;

// Longest pause between two attempts at a contended cross-process lock in TryEnter: the
// kernel offers no timed OFD lock, so a timed wait polls, and this bounds how late it
// notices a release.
constexpr auto kMaxBackOff = std::chrono::microseconds(1000);

std::optional<TClock::time_point> DeadlineAfter(uint32_t Milliseconds) {
  if (Milliseconds == kInfinite) return std::nullopt;
  return TClock::now() + std::chrono::milliseconds(Milliseconds);
}

int OfdLock(int Fd, int Cmd, short Type) {
  struct flock Fl {};
  Fl.l_type = Type;
  Fl.l_whence = SEEK_SET;
  Fl.l_start = 0;
  Fl.l_len = 0;  // the whole file, however long
  Fl.l_pid = 0;  // required by the OFD commands
  return ::fcntl(Fd, Cmd, &Fl);
}

}  // namespace

// The in-process half of a lock: a recursive mutex with a visible owner, so that a Leave
// from a thread that does not own it is ignored instead of corrupting the mutex. For a
// named lock it also holds the one descriptor of the lock file: two OFD descriptors in one
// process would exclude each other, unlike two handles of one mutex, so every TSynchronize
// of one name shares this state. The OFD lock is held exactly while Depth > 0.
struct TLockState {
  std::mutex M;
  std::condition_variable Cv;
  std::thread::id Owner;
  int Depth = 0;
  int Fd = -1;

  TLockState() = default;
  explicit TLockState(int AFd) : Fd(AFd) {}
  ~TLockState() {
    if (Fd >= 0) ::close(Fd);
  }

  // Takes the in-process part (recursively). First tells whether this is the outermost
  // entry, which must still take the cross-process part. False on time-out.
  bool AcquireLocal(const std::optional<TClock::time_point>& Deadline, bool& First) {
    std::unique_lock Lk(M);
    const auto Me = std::this_thread::get_id();
    if (Depth > 0 && Owner == Me) {
      ++Depth;
      First = false;
      return true;
    }
    auto Free = [this] { return Depth == 0; };
    if (Deadline) {
      if (!Cv.wait_until(Lk, *Deadline, Free)) return false;
    } else {
      Cv.wait(Lk, Free);
    }
    Owner = Me;
    Depth = 1;
    First = true;
    return true;
  }

  // Gives the in-process part back after the cross-process part could not be taken.
  void AbandonFirst() {
    std::lock_guard Lk(M);
    Depth = 0;
    Owner = {};
    Cv.notify_one();
  }

  // False when the calling thread does not own the lock (nothing is released then).
  bool ReleaseLocal() {
    std::lock_guard Lk(M);
    if (Depth == 0 || Owner != std::this_thread::get_id()) return false;
    if (--Depth == 0) {
      if (Fd >= 0) OfdLock(Fd, F_OFD_SETLK, F_UNLCK);
      Owner = {};
      Cv.notify_one();
    }
    return true;
  }
};

namespace {

// One TLockState per lock file (by device and inode) in this process.
std::shared_ptr<TLockState> SharedLockState(int Fd) {
  static std::mutex RegistryMutex;
  static std::map<std::pair<dev_t, ino_t>, std::weak_ptr<TLockState>> Registry;

  struct stat St {};
  ::fstat(Fd, &St);  // cannot fail on a descriptor OpenNamedObject has just checked
  const auto Key = std::make_pair(St.st_dev, St.st_ino);
  std::lock_guard Lk(RegistryMutex);
  auto It = Registry.find(Key);
  if (It != Registry.end()) {
    if (auto Existing = It->second.lock()) {
      ::close(Fd);
      return Existing;
    }
  }
  auto State = std::make_shared<TLockState>(Fd);
  Registry[Key] = State;
  return State;
}

}  // namespace

// ---------------------------------------------------------------------------- TSynchronize

TSynchronize::TSynchronize() : FState(std::make_shared<TLockState>()) {}

TSynchronize::TSynchronize(const std::string& Name, bool Secure, const std::string& Directory) {
  TNamedOpen Opened = OpenNamedObject(Directory, Name, TNamedKind::Regular);
  if (Opened.Fd < 0) throw ESpeedLinkError(kCreationFailed, Opened.Why);
  FState = SharedLockState(Opened.Fd);
}

TSynchronize::~TSynchronize() = default;

TNativeHandle TSynchronize::Handle() const { return FState->Fd; }

bool TSynchronize::TryEnter(uint32_t Milliseconds) {
  const auto Deadline = DeadlineAfter(Milliseconds);
  bool First = false;
  if (!FState->AcquireLocal(Deadline, First)) return false;
  if (First && FState->Fd >= 0 && !Deadline) {
    while (OfdLock(FState->Fd, F_OFD_SETLKW, F_WRLCK) != 0) {
      if (errno == EINTR) continue;
      FState->AbandonFirst();
      return false;
    }
  } else if (First && FState->Fd >= 0) {
    auto BackOff = std::chrono::microseconds(20);
    for (;;) {
      if (OfdLock(FState->Fd, F_OFD_SETLK, F_WRLCK) == 0) break;
      const int Err = errno;
      if (Err == EINTR) continue;
      const auto Now = TClock::now();
      if ((Err != EAGAIN && Err != EACCES) || (Deadline && Now >= *Deadline)) {
        FState->AbandonFirst();
        return false;
      }
      auto Pause = BackOff;
      if (Deadline) Pause = std::min(Pause, std::chrono::duration_cast<std::chrono::microseconds>(*Deadline - Now));
      std::this_thread::sleep_for(Pause);
      BackOff = std::min(BackOff * 2, kMaxBackOff);
    }
  }
  ++FOwnerCount;
  return true;
}

void TSynchronize::Enter() {
  bool First = false;
  FState->AcquireLocal(std::nullopt, First);
  if (First && FState->Fd >= 0) {
    // A lock whose holder died was dropped by the kernel: obtained like any other.
    while (OfdLock(FState->Fd, F_OFD_SETLKW, F_WRLCK) != 0) {
      const int Err = errno;
      if (Err == EINTR) continue;
      FState->AbandonFirst();
      throw ESpeedLinkError(std::strerror(Err));
    }
  }
  // The lock stays owned when the count check fails, as a caller may still Leave.
  if (++FOwnerCount > kMaxOwnerCount) throw ESpeedLinkError(kOverOwned);
}

void TSynchronize::Leave() {
  FState->ReleaseLocal();  // a release by a non-owner is ignored; the count tells
  if (--FOwnerCount < 0) throw ESpeedLinkError(kNotOwned);
}

// ------------------------------------------------------------------------- TAutomaticEvent

TAutomaticEvent::TAutomaticEvent(const std::string& Name, bool Secure, const std::string& Directory) {
  TNamedOpen Opened = OpenNamedObject(Directory, Name, TNamedKind::Fifo);
  if (Opened.Fd < 0) throw ESpeedLinkError(kCreationFailed, Opened.Why);
  FFd = Opened.Fd;
  Reset();
}

TAutomaticEvent::~TAutomaticEvent() {
  if (FFd >= 0) ::close(FFd);
}

bool TAutomaticEvent::Signal() {
  Reset();
  const char Byte = 1;
  for (;;) {
    const ssize_t N = ::write(FFd, &Byte, 1);
    if (N == 1) return true;
    if (N < 0 && errno == EINTR) continue;
    // A full pipe is an event that is set already.
    return N < 0 && errno == EAGAIN;
  }
}

void TAutomaticEvent::Reset() {
  char Buf[64];
  for (;;) {
    const ssize_t N = ::read(FFd, Buf, sizeof Buf);
    if (N > 0) continue;
    if (N < 0 && errno == EINTR) continue;
    return;  // EAGAIN: empty
  }
}

bool TAutomaticEvent::Wait() { return WaitFor(kInfinite); }

bool TAutomaticEvent::WaitFor(uint32_t Milliseconds) {
  const auto Deadline = DeadlineAfter(Milliseconds);
  for (;;) {
    char Byte;
    const ssize_t N = ::read(FFd, &Byte, 1);
    if (N == 1) return true;
    if (N < 0 && errno == EINTR) continue;
    if (N < 0 && errno != EAGAIN) return false;
    // Empty (or another waiter took the byte first): wait for the next one.
    struct pollfd Pfd {FFd, POLLIN, 0};
    timespec Ts{};
    timespec* Timeout = nullptr;
    if (Deadline) {
      const auto Now = TClock::now();
      if (Now >= *Deadline) return false;
      const auto Left = std::chrono::duration_cast<std::chrono::nanoseconds>(*Deadline - Now).count();
      Ts.tv_sec = static_cast<time_t>(Left / 1000000000);
      Ts.tv_nsec = static_cast<long>(Left % 1000000000);
      Timeout = &Ts;
    }
    const int R = ::ppoll(&Pfd, 1, Timeout, nullptr);
    if (R < 0 && errno != EINTR) return false;
  }
}
