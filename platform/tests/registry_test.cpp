#include "registry.h"
#include "test_files.h"
#include "test_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kKey = "\\Software\\Trevane\\Korvel\\";

class RegistryTest : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = NewTestFolder("reg");
    File = Dir / "korvel" / "registry.reg";
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(Dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Dir, ec);
  }
  std::vector<fs::path> Aside() const {
    std::vector<fs::path> r;
    for (auto& e : fs::directory_iterator(File.parent_path()))
      if (e.path().filename().string().rfind("registry.reg.corrupt-", 0) == 0) r.push_back(e.path());
    return r;
  }
  fs::path Dir, File;
};

}  // namespace

TEST_F(RegistryTest, WritesRegedit4TextAndReadsTypesBack) {
  {
    TRegistry reg(File);
    reg.WriteDword(kKey, "viSpeed", 30);
    reg.WriteString(kKey, "vbRecordToFile", "0");
    reg.WriteString(kKey, "path", "C:\\a \"b\"");
    ASSERT_TRUE(reg.CreateKey(kKey + "fMain"));  // empty key: a bare header
  }
  EXPECT_EQ(ReadFileText(File),
            "REGEDIT4\n\n"
            "[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n"
            "\"viSpeed\"=dword:0000001e\n"
            "\"vbRecordToFile\"=\"0\"\n"
            "\"path\"=\"C:\\\\a \\\"b\\\"\"\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel\\fMain]\n"
            "\n");

  TRegistry again(File);
  auto speed = again.ReadValue(kKey, "VISPEED");  // names compare without case
  ASSERT_TRUE(speed);
  EXPECT_EQ(speed->Type, TRegType::Dword);
  EXPECT_EQ(speed->Dword, 30u);
  auto rec = again.ReadValue("Software\\Trevane\\Korvel", "vbRecordToFile");
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->Type, TRegType::Sz);
  EXPECT_EQ(rec->Text, "0");
  EXPECT_EQ(again.ReadValue(kKey, "path")->Text, "C:\\a \"b\"");
  EXPECT_TRUE(again.KeyExists(kKey + "FMAIN"));
  EXPECT_TRUE(again.KeyExists("Software"));  // implied parent
  EXPECT_FALSE(again.KeyExists(kKey + "other"));
  EXPECT_FALSE(again.ReadValue(kKey, "missing"));
  EXPECT_FALSE(again.ReadValue(kKey + "other", "viSpeed"));
  EXPECT_EQ(again.TakeNotice(), "");

  // Overwriting a value with another type replaces it in place.
  again.WriteString(kKey, "VISPEED", "45");
  EXPECT_EQ(again.ReadValue(kKey, "viSpeed")->Type, TRegType::Sz);
  EXPECT_NE(ReadFileText(File).find("\"viSpeed\"=\"45\""), std::string::npos);
  EXPECT_THROW(again.WriteString(kKey, "x", "two\nlines"), std::invalid_argument);
  EXPECT_THROW(again.KeyExists("a\\\\b"), std::invalid_argument);
}

TEST_F(RegistryTest, ParsesHandEditedFilesAndKeepsForeignTypes) {
  fs::create_directories(File.parent_path());
  WriteFileText(File,
       "\xEF\xBB\xBFREGEDIT4\r\n\r\n; comment\r\n"
       "[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\r\n"
       "\"viMaxFreq\"=dword:FFFFFFFF\r\n"
       "\"blob\"=hex:01,02,\\\r\n  03,04\r\n"
       "@=\"default\"\r\n");
  TRegistry reg(File);
  EXPECT_EQ(reg.ReadValue(kKey, "viMaxFreq")->Dword, 0xFFFFFFFFu);
  auto blob = reg.ReadValue(kKey, "blob");
  ASSERT_TRUE(blob);
  EXPECT_EQ(blob->Type, TRegType::Other);
  EXPECT_EQ(reg.ReadValue(kKey, "")->Text, "default");
  reg.WriteDword(kKey, "viSpeed", 1);
  const std::string text = ReadFileText(File);
  EXPECT_NE(text.find("\"blob\"=hex:01,02,03,04\n"), std::string::npos);
  EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos);
  EXPECT_EQ(reg.TakeNotice(), "");

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
  TRegistry reg(File);
  for (const char* k : {"b", "A", "c\\deep"}) ASSERT_TRUE(reg.CreateKey(kKey + k));
  reg.WriteDword(kKey + "A", "v", 1);
  EXPECT_EQ(reg.EnumSubkeys(kKey), (std::vector<std::string>{"A", "b", "c"}));
  EXPECT_FALSE(reg.DeleteKey(kKey + "c"));  // has a subkey
  EXPECT_FALSE(reg.DeleteKey(kKey));
  EXPECT_TRUE(reg.DeleteKey(kKey + "c\\deep"));
  EXPECT_FALSE(reg.KeyExists(kKey + "c"));  // was only implied by its child
  EXPECT_TRUE(reg.DeleteKey(kKey + "A"));
  EXPECT_FALSE(reg.ReadValue(kKey + "A", "v"));
  EXPECT_FALSE(reg.DeleteKey(kKey + "A"));
  EXPECT_TRUE(reg.DeleteKey(kKey + "b"));
  EXPECT_EQ(reg.EnumSubkeys(kKey), std::vector<std::string>{});
}

TEST_F(RegistryTest, WriteReplacesFileAtomically) {
  TRegistry reg(File);
  reg.WriteDword(kKey, "a", 1);
  struct stat before{}, after{};
  ASSERT_EQ(stat(File.c_str(), &before), 0);
  reg.WriteDword(kKey, "a", 2);
  ASSERT_EQ(stat(File.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file renamed over, not rewritten in place
  EXPECT_EQ(after.st_mode & 0777, 0600u);
  for (auto& e : fs::directory_iterator(File.parent_path()))
    EXPECT_TRUE(e.path() == File || e.path().filename() == "registry.reg.lock") << e.path();

  // A writer killed at any moment leaves a file that parses.
  std::mt19937 rng(7);
  for (int round = 0; round < 15; ++round) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        TRegistry child(File);
        for (uint32_t i = 0;; ++i) child.WriteDword(kKey + "k" + std::to_string(i % 5), "n", i);
      } catch (...) {
      }
      _exit(1);  // never return into the test runner
    }
    usleep(1000 + rng() % 20000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    TRegistry::THive hive;
    std::string error;
    ASSERT_TRUE(TRegistry::Parse(ReadFileText(File), hive, error)) << error;
  }
  TRegistry check(File);
  EXPECT_EQ(check.ReadValue(kKey, "a")->Dword, 2u);
  EXPECT_EQ(check.TakeNotice(), "");
}

TEST_F(RegistryTest, ConcurrentProcessesLoseNoUpdate) {
  constexpr int kProcs = 4, kWrites = 25;
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int rc = 0;
      try {
        TRegistry child(File);
        for (int i = 0; i < kWrites; ++i)
          child.WriteDword(kKey + (i % 2 ? "fMain" : ""),
                           "p" + std::to_string(p) + "_" + std::to_string(i), uint32_t(i));
      } catch (...) {
        rc = 1;
      }
      _exit(rc);  // never return into the test runner
    }
    kids.push_back(pid);
  }
  for (pid_t k : kids) {
    int status = 0;
    waitpid(k, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TRegistry reg(File);
  for (int p = 0; p < kProcs; ++p)
    for (int i = 0; i < kWrites; ++i) {
      auto v = reg.ReadValue(kKey + (i % 2 ? "fMain" : ""), "p" + std::to_string(p) + "_" + std::to_string(i));
      ASSERT_TRUE(v) << p << "_" << i;
      EXPECT_EQ(v->Dword, uint32_t(i));
    }
}

TEST_F(RegistryTest, CorruptFileIsKeptAsideAndReportedOnce) {
  fs::create_directories(File.parent_path());
  const std::string junk = "REGEDIT4\n[HKEY_CURRENT_USER\\Software]\nnot a value line\n";
  WriteFileText(File, junk);
  TRegistry reg(File);
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
  EXPECT_EQ(reg.ReadValue(kKey, "viSpeed")->Dword, 40u);
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

TEST_F(RegistryTest, OnlyARegularFileOfBoundedSizeIsRead) {
  // Each kind must answer at once, read as empty, say why, and lose nothing: what is not a
  // regular file is left in place; an oversize file is kept aside byte for byte.
  const std::string big = "REGEDIT4\n;" + std::string(TRegistry::kMaxFileSize, 'x') + "\n";
  struct TCase {
    const char* name;
    std::function<void()> make;
    const char* reason;
    bool keptAside;
  } cases[] = {
      {"fifo", [&] { ASSERT_EQ(mkfifo(File.c_str(), 0600), 0); }, "not a regular file", false},
      {"device", [&] { fs::create_symlink("/dev/zero", File); }, "not a regular file", false},
      {"link out to a fifo",
       [&] {
         fs::create_directories(Dir / "elsewhere");
         ASSERT_EQ(mkfifo((Dir / "elsewhere" / "fifo").c_str(), 0600), 0);
         fs::create_symlink(Dir / "elsewhere" / "fifo", File);
       },
       "not a regular file", false},
      {"folder", [&] { fs::create_directory(File); }, "not a regular file", false},
      {"oversize", [&] { WriteFileText(File, big); }, "larger than", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(File.parent_path());
    fs::create_directories(File.parent_path());
    c.make();
    const auto type = fs::symlink_status(File).type();
    TRegistry reg(File);
    EXPECT_FALSE(reg.ReadValue(kKey, "viSpeed"));
    const std::string notice = reg.TakeNotice();
    EXPECT_NE(notice.find(c.reason), std::string::npos) << notice;
    if (c.keptAside) {
      ASSERT_EQ(Aside().size(), 1u);
      EXPECT_EQ(ReadFileText(Aside()[0]), big);
      EXPECT_NE(notice.find(Aside()[0].string()), std::string::npos);
      reg.WriteDword(kKey, "viSpeed", 1);  // a fresh file in its place
      EXPECT_EQ(reg.ReadValue(kKey, "viSpeed")->Dword, 1u);
    } else {
      EXPECT_NE(notice.find(File.string()), std::string::npos) << notice;
      EXPECT_THROW(reg.WriteDword(kKey, "viSpeed", 1), ERegistryWriteError);
      EXPECT_EQ(fs::symlink_status(File).type(), type);
      EXPECT_TRUE(Aside().empty());
      EXPECT_FALSE(fs::exists(Dir / "elsewhere" / "fifo.lock")) << "made beside a link's target";
    }
  }
  // A valid file of many keys below the bound is read, not kept aside.
  std::string many = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n\"viSpeed\"=dword:00000011\n";
  for (int i = 0; many.size() < 1200000; ++i) many += "[HKEY_CURRENT_USER\\Other\\k" + std::to_string(i) + "]\n\"v\"=\"x\"\n";
  fs::remove_all(File.parent_path());
  fs::create_directories(File.parent_path());
  WriteFileText(File, many);
  TRegistry reg(File);
  EXPECT_EQ(reg.ReadValue(kKey, "viSpeed")->Dword, 17u);
  EXPECT_EQ(reg.TakeNotice(), "");
}

TEST_F(RegistryTest, SymlinkedFileStaysALinkAndItsTargetChanges) {
  const fs::path repo = Dir / "dotfiles";
  fs::create_directories(repo);
  fs::create_directories(File.parent_path());
  WriteFileText(repo / "registry.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Other]\n\"keep\"=dword:00000001\n");
  fs::create_symlink("../dotfiles/registry.reg", File);  // relative, as managers make them
  TRegistry reg(File);
  reg.WriteDword(kKey, "viSpeed", 42);
  ASSERT_TRUE(fs::is_symlink(File));
  const std::string text = ReadFileText(repo / "registry.reg");
  EXPECT_NE(text.find("\"viSpeed\"=dword:0000002a"), std::string::npos);
  EXPECT_NE(text.find("\"keep\"=dword:00000001"), std::string::npos);
  EXPECT_FALSE(fs::exists(File.parent_path() / "registry.reg.tmp"));
  EXPECT_EQ(TRegistry(File).ReadValue(kKey, "viSpeed")->Dword, 42u);
}

TEST_F(RegistryTest, EmptyFileIsNoSettingsAndNoNotice) {
  fs::create_directories(File.parent_path());
  WriteFileText(File, " \n\n");
  TRegistry reg(File);
  EXPECT_FALSE(reg.KeyExists(kKey));
  EXPECT_TRUE(reg.CreateKey(kKey));
  EXPECT_TRUE(reg.KeyExists(kKey));
  EXPECT_EQ(reg.TakeNotice(), "");
  EXPECT_TRUE(Aside().empty());
}

TEST_F(RegistryTest, UnreadableFileReadsEmptyAndRefusesWrites) {
  // A folder in the file's place cannot be read, whoever runs the test.
  fs::create_directories(File);
  TRegistry reg(File);
  EXPECT_FALSE(reg.ReadValue(kKey, "viSpeed"));
  EXPECT_FALSE(reg.CreateKey(kKey));
  EXPECT_THROW(reg.WriteDword(kKey, "viSpeed", 1), ERegistryWriteError);
  EXPECT_TRUE(fs::is_directory(File));
  EXPECT_TRUE(Aside().empty());
  const std::string notice = reg.TakeNotice();
  EXPECT_NE(notice.find(File.string()), std::string::npos);
  EXPECT_FALSE(reg.ReadValue(kKey, "viSpeed"));
  EXPECT_EQ(reg.TakeNotice(), "");  // told once

  if (geteuid() != 0) {  // permission bits do not stop root
    fs::remove(File);
    TRegistry good(File);
    good.WriteDword(kKey, "viSpeed", 3);
    fs::permissions(File, fs::perms::none);
    EXPECT_FALSE(good.ReadValue(kKey, "viSpeed"));
    EXPECT_THROW(good.WriteDword(kKey, "viSpeed", 4), ERegistryWriteError);
  }
}

TEST_F(RegistryTest, FolderThatCannotBeWritten) {
  // A regular file where the folder should be: nothing can be created below it.
  fs::create_directories(File.parent_path().parent_path());
  WriteFileText(File.parent_path(), "x");
  TRegistry reg(File);
  EXPECT_FALSE(reg.ReadValue(kKey, "viSpeed"));
  EXPECT_FALSE(reg.CreateKey(kKey));
  try {
    reg.WriteDword(kKey, "viSpeed", 1);
    ADD_FAILURE() << "no write error";
  } catch (const ERegistryWriteError& e) {
    EXPECT_NE(std::string(e.what()).find("設定ファイルに書き込めません"), std::string::npos);
  }

  if (geteuid() != 0) {
    fs::remove(File.parent_path());
    TRegistry good(File);
    good.WriteDword(kKey, "viSpeed", 3);
    fs::permissions(File.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(good.ReadValue(kKey, "viSpeed")->Dword, 3u);  // reads what it can
    EXPECT_THROW(good.WriteDword(kKey, "viSpeed", 4), ERegistryWriteError);
    EXPECT_EQ(good.ReadValue(kKey, "viSpeed")->Dword, 3u);
  }
}

TEST_F(RegistryTest, LockThatCannotBeTakenStillReadsButRefusesWrites) {
  TRegistry reg(File);
  reg.WriteDword(kKey, "viSpeed", 3);
  fs::remove(File.string() + ".lock");
  fs::create_directory(File.string() + ".lock");
  EXPECT_EQ(reg.ReadValue(kKey, "viSpeed")->Dword, 3u);
  EXPECT_TRUE(reg.CreateKey(kKey));         // exists: nothing to write
  EXPECT_FALSE(reg.CreateKey(kKey + "x"));  // would need a write
  EXPECT_THROW(reg.WriteDword(kKey, "viSpeed", 4), ERegistryWriteError);
  EXPECT_THROW(reg.DeleteKey(kKey), ERegistryWriteError);
  EXPECT_EQ(reg.ReadValue(kKey, "viSpeed")->Dword, 3u);
  EXPECT_EQ(reg.TakeNotice(), "");
}

TEST_F(RegistryTest, LockHeldByAnotherDelaysWritesBrieflyAndNeverReads) {
  TRegistry reg(File);
  reg.WriteDword(kKey, "viSpeed", 3);
  const int held = ::open((File.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);  // another open file description: another holder
  int waits = 0;
  reg.OnLockWait = [&] { ++waits; };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(reg.ReadValue(kKey, "viSpeed")->Dword, 3u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  try {
    reg.WriteDword(kKey, "viSpeed", 4);
    ADD_FAILURE() << "written under another's lock";
  } catch (const ERegistryWriteError& e) {
    EXPECT_EQ(e.Reason, "settings file locked by another process");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, TRegistry::kLockWait + std::chrono::seconds(2));
  EXPECT_GT(waits, 10) << "the wait hook was not called while waiting";
  ::close(held);
  reg.WriteDword(kKey, "viSpeed", 4);
  EXPECT_EQ(reg.ReadValue(kKey, "viSpeed")->Dword, 4u);
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
  EXPECT_EQ(TRegistry::DefaultFilePath(), std::string(pw->pw_dir) + "/.config/korvel/registry.reg");
}
