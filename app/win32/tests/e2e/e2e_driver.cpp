// korvel-e2e-driver PROGRAM RUN_DIR SCREENSHOT.bmp: drives korvel.exe as a user does, from
// another process of the same Wine prefix (e2e_run.sh provides display, sound and fonts).
// It starts PROGRAM in RUN_DIR, presses its buttons, answers its boxes, types into its
// settings dialog, and checks what the player, the registry and the capture file see.
//
// Across processes a button whose click opens a modal box gets its BM_CLICK posted (a sent
// one would block until the box closes). The window's controls are found by their
// identifiers (controlids.h) and checked against the layout every front end shares, the
// dialog's by class and text.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../../testing/main_window_layout.h"
#include "DIBSurf.h"
#include "child_process.h"
#include "mailboxreader.h"
#include "test_files.h"
#include "win32_test.h"
#include "winstr.h"

namespace {

// The shared poll, with the time-out first so the condition reads last at each step.
bool WaitFor(int Ms, const std::function<bool()>& Cond) { return PollUntil(Cond, Ms); }

std::string U8(HWND W) { return WideToUtf8(WindowText(W)); }

// The children of Parent of the window class Class, top to bottom.
std::vector<HWND> Children(HWND Parent, const wchar_t* Class) {
  std::vector<HWND> Found;
  for (HWND W = nullptr; (W = FindWindowExW(Parent, W, Class, nullptr));) Found.push_back(W);
  auto Top = [](HWND W) {
    RECT R{};
    GetWindowRect(W, &R);
    return R.top;
  };
  std::stable_sort(Found.begin(), Found.end(), [&](HWND A, HWND B) { return Top(A) < Top(B); });
  return Found;
}

// A dialog box of the program, owned by its window.
HWND OwnedBox(HWND Owner) {
  return FindBox([&](HWND W) { return GetWindow(W, GW_OWNER) == Owner; });
}

void Click(HWND Button) { PostMessageW(Button, BM_CLICK, 0, 0); }

void Type(HWND Edit, const wchar_t* Keys) {
  SendMessageW(Edit, EM_SETSEL, 0, -1);
  for (const wchar_t* K = Keys; *K; ++K) SendMessageW(Edit, WM_CHAR, *K, 1);
}

// ------------------------------------------------------------------ registry

const wchar_t* const kSettingsKey = L"Software\\Trevane\\Korvel";

const std::wstring kPlacementKey = std::wstring(kSettingsKey) + L"\\fMain";

// ------------------------------------------------------------------ pictures

HDC DcOf(const TDIBSurface& P) { return static_cast<HDC>(P.DC()); }

// Whether the pixel at X, Y (top row 0; memory rows run bottom up) is dark, as text is.
bool Ink(const TDIBSurface& P, int X, int Y) {
  if (X < 0 || Y < 0 || X >= P.Width() || Y >= P.Height()) return false;
  const uint32_t Px = *P.PixelAddress(X, P.Height() - 1 - Y);
  return ((Px >> 16 & 255) * 3 + (Px >> 8 & 255) * 6 + (Px & 255)) < 128 * 10;
}

bool SamePixels(const TDIBSurface& A, const TDIBSurface& B) {
  return A.Width() == B.Width() && A.Height() == B.Height() &&
         std::memcmp(A.Bits(), B.Bits(), A.ImageBytes()) == 0;
}

// Text drawn black on white in the window's font ("MS UI Gothic", 15 pixels, Shift-JIS),
// as the program's labels draw it, on a surface as large as the text.
std::unique_ptr<TDIBSurface> Render(const std::wstring& S) {
  auto P = std::make_unique<TDIBSurface>(1, 1, 32);
  const HDC Dc = DcOf(*P);
  HFONT Font =
      CreateFontW(-15, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, 0, L"MS UI Gothic");
  const HGDIOBJ Old = SelectObject(Dc, Font);
  SIZE Extent{};
  GetTextExtentPoint32W(Dc, S.c_str(), int(S.size()), &Extent);
  P->SetSize(Extent.cx, Extent.cy, 32);  // the same context, the font still selected
  PatBlt(Dc, 0, 0, Extent.cx, Extent.cy, WHITENESS);
  SetBkMode(Dc, TRANSPARENT);
  TextOutW(Dc, 0, 0, S.c_str(), int(S.size()));
  GdiFlush();
  SelectObject(Dc, Old);
  DeleteObject(Font);
  return P;
}

// Pixels whose ink differs between Glyphs and Shot at X, Y, at the best shift by up to two
// pixels each way.
long Mismatch(const TDIBSurface& Glyphs, const TDIBSurface& Shot, int X, int Y) {
  long Best = LONG_MAX;
  for (int Dy = -2; Dy <= 2; ++Dy)
    for (int Dx = -2; Dx <= 2; ++Dx) {
      long N = 0;
      for (int Y0 = 0; Y0 < Glyphs.Height(); ++Y0)
        for (int X0 = 0; X0 < Glyphs.Width(); ++X0)
          N += Ink(Glyphs, X0, Y0) != Ink(Shot, X + Dx + X0, Y + Dy + Y0);
      Best = std::min(Best, N);
    }
  return Best;
}

// A bottom-up DIB's header and memory are a BMP file's after its file header.
bool WriteBmp(const std::string& Path, const TDIBSurface& P) {
  const DWORD Offset = sizeof(BITMAPFILEHEADER) + sizeof(TBitmapInfoHeader);
  const BITMAPFILEHEADER File{0x4D42, DWORD(Offset + P.ImageBytes()), 0, 0, Offset};
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char*>(&File), sizeof File);
  Out.write(reinterpret_cast<const char*>(&P.Header()), sizeof(TBitmapInfoHeader));
  Out.write(static_cast<const char*>(P.Bits()), std::streamsize(P.ImageBytes()));
  return bool(Out);
}

// ------------------------------------------------------------------ the run

// The steps are the tests of one suite, run in order on one program; a failed step that
// later ones need skips them.
struct TRun {
  std::string Program, Dir, Screenshot;
  PROCESS_INFORMATION Process{};
  HWND Main = nullptr;
  RECT Placed{};  // where the window was moved before the first close
  bool Stopped = false;
} GRun;

class KorvelE2e : public ::testing::Test {
protected:
  void SetUp() override {
    if (R.Stopped) GTEST_SKIP() << "a step before, which this one needs, failed";
  }
  void TearDown() override { R.Stopped |= NeededLater && HasFailure(); }

  HWND Ctl(int Id) {
    HWND W = GetDlgItem(R.Main, Id);
    EXPECT_NE(W, nullptr) << "the window has no control " << Id;
    return W;
  }
  bool Running() { return IsWindowEnabled(Ctl(idBtnStop)) && !IsWindowEnabled(Ctl(idBtnRecord)); }

  void StartProgram() {
    STARTUPINFOW Startup{};
    Startup.cb = sizeof Startup;
    std::wstring Command = L"\"" + Utf8ToWide(R.Program) + L"\"";
    ASSERT_TRUE(CreateProcessW(nullptr, Command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               Utf8ToWide(R.Dir).c_str(), &Startup, &R.Process))
        << "cannot start " << R.Program << " (error " << GetLastError() << ")";
    ASSERT_TRUE(WaitFor(30000, [&] {
      R.Main = FindWindowW(nullptr, Utf8ToWide(kMainWindowCaption).c_str());
      DWORD Pid = 0;
      if (R.Main) GetWindowThreadProcessId(R.Main, &Pid);
      return Pid == R.Process.dwProcessId && IsWindowVisible(R.Main);
    })) << "no visible window captioned \"Korvel 2.0\" within 30 s";
  }

  void CloseProgram() {
    PostMessageW(R.Main, WM_CLOSE, 0, 0);
    DWORD Code = STILL_ACTIVE;
    const bool Ended = WaitForSingleObject(R.Process.hProcess, 15000) == WAIT_OBJECT_0;
    GetExitCodeProcess(R.Process.hProcess, &Code);
    CloseHandle(R.Process.hThread);
    CloseHandle(R.Process.hProcess);
    R.Process = {};
    ASSERT_TRUE(Ended) << "WM_CLOSE did not end the program within 15 s";
    EXPECT_EQ(Code, 0u) << "the program's exit code";
  }

  // Opens the settings dialog (its button's click posted: the dialog is modal), hands its
  // four edits, top to bottom, to Work, and closes it with the button captioned Button.
  void InSettings(const wchar_t* Button,
                  const std::function<void(const std::vector<HWND>&)>& Work) {
    Click(Ctl(idButton3));
    const DWORD Start = GetTickCount();
    HWND Dialog = nullptr;
    ASSERT_TRUE(WaitFor(10000, [&] { return (Dialog = OwnedBox(R.Main)) != nullptr; }))
        << "環境設定 opened no dialog";
    std::printf("the settings dialog took %lu ms to open\n", GetTickCount() - Start);
    EXPECT_EQ(U8(Dialog), "環境設定") << "the settings dialog's title";
    const std::vector<HWND> Edits = Children(Dialog, L"Edit");
    ASSERT_EQ(Edits.size(), 4u) << "the settings dialog's edits";
    Work(Edits);
    HWND B = FindWindowExW(Dialog, nullptr, L"Button", Button);
    ASSERT_NE(B, nullptr) << "no button \"" << WideToUtf8(Button) << "\" in the settings dialog";
    Click(B);
    ASSERT_TRUE(WaitFor(5000, [&] { return !IsWindow(Dialog) || !IsWindowVisible(Dialog); }))
        << "\"" << WideToUtf8(Button) << "\" did not close the settings dialog";
  }

  void SettingsDialogSteps() {
    ASSERT_NO_FATAL_FAILURE(InSettings(L"OK", [](const auto& Edits) {
      Type(Edits[0], L"2500x");
      EXPECT_EQ(U8(Edits[0]), "2500") << "the maximum frequency after typing 2500 and x";
    }));
    ASSERT_EQ(RawValue(kSettingsKey, L"viMaxFreq"), TRawValue(REG_DWORD, L"2500"));
    ASSERT_NO_FATAL_FAILURE(InSettings(L"キャンセル", [](const auto& E) { Type(E[1], L"55"); }));
    ASSERT_EQ(RawValue(kSettingsKey, L"viMinFreq"), TRawValue(REG_DWORD, L"20"));
    InSettings(L"キャンセル", [](const auto& Edits) {
      EXPECT_EQ(U8(Edits[0]) + " " + U8(Edits[1]), "2500 20") << "the reopened dialog's edits";
    });
  }

  TRun& R = GRun;
  bool NeededLater = false;
};

TEST_F(KorvelE2e, FreshStartWithTheSettingsKeyHoldingOnlyRecordToFile) {
  NeededLater = true;
  RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
  const wchar_t One[] = L"1";
  const LSTATUS Set =
      RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"vbRecordToFile", REG_SZ, One, sizeof One);
  DeleteFileW(Utf8ToWide(R.Dir + "\\output.wav").c_str());
  ASSERT_EQ(Set, ERROR_SUCCESS) << "cannot store vbRecordToFile";
  StartProgram();
}

TEST_F(KorvelE2e, IdleWindowIsCentred) {
  RECT W{};
  GetWindowRect(R.Main, &W);
  EXPECT_EQ(W.left, (GetSystemMetrics(SM_CXSCREEN) - (W.right - W.left)) / 2) << "first start";
  EXPECT_EQ(W.top, (GetSystemMetrics(SM_CYSCREEN) - (W.bottom - W.top)) / 2) << "first start";
  HWND Record = Ctl(idBtnRecord), Stop = Ctl(idBtnStop);
  ASSERT_TRUE(Record && Stop);
  EXPECT_TRUE(WaitFor(5000, [&] {
    return WindowText(Record) == L"開始" && IsWindowEnabled(Record);
  })) << "開始 is not there and enabled";
  for (const TMainControlLayout& C : kMainControls) {
    EXPECT_EQ(U8(Ctl(C.Id)), C.Text) << "control " << C.Id;
    EXPECT_EQ(IsWindowEnabled(Ctl(C.Id)) != FALSE, C.Idle) << "control " << C.Id;
  }
}

TEST_F(KorvelE2e, StartAsksForTheCalibrationBoxToBeAnswered) {
  NeededLater = true;
  Click(Ctl(idBtnRecord));
  HWND Box = nullptr;
  ASSERT_TRUE(WaitFor(10000, [&] { return (Box = OwnedBox(R.Main)) != nullptr; }))
      << "開始 showed no box owned by the window within 10 s";
  EXPECT_EQ(U8(Box), "korvel") << "the calibration box's title, the program's";
  HWND Ok = GetDlgItem(Box, IDOK);
  ASSERT_NE(Ok, nullptr) << "the calibration box has no OK button";
  // Uncalibrated, every analysed buffer shows as silent: the noise has reached the program.
  EXPECT_TRUE(WaitFor(10000, [&] { return WindowText(Ctl(idLblVolume)) == L"(無音)"; }))
      << "no buffer analysed within 10 s of 開始 (level: " << U8(Ctl(idLblVolume)) << ")";
  Click(Ok);
  ASSERT_TRUE(WaitFor(10000, [&] { return !IsWindow(Box); })) << "the box stayed after OK";
  ASSERT_TRUE(WaitFor(5000, [&] { return Running(); })) << "the buttons show no capture";
  // The settings are saved once the reference is taken: only then may the tone come.
  EXPECT_TRUE(WaitFor(10000, [&] {
    return RawValue(kSettingsKey, L"viWaveInDevice").first != REG_NONE;
  })) << "the settings were not saved within 10 s of answering the calibration box";
}

TEST_F(KorvelE2e, ToneStepsTheSpeedTo110PublishedAndShown) {
  std::ofstream(R.Dir + "\\tone-now").put('1');
  TMailboxRecordReader Mailbox(kSharedDirectory, false);  // as a player reads it
  TMailboxRecord Record;
  ASSERT_TRUE(WaitFor(30000, [&] { return (Record = Mailbox.Read()).Flag == 1; }))
      << "no publish in the mailbox within 30 s of the tone (factor " << Record.Speed << ")";
  // 1.10 as the program keeps it, a float widened: the bytes 00 00 00 A0 99 99 F1 3F.
  EXPECT_EQ(Record.Speed, double(1.1f)) << "the mailbox's factor";
  EXPECT_EQ(U8(Ctl(idLabel3)), "1.10倍速");
  EXPECT_EQ(U8(Ctl(idLblFundamental)), "301") << "the line nearest 300 Hz";
  const std::wstring Volume = WindowText(Ctl(idLblVolume));
  const double Db = _wtof(Volume.c_str());
  EXPECT_TRUE(Volume.size() > 2 && Volume.substr(Volume.size() - 2) == L"dB" && Db > 30 && Db < 60)
      << "level label shows \"" << WideToUtf8(Volume) << "\", not the tone's of about 44dB";
}

// The screenshot, and whether its labels are Japanese glyphs: the label "基本周波数" drawn by
// the program must look like the same text drawn here in "MS UI Gothic", and unlike as many
// private-use characters (which no font has: they come out as the missing-glyph box).
TEST_F(KorvelE2e, ScreenshotShowsJapanese) {
  SetForegroundWindow(R.Main);
  RedrawWindow(R.Main, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
  Sleep(500);  // the program repaints on its own thread; there is nothing to wait on from here
  RECT W{};
  GetWindowRect(R.Main, &W);
  const TDIBSurface Shot(W.right - W.left, W.bottom - W.top, 32);
  HDC Screen = GetDC(nullptr);  // it reads the X server's pixels
  BitBlt(DcOf(Shot), 0, 0, Shot.Width(), Shot.Height(), Screen, W.left, W.top, SRCCOPY);
  GdiFlush();
  ReleaseDC(nullptr, Screen);
  EXPECT_TRUE(WriteBmp(R.Screenshot, Shot)) << "cannot write " << R.Screenshot;
  HWND Label = Ctl(idLabel1);
  ASSERT_NE(Label, nullptr);
  const std::wstring Caption = WindowText(Label);
  ASSERT_EQ(U8(Label), "基本周波数") << "Label1";
  POINT At{0, 0};
  MapWindowPoints(Label, nullptr, &At, 1);
  const auto Glyphs = Render(Caption), Missing = Render(std::wstring(Caption.size(), L'\xE000'));
  const long TextMiss = Mismatch(*Glyphs, Shot, At.x - W.left, At.y - W.top);
  const long BoxMiss = Mismatch(*Missing, Shot, At.x - W.left, At.y - W.top);
  std::printf("label pixels unlike the text: %ld, unlike missing-glyph boxes: %ld\n", TextMiss,
              BoxMiss);
  ASSERT_FALSE(SamePixels(*Glyphs, *Missing))
      << "\"MS UI Gothic\" draws Japanese as missing-glyph boxes (no font substitute "
         "in the prefix)";
  EXPECT_LT(TextMiss, BoxMiss) << "the window's label looks like boxes, not like 基本周波数";
}

TEST_F(KorvelE2e, SevenSettingsStoredWithTheirTypes) {
  const TRawRow Values[] = {{L"viSpeed", REG_DWORD, L"30"},   {L"viMaxFreq", REG_DWORD, L"3000"},
                            {L"viMinFreq", REG_DWORD, L"20"}, {L"viFloor", REG_DWORD, L"400"},
                            {L"viFloor2", REG_DWORD, L"200"}, {L"viWaveInDevice", REG_DWORD, L"0"},
                            {L"vbRecordToFile", REG_SZ, L"1"}};
  for (const auto& V : Values)
    EXPECT_EQ(RawValue(kSettingsKey, V.Name), TRawValue(V.Type, V.Data)) << WideToUtf8(V.Name);
}

// The capture file after 停止: RIFF and data sizes match the file, and the capture has no
// gap between its buffers. The tone's period is exactly 147 frames (44100 / 300), so where
// it plays a sample equals the one a period later up to the noise; frames lost between two
// buffers (8192 frames each) break that across their boundary; and a quarter period on
// (37 frames) the tone is never near zero at once. A boundary is judged only where the
// tone is steady for 1024 frames on either side: a loaded sound server sometimes
// drops or zeroes a whole period of its own (2048 frames) anywhere in a buffer, which is
// not the program's doing.
TEST_F(KorvelE2e, StopLeavesTheCaptureFileCompleteAndGapless) {
  // The tone is over once the program detects nothing again.
  EXPECT_TRUE(WaitFor(15000, [&] { return WindowText(Ctl(idLblFundamental)) == L"(未検出)"; }))
      << "the tone did not end within 15 s (fundamental: " << U8(Ctl(idLblFundamental)) << ")";
  Click(Ctl(idBtnStop));
  ASSERT_TRUE(WaitFor(5000, [&] {
    return IsWindowEnabled(Ctl(idBtnRecord)) && !IsWindowEnabled(Ctl(idBtnStop));
  })) << "停止 did not bring the buttons back to idle";
  const std::string F = ReadFileText(R.Dir + "\\output.wav");
  auto U32 = [&](size_t At) {
    return At + 4 <= F.size() ? *reinterpret_cast<const uint32_t*>(&F[At]) : 0u;
  };
  ASSERT_TRUE(F.size() > 12 && F.compare(0, 4, "RIFF") == 0 && U32(4) == F.size() - 8)
      << "output.wav: " << F.size() << " bytes, RIFF size " << U32(4);
  size_t Data = 12;
  while (Data + 8 <= F.size() && F.compare(Data, 4, "data") != 0) Data += 8 + U32(Data + 4);
  const uint32_t Size = U32(Data + 4);
  ASSERT_TRUE(Data + 8 <= F.size() && Size == F.size() - Data - 8 && Size % 32768 == 0)
      << "output.wav: data chunk at " << Data << " of " << Size << " bytes does not end the "
      << F.size() << "-byte file in whole buffers";
  auto Left = [&](size_t N) {
    return int(*reinterpret_cast<const int16_t*>(&F[Data + 8 + N * 4]));
  };
  size_t First = Size / 4, Last = 0;
  for (size_t N = 0; N < Size / 4; ++N)
    if (std::abs(Left(N)) > 2000) First = std::min(First, N), Last = N;
  ASSERT_TRUE(First < Last && Last - First > 5 * 44100)
      << "output.wav holds no 6 s of the tone (" << Last - First << " frames from " << First << ")";
  auto Steady = [&](size_t From, size_t To) {
    for (size_t N = From; N < To; ++N)
      if (std::abs(Left(N) - Left(N + 147)) > 400 ||
          std::abs(Left(N)) + std::abs(Left(N + 37)) < 4000)
        return false;
    return true;
  };
  size_t Judged = 0, Gaps = 0, FirstGap = 0;
  for (size_t B = (First / 8192 + 1) * 8192; B + 1024 < Last; B += 8192) {
    if (B < First + 1024 || !Steady(B - 1024, B - 147) || !Steady(B, B + 1024 - 147)) continue;
    ++Judged;
    if (!Steady(B - 147, B) && Gaps++ == 0) FirstGap = B;
  }
  std::printf("output.wav: %zu of the tone's buffer boundaries judged\n", Judged);
  ASSERT_EQ(Gaps, 0u) << "buffer boundaries where the tone's phase jumps, first at " << FirstGap;
  EXPECT_GE(Judged, 16u) << "buffer boundaries in a steady tone: too few to judge";
}

// A failure in the steps may leave the dialog open; it is cancelled so the run can go on.
TEST_F(KorvelE2e, SettingsDialogSavesDigitsRefusesLettersAndCancelForgets) {
  SettingsDialogSteps();
  for (HWND Box; (Box = OwnedBox(R.Main));) {
    PostMessageW(Box, WM_COMMAND, IDCANCEL, 0);
    if (!WaitFor(3000, [&] { return !IsWindow(Box) || !IsWindowVisible(Box); })) break;
  }
}

TEST_F(KorvelE2e, MovedWindowClosedByWmCloseEndsWithExitCode0) {
  NeededLater = true;
  SetWindowPos(R.Main, nullptr, 37, 53, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  WaitFor(2000, [&] {
    return GetWindowRect(R.Main, &R.Placed) && R.Placed.left == 37 && R.Placed.top == 53;
  });
  CloseProgram();
}

TEST_F(KorvelE2e, PlacementStoredUnderFMain) {
  EXPECT_EQ(RawValue(kPlacementKey, L"left"), TRawValue(REG_DWORD, L"37"));
  EXPECT_EQ(RawValue(kPlacementKey, L"top"), TRawValue(REG_DWORD, L"53"));
  EXPECT_EQ(RawValue(kPlacementKey, L"maximized"), TRawValue(REG_SZ, L"0"));
}

TEST_F(KorvelE2e, SecondStartReopensWhereClosed) {
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  RECT W{};
  GetWindowRect(R.Main, &W);
  EXPECT_EQ(W.left, R.Placed.left) << "second start";
  EXPECT_EQ(W.top, R.Placed.top) << "second start";
  CloseProgram();
}

}  // namespace

int main(int argc, char** argv) {
  // Whether this process can make a window: Wine's desktop process runs on the display.
  if (argc == 2 && std::strcmp(argv[1], "--can-make-windows") == 0) {
    HWND W = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    return W && DestroyWindow(W) ? 0 : 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: korvel-e2e-driver PROGRAM RUN_DIR SCREENSHOT.bmp\n");
    return 2;
  }
  GRun.Program = argv[1], GRun.Dir = argv[2], GRun.Screenshot = argv[3];
  const int Result = RUN_ALL_TESTS();
  if (GRun.Process.hProcess) {
    TerminateProcess(GRun.Process.hProcess, 1);
    CloseHandle(GRun.Process.hThread);
    CloseHandle(GRun.Process.hProcess);
  }
  return Result;
}
