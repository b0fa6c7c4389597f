#include "registry.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <string_view>
#include <unordered_map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kHive[] = "HKEY_CURRENT_USER";
const char kUnreadableNotice[] =
    "設定ファイルを読み込めないため、標準の設定で起動しました。設定は保存されません。";
const char kKeptAsideNotice[] =
    "設定ファイルが壊れていたため、別名で保存し、標準の設定で起動しました。";

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

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

// Splits on '\', dropping one run of separators at each end; returns false on an empty
// component in the middle ("a\\b").
bool NormaliseKey(const std::string& in, std::string& out) {
  size_t b = 0, e = in.size();
  while (b < e && in[b] == '\\') ++b;
  while (e > b && in[e - 1] == '\\') --e;
  out = in.substr(b, e - b);
  if (out.find("\\\\") != std::string::npos) return false;
  for (char c : out)
    if (c == '\n' || c == '\r' || c == '\0') return false;
  return true;
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

std::string Quote(const std::string& s) {
  std::string r = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') r += '\\';
    r += c;
  }
  return r + '"';
}

// Reads a quoted string starting at s[i] == '"'; i ends after the closing quote.
bool Unquote(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  out.clear();
  for (++i; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      ++i;
      return true;
    }
    if (c == '\\') {
      if (++i >= s.size() || (s[i] != '\\' && s[i] != '"')) return false;
      c = s[i];
    }
    out += c;
  }
  return false;
}

std::string_view TrimView(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string Trim(const std::string& s) { return std::string(TrimView(s)); }

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
class TRegistry::TLock {
public:
  explicit TLock(const std::string& path) {
    const std::string name = path + ".lock";
    Fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (Fd < 0 && errno == ENOENT) {  // first use: the folder is missing
      MakeFolders(Folder(path));
      Fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    }
    if (Fd < 0) {
      Err = errno;
      return;
    }
    while (::flock(Fd, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      Err = errno;
      ::close(Fd);
      Fd = -1;
      return;
    }
  }
  ~TLock() {
    if (Fd >= 0) ::close(Fd);  // closing releases the lock
  }
  bool Held() const { return Fd >= 0; }
  int Error() const { return Err; }

private:
  int Fd = -1;
  int Err = 0;
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

void TRegistry::AddNotice(const std::string& text) {
  if (!Notice.empty()) Notice += "\n\n";
  Notice += text;
  if (OnNotice) OnNotice();
}

std::string TRegistry::TakeNotice() {
  std::string n;
  n.swap(Notice);
  return n;
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

template <class F>
auto TRegistry::Read(F&& f) {
  Target = Resolve(Path);
  TLock lock(Target);
  THive hive;
  LoadLocked(hive, lock.Held());
  return f(const_cast<const THive&>(hive));
}

template <class F>
void TRegistry::Modify(F&& f) {
  Target = Resolve(Path);
  TLock lock(Target);
  if (!lock.Held()) throw WriteError(Target + ".lock", lock.Error());
  THive hive;
  const TLoad state = LoadLocked(hive, true);
  if (state == TLoad::Unreadable || state == TLoad::Corrupt)
    throw WriteError(Target, "設定ファイルを読み込めないため、書き込みを中止しました");
  if (f(hive)) StoreLocked(hive);
}

std::string TRegistry::KeepAside() {
  Target = Resolve(Path);
  TLock lock(Target);
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

bool TRegistry::Parse(const std::string& input, THive& hive, std::string& error) {
  hive.clear();
  std::string_view text = input;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  // Physical lines, then logical ones: a hex list may continue over lines ending in '\'.
  // Continuations are appended in place, so a long list costs its length, not its square.
  std::vector<std::string> lines;
  {
    size_t p = 0;
    bool continuing = false;
    while (p <= text.size()) {
      size_t e = text.find('\n', p);
      if (e == std::string_view::npos) e = text.size();
      std::string_view line = text.substr(p, e - p);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      p = e + 1;
      const std::string_view t = TrimView(line);
      if (continuing) {
        lines.back().append(t);
      } else {
        lines.emplace_back(line);
      }
      // A line continues only after a value whose data is hex; what follows is hex data.
      continuing = !t.empty() && t.back() == '\\' &&
                   (continuing || ((t.front() == '"' || t.front() == '@') &&
                                   t.find("=hex") != std::string_view::npos));
      if (continuing) {
        std::string& l = lines.back();
        l.erase(l.find_last_not_of(" \t") + 1);
        l.pop_back();
        l.erase(l.find_last_not_of(" \t") + 1);
      }
    }
  }

  // Keys and values by folded name, so that each line costs the same however many came
  // before it.
  std::unordered_map<std::string, size_t> keyIndex;
  std::unordered_map<std::string, size_t> valueIndex;  // folded "key\0name"
  keyIndex.reserve(lines.size() / 2);  // no rehash on the way for the usual layout
  valueIndex.reserve(lines.size());
  auto fold = [](const std::string& s) {
    std::string f = s;
    for (char& c : f) c = FoldAscii(c);
    return f;
  };
  auto keyAt = [&](const std::string& path) -> size_t {
    auto [it, added] = keyIndex.try_emplace(fold(path), hive.size());
    if (added) hive.push_back({path, {}});
    return it->second;
  };
  auto setValue = [&](size_t key, const std::string& name, TRegValue&& v) {
    TKey& k = hive[key];
    auto [it, added] = valueIndex.try_emplace(fold(k.Path) + '\0' + fold(name), k.Values.size());
    if (added)
      k.Values.emplace_back(name, std::move(v));
    else
      k.Values[it->second].second = std::move(v);
  };
  size_t current = SIZE_MAX;

  bool header = false;
  size_t lineNo = 0;
  for (const std::string& raw : lines) {
    ++lineNo;
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == ';') continue;
    auto fail = [&](const char* why) {
      error = "line " + std::to_string(lineNo) + ": " + why;
      hive.clear();
      return false;
    };
    if (!header) {
      if (line != "REGEDIT4") return fail("the file does not start with REGEDIT4");
      header = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') return fail("unterminated key header");
      const std::string inner = line.substr(1, line.size() - 2);
      const size_t hl = sizeof kHive - 1;
      if (!SameText(inner.substr(0, hl), kHive) || (inner.size() > hl && inner[hl] != '\\'))
        return fail("a key outside HKEY_CURRENT_USER");
      std::string path;
      if (!NormaliseKey(inner.substr(hl), path)) return fail("an empty key name");
      current = keyAt(path);
      continue;
    }
    if (current == SIZE_MAX) return fail("a value before the first key");
    std::string name;
    size_t i = 0;
    if (line[0] == '@') {
      i = 1;
    } else if (!Unquote(line, i, name)) {
      return fail("a malformed value name");
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || line[i] != '=') return fail("'=' expected after the value name");
    ++i;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::string data = line.substr(i);
    TRegValue v;
    if (!data.empty() && data[0] == '"') {
      size_t j = 0;
      if (!Unquote(data, j, v.Text) || !Trim(data.substr(j)).empty())
        return fail("a malformed text value");
      v.Type = TRegType::Sz;
    } else if (data.compare(0, 6, "dword:") == 0) {
      const std::string hex = data.substr(6);
      if (hex.empty() || hex.size() > 8 ||
          hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return fail("a malformed dword value");
      v.Type = TRegType::Dword;
      v.Dword = uint32_t(std::strtoul(hex.c_str(), nullptr, 16));
    } else if (data.compare(0, 3, "hex") == 0) {
      size_t colon = data.find(':');
      const std::string kind = data.substr(3, colon == std::string::npos ? 0 : colon - 3);
      if (colon == std::string::npos ||
          !(kind.empty() || (kind.size() >= 3 && kind.front() == '(' && kind.back() == ')' &&
                             kind.find_first_not_of("0123456789abcdefABCDEF", 1) == kind.size() - 1)))
        return fail("a malformed hex value");
      if (data.find_first_not_of("0123456789abcdefABCDEF, \t", colon + 1) != std::string::npos)
        return fail("a malformed hex value");
      v.Type = TRegType::Other;
      v.Text = data;
    } else {
      return fail("a value of an unknown form");
    }
    setValue(current, name, std::move(v));
  }
  if (!header) {
    error = "the file does not start with REGEDIT4";
    return false;
  }
  return true;
}

std::string TRegistry::Format(const THive& hive) {
  std::string out = "REGEDIT4\n\n";
  for (const auto& k : hive) {
    out += "[";
    out += kHive;
    if (!k.Path.empty()) out += "\\" + k.Path;
    out += "]\n";
    for (const auto& [name, v] : k.Values) {
      out += name.empty() ? std::string("@") : Quote(name);
      out += '=';
      switch (v.Type) {
        case TRegType::Sz: out += Quote(v.Text); break;
        case TRegType::Dword: {
          char buf[16];
          std::snprintf(buf, sizeof buf, "dword:%08x", unsigned(v.Dword));
          out += buf;
          break;
        }
        case TRegType::Other: out += v.Text; break;
      }
      out += '\n';
    }
    out += '\n';
  }
  return out;
}
