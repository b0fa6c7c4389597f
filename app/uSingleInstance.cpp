#include "uSingleInstance.h"

#include "registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace {
const char* const kLockFailed = "二重起動を防ぐためのロックファイルを開けません。";
const char* const kAlreadyRunning =
    "korvel はすでに起動しています。同じユーザーが同時に起動できるのは 1 つだけです。";

// The session's runtime folder when the environment names one by an absolute path.
const char* RuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime == '/' ? runtime : nullptr;
}
}  // namespace

std::string TSingleInstanceLock::DefaultPath() {
  if (const char* runtime = RuntimeFolder()) return std::string(runtime) + "/korvel.lock";
  return (std::filesystem::path(TRegistry::DefaultFilePath()).parent_path() / "korvel.lock").string();
}

namespace {
std::string UserName(uid_t uid) {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  std::string id = "uid " + std::to_string(uid);
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name)
    return id + " (" + found->pw_name + ")";
  return id;
}

// A file of ours whose owner lacks read or write (a narrow umask when an earlier run made
// it) and that is open to nobody else: give the owner access back, as the mailbox does.
bool RepairOwnerAccess(const std::string& path) {
  struct stat st{};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0 && fchmodat(AT_FDCWD, path.c_str(), 0600, AT_SYMLINK_NOFOLLOW) == 0;
}
}  // namespace

TSingleInstanceLock::TSingleInstanceLock(const std::string& path) : FPath(path) {
  auto fail = [&](const std::string& reason) {
    if (FFd >= 0) close(FFd);
    FFd = -1;
    throw std::runtime_error(std::string(kLockFailed) + "\n" + FPath + ": " + reason);
  };
  // The settings folder may not exist before the first start; the runtime folder must.
  if (!RuntimeFolder()) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(FPath).parent_path(), ignored);
  }
  // A leaving holder removes the file while it still holds the lock, so a lock taken on a
  // file that is no longer the one under the name is worth nothing: take it again.
  for (int attempt = 0;; ++attempt) {
    FFd = open(FPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (FFd < 0 && errno == EACCES && RepairOwnerAccess(FPath))
      FFd = open(FPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat st{};
    if (FFd < 0) {
      const int err = errno;
      if (lstat(FPath.c_str(), &st) == 0 && st.st_uid != geteuid())
        fail("belongs to " + UserName(st.st_uid) + ", not to us (" + UserName(geteuid()) + ")");
      fail(std::strerror(err));
    }
    if (fstat(FFd, &st) != 0) fail(std::strerror(errno));
    // Root opens anyone's file: never take, read or write another user's lock.
    if (st.st_uid != geteuid())
      fail("belongs to " + UserName(st.st_uid) + ", not to us (" + UserName(geteuid()) + ")");
    if (!S_ISREG(st.st_mode)) fail("not a regular file");
    // Exactly the owner's read and write, whatever the umask was at its creation.
    if ((st.st_mode & 0777) != 0600 && fchmod(FFd, 0600) != 0) fail(std::strerror(errno));
    if (flock(FFd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) fail(std::strerror(errno));
      char text[32] = {};
      const ssize_t got = pread(FFd, text, sizeof text - 1, 0);
      if (got > 0) FHolder.assign(text, size_t(got));
      while (!FHolder.empty() && (FHolder.back() == '\n' || FHolder.back() == ' ')) FHolder.pop_back();
      if (FHolder.find_first_not_of("0123456789") != std::string::npos) FHolder.clear();
      return;
    }
    struct stat named{};
    if (stat(FPath.c_str(), &named) == 0 && named.st_dev == st.st_dev && named.st_ino == st.st_ino) break;
    close(FFd);
    FFd = -1;
    if (attempt == 10) fail("removed again and again while being locked");
  }
  FHeld = true;
  // Who holds it, for the message a second start shows; not needed for the lock itself.
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(FFd, 0) == 0) [[maybe_unused]] ssize_t n = pwrite(FFd, pid.data(), pid.size(), 0);
}

TSingleInstanceLock::~TSingleInstanceLock() {
  // Removed while still locked, so that no folder keeps a stale file; a start that opened
  // it meanwhile sees that the name is gone and takes a new one.
  if (FHeld) unlink(FPath.c_str());
  if (FFd >= 0) close(FFd);  // releases the lock
}

std::string TSingleInstanceLock::AlreadyRunningText() const {
  std::string text = std::string(kAlreadyRunning) + "\n" + FPath + ": held";
  if (!FHolder.empty()) text += " by process " + FHolder;
  return text;
}
