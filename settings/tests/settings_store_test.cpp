#include "RegistryIniFile.h"
#include "uglobal.h"
#include "uvariable.h"
#include "test_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>
#include <fstream>

namespace fs = std::filesystem;
using ::testing::StartsWith;
using ::testing::ThrowsMessage;

namespace {

struct SettingsStoreTest : ::testing::Test, TTestStore {
  SettingsStoreTest() : TTestStore("set") {}
  // viSpeed 50 and viFloor 999 stored, then a second header of the key with `value`, a type
  // the settings cannot use, between them in the order of loading.
  void StoreForeignValue(const std::string& value) {
    Reg->WriteDword(kKey, "viSpeed", 50);
    Reg->WriteDword(kKey, "viFloor", 999);
    std::ofstream(File, std::ios::app) << "[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n"
                                       << value << "\n";
  }
};

std::vector<std::string>* gLog = nullptr;
class TLoggedVariable : public TVariableInteger {
public:
  using TVariableInteger::TVariableInteger;
  ~TLoggedVariable() override { gLog->push_back("~" + Name); }
  void Save(TRegistryIniFile& Ini) override {
    gLog->push_back("save " + Name);
    TVariableInteger::Save(Ini);
  }
};

}  // namespace

TEST_F(SettingsStoreTest, FirstStartCreatesEmptyKeyAndDefaults) {
  TGlobalSettings s(*Reg);
  EXPECT_EQ(std::tuple(s.viSpeed->Value, s.viMaxFreq->Value, s.viMinFreq->Value, s.viFloor->Value,
                       s.viFloor2->Value, s.vbRecordToFile->Value, s.viWaveInDevice->Value),
            std::tuple(30, 3000, 20, 400, 200, false, 0));
  EXPECT_EQ(FileText(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n\n");

  // Order of creation is the order of loading and saving.
  std::vector<std::string> names;
  for (int i = 0; i < s.List()->Count(); ++i) names.push_back(s.List()->Items(i)->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"viSpeed", "viMaxFreq", "viMinFreq", "viFloor",
                                             "viFloor2", "vbRecordToFile", "viWaveInDevice"}));

  // Saving unchanged settings writes every value, integers as REG_DWORD, the boolean as text.
  s.Save();
  EXPECT_EQ(FileText(),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n"
            "\"viSpeed\"=dword:0000001e\n\"viMaxFreq\"=dword:00000bb8\n"
            "\"viMinFreq\"=dword:00000014\n\"viFloor\"=dword:00000190\n"
            "\"viFloor2\"=dword:000000c8\n\"vbRecordToFile\"=\"0\"\n"
            "\"viWaveInDevice\"=dword:00000000\n\n");
}

TEST_F(SettingsStoreTest, BooleanReadsTextDwordAndJunk) {
  const struct {
    std::optional<std::string> text;  // unset: the dword 1
    bool value;
  } cases[] = {{"1", true}, {{}, true}, {"abc", false}, {"-7", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.value_or("dword 1"));
    if (c.text)
      Reg->WriteString(kKey, "vbRecordToFile", *c.text);
    else
      Reg->WriteDword(kKey, "vbRecordToFile", 1);
    TGlobalSettings s(*Reg);
    EXPECT_EQ(s.vbRecordToFile->Value, c.value);
    s.Save();  // always back as text "1"/"0", whatever it was found as
    EXPECT_EQ(Stored("vbRecordToFile"), Sz(c.value ? "1" : "0"));
  }
}

TEST_F(SettingsStoreTest, DetectionRangeOutsideTheDialogsIsCorrectedAtLoadAndSaidOnce) {
  const struct { int32_t min, max, wantMin, wantMax; } cases[] = {
      {0, 3000, 1, 3000}, {20, 30000, 20, 22050}, {3000, 20, 20, 3000}, {-5, -1, 20, 3000}};
  for (const auto& c : cases) {
    Reg->WriteDword(kKey, "viMinFreq", uint32_t(c.min));
    Reg->WriteDword(kKey, "viMaxFreq", uint32_t(c.max));
    TGlobalSettings s(*Reg);
    EXPECT_EQ(s.viMinFreq->Value, c.wantMin) << c.min << ".." << c.max;
    EXPECT_EQ(s.viMaxFreq->Value, c.wantMax) << c.min << ".." << c.max;
    EXPECT_NE(Reg->TakeNotice().find("範囲外"), std::string::npos);
  }
}

TEST_F(SettingsStoreTest, IntegerKeepsTheTypeItWasFoundWith) {
  Reg->WriteString(kKey, "viSpeed", "45");
  Reg->WriteString(kKey, "viMaxFreq", "x");
  Reg->WriteString(kKey, "viMinFreq", "2147483648");  // one past the 32-bit range
  Reg->WriteDword(kKey, "viFloor", 0xFFFFFFFFu);
  Reg->WriteString(kKey, "viFloor2", "-2147483648");
  TGlobalSettings s(*Reg);
  // No range is enforced on the floors.
  EXPECT_EQ(std::tuple(s.viSpeed->Value, s.viMaxFreq->Value, s.viMinFreq->Value, s.viFloor->Value,
                       s.viFloor2->Value),
            std::tuple(45, 3000, 20, -1, INT32_MIN));
  s.viFloor->Value = -5;
  s.Save();
  EXPECT_EQ(Stored("viSpeed"), Sz("45"));
  EXPECT_EQ(Stored("viMaxFreq"), Sz("3000"));
  EXPECT_EQ(Stored("viFloor"), Dword(0xFFFFFFFBu));
  EXPECT_EQ(Stored("viWaveInDevice"), Dword(0));
}

TEST_F(SettingsStoreTest, RestoreDefaultsLeavesAnEmptyKey) {
  TGlobalSettings s(*Reg);
  s.viSpeed->Value = 55;
  s.vbRecordToFile->Value = true;
  s.Save();
  Reg->WriteDword(kKey + "fMain", "left", 10);
  Reg->WriteDword(kKey + "fMain\\deeper", "x", 1);
  Reg->CreateKey(kKey + "aaa");
  Reg->WriteDword("Software\\Other", "keep", 1);

  s.RestoreDefaults();
  EXPECT_EQ(s.viSpeed->Value, 30);
  EXPECT_FALSE(s.vbRecordToFile->Value);
  EXPECT_EQ(s.List()->Count(), 7);
  EXPECT_TRUE(Reg->KeyExists(kKey));
  EXPECT_TRUE(Reg->EnumSubkeys(kKey).empty());
  EXPECT_FALSE(Stored("viSpeed"));
  EXPECT_EQ(Stored("keep", "Software\\Other"), Dword(1));  // outside the key

  s.Save();
  EXPECT_EQ(Stored("viSpeed"), Dword(30));
  EXPECT_EQ(Stored("viWaveInDevice"), Dword(0));
}

TEST_F(SettingsStoreTest, RestoreDefaultsOnAStoreThatCannotBeWrittenSaysSo) {
  TGlobalSettings s(*Reg);
  s.viSpeed->Value = 55;
  s.Save();
  fs::remove(File.string() + ".lock");
  fs::create_directory(File.string() + ".lock");  // readable, but no change can be made
  EXPECT_THROW(s.RestoreDefaults(), ERegistryWriteError);
  EXPECT_EQ(s.viSpeed->Value, 55);  // reloaded: what the store still holds
  EXPECT_EQ(s.List()->Count(), 7);
}

TEST_F(SettingsStoreTest, FailuresNameTheValue) {
  // A value of a foreign type stops the load there: earlier ones are loaded, later ones not.
  StoreForeignValue("\"viMinFreq\"=hex:01,02");
  const std::string before = FileText();
  // The start ends, but says where, and the next one runs on defaults and says why.
  EXPECT_THAT([&] { TGlobalSettings s(*Reg); },
              ThrowsMessage<ERegistryIniFileError>(
                  StartsWith("'viMinFreq' のデータ型が不正です\n" + File.string() + "\n")));
  EXPECT_FALSE(fs::exists(File));
  const auto aside = Aside();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(ReadFileText(aside[0]), before);
  {
    TRegistry next(File.string());
    EXPECT_EQ(TGlobalSettings(next).viSpeed->Value, 30);
    EXPECT_NE(next.TakeNotice().find(aside[0].string()), std::string::npos);
  }
  Reg->WriteDword(kKey, "viMinFreq", 1);
  TGlobalSettings loaded(*Reg);
  loaded.RestoreDefaults();
  StoreForeignValue("\"viMinFreq\"=hex(7):00");
  EXPECT_THROW(loaded.Load(), ERegistryIniFileError);
  EXPECT_EQ(loaded.viSpeed->Value, 50);
  EXPECT_EQ(loaded.viFloor->Value, 400);
}

TEST_F(SettingsStoreTest, FailedWritesNameTheValueThenTheFileAndTheReason) {
  // Each way a store cannot be written: the fixed text first, the file and why after it.
  const fs::path& file = File;
  const struct {
    const char* name;
    std::function<void()> make;
    std::string where, reason;
    bool needsNonRoot;
  } cases[] = {
      {"folder is a file", [&] { std::ofstream(Dir / "file") << "x"; },
       (Dir / "file" / "registry.reg.lock").string(), "Not a directory", false},
      {"lock is a folder", [&] { fs::create_directory(file.string() + ".lock"); },
       file.string() + ".lock", "Is a directory", false},
      {"read-only folder",
       [&] {
         fs::remove(file.string() + ".lock");
         TGlobalSettings(*Reg).Save();
         fs::permissions(Dir, fs::perms::owner_read | fs::perms::owner_exec);
       },
       file.string() + ".tmp", "Permission denied", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsNonRoot && geteuid() == 0) continue;  // permission bits do not stop root
    c.make();
    TRegistry reg(fs::path(c.where).parent_path() / "registry.reg");
    TGlobalSettings s(reg);
    s.viSpeed->Value = 12;
    EXPECT_THAT([&] { s.Save(); },
                ThrowsMessage<ERegistryIniFileError>("'viSpeed' の設定に失敗しました\n" + c.where +
                                                     ": " + c.reason));
    fs::permissions(Dir, fs::perms::owner_all);
  }
}

TEST_F(SettingsStoreTest, ListOwnsItemsInOrderAndSkipsReadOnlyOnSave) {
  std::vector<std::string> log;
  gLog = &log;
  {
    TVariableList list;
    auto* a = new TLoggedVariable(&list, false, 1, "a");
    new TLoggedVariable(&list, true, 2, "b");
    auto* c = list.Add(new TLoggedVariable(nullptr, false, 3, "c"));
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(0), a);
    EXPECT_EQ(list.Items(2), c);
    Reg->WriteDword(kKey, "b", 20);
    TRegistryIniFile ini(*Reg, kKey);
    list.Load(ini);
    EXPECT_EQ(static_cast<TVariableInteger*>(list.Items(0))->Value, 1);  // kept when missing
    EXPECT_EQ(static_cast<TVariableInteger*>(list.Items(1))->Value, 20);  // read-only loads
    list.Save(ini);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"save a", "save c", "~a", "~b", "~c"}));
  EXPECT_FALSE(Stored("x"));
  gLog = nullptr;
}
