// The Win32 main window over the test audio backend: its layout as a driver from outside
// sees it, a capture started and calibrated through the real message plumbing (the prompt's
// own loop handling MM_WIM_DATA), and the default error report. Settings live below a test
// key of their own; no mailbox.
#include "FakeWaveIn.h"
#include "ManualClock.h"
#include "Win32Application.h"
#include "Win32MainWindow.h"
#include "apptitle.h"
#include "controlids.h"
#include "registry.h"
#include "uglobal.h"
#include "winstr.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t* const kRoot = L"Software\\KorvelWin32WindowTest";

std::wstring Text(HWND window) {
  wchar_t buffer[256] = {};
  GetWindowTextW(window, buffer, 256);
  return buffer;
}

// Answers the message boxes this thread opens: every 20 ms, while a box is open, `step`
// runs inside the box's own loop and gets the box (null while none is open); the box is
// closed with OK once `step` returns true. Each box's title and text are kept.
struct TBoxAnswerer {
  std::function<bool(HWND)> Step;
  std::vector<std::wstring> Titles, Texts;

  static BOOL CALLBACK IsBox(HWND w, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(w, name, 16);
    if (std::wstring(name) != L"#32770" || !IsWindowVisible(w)) return TRUE;
    *reinterpret_cast<HWND*>(found) = w;
    return FALSE;
  }
  static HWND OpenBox() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), IsBox, reinterpret_cast<LPARAM>(&found));
    return found;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = OpenBox();
    if (!box || !Current->Step(box)) return;
    Current->Titles.push_back(Text(box));
    Current->Texts.push_back(Text(GetDlgItem(box, 0xFFFF)));  // the box's text control
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  explicit TBoxAnswerer(std::function<bool(HWND)> step) : Step(std::move(step)) {
    Current = this;
    Timer = SetTimer(nullptr, 0, 20, Tick);
  }
  ~TBoxAnswerer() { KillTimer(nullptr, Timer); }
  static inline TBoxAnswerer* Current = nullptr;
  UINT_PTR Timer = 0;
};

class Win32MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    Registry = std::make_unique<TRegistry>(WideToUtf8(kRoot));
    Settings = std::make_unique<TGlobalSettings>(*Registry);
    Settings->vbRecordToFile->Value = false;  // no .\output.wav from a test
    GlobalSettings = Settings.get();
    WaveIn.Devices = {"Card A", "Card B"};
    Window = std::make_unique<TWin32MainWindow>(WaveIn, Clock);
    Window->QuitOnDestroy = false;
    TWin32Application::SetMainWindow(Window->Handle());
    ShowWindow(Window->Handle(), SW_SHOWNORMAL);
    Pump();
  }
  void TearDown() override {
    Window.reset();
    TWin32Application::SetMainWindow(nullptr);
    GlobalSettings = nullptr;
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
  }
  static void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) TWin32Application::Dispatch(message);
  }
  HWND Control(int id) { return Window->Control(id); }
  bool Enabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }

  std::unique_ptr<TRegistry> Registry;
  std::unique_ptr<TGlobalSettings> Settings;
  TFakeWaveIn WaveIn;
  TManualClock Clock;
  std::unique_ptr<TWin32MainWindow> Window;
};

TEST_F(Win32MainWindowTest, LaysOutTheControlsWithTheirTextsAndFont) {
  HWND window = Window->Handle();
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 269);
  EXPECT_EQ(client.bottom, 280);
  EXPECT_EQ(Text(window), L"Korvel 2.0");
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "single fixed border, no maximise box";
  EXPECT_NE(style & WS_MINIMIZEBOX, 0);

  const struct {
    int Id;
    const wchar_t* Class;
    int Left, Top, Width, Height;  // width 0: sized to its text
    const char* Text;
  } cases[] = {
      {idBevel1, L"Static", 23, 15, 222, 62, ""},
      {idDpb, kPaintBoxClass, 24, 16, 220, 60, ""},
      {idCheckBox1, L"Button", 24, 88, 249, 17, "ラノフォンの速度を変更する"},
      {idWaveInComboBox1, L"ComboBox", 24, 112, 225, 0, "利用可能なデバイス"},
      {idLabel2, L"Static", 24, 144, 0, 0, "現在の速度"},
      {idLabel3, L"Static", 120, 144, 0, 0, "1.00倍速"},
      {idLabel1, L"Static", 24, 168, 0, 0, "基本周波数"},
      {idLblFundamental, L"Static", 120, 168, 0, 0, "(未検出)"},
      {idLabel6, L"Static", 24, 192, 0, 0, "音量レベル"},
      {idLblVolume, L"Static", 120, 192, 0, 0, ""},
      {idLabel5, L"Static", 24, 216, 0, 0, "しきい値"},
      {idLabel4, L"Static", 120, 216, 0, 0, "400hz"},
      {idBtnRecord, L"Button", 16, 240, 75, 25, "開始"},
      {idBtnStop, L"Button", 96, 240, 75, 25, "停止"},
      {idButton3, L"Button", 176, 240, 75, 25, "環境設定"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Id);
    HWND control = Control(c.Id);
    ASSERT_NE(control, nullptr);
    wchar_t name[32] = {};
    GetClassNameW(control, name, 32);
    EXPECT_EQ(_wcsicmp(name, c.Class), 0) << WideToUtf8(name);
    EXPECT_EQ(WideToUtf8(Text(control)), c.Text);
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, c.Left);
    EXPECT_EQ(r.top, c.Top);
    if (c.Width) {
      EXPECT_EQ(r.right - r.left, c.Width);
    }
    if (c.Height) {
      EXPECT_EQ(r.bottom - r.top, c.Height);
    }
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    if (c.Id != idDpb) {
      EXPECT_STREQ(font.lfFaceName, L"MS UI Gothic");
      EXPECT_EQ(font.lfHeight, -15);
      EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET);
    }
  }
  EXPECT_EQ(SendMessageW(Control(idCheckBox1), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_FALSE(Enabled(idBtnStop));
  // The preferred device first, then the input's devices; position 0 selected when shown.
  ASSERT_EQ(SendMessageW(Control(idWaveInComboBox1), CB_GETCOUNT, 0, 0), 3);
  wchar_t item[64] = {};
  SendMessageW(Control(idWaveInComboBox1), CB_GETLBTEXT, 0, LPARAM(item));
  EXPECT_EQ(WideToUtf8(item), "利用可能なデバイス");
  SendMessageW(Control(idWaveInComboBox1), CB_GETLBTEXT, 2, LPARAM(item));
  EXPECT_EQ(WideToUtf8(item), "Card B");
  EXPECT_EQ(SendMessageW(Control(idWaveInComboBox1), CB_GETCURSEL, 0, 0), 0);
}

// 開始 opens the calibration prompt; buffers posted as MM_WIM_DATA are analysed inside the
// prompt's loop; OK calibrates on them; 停止 ends the capture and drops its pending notices.
TEST_F(Win32MainWindowTest, BuffersReachTheWindowWhileThePromptIsOpen) {
  TBoxAnswerer answer([&](HWND) {
    WaveIn.DeliverConstant(1000);
    return Window->LastMean != 0.0;
  });
  SendMessageW(Control(idBtnRecord), BM_CLICK, 0, 0);
  ASSERT_EQ(answer.Texts.size(), 1u);
  EXPECT_EQ(WideToUtf8(answer.Texts[0]), TfMain::CalibrationPrompt);
  EXPECT_EQ(answer.Titles[0], TWin32Application::Title());
  EXPECT_EQ(Window->ReferenceMean, 1000.0);
  EXPECT_TRUE(Window->Recording);
  EXPECT_FALSE(Enabled(idBtnRecord));
  EXPECT_FALSE(Enabled(idWaveInComboBox1));
  EXPECT_TRUE(Enabled(idBtnStop));
  EXPECT_TRUE(Enabled(idButton3));

  WaveIn.DeliverConstant(1000);  // still queued when 停止 closes the device
  SendMessageW(Control(idBtnStop), BM_CLICK, 0, 0);
  MSG pending;
  EXPECT_FALSE(PeekMessageW(&pending, Window->Handle(), MM_WIM_OPEN, MM_WIM_DATA, PM_NOREMOVE))
      << "the closed device's notices are dropped";
  EXPECT_FALSE(Window->Recording);
  EXPECT_FALSE(WaveIn.IsOpen());
  EXPECT_TRUE(Enabled(idBtnRecord));
  EXPECT_FALSE(Enabled(idBtnStop));
}

// An exception leaving a handler is shown with its text, and the window goes on.
TEST_F(Win32MainWindowTest, AnErrorOfAHandlerIsShownAndTheWindowGoesOn) {
  Window->ShowConfigDialog = [] { throw EMainWindowError("設定を開けません。"); };
  TBoxAnswerer answer([](HWND) { return true; });
  SendMessageW(Control(idButton3), BM_CLICK, 0, 0);
  ASSERT_EQ(answer.Texts.size(), 1u);
  EXPECT_EQ(WideToUtf8(answer.Texts[0]), "設定を開けません。");
  EXPECT_TRUE(IsWindow(Window->Handle()));
}

TEST(ApplicationTitle, ComesFromTheProgramFileName) {
  const struct {
    const char* Path;
    const char* Title;
  } cases[] = {{"C:\\Program Files\\Korvel\\KORVEL.EXE", "Korvel"},
               {"korvel.exe", "korvel"},
               {"D:KORVEL.real.exe", "Korvel"},
               {"C:/x/ＫＯＲＶＥＬ.exe", "Ｋｏｒｖｅｌ"}};
  for (const auto& c : cases) EXPECT_EQ(ApplicationTitleFromPath(c.Path), c.Title) << c.Path;
}

}  // namespace
