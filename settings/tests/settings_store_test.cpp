#include "RegistryIniFile.h"
#include "uglobal.h"
#include "uvariable.h"
#include "test_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string kKey = "\\Software\\Trevane\\Korvel\\";

class SettingsStoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = NewTestFolder("set");
    Reg = std::make_unique<TRegistry>((Dir / "registry.reg").string());
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::string FileText() const {
    std::ifstream in(Dir / "registry.reg");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  TRegValue Value(const std::string& name, const std::string& key = kKey) {
    auto v = Reg->ReadValue(key, name);
    EXPECT_TRUE(v) << name;
    return v.value_or(TRegValue{});
  }
  fs::path Dir;
  std::unique_ptr<TRegistry> Reg;
};

}  // namespace

TEST_F(SettingsStoreTest, FirstStartCreatesEmptyKeyAndDefaults) {
  TGlobalSettings s(*Reg);
  EXPECT_EQ(s.viSpeed->Value, 30);
  EXPECT_EQ(s.viMaxFreq->Value, 3000);
  EXPECT_EQ(s.viMinFreq->Value, 20);
  EXPECT_EQ(s.viFloor->Value, 400);
  EXPECT_EQ(s.viFloor2->Value, 200);
  EXPECT_FALSE(s.vbRecordToFile->Value);
  EXPECT_EQ(s.viWaveInDevice->Value, 0);
  EXPECT_EQ(FileText(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n\n");

  // Order of creation is the order of loading and saving.
  const char* names[] = {"viSpeed",  "viMaxFreq",      "viMinFreq",     "viFloor",
                         "viFloor2", "vbRecordToFile", "viWaveInDevice"};
  ASSERT_EQ(s.List()->Count(), 7);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(s.List()->Items(i)->Name, names[i]);

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
  Reg->WriteString(kKey, "vbRecordToFile", "1");
  EXPECT_TRUE(TGlobalSettings(*Reg).vbRecordToFile->Value);
  Reg->WriteDword(kKey, "vbRecordToFile", 1);
  EXPECT_TRUE(TGlobalSettings(*Reg).vbRecordToFile->Value);
  Reg->WriteString(kKey, "vbRecordToFile", "abc");
  EXPECT_FALSE(TGlobalSettings(*Reg).vbRecordToFile->Value);
  Reg->WriteString(kKey, "vbRecordToFile", "-7");
  TGlobalSettings s(*Reg);
  EXPECT_TRUE(s.vbRecordToFile->Value);
  s.Save();  // always back as text "1"/"0", whatever it was found as
  EXPECT_EQ(Value("vbRecordToFile").Type, TRegType::Sz);
  EXPECT_EQ(Value("vbRecordToFile").Text, "1");
}

TEST_F(SettingsStoreTest, IntegerKeepsTheTypeItWasFoundWith) {
  Reg->WriteString(kKey, "viSpeed", "45");
  Reg->WriteString(kKey, "viMaxFreq", "x");
  Reg->WriteString(kKey, "viMinFreq", "2147483648");  // one past the 32-bit range
  Reg->WriteDword(kKey, "viFloor", 0xFFFFFFFFu);
  Reg->WriteString(kKey, "viFloor2", "-2147483648");
  TGlobalSettings s(*Reg);
  EXPECT_EQ(s.viSpeed->Value, 45);
  EXPECT_EQ(s.viMaxFreq->Value, 3000);
  EXPECT_EQ(s.viMinFreq->Value, 20);
  EXPECT_EQ(s.viFloor->Value, -1);  // no range is enforced
  EXPECT_EQ(s.viFloor2->Value, INT32_MIN);
  s.viFloor->Value = -5;
  s.Save();
  EXPECT_EQ(Value("viSpeed").Type, TRegType::Sz);
  EXPECT_EQ(Value("viSpeed").Text, "45");
  EXPECT_EQ(Value("viMaxFreq").Text, "3000");
  EXPECT_EQ(Value("viFloor").Type, TRegType::Dword);
  EXPECT_EQ(Value("viFloor").Dword, 0xFFFFFFFBu);
  EXPECT_EQ(Value("viWaveInDevice").Type, TRegType::Dword);
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
  EXPECT_FALSE(Reg->ReadValue(kKey, "viSpeed"));
  EXPECT_EQ(Reg->ReadValue("Software\\Other", "keep")->Dword, 1u);  // outside the key

  s.Save();
  EXPECT_EQ(Value("viSpeed").Dword, 30u);
  EXPECT_EQ(Value("viWaveInDevice").Dword, 0u);
}

TEST_F(SettingsStoreTest, RestoreDefaultsOnAStoreThatCannotBeWrittenSaysSo) {
  TGlobalSettings s(*Reg);
  s.viSpeed->Value = 55;
  s.Save();
  fs::remove(Dir / "registry.reg.lock");
  fs::create_directory(Dir / "registry.reg.lock");  // readable, but no change can be made
  EXPECT_THROW(s.RestoreDefaults(), ERegistryWriteError);
  EXPECT_EQ(s.viSpeed->Value, 55);  // reloaded: what the store still holds
  EXPECT_EQ(s.List()->Count(), 7);
}

TEST_F(SettingsStoreTest, FailuresNameTheValue) {
  // A value of a foreign type stops the load there: earlier ones are loaded, later ones not.
  Reg->WriteDword(kKey, "viSpeed", 50);
  Reg->WriteDword(kKey, "viFloor", 999);
  {
    std::ofstream out(Dir / "registry.reg", std::ios::app);
    out << "[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n\"viMinFreq\"=hex:01,02\n";
  }
  try {
    TGlobalSettings s(*Reg);
    ADD_FAILURE() << "no error";
  } catch (const ERegistryIniFileError& e) {
    EXPECT_STREQ(e.what(), "'viMinFreq' のデータ型が不正です");
  }
  Reg->WriteDword(kKey, "viMinFreq", 1);
  TGlobalSettings loaded(*Reg);
  loaded.RestoreDefaults();
  Reg->WriteDword(kKey, "viSpeed", 50);
  Reg->WriteDword(kKey, "viFloor", 999);
  {
    std::ofstream out(Dir / "registry.reg", std::ios::app);
    out << "[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n\"viMinFreq\"=hex(7):00\n";
  }
  EXPECT_THROW(loaded.Load(), ERegistryIniFileError);
  EXPECT_EQ(loaded.viSpeed->Value, 50);
  EXPECT_EQ(loaded.viFloor->Value, 400);

  // A store that cannot be written: load gives defaults, save names the first value.
  fs::path blocked = Dir / "file";
  std::ofstream(blocked) << "x";
  TRegistry bad((blocked / "registry.reg").string());
  TGlobalSettings s(bad);
  EXPECT_EQ(s.viSpeed->Value, 30);
  try {
    s.Save();
    ADD_FAILURE() << "no error";
  } catch (const ERegistryIniFileError& e) {
    EXPECT_STREQ(e.what(), "'viSpeed' の設定に失敗しました");
  }
  TRegistryIniFile ini(bad, kKey);
  try {
    ini.WriteBool("vbRecordToFile", true);
    ADD_FAILURE() << "no error";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "'vbRecordToFile' の設定に失敗しました");
  }
}

namespace {
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
  EXPECT_FALSE(Reg->ReadValue(kKey, "x"));
  gLog = nullptr;
}
