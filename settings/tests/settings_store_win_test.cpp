// The settings store on the real registry: what Save leaves there is read back with the
// plain Win32 calls, value by value with its type. Each test works below a key of its
// own (TRegistry's root), never on the program's settings.
#include "RegistryIniFile.h"
#include "uglobal.h"
#include "win32_test.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

const std::string kKey = "\\Software\\Trevane\\Korvel\\";
const std::wstring kRoot = L"Software\\KorvelTest";

class SettingsStoreWinTest : public ::testing::Test {
protected:
  // Type and data of a value below the root, as any other program sees it.
  static TRawValue Raw(const std::wstring& Sub, const wchar_t* Name) {
    return RawValue(kRoot + L"\\Software\\Trevane\\Korvel" + Sub, Name);
  }
  TScratchKey Key{kRoot};
  TRegistry Reg{"Software\\KorvelTest"};
};

TEST_F(SettingsStoreWinTest, SaveWritesDwordsAndTheBooleanAsTextUnderTheSettingsKey) {
  TGlobalSettings S(Reg);
  EXPECT_EQ(Raw(L"", L"viSpeed").first, DWORD(REG_NONE)) << "nothing is written before a save";
  Reg.WriteString(kKey, "viMaxFreq", "2500");  // found as text: stays text
  TGlobalSettings Found(Reg);
  EXPECT_EQ(Found.viMaxFreq->Value, 2500);
  Found.viSpeed->Value = 45;
  Found.Save();
  const struct {
    const wchar_t* Name;
    DWORD Type;
    const wchar_t* Data;
  } Cases[] = {{L"viSpeed", REG_DWORD, L"45"},      {L"viMaxFreq", REG_SZ, L"2500"},
               {L"viMinFreq", REG_DWORD, L"20"},    {L"viFloor", REG_DWORD, L"400"},
               {L"viFloor2", REG_DWORD, L"200"},    {L"vbRecordToFile", REG_SZ, L"0"},
               {L"viWaveInDevice", REG_DWORD, L"0"}};
  for (const auto& C : Cases) EXPECT_EQ(Raw(L"", C.Name), TRawValue(C.Type, C.Data)) << C.Name;
}

TEST_F(SettingsStoreWinTest, PlacementSubkeyAndRestoreDefaults) {
  TRegistryIniFile Placement(Reg, kKey + "fMain\\");
  Placement.WriteInteger("left", -2000);
  Placement.WriteBool("maximized", true);
  EXPECT_EQ(Raw(L"\\fMain", L"left"), TRawValue(REG_DWORD, std::to_wstring(DWORD(-2000))));
  EXPECT_EQ(Raw(L"\\fMain", L"maximized"), TRawValue(REG_SZ, L"1"));
  EXPECT_EQ(Placement.ReadInteger("left", 0), -2000);
  Reg.WriteDword(kKey + "fMain\\deeper", "x", 1);

  TGlobalSettings S(Reg);
  S.RestoreDefaults();
  EXPECT_TRUE(Reg.KeyExists(kKey));
  EXPECT_TRUE(Reg.EnumSubkeys(kKey).empty());
  EXPECT_EQ(Raw(L"\\fMain", L"left").first, DWORD(REG_NONE));
}

TEST_F(SettingsStoreWinTest, AValueOfAnotherTypeIsReportedByName) {
  Reg.CreateKey(kKey);
  const BYTE Blob[3] = {1, 2, 3};
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (kRoot + L"\\Software\\Trevane\\Korvel").c_str(),
                            L"viFloor", REG_BINARY, Blob, sizeof Blob),
            ERROR_SUCCESS);
  try {
    TRegistryIniFile(Reg, kKey).ReadInteger("viFloor", 0);
    ADD_FAILURE() << "read a binary value as a number";
  } catch (const ERegistryIniFileError& E) {
    EXPECT_EQ(std::string(E.what()).rfind("'viFloor' のデータ型が不正です", 0), 0u) << E.what();
  }
}

}  // namespace
