#pragma once
// Stand-in for the HKEY_CURRENT_USER hive, kept as a UTF-8 REGEDIT4 text file:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Trevane\Korvel]
//   "viSpeed"=dword:0000001e
//   "vbRecordToFile"="0"
//
// Keys and value names compare without regard to ASCII case, as in the hive; the spelling
// first used is kept. A key with no values is a header with nothing under it, so an empty
// key survives. Parents of a key are implied by its path and need no header of their own.
// Values of types the program does not write (hex:, hex(n):) are kept verbatim.
//
// Every operation re-reads the file, so what one process writes the next read of another
// sees. A change is a read-modify-write under an advisory lock (flock on "<file>.lock"),
// written to a temporary file in the same folder, fsynced and renamed over the file, then
// the folder is fsynced: a kill at any moment leaves either the old or the new file, never a
// torn one, and two processes never lose each other's updates. A read therefore needs no
// lock and never waits for one; a change waits for it at most kLockWait, calling
// OnLockWait meanwhile, then fails with the reason "settings file locked by another
// process".
//
// A file that does not parse, or is larger than kMaxFileSize, is never written over: it is
// renamed aside to "<file>.corrupt-<UTC time>" and the store carries on empty; a file that
// cannot be read, or is no regular file (a FIFO, a device, a folder), reads as empty and is
// left alone (writes then fail). Either way the user is told once, through TakeNotice().
//
// A symbolic link is followed to the file it names: lock, temporary file and corrupt copies
// lie beside that target, and the rename replaces the target, so the link stays a link.
// A link that leads out of the settings folder must lead to a regular file of this user (or
// to a missing one in a folder of this user): anything else (a device, another user's file)
// reads as empty with a notice, refuses writes, and gets nothing made beside it.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

enum class TRegType {
  Sz,     // REG_SZ, "text"
  Dword,  // REG_DWORD, dword:xxxxxxxx
  Other,  // hex: or hex(n): data, kept as written, never produced by the program
};

struct TRegValue {
  TRegType Type = TRegType::Sz;
  uint32_t Dword = 0;  // Dword only
  std::string Text;    // Sz: the text; Other: the data after '=' as it stood in the file
};

// A change that could not be made persistent. what() is a Japanese message with the file
// and the system's reason on its second line; Path and Reason hold them apart for callers
// that put their own first line.
class ERegistryWriteError : public std::runtime_error {
public:
  ERegistryWriteError(const std::string& message, std::string path, std::string reason)
      : std::runtime_error(message), Path(std::move(path)), Reason(std::move(reason)) {}
  std::string Path;
  std::string Reason;
};

class TRegistry {
public:
  explicit TRegistry(std::string filePath);
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // The program's hive: ${XDG_CONFIG_HOME:-$HOME/.config}/korvel/registry.reg, chosen at
  // first use.
  static TRegistry& CurrentUser();
  static std::string DefaultFilePath();
  // $HOME when it names a folder, else the home folder of the user's password entry.
  static std::string HomeFolder();
  // Far more than the program's settings and placements ever take, room for many keys of
  // other tools; a larger file is no settings file and is not read into memory.
  static constexpr size_t kMaxFileSize = size_t(16) << 20;
  // How long a change waits for another process's lock before it fails.
  static constexpr std::chrono::milliseconds kLockWait{2000};

  const std::string& FilePath() const { return Path; }

  // Key paths are below HKEY_CURRENT_USER, components separated by '\'; leading and
  // trailing separators are ignored ("\Software\Trevane\Korvel\" names the same key as
  // "Software\Trevane\Korvel"). An empty component is refused (std::invalid_argument).

  // Opens the key, creating it (and its implied parents) when missing. Returns false when
  // the key is missing and cannot be created; nothing is thrown for that.
  bool CreateKey(const std::string& key);
  bool KeyExists(const std::string& key);
  // nullopt when the key or the value is missing or the file cannot be read.
  std::optional<TRegValue> ReadValue(const std::string& key, const std::string& name);
  // Create the key when missing. Throw ERegistryWriteError when the change cannot be made
  // persistent, std::invalid_argument for a text a REGEDIT4 line cannot hold (CR, LF).
  void WriteDword(const std::string& key, const std::string& name, uint32_t value);
  void WriteString(const std::string& key, const std::string& name, const std::string& value);
  // Names of the direct subkeys, in ascending order without regard to case.
  std::vector<std::string> EnumSubkeys(const std::string& key);
  // Deletes a key that has no subkeys, with its values. False when the key is missing or
  // still has subkeys (callers delete a tree depth first); ERegistryWriteError when the
  // deletion cannot be made persistent.
  bool DeleteKey(const std::string& key);

  // The pending message for the user about the file (kept aside, unreadable), or empty.
  // Each message is handed out once.
  std::string TakeNotice();
  // Renames the file aside as a corrupt one is (for a value the program cannot use), so the
  // next start finds no file and runs with the defaults; that start's notice says so (kept
  // in "<file>.notice" meanwhile). Returns the new name, or empty when it could not be moved.
  std::string KeepAside();
  // Called (on the thread of the operation) whenever a new notice is pending, so a program
  // can also tell the user of a file that went bad while it ran. Not called for notices
  // raised before it was set: take those with TakeNotice.
  std::function<void()> OnNotice;
  // Adds a message for the user to the pending notice (a caller's own, such as a corrected
  // setting), so every program that shows the store's notices shows it too.
  void AddNotice(const std::string& text);
  // Called again and again, every few milliseconds, while a change waits for another
  // process's lock (a window keeps analysing its audio from here). It may run other store
  // operations.
  std::function<void()> OnLockWait;

  // Parsing and writing of the text form, public for tests and tools.
  struct TKey {
    std::string Path;  // without the hive name, e.g. "Software\Trevane\Korvel"
    std::vector<std::pair<std::string, TRegValue>> Values;
  };
  using THive = std::vector<TKey>;
  static bool Parse(const std::string& text, THive& hive, std::string& error);
  static std::string Format(const THive& hive);

private:
  enum class TLoad { Ok, Missing, Unreadable, Corrupt };
  class TLock;

  TLoad LoadLocked(THive& hive, bool locked);  // locked: a corrupt file may be renamed
  void StoreLocked(const THive& hive);
  template <class F> auto Read(F&& f);
  template <class F> void Modify(F&& f);
  std::string KeepAsideLocked();
  bool FindTarget();
  std::string Shown() const;  // the file as the user knows it, with its link's target
  void TakeStoredNotice();

  std::string Path;
  std::string Target;  // Path with its links followed, found again by each operation
  std::string Notice;
  std::string Refused;  // why Target is not used, when FindTarget refused it
  bool UnreadableNoticeGiven = false;
  bool RefusedNoticeGiven = false;
  bool CorruptNotKeptAside = false;  // corrupt file we could not rename: never write over it
};
