#include "test_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <random>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using ::testing::Field;
using ::testing::HasSubstr;
using ::testing::Throws;
using ::testing::ThrowsMessage;

namespace {

// The store below a folder of its own that does not exist yet.
struct RegistryTest : ::testing::Test, TTestStore {
  RegistryTest() : TTestStore("reg", "korvel/registry.reg") {}
};

// Runs `body` in a child process that exits 0, or 1 when `body` throws; never returns there.
pid_t Forked(const std::function<void()>& body) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  try {
    body();
  } catch (...) {
    _exit(1);
  }
  _exit(0);
}

}  // namespace

TEST_F(RegistryTest, WritesRegedit4TextAndReadsTypesBack) {
  Reg->WriteDword(kKey, "viSpeed", 30);
  Reg->WriteString(kKey, "vbRecordToFile", "0");
  Reg->WriteString(kKey, "path", "C:\\a \"b\"");
  ASSERT_TRUE(Reg->CreateKey(kKey + "fMain"));  // empty key: a bare header
  EXPECT_EQ(FileText(),
            "REGEDIT4\n\n"
            "[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n"
            "\"viSpeed\"=dword:0000001e\n"
            "\"vbRecordToFile\"=\"0\"\n"
            "\"path\"=\"C:\\\\a \\\"b\\\"\"\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel\\fMain]\n"
            "\n");

  TRegistry again(File);
  EXPECT_EQ(again.ReadValue(kKey, "VISPEED"), Dword(30));  // names compare without case
  EXPECT_EQ(again.ReadValue("Software\\Trevane\\Korvel", "vbRecordToFile"), Sz("0"));
  EXPECT_EQ(again.ReadValue(kKey, "path"), Sz("C:\\a \"b\""));
  EXPECT_TRUE(again.KeyExists(kKey + "FMAIN"));
  EXPECT_TRUE(again.KeyExists("Software"));  // implied parent
  EXPECT_FALSE(again.KeyExists(kKey + "other"));
  EXPECT_FALSE(again.ReadValue(kKey, "missing"));
  EXPECT_FALSE(again.ReadValue(kKey + "other", "viSpeed"));
  EXPECT_EQ(again.TakeNotice(), "");

  // Overwriting a value with another type replaces it in place.
  again.WriteString(kKey, "VISPEED", "45");
  EXPECT_EQ(again.ReadValue(kKey, "viSpeed"), Sz("45"));
  EXPECT_NE(FileText().find("\"viSpeed\"=\"45\""), std::string::npos);
  EXPECT_THROW(again.WriteString(kKey, "x", "two\nlines"), std::invalid_argument);
  EXPECT_THROW(again.KeyExists("a\\\\b"), std::invalid_argument);
}

TEST_F(RegistryTest, ParsesHandEditedFilesAndKeepsForeignTypes) {
  PutFile(
      "\xEF\xBB\xBFREGEDIT4\r\n\r\n; comment\r\n"
      "[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\r\n"
      "\"viMaxFreq\"=dword:FFFFFFFF\r\n"
      "\"blob\"=hex:01,02,\\\r\n  03,04\r\n"
      "@=\"default\"\r\n");
  EXPECT_EQ(Stored("viMaxFreq"), Dword(0xFFFFFFFFu));
  EXPECT_EQ(Stored("blob").value_or(TRegValue{}).Type, TRegType::Other);
  EXPECT_EQ(Stored(""), Sz("default"));
  Reg->WriteDword(kKey, "viSpeed", 1);
  const std::string text = FileText();
  EXPECT_NE(text.find("\"blob\"=hex:01,02,03,04\n"), std::string::npos);
  EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos);
  EXPECT_EQ(Reg->TakeNotice(), "");

  TRegistry::THive hive;
  std::string error;
  for (const char* bad : {"REGEDIT5\n", "REGEDIT4\n\"a\"=dword:1\n",
                          "REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n",
                          "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=dword:123456789\n",
                          "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=\"unterminated\n",
                          "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=\"bad \\n escape\"\n",
                          "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=-\n"})
    EXPECT_FALSE(TRegistry::Parse(bad, hive, error)) << bad;
}

TEST_F(RegistryTest, SubkeysEnumerateSortedAndDeleteOnlyWhenEmpty) {
  for (const char* k : {"b", "A", "c\\deep"}) ASSERT_TRUE(Reg->CreateKey(kKey + k));
  Reg->WriteDword(kKey + "A", "v", 1);
  EXPECT_EQ(Reg->EnumSubkeys(kKey), (std::vector<std::string>{"A", "b", "c"}));
  EXPECT_FALSE(Reg->DeleteKey(kKey + "c"));  // has a subkey
  EXPECT_FALSE(Reg->DeleteKey(kKey));
  EXPECT_TRUE(Reg->DeleteKey(kKey + "c\\deep"));
  EXPECT_FALSE(Reg->KeyExists(kKey + "c"));  // was only implied by its child
  EXPECT_TRUE(Reg->DeleteKey(kKey + "A"));
  EXPECT_FALSE(Stored("v", kKey + "A"));
  EXPECT_FALSE(Reg->DeleteKey(kKey + "A"));
  EXPECT_TRUE(Reg->DeleteKey(kKey + "b"));
  EXPECT_EQ(Reg->EnumSubkeys(kKey), std::vector<std::string>{});
}

TEST_F(RegistryTest, WriteReplacesFileAtomically) {
  Reg->WriteDword(kKey, "a", 1);
  struct stat before{}, after{};
  ASSERT_EQ(stat(File.c_str(), &before), 0);
  Reg->WriteDword(kKey, "a", 2);
  ASSERT_EQ(stat(File.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file renamed over, not rewritten in place
  EXPECT_EQ(after.st_mode & 0777, 0600u);
  for (auto& e : fs::directory_iterator(File.parent_path()))
    EXPECT_TRUE(e.path() == File || e.path().filename() == "registry.reg.lock") << e.path();

  // A writer killed at any moment leaves a file that parses.
  std::mt19937 rng(7);
  for (int round = 0; round < 15; ++round) {
    const pid_t pid = Forked([&] {
      TRegistry child(File);
      for (uint32_t i = 0;; ++i) child.WriteDword(kKey + "k" + std::to_string(i % 5), "n", i);
    });
    ASSERT_GE(pid, 0);
    usleep(1000 + rng() % 20000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    TRegistry::THive hive;
    std::string error;
    ASSERT_TRUE(TRegistry::Parse(ReadFileText(File), hive, error)) << error;
  }
  EXPECT_EQ(Stored("a"), Dword(2));
  EXPECT_EQ(Reg->TakeNotice(), "");
}

TEST_F(RegistryTest, ConcurrentProcessesLoseNoUpdate) {
  constexpr int kProcs = 4, kWrites = 25;
  const auto key = [](int i) { return kKey + (i % 2 ? "fMain" : ""); };
  const auto name = [](int p, int i) { return "p" + std::to_string(p) + "_" + std::to_string(i); };
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    kids.push_back(Forked([&] {
      TRegistry child(File);
      for (int i = 0; i < kWrites; ++i) child.WriteDword(key(i), name(p, i), uint32_t(i));
    }));
    ASSERT_GE(kids.back(), 0);
  }
  for (pid_t k : kids) {
    int status = 0;
    waitpid(k, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < kProcs; ++p)
    for (int i = 0; i < kWrites; ++i)
      EXPECT_EQ(Stored(name(p, i), key(i)), Dword(i)) << p << "_" << i;
}

TEST_F(RegistryTest, CorruptFileIsKeptAsideAndReportedOnce) {
  const std::string junk = "REGEDIT4\n[HKEY_CURRENT_USER\\Software]\nnot a value line\n";
  PutFile(junk);
  TRegistry& reg = *Reg;
  EXPECT_FALSE(reg.ReadValue(kKey, "viSpeed"));
  auto aside = Aside();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(ReadFileText(aside[0]), junk);
  EXPECT_FALSE(fs::exists(File));
  const std::string notice = reg.TakeNotice();
  EXPECT_EQ(notice, "設定ファイルが壊れていたため、別名で保存し、標準の設定で起動しました。\n" +
                        aside[0].string() + ": line 3: a malformed value name");
  EXPECT_EQ(reg.TakeNotice(), "");

  reg.WriteDword(kKey, "viSpeed", 40);  // a fresh file; the kept one is left alone
  EXPECT_EQ(reg.ReadValue(kKey, "viSpeed"), Dword(40));
  EXPECT_EQ(ReadFileText(aside[0]), junk);

  // A second corrupt file within the same second does not replace the first copy, and a
  // program that listens hears of it while it runs.
  int told = 0;
  reg.OnNotice = [&] { ++told; };
  WriteFileText(File, "garbage");
  EXPECT_FALSE(reg.ReadValue(kKey, "viSpeed"));
  EXPECT_EQ(Aside().size(), 2u);
  EXPECT_EQ(told, 1);
  EXPECT_NE(reg.TakeNotice(), "");
}

TEST_F(RegistryTest, SymlinkedFileStaysALinkAndItsTargetChanges) {
  const fs::path repo = Dir / "dotfiles";
  fs::create_directories(repo);
  fs::create_directories(File.parent_path());
  WriteFileText(repo / "registry.reg",
                "REGEDIT4\n\n[HKEY_CURRENT_USER\\Other]\n\"keep\"=dword:00000001\n");
  fs::create_symlink("../dotfiles/registry.reg", File);  // relative, as managers make them
  Reg->WriteDword(kKey, "viSpeed", 42);
  ASSERT_TRUE(fs::is_symlink(File));
  const std::string text = ReadFileText(repo / "registry.reg");
  EXPECT_NE(text.find("\"viSpeed\"=dword:0000002a"), std::string::npos);
  EXPECT_NE(text.find("\"keep\"=dword:00000001"), std::string::npos);
  EXPECT_FALSE(fs::exists(File.parent_path() / "registry.reg.tmp"));
  EXPECT_EQ(TRegistry(File).ReadValue(kKey, "viSpeed"), Dword(42));
}

TEST_F(RegistryTest, EmptyFileIsNoSettingsAndNoNotice) {
  PutFile(" \n\n");
  EXPECT_FALSE(Reg->KeyExists(kKey));
  EXPECT_TRUE(Reg->CreateKey(kKey));
  EXPECT_TRUE(Reg->KeyExists(kKey));
  EXPECT_EQ(Reg->TakeNotice(), "");
  EXPECT_TRUE(Aside().empty());
}

// Whatever stands in the file's or the folder's way, the store answers at once, reads what
// it can, says why, and loses nothing: what is not a regular file is left in place and every
// change is refused with the fixed text; an oversize file is kept aside byte for byte.
TEST_F(RegistryTest, WhatStandsInTheWayIsReadAsFarAsItCanBeAndLosesNothing) {
  // A valid file of many keys below the bound is read, not kept aside.
  std::string many =
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n\"viSpeed\"=dword:00000011\n";
  for (int i = 0; many.size() < 1200000; ++i)
    many += "[HKEY_CURRENT_USER\\Other\\k" + std::to_string(i) + "]\n\"v\"=\"x\"\n";
  PutFile(many);
  EXPECT_EQ(Stored("viSpeed"), Dword(17));
  EXPECT_EQ(Reg->TakeNotice(), "");

  const std::string big = "REGEDIT4\n;" + std::string(TRegistry::kMaxFileSize, 'x') + "\n";
  const fs::path folder = File.parent_path(), lock = File.string() + ".lock",
                 fifo = Dir / "elsewhere" / "fifo";
  const auto holding3 = [&] { Reg->WriteDword(kKey, "viSpeed", 3); };
  const struct {
    const char* name;
    bool needsNonRoot;  // permission bits do not stop root
    std::function<void()> make;
    std::optional<uint32_t> read;
    const char* told;  // found in the notice beside the file's name; "": no notice; null: unread
    bool keptAside = false;
  } cases[] = {
      {"fifo", false, [&] { ASSERT_EQ(mkfifo(File.c_str(), 0600), 0); }, {}, "not a regular file"},
      {"device", false, [&] { fs::create_symlink("/dev/zero", File); }, {}, "not a regular file"},
      {"link out to a fifo", false,
       [&] {
         fs::create_directories(fifo.parent_path());
         ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
         fs::create_symlink(fifo, File);
       },
       {}, "not a regular file"},
      {"folder", false, [&] { fs::create_directory(File); }, {}, "not a regular file"},
      {"oversize", false, [&] { WriteFileText(File, big); }, {}, "larger than", true},
      {"a file in the folder's place", false,
       [&] { fs::remove(folder), WriteFileText(folder, "x"); }, {}, nullptr},
      {"the lock is a folder", false,
       [&] { holding3(), fs::remove(lock), fs::create_directory(lock); }, 3, ""},
      {"an unreadable file", true, [&] { holding3(), fs::permissions(File, fs::perms::none); },
       {}, nullptr},
      {"a read-only folder", true,
       [&] {
         holding3();
         fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
       },
       3, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsNonRoot && geteuid() == 0) continue;
    std::error_code ec;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(folder);
    fs::create_directories(folder);
    c.make();
    const auto type = fs::symlink_status(File).type();
    const auto want = c.read ? Dword(*c.read) : std::nullopt;
    TRegistry reg(File);
    EXPECT_EQ(reg.ReadValue(kKey, "viSpeed"), want);
    if (c.keptAside) {
      const std::string notice = reg.TakeNotice();
      EXPECT_NE(notice.find(c.told), std::string::npos) << notice;
      ASSERT_EQ(Aside().size(), 1u);
      EXPECT_EQ(ReadFileText(Aside()[0]), big);
      EXPECT_NE(notice.find(Aside()[0].string()), std::string::npos);
      reg.WriteDword(kKey, "viSpeed", 1);  // a fresh file in its place
      EXPECT_EQ(reg.ReadValue(kKey, "viSpeed"), Dword(1));
      continue;
    }
    EXPECT_EQ(reg.CreateKey(kKey), c.read.has_value());  // exists: nothing to write
    EXPECT_FALSE(reg.CreateKey(kKey + "x"));               // would need a write
    EXPECT_THAT([&] { reg.WriteDword(kKey, "viSpeed", 4); },
                ThrowsMessage<ERegistryWriteError>(HasSubstr("設定ファイルに書き込めません")));
    if (c.read) {
      EXPECT_THROW(reg.DeleteKey(kKey), ERegistryWriteError);
    }
    EXPECT_EQ(reg.ReadValue(kKey, "viSpeed"), want);
    EXPECT_EQ(fs::symlink_status(File).type(), type);
    EXPECT_TRUE(!fs::is_directory(folder) || Aside().empty());
    EXPECT_FALSE(fs::exists(fifo.string() + ".lock")) << "made beside a link's target";
    if (!c.told) continue;
    const std::string notice = reg.TakeNotice();
    if (*c.told) {
      EXPECT_NE(notice.find(c.told), std::string::npos) << notice;
      EXPECT_NE(notice.find(File.string()), std::string::npos) << notice;
    } else {
      EXPECT_EQ(notice, "");
    }
    EXPECT_EQ(reg.ReadValue(kKey, "viSpeed"), want);
    EXPECT_EQ(reg.TakeNotice(), "");  // told once
  }
}

TEST_F(RegistryTest, LockHeldByAnotherDelaysWritesBrieflyAndNeverReads) {
  Reg->WriteDword(kKey, "viSpeed", 3);
  const int held = ::open((File.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);  // another open file description: another holder
  int waits = 0;
  Reg->OnLockWait = [&] { ++waits; };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Stored("viSpeed"), Dword(3));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_THAT([&] { Reg->WriteDword(kKey, "viSpeed", 4); },
              Throws<ERegistryWriteError>(Field(&ERegistryWriteError::Reason,
                                                "settings file locked by another process")));
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            TRegistry::kLockWait + std::chrono::seconds(2));
  EXPECT_GT(waits, 10) << "the wait hook was not called while waiting";
  ::close(held);
  Reg->WriteDword(kKey, "viSpeed", 4);
  EXPECT_EQ(Stored("viSpeed"), Dword(4));
}

TEST(RegistryPath, FollowsXdgConfigHome) {
  setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
  EXPECT_EQ(TRegistry::DefaultFilePath(), "/x/cfg/korvel/registry.reg");
  setenv("XDG_CONFIG_HOME", "", 1);
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(TRegistry::DefaultFilePath(), "/home/u/.config/korvel/registry.reg");
  unsetenv("HOME");  // never the current folder: the password entry's home
  const passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(TRegistry::DefaultFilePath(),
            std::string(pw->pw_dir) + "/.config/korvel/registry.reg");
}
