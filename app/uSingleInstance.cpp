#include "uSingleInstance.h"

#include "registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

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

TSingleInstanceLock::TSingleInstanceLock(const std::string& path) : FPath(path) {
  auto fail = [&](int err) {
    if (FFd >= 0) close(FFd);
    throw std::runtime_error(std::string(kLockFailed) + "\n" + FPath + ": " + std::strerror(err));
  };
  // The settings folder may not exist before the first start; the runtime folder must.
  if (!RuntimeFolder()) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(FPath).parent_path(), ignored);
  }
  FFd = open(FPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (FFd < 0) fail(errno);
  if (flock(FFd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) fail(errno);
    char text[32] = {};
    const ssize_t got = pread(FFd, text, sizeof text - 1, 0);
    if (got > 0) FHolder.assign(text, size_t(got));
    while (!FHolder.empty() && (FHolder.back() == '\n' || FHolder.back() == ' ')) FHolder.pop_back();
    return;
  }
  FHeld = true;
  // Who holds it, for the message a second start shows; not needed for the lock itself.
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(FFd, 0) == 0) [[maybe_unused]] ssize_t n = pwrite(FFd, pid.data(), pid.size(), 0);
}

TSingleInstanceLock::~TSingleInstanceLock() {
  if (FFd >= 0) close(FFd);  // releases the lock
}

std::string TSingleInstanceLock::AlreadyRunningText() const {
  std::string text = std::string(kAlreadyRunning) + "\n" + FPath + ": held";
  if (!FHolder.empty()) text += " by process " + FHolder;
  return text;
}
