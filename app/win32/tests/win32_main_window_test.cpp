// The Win32 main window over the test audio backend: its layout as a driver from outside
// sees it, a capture started and calibrated through the real message plumbing (the prompt's
// own loop handling MM_WIM_DATA), and the default error report. Settings live below a test
// key of their own; no mailbox.
#include "../../testing/main_window_layout.h"
#include "FakeWaveIn.h"
#include "ManualClock.h"
#include "Win32Application.h"
#include "Win32MainWindow.h"
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

const wchar_t* WindowClass(TMainControlId id) {
  if (id == idDpb) return kPaintBoxClass;
  if (id == idWaveInComboBox1) return L"ComboBox";
  return id == idCheckBox1 || id >= idBtnRecord ? L"Button" : L"Static";
}

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
  void ExpectEnabled(bool capturing) {
    for (const TMainControlLayout& c : kMainControls)
      EXPECT_EQ(IsWindowEnabled(Control(c.Id)) != FALSE, capturing ? c.Capturing : c.Idle) << c.Id;
  }

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
  EXPECT_EQ(client.right, kMainClientWidth);
  EXPECT_EQ(client.bottom, kMainClientHeight);
  EXPECT_EQ(WideToUtf8(WindowText(window)), kMainWindowCaption);
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "single fixed border, no maximise box";
  EXPECT_NE(style & WS_MINIMIZEBOX, 0);

  for (const TMainControlLayout& c : kMainControls) {
    SCOPED_TRACE(c.Id);
    HWND control = Control(c.Id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(_wcsicmp(ClassOf(control).c_str(), WindowClass(c.Id)), 0)
        << WideToUtf8(ClassOf(control));
    EXPECT_EQ(WideToUtf8(WindowText(control)), c.Text);
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, c.Left);
    EXPECT_EQ(r.top, c.Top);
    EXPECT_EQ(c.Width ? r.right - r.left : 0, c.Width);
    // A closed combo box is as high as the system makes it for its font.
    if (c.Id != idWaveInComboBox1) {
      EXPECT_EQ(c.Height ? r.bottom - r.top : 0, c.Height);
    }
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    if (c.Id != idDpb) {
      EXPECT_STREQ(font.lfFaceName, L"MS UI Gothic");
      EXPECT_EQ(font.lfHeight, -15);
      EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET);
    }
  }
  ExpectEnabled(false);
  EXPECT_EQ(SendMessageW(Control(idCheckBox1), BM_GETCHECK, 0, 0), BST_CHECKED);
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
  ExpectEnabled(true);

  WaveIn.DeliverConstant(1000);  // still queued when 停止 closes the device
  SendMessageW(Control(idBtnStop), BM_CLICK, 0, 0);
  MSG pending;
  EXPECT_FALSE(PeekMessageW(&pending, Window->Handle(), MM_WIM_OPEN, MM_WIM_DATA, PM_NOREMOVE))
      << "the closed device's notices are dropped";
  EXPECT_FALSE(Window->Recording);
  EXPECT_FALSE(WaveIn.IsOpen());
  ExpectEnabled(false);
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

}  // namespace
