// The settings store on the real registry: what Save leaves there is read back with the
// plain Win32 calls, value by value with its type. Each test works below a key of its
// own (TRegistry's root), never on the program's settings.
#include "RegistryIniFile.h"
#include "uglobal.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

const std::string kKey = "\\Software\\Trevane\\Korvel\\";
const std::wstring kRoot = L"Software\\KorvelTest";

class SettingsStoreWinTest : public ::testing::Test {
protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kRoot.c_str()); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kRoot.c_str()); }
  // Type and data of a value below the root, as any other program sees it.
  std::pair<DWORD, std::wstring> Raw(const std::wstring& Sub, const wchar_t* Name) {
    BYTE Data[256] = {};
    DWORD Type = 0, Size = sizeof Data - 2;
    const std::wstring Key = kRoot + L"\\Software\\Trevane\\Korvel" + Sub;
    if (RegGetValueW(HKEY_CURRENT_USER, Key.c_str(), Name, RRF_RT_ANY, &Type, Data, &Size) != ERROR_SUCCESS)
      return {REG_NONE, L"missing"};
    if (Type == REG_DWORD) return {Type, std::to_wstring(*reinterpret_cast<DWORD*>(Data))};
    return {Type, reinterpret_cast<const wchar_t*>(Data)};
  }
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
  for (const auto& C : Cases) {
    const auto [Type, Data] = Raw(L"", C.Name);
    EXPECT_EQ(Type, C.Type) << C.Name;
    EXPECT_EQ(Data, C.Data) << C.Name;
  }
}

TEST_F(SettingsStoreWinTest, PlacementSubkeyAndRestoreDefaults) {
  TRegistryIniFile Placement(Reg, kKey + "fMain\\");
  Placement.WriteInteger("left", -2000);
  Placement.WriteBool("maximized", true);
  EXPECT_EQ(Raw(L"\\fMain", L"left"), std::make_pair(DWORD(REG_DWORD), std::to_wstring(DWORD(-2000))));
  EXPECT_EQ(Raw(L"\\fMain", L"maximized"), std::make_pair(DWORD(REG_SZ), std::wstring(L"1")));
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
  HKEY K = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (kRoot + L"\\Software\\Trevane\\Korvel").c_str(), 0, KEY_SET_VALUE, &K),
            ERROR_SUCCESS);
  const BYTE Blob[3] = {1, 2, 3};
  RegSetValueExW(K, L"viFloor", 0, REG_BINARY, Blob, sizeof Blob);
  RegCloseKey(K);
  try {
    TRegistryIniFile(Reg, kKey).ReadInteger("viFloor", 0);
    ADD_FAILURE() << "read a binary value as a number";
  } catch (const ERegistryIniFileError& E) {
    EXPECT_EQ(std::string(E.what()).substr(0, std::string("'viFloor' のデータ型が不正です").size()),
              "'viFloor' のデータ型が不正です");
  }
}

}  // namespace
