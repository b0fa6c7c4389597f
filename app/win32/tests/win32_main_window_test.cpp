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
#include "win32_test.h"
#include "winstr.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t* const kRoot = L"Software\\KorvelWin32WindowTest";

// Answers the message boxes this thread opens: every 20 ms, while a box is open, Step runs
// inside the box's own loop; the box is closed with OK once Step returns true. Each box's
// title and text are kept.
struct TBoxAnswerer {
  std::vector<std::wstring> Titles, Texts;
  UINT_PTR Timer;
  explicit TBoxAnswerer(std::function<bool()> Step)
      : Timer(RunFromMessageLoop(20, [this, Step] {
          HWND Box = FindBox(
              [](HWND W) { return GetWindowThreadProcessId(W, nullptr) == GetCurrentThreadId(); });
          if (!Box || !Step()) return false;
          Titles.push_back(WindowText(Box));
          Texts.push_back(BoxText(Box));
          PostMessageW(Box, WM_COMMAND, IDOK, 0);
          return false;
        })) {}
  ~TBoxAnswerer() { StopTimerStep(Timer); }
};

class Win32MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    Settings.vbRecordToFile->Value = false;  // no .\output.wav from a test
    GlobalSettings = &Settings;
    WaveIn.Devices = {"Card A", "Card B"};
    Window = std::make_unique<TWin32MainWindow>(WaveIn, Clock);
    Window->QuitOnDestroy = false;
    TWin32Application::SetMainWindow(Window->Handle());
    ShowWindow(Window->Handle(), SW_SHOWNORMAL);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) TWin32Application::Dispatch(message);
  }
  void TearDown() override {
    Window.reset();
    TWin32Application::SetMainWindow(nullptr);
    GlobalSettings = nullptr;
  }
  HWND Control(int id) { return Window->Control(id); }
  bool Enabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }

  TScratchKey Key{kRoot};
  TRegistry Registry{WideToUtf8(kRoot)};
  TGlobalSettings Settings{Registry};
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
  EXPECT_EQ(WindowText(window), L"Korvel 2.0");
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "single fixed border, no maximise box";
  EXPECT_NE(style & WS_MINIMIZEBOX, 0);

  const struct {
    int Id;
    const wchar_t* Class;
    int Left, Top, Width, Height;  // 0: sized to its text
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
    EXPECT_EQ(_wcsicmp(ClassOf(control).c_str(), c.Class), 0) << WideToUtf8(ClassOf(control));
    EXPECT_EQ(WideToUtf8(WindowText(control)), c.Text);
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, c.Left);
    EXPECT_EQ(r.top, c.Top);
    EXPECT_EQ(c.Width ? r.right - r.left : 0, c.Width);
    EXPECT_EQ(c.Height ? r.bottom - r.top : 0, c.Height);
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
  TBoxAnswerer answer([&] {
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
  TBoxAnswerer answer([] { return true; });
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
