// The settings on Windows: the store on the real registry (what Save leaves there read back
// with the plain Win32 calls, value by value with its type), the Win32 settings dialog, its
// numeric edits and the window placement on real windows; the settings below a registry
// root of this test's own, never in the program's key.
#include "RegistryIniFile.h"
#include "Win32ConfigDialog.h"
#include "Win32ConfigForm.h"
#include "Win32NumberEdit.h"
#include "Win32Placement.h"
#include "typed_keys.h"
#include "uglobal.h"
#include "win32_test.h"
#include "winstr.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace {

const std::string kKey = "\\Software\\Trevane\\Korvel\\";

const std::wstring kRoot = L"Software\\KorvelSettingsWinTest";

class SettingsWinTest : public ::testing::Test {
protected:
  SettingsWinTest() { GlobalSettings = &Settings; }
  ~SettingsWinTest() override { GlobalSettings = nullptr; }
  // Type and data of a value below the root, as any other program sees it.
  static TRawValue Raw(const std::wstring& Sub, const wchar_t* Name) {
    return RawValue(kRoot + L"\\Software\\Trevane\\Korvel" + Sub, Name);
  }
  TScratchKey Key{kRoot};
  TRegistry Reg{WideToUtf8(kRoot)};
  TGlobalSettings Settings{Reg};
};

// A control's rectangle in its dialog's client coordinates.
void ExpectAt(HWND control, const RECT& want, int dpi) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_TRUE(EqualRect(&r, &want))
      << dpi << " dpi, control " << GetDlgCtrlID(control) << ": " << r.left << "," << r.top
      << " to " << r.right << "," << r.bottom;
}

// Runs `step` once from the modal loop of whatever is shown next.
void RunSoon(std::function<void()> step) {
  RunFromMessageLoop(10, [step] {
    step();
    return true;
  });
}

TEST_F(SettingsWinTest, TypedCharactersAreFilteredAndTheReadChecksThePastedText) {
  HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_POPUP | ES_AUTOHSCROLL, 0, 0, 80, 20, nullptr,
                              nullptr, nullptr, nullptr);
  for (const TTypedKey& k : kTypedKeys) {
    MakeNumberEdit(edit, TNumberRules{k.Real, k.Minus});
    WriteEditText(edit, k.Text);
    SendMessageW(edit, EM_SETSEL, k.Start, k.Start + k.Length);
    SendMessageW(edit, WM_CHAR, k.C, 1);
    const std::u16string want = TextAfter(k);
    EXPECT_EQ(WindowText(edit), std::wstring(want.begin(), want.end()))
        << "typed U+" << std::hex << int(k.C) << " at " << k.Start << "+" << k.Length;
  }
  SetWindowTextW(edit, L"99999999999");  // pasted: beyond 32 bits, read as "0"
  EXPECT_TRUE(ReadNumberEdit(edit, false) == u"0" && WindowText(edit) == L"0");
  DestroyWindow(edit);
}

// The layout at two densities, the settings shown on opening, a letter refused and a
// number typed, then OK: stored and saved. Cancel forgets what was typed.
TEST_F(SettingsWinTest, LaidOutAtTheDensityShowsTheSettingsAndOKSaves) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 100, 80, 600, 500,
                               nullptr, nullptr, nullptr, nullptr);
  const struct {
    int Dpi;
    RECT Client, Edit, OK;
    bool Ok;
  } cases[] = {
      {120, {0, 0, 357, 288}, {192, 88, 257, 111}, {72, 256, 147, 281}, false},
      {96, {0, 0, 286, 230}, {154, 70, 206, 88}, {58, 205, 118, 225}, true},
  };
  Settings.viSpeed->Value = 45;
  Settings.viMaxFreq->Value = 2800;
  for (const auto& c : cases) {
    TWin32ConfigForm form(owner, c.Dpi);
    RunSoon([&] {
      HWND dialog = form.Handle();
      ASSERT_NE(dialog, nullptr);
      EXPECT_FALSE(IsWindowEnabled(owner)) << "modal on its owner";
      RECT client{}, window{}, around{};
      GetClientRect(dialog, &client);
      EXPECT_TRUE(EqualRect(&client, &c.Client))
          << c.Dpi << ": client " << client.right << "x" << client.bottom;
      HWND edit = GetDlgItem(dialog, TWin32ConfigForm::idEditMaxFreq);
      ExpectAt(edit, c.Edit, c.Dpi);
      ExpectAt(GetDlgItem(dialog, IDOK), c.OK, c.Dpi);
      GetWindowRect(dialog, &window);
      GetWindowRect(owner, &around);
      EXPECT_LE(std::abs(window.left + window.right - around.left - around.right) +
                    std::abs(window.top + window.bottom - around.top - around.bottom),
                2) << "centred on the owner";
      EXPECT_EQ(SendMessageW(GetDlgItem(dialog, TWin32ConfigForm::idTrackSpeed), TBM_GETPOS, 0, 0), 45);
      EXPECT_EQ(WindowText(GetDlgItem(dialog, TWin32ConfigForm::idLabel2)), L"4.50倍速");
      EXPECT_EQ(WindowText(edit), L"2800");
      SetWindowTextW(edit, L"");
      for (wchar_t typed : std::wstring(L"2x5")) SendMessageW(edit, WM_CHAR, typed, 1);
      SendMessageW(GetDlgItem(dialog, c.Ok ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
    });
    form.ShowModal();
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(Settings.viMaxFreq->Value, c.Ok ? 25 : 2800) << c.Dpi;
    EXPECT_EQ(TRegistryIniFile(Reg, kKey).ReadInteger("viMaxFreq", -1), c.Ok ? 25 : -1) << c.Dpi;
  }
  DestroyWindow(owner);
}

// 標準の設定 asks first, with the dialog disabled under the question; Yes shows the defaults
// at once and leaves the key empty, and Cancel does not bring the old settings back.
TEST_F(SettingsWinTest, DefaultsAskWithTheDialogDisabledAndStayAfterCancel) {
  TWin32ConfigDialog::MessageTitle = L"KorvelTest";
  Settings.viSpeed->Value = 45;
  Settings.Save();
  TWin32ConfigForm form(nullptr, 120);
  auto item = [&](int id) { return GetDlgItem(form.Handle(), id); };
  RunSoon([&] {
    RunSoon([&] {
      HWND box = FindBox([](HWND w) { return WindowText(w) == L"KorvelTest"; });
      if (!box) {
        ADD_FAILURE() << "no question asked";
        return (void)SendMessageW(item(IDCANCEL), BM_CLICK, 0, 0);
      }
      EXPECT_EQ(BoxText(box), L"標準の設定を読み込みますか。");
      EXPECT_FALSE(IsWindowEnabled(form.Handle()));
      RunSoon([&] {
        EXPECT_TRUE(IsWindowEnabled(form.Handle()));
        EXPECT_EQ(WindowText(item(TWin32ConfigForm::idLabel2)), L"3.00倍速");
        EXPECT_EQ(WindowText(item(TWin32ConfigForm::idEditMaxFreq)), L"3000");
        EXPECT_FALSE(Reg.ReadValue(kKey, "viSpeed").has_value());
        SendMessageW(item(IDCANCEL), BM_CLICK, 0, 0);
      });
      PostMessageW(box, WM_COMMAND, IDYES, 0);
    });
    PostMessageW(item(TWin32ConfigForm::idDefaults), BM_CLICK, 0, 0);  // sent, it would block here
  });
  form.ShowModal();
  TWin32ConfigDialog::MessageTitle.clear();
  EXPECT_EQ(Settings.viSpeed->Value, 30);
}

// First start centred; saved where it was moved; restored there (maximised as stored).
TEST_F(SettingsWinTest, PlacementRoundTrip) {
  HWND window = CreateWindowExW(0, L"STATIC", L"fMain",
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 300,
                                200, nullptr, nullptr, nullptr, nullptr);
  RestoreWindowPlacement(window, "fMain");
  RECT r{};
  GetWindowRect(window, &r);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 300) / 2);
  EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 200) / 2);

  SetWindowPos(window, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SaveWindowPlacement(window, "fMain");
  TRegistryIniFile ini(Reg, kKey + "fMain\\");
  EXPECT_EQ(ini.ReadInteger("left", -1), 40);
  EXPECT_EQ(ini.ReadInteger("top", -1), 30);
  EXPECT_EQ(Reg.ReadValue(kKey + "fMain\\", "maximized")->Text, "0");
  EXPECT_FALSE(Reg.ReadValue(kKey + "fMain\\", "width").has_value())
      << "a fixed border stores no size";

  SetWindowPos(window, nullptr, 200, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  RestoreWindowPlacement(window, "fMain");
  GetWindowRect(window, &r);
  EXPECT_EQ(r.left, 40);
  EXPECT_EQ(r.top, 30);
  EXPECT_EQ(r.right - r.left, 300);

  ini.WriteBool("maximized", true);
  RestoreWindowPlacement(window, "fMain");
  EXPECT_TRUE(IsZoomed(window));
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  EXPECT_EQ(placement.rcNormalPosition.left, 40);
  SaveWindowPlacement(window, "fMain");
  EXPECT_TRUE(ini.ReadBool("maximized", false));
  EXPECT_EQ(ini.ReadInteger("left", -1), 40);
  DestroyWindow(window);
}

TEST_F(SettingsWinTest, SaveWritesDwordsAndTheBooleanAsTextUnderTheSettingsKey) {
  EXPECT_EQ(Raw(L"", L"viSpeed").first, DWORD(REG_NONE)) << "nothing is written before a save";
  Reg.WriteString(kKey, "viMaxFreq", "2500");  // found as text: stays text
  TGlobalSettings Found(Reg);
  EXPECT_EQ(Found.viMaxFreq->Value, 2500);
  Found.viSpeed->Value = 45;
  Found.Save();
  const TRawRow Cases[] = {{L"viSpeed", REG_DWORD, L"45"},      {L"viMaxFreq", REG_SZ, L"2500"},
                           {L"viMinFreq", REG_DWORD, L"20"},    {L"viFloor", REG_DWORD, L"400"},
                           {L"viFloor2", REG_DWORD, L"200"},    {L"vbRecordToFile", REG_SZ, L"0"},
                           {L"viWaveInDevice", REG_DWORD, L"0"}};
  for (const auto& C : Cases) EXPECT_EQ(Raw(L"", C.Name), TRawValue(C.Type, C.Data)) << C.Name;
}

TEST_F(SettingsWinTest, PlacementSubkeyAndRestoreDefaults) {
  TRegistryIniFile Placement(Reg, kKey + "fMain\\");
  Placement.WriteInteger("left", -2000);
  Placement.WriteBool("maximized", true);
  EXPECT_EQ(Raw(L"\\fMain", L"left"), TRawValue(REG_DWORD, std::to_wstring(DWORD(-2000))));
  EXPECT_EQ(Raw(L"\\fMain", L"maximized"), TRawValue(REG_SZ, L"1"));
  EXPECT_EQ(Placement.ReadInteger("left", 0), -2000);
  Reg.WriteDword(kKey + "fMain\\deeper", "x", 1);

  Settings.RestoreDefaults();
  EXPECT_TRUE(Reg.KeyExists(kKey));
  EXPECT_TRUE(Reg.EnumSubkeys(kKey).empty());
  EXPECT_EQ(Raw(L"\\fMain", L"left").first, DWORD(REG_NONE));
}

TEST_F(SettingsWinTest, AValueOfAnotherTypeIsReportedByName) {
  Reg.CreateKey(kKey);
  const BYTE Blob[3] = {1, 2, 3};
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (kRoot + L"\\Software\\Trevane\\Korvel").c_str(),
                            L"viFloor", REG_BINARY, Blob, sizeof Blob),
            ERROR_SUCCESS);
  EXPECT_THAT([&] { TRegistryIniFile(Reg, kKey).ReadInteger("viFloor", 0); },
              ::testing::ThrowsMessage<ERegistryIniFileError>(
                  ::testing::StartsWith("'viFloor' のデータ型が不正です")));
}

}  // namespace
