#pragma once
// A settings store of the test's own: a registry file in a new folder under the test's
// private root, and what the tests of the store and of its users look at in it.
#include "registry.h"
#include "test_files.h"
#include "test_folder.h"

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The program's key, with the separators the program writes it with.
inline const std::string kKey = "\\Software\\Trevane\\Korvel\\";

// Values compare and print whole, so one check covers the type and the data.
inline bool operator==(const TRegValue& a, const TRegValue& b) {
  return a.Type == b.Type && a.Dword == b.Dword && a.Text == b.Text;
}
inline void PrintTo(const TRegValue& v, std::ostream* os) {
  if (v.Type == TRegType::Dword)
    *os << "dword " << v.Dword;
  else
    *os << (v.Type == TRegType::Sz ? "sz \"" : "other \"") << v.Text << '"';
}
inline std::optional<TRegValue> Dword(uint32_t v) { return TRegValue{TRegType::Dword, v, {}}; }
inline std::optional<TRegValue> Sz(const std::string& text) {
  return TRegValue{TRegType::Sz, 0, text};
}

// The text of an error handed to a report (a store that failed, a value refused), as the box
// showing it would read.
inline std::string WhatOf(std::exception_ptr error) try {
  std::rethrow_exception(error);
} catch (const std::exception& e) {
  return e.what();
}

struct TTestStore {
  // `file`: the store's path below the new folder (its own folders are not made).
  explicit TTestStore(const std::string& stem, const std::string& file = "registry.reg")
      : Dir(NewTestFolder(stem)), File(Dir / file),
        Reg(std::make_unique<TRegistry>(File.string())) {}
  // A case may leave the folders read-only.
  ~TTestStore() {
    if (KeepFolder) return;
    std::error_code ec;
    for (const auto& d : {Dir, File.parent_path()})
      std::filesystem::permissions(d, std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(Dir, ec);
  }

  std::optional<TRegValue> Stored(const std::string& name, const std::string& key = kKey) {
    return Reg->ReadValue(key, name);
  }
  std::string FileText() const { return ReadFileText(File); }
  // Puts `text` in the store's place, its folders made first.
  void PutFile(const std::string& text) const {
    std::filesystem::create_directories(File.parent_path());
    WriteFileText(File, text);
  }
  // The copies a corrupt file was renamed aside to.
  std::vector<std::filesystem::path> Aside() const {
    std::vector<std::filesystem::path> found;
    for (auto& e : std::filesystem::directory_iterator(File.parent_path()))
      if (e.path().filename().string().rfind(File.filename().string() + ".corrupt-", 0) == 0)
        found.push_back(e.path());
    return found;
  }

  std::filesystem::path Dir, File;
  std::unique_ptr<TRegistry> Reg;
  bool KeepFolder = false;  // what a case leaves there is kept as an artifact of the run
};
