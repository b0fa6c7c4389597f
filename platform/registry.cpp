#include "registry.h"
#include "registry_text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using regtext::FoldAscii;
using regtext::NormaliseKey;
using regtext::SameText;

namespace {

const char kUnreadableNotice[] =
    "設定ファイルを読み込めないため、標準の設定で起動しました。設定は保存されません。";
const char kLockedReason[] = "settings file locked by another process";
const char kKeptAsideNotice[] =
    "設定ファイルが壊れていたため、別名で保存し、標準の設定で起動しました。";

bool LessText(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return FoldAscii(x) < FoldAscii(y); });
}

// "key" is a strict descendant of "parent" (both normalised); the root "" is everyone's.
bool IsBelow(const std::string& key, const std::string& parent) {
  if (parent.empty()) return !key.empty();
  return key.size() > parent.size() + 1 && key[parent.size()] == '\\' &&
         SameText(key.substr(0, parent.size()), parent);
}

std::string KeyOrThrow(const std::string& in) {
  std::string out;
  if (!NormaliseKey(in, out)) throw std::invalid_argument("invalid registry key path: " + in);
  return out;
}

void CheckLineText(const std::string& s, const char* what) {
  if (s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw std::invalid_argument(std::string("registry ") + what + " holds a line break or NUL");
}

TRegistry::TKey* FindKey(TRegistry::THive& hive, const std::string& path) {
  for (auto& k : hive)
    if (SameText(k.Path, path)) return &k;
  return nullptr;
}

bool KeyIn(const TRegistry::THive& hive, const std::string& path) {
  if (path.empty()) return true;
  for (const auto& k : hive)
    if (SameText(k.Path, path) || IsBelow(k.Path, path)) return true;
  return false;
}

TRegistry::TKey& FindOrAddKey(TRegistry::THive& hive, const std::string& path) {
  if (auto* k = FindKey(hive, path)) return *k;
  hive.push_back({path, {}});
  return hive.back();
}

bool SetValue(TRegistry::THive& hive, const std::string& key, const std::string& name,
              const TRegValue& v) {
  auto& k = FindOrAddKey(hive, key);
  for (auto& [n, old] : k.Values) {
    if (!SameText(n, name)) continue;
    if (old.Type == v.Type && old.Dword == v.Dword && old.Text == v.Text) return false;
    old = v;
    return true;
  }
  k.Values.emplace_back(name, v);
  return true;
}

std::string Folder(const std::string& path) {
  size_t p = path.rfind('/');
  if (p == std::string::npos) return ".";
  return p == 0 ? "/" : path.substr(0, p);
}

ERegistryWriteError WriteError(const std::string& path, const std::string& reason) {
  return ERegistryWriteError("設定ファイルに書き込めません\n" + path + ": " + reason, path, reason);
}
ERegistryWriteError WriteError(const std::string& path, int err) {
  return WriteError(path, std::strerror(err));
}

// Follows symbolic links to the file they finally name, which need not exist yet, so that
// a link kept by a dotfiles manager stays a link and its target is what changes.
std::string Resolve(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {  // as the kernel's own limit on nested links
    struct stat st{};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    std::string target(size_t(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
    const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
    if (n <= 0) return p;
    target.resize(size_t(n));
    p = target[0] == '/' ? target : Folder(p) + "/" + target;
  }
  return p;
}

std::string UtcStamp() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
  return buf;
}

// mkdir -p; errors show up later when the files are opened.
void MakeFolders(const std::string& dir) {
  for (size_t p = 1; p <= dir.size(); ++p) {
    if (p == dir.size() || dir[p] == '/') ::mkdir(dir.substr(0, p).c_str(), 0700);
  }
}

}  // namespace

// The advisory lock on "<file>.lock". flock() locks belong to the open file description,
// so two TRegistry objects in one process exclude each other as two processes do.
//
// Never blocking for long: a reader tries once (a read needs no lock, see Read); a writer
// tries again every few milliseconds, calling the wait hook between tries, and gives up
// after kLockWait, so another process holding the lock (a stuck editor, a second tool)
// can delay a write but never freeze the caller.
class TRegistry::TLock {
public:
  enum TWait { Try, Wait };
  TLock(const std::string& path, TWait wait, const std::function<void()>& onWait) {
    const std::string name = path + ".lock";
    Fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (Fd < 0 && errno == ENOENT) {  // first use: the folder is missing
      MakeFolders(Folder(path));
      Fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    }
    if (Fd < 0) {
      Err = errno;
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      Err = errno;
      if (Err == EWOULDBLOCK && wait == Wait && std::chrono::steady_clock::now() < deadline) {
        if (onWait) onWait();
        ::usleep(5000);
        continue;
      }
      if (Err == EWOULDBLOCK) Busy = true;
      ::close(Fd);
      Fd = -1;
      return;
    }
  }
  ~TLock() {
    if (Fd >= 0) ::close(Fd);  // closing releases the lock
  }
  bool Held() const { return Fd >= 0; }
  // The reason a writer gives the user when it could not take the lock.
  std::string Reason() const { return Busy ? kLockedReason : std::strerror(Err); }

private:
  int Fd = -1;
  int Err = 0;
  bool Busy = false;
};

std::string TRegistry::HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return home;
  // No usable HOME (a service, `env -i`): the password entry's, never the current folder.
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found &&
      found->pw_dir && *found->pw_dir == '/')
    return found->pw_dir;
  return ".";
}

TRegistry::TRegistry(std::string filePath) : Path(std::move(filePath)) {}

std::string TRegistry::DefaultFilePath() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') {
    base = xdg;
  } else {
    base = HomeFolder() + "/.config";
  }
  return base + "/korvel/registry.reg";
}

TRegistry& TRegistry::CurrentUser() {
  static TRegistry registry(DefaultFilePath());
  return registry;
}

// A notice left by a run that kept the file aside and stopped before it could tell.
void TRegistry::TakeStoredNotice() {
  const std::string name = Target + ".notice";
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return;
  char buf[4096];
  struct stat st{};
  const ssize_t n = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::read(fd, buf, sizeof buf) : -1;
  ::close(fd);
  ::unlink(name.c_str());
  if (n > 0) AddNotice(std::string(buf, size_t(n)));
}

std::string TRegistry::Shown() const {
  return Target == Path ? Path : Path + " -> " + Target;
}

std::string TRegistry::KeepAsideLocked() {
  std::string aside = Target + ".corrupt-" + UtcStamp();
  struct stat st{};
  for (int n = 2; ::lstat(aside.c_str(), &st) == 0; ++n)
    aside = Target + ".corrupt-" + UtcStamp() + "-" + std::to_string(n);
  if (::rename(Target.c_str(), aside.c_str()) != 0) return {};
  CorruptNotKeptAside = false;
  return aside;
}

TRegistry::TLoad TRegistry::LoadLocked(THive& hive, bool locked) {
  hive.clear();
  // Non-blocking, so that a FIFO in the file's place cannot hang the caller before it has
  // said anything; only a regular file is read, and no more of it than kMaxFileSize.
  int fd = ::open(Target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0 && errno == ENOENT) {
    if (locked) TakeStoredNotice();
    return TLoad::Missing;
  }
  std::string text, reason;
  bool regular = false;
  struct stat st{};
  if (fd < 0) {
    reason = std::strerror(errno);
  } else if (::fstat(fd, &st) != 0) {
    reason = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    reason = "not a regular file";
  } else {
    regular = true;
    char buf[65536];
    while (reason.empty()) {
      const size_t room = kMaxFileSize + 1 - text.size();
      ssize_t n = ::read(fd, buf, std::min(sizeof buf, room));
      if (n > 0) {
        text.append(buf, size_t(n));
        if (text.size() > kMaxFileSize)
          reason = "larger than " + std::to_string(kMaxFileSize) + " bytes";
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        reason = std::strerror(errno);
      }
    }
  }
  if (fd >= 0) ::close(fd);
  const bool tooLarge = regular && text.size() > kMaxFileSize;
  if (!reason.empty() && !tooLarge) {
    if (!UnreadableNoticeGiven) {
      UnreadableNoticeGiven = true;
      AddNotice(std::string(kUnreadableNotice) + "\n" + Shown() + ": " + reason);
    }
    return TLoad::Unreadable;
  }
  std::string error;
  if (!tooLarge) {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) return TLoad::Missing;  // blank
    if (Parse(text, hive, error)) return TLoad::Ok;
    hive.clear();
    reason = error;
  }

  // Never write over what the user may want back: keep it under a new name first.
  if (locked) {
    const std::string aside = KeepAsideLocked();
    if (!aside.empty()) {
      AddNotice(std::string(kKeptAsideNotice) + "\n" + aside + ": " + reason);
      return TLoad::Missing;
    }
  }
  if (!CorruptNotKeptAside) {
    CorruptNotKeptAside = true;
    AddNotice("設定ファイルが壊れているため、標準の設定で起動しました。設定は保存されません。\n" + Shown() +
              ": " + reason);
  }
  return TLoad::Corrupt;
}

void TRegistry::StoreLocked(const THive& hive) {
  const std::string text = Format(hive);
  // One fixed name is enough: only the lock holder writes it, and O_TRUNC clears what a
  // writer killed mid-way left behind. It lies beside the link's target, so that the rename
  // replaces the target and a symbolic link to it stays a link.
  const std::string tmp = Target + ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) throw WriteError(tmp, errno);
  size_t done = 0;
  int err = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    done += size_t(n);
  }
  if (!err && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && !err) err = errno;
  if (err) {
    ::unlink(tmp.c_str());
    throw WriteError(tmp, err);
  }
  if (::rename(tmp.c_str(), Target.c_str()) != 0) {
    err = errno;
    ::unlink(tmp.c_str());
    throw WriteError(Target, err);
  }
  // The rename itself is durable only once the folder is synced.
  int dfd = ::open(Folder(Target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

// Where the file's links lead, or empty (with the reason in Refused) when they lead out of
// the settings folder to something that is not a regular file of this user: nothing is
// then read there, and nothing (lock, temporary or corrupt copies) is made beside it.
bool TRegistry::FindTarget() {
  Target = Resolve(Path);
  Refused.clear();
  if (Target == Path || Folder(Target) == Folder(Path)) return true;
  struct stat st{};
  if (::lstat(Target.c_str(), &st) == 0) {
    if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) return true;
    Refused = "a link to " + Target + ", which is not a regular file of this user";
  } else if (::stat(Folder(Target).c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()) {
    return true;  // a file still to be made, in a folder of this user
  } else {
    Refused = "a link to " + Target + ", outside a folder of this user";
  }
  if (!RefusedNoticeGiven) {
    RefusedNoticeGiven = true;
    AddNotice(std::string(kUnreadableNotice) + "\n" + Path + ": " + Refused);
  }
  return false;
}

// Every change replaces the file by a rename, so a read without the lock still sees a
// whole file, the old or the new. The lock is only tried, never waited for: when it is
// free, a corrupt file may be kept aside as before; when it is not, the file is read all
// the same and anything corrupt waits for the next write.
template <class F>
auto TRegistry::Read(F&& f) {
  THive hive;
  if (FindTarget()) {
    TLock lock(Target, TLock::Try, nullptr);
    LoadLocked(hive, lock.Held());
  }
  return f(const_cast<const THive&>(hive));
}

template <class F>
void TRegistry::Modify(F&& f) {
  if (!FindTarget()) throw WriteError(Path, Refused);
  TLock lock(Target, TLock::Wait, OnLockWait);
  if (!lock.Held()) throw WriteError(Target + ".lock", lock.Reason());
  THive hive;
  const TLoad state = LoadLocked(hive, true);
  if (state == TLoad::Unreadable || state == TLoad::Corrupt)
    throw WriteError(Target, "設定ファイルを読み込めないため、書き込みを中止しました");
  if (f(hive)) StoreLocked(hive);
}

std::string TRegistry::KeepAside() {
  if (!FindTarget()) return {};
  TLock lock(Target, TLock::Wait, OnLockWait);
  if (!lock.Held()) return {};
  const std::string aside = KeepAsideLocked();
  // The program stops after this; the next start, which finds no file, says why from here.
  if (!aside.empty()) {
    const int fd = ::open((Target + ".notice").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      const std::string text = kKeptAsideNotice + ("\n" + aside);
      [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());  // best effort
      ::close(fd);
    }
  }
  return aside;
}

bool TRegistry::CreateKey(const std::string& key) {
  const std::string k = KeyOrThrow(key);
  if (KeyExists(k)) return true;
  try {
    Modify([&](THive& hive) {
      if (KeyIn(hive, k)) return false;
      hive.push_back({k, {}});
      return true;
    });
  } catch (const ERegistryWriteError&) {
    return false;
  }
  return true;
}

bool TRegistry::KeyExists(const std::string& key) {
  const std::string k = KeyOrThrow(key);
  return Read([&](const THive& hive) { return KeyIn(hive, k); });
}

std::optional<TRegValue> TRegistry::ReadValue(const std::string& key, const std::string& name) {
  const std::string k = KeyOrThrow(key);
  return Read([&](const THive& hive) -> std::optional<TRegValue> {
    for (const auto& kk : hive) {
      if (!SameText(kk.Path, k)) continue;
      for (const auto& [n, v] : kk.Values)
        if (SameText(n, name)) return v;
    }
    return std::nullopt;
  });
}

void TRegistry::WriteDword(const std::string& key, const std::string& name, uint32_t value) {
  const std::string k = KeyOrThrow(key);
  CheckLineText(name, "value name");
  TRegValue v;
  v.Type = TRegType::Dword;
  v.Dword = value;
  Modify([&](THive& hive) { return SetValue(hive, k, name, v); });
}

void TRegistry::WriteString(const std::string& key, const std::string& name,
                            const std::string& value) {
  const std::string k = KeyOrThrow(key);
  CheckLineText(name, "value name");
  CheckLineText(value, "text");
  TRegValue v;
  v.Type = TRegType::Sz;
  v.Text = value;
  Modify([&](THive& hive) { return SetValue(hive, k, name, v); });
}

std::vector<std::string> TRegistry::EnumSubkeys(const std::string& key) {
  const std::string k = KeyOrThrow(key);
  return Read([&](const THive& hive) {
    std::vector<std::string> names;
    for (const auto& kk : hive) {
      if (!IsBelow(kk.Path, k)) continue;
      const size_t from = k.empty() ? 0 : k.size() + 1;
      const std::string child = kk.Path.substr(from, kk.Path.find('\\', from) - from);
      if (std::none_of(names.begin(), names.end(),
                       [&](const std::string& n) { return SameText(n, child); }))
        names.push_back(child);
    }
    std::sort(names.begin(), names.end(), LessText);
    return names;
  });
}

bool TRegistry::DeleteKey(const std::string& key) {
  const std::string k = KeyOrThrow(key);
  if (k.empty()) return false;
  bool deleted = false;
  Modify([&](THive& hive) {
    for (const auto& kk : hive)
      if (IsBelow(kk.Path, k)) return false;  // still has subkeys
    auto it = std::find_if(hive.begin(), hive.end(),
                           [&](const TKey& kk) { return SameText(kk.Path, k); });
    if (it == hive.end()) return false;
    hive.erase(it);
    deleted = true;
    return true;
  });
  return deleted;
}

