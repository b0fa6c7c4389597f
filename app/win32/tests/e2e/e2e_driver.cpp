// korvel-e2e-driver PROGRAM RUN_DIR SCREENSHOT.bmp: drives korvel.exe as a user does, from
// another process of the same Wine prefix (e2e_run.sh provides display, sound and fonts).
// It starts PROGRAM in RUN_DIR, presses its buttons, answers its boxes, types into its
// settings dialog, and checks what the player, the registry and the capture file see.
//
// Across processes: GetWindowTextW reads nothing of another process's controls, WM_GETTEXT
// does; a button whose click opens a modal box gets its BM_CLICK posted (a sent one would
// block until the box closes). The window's controls are found by their identifiers
// (controlids.h), the dialog's by class and text.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "controlids.h"
#include "uSharedMemory.h"
#include "winstr.h"

namespace {

int GFailures = 0;

void Fail(const char* Format, ...) {
  std::va_list Args;
  va_start(Args, Format);
  std::fputs("FAIL: ", stdout);
  std::vprintf(Format, Args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  va_end(Args);
  ++GFailures;
}

// One failure message per check; the expression's value is whether it held.
#define CHECK(Cond, ...) ((Cond) || (Fail(__VA_ARGS__), false))

// Polls Cond every 20 ms until it holds or Ms have passed.
template <class F>
bool WaitFor(DWORD Ms, F Cond) {
  const DWORD Start = GetTickCount();
  for (;;) {
    if (Cond()) return true;
    if (GetTickCount() - Start >= Ms) return false;
    Sleep(20);
  }
}

std::wstring Text(HWND W) {
  wchar_t Buf[256] = {};
  DWORD_PTR Ignored = 0;
  SendMessageTimeoutW(W, WM_GETTEXT, 256, LPARAM(Buf), SMTO_ABORTIFHUNG, 2000, &Ignored);
  return Buf;
}

std::wstring ClassOf(HWND W) {
  wchar_t Buf[64] = {};
  GetClassNameW(W, Buf, 64);
  return Buf;
}

// A named callback: a lambda converts only to the default convention, and 32-bit Windows
// calls enumeration callbacks as __stdcall.
BOOL CALLBACK AddChild(HWND W, LPARAM List) {
  reinterpret_cast<std::vector<HWND>*>(List)->push_back(W);
  return TRUE;
}

std::vector<HWND> Children(HWND Parent) {
  std::vector<HWND> All;
  EnumChildWindows(Parent, AddChild, LPARAM(&All));
  return All;
}

LONG TopOf(HWND W) {
  RECT R{};
  GetWindowRect(W, &R);
  return R.top;
}

HWND ChildWithText(HWND Parent, const wchar_t* Class, const std::wstring& Caption) {
  for (HWND W : Children(Parent))
    if (_wcsicmp(ClassOf(W).c_str(), Class) == 0 && Text(W) == Caption) return W;
  return nullptr;
}

// A dialog box (window class #32770) of the program, owned by its window.
HWND OwnedBox(HWND Owner) {
  HWND W = nullptr;
  while ((W = FindWindowExW(nullptr, W, L"#32770", nullptr)))
    if (GetWindow(W, GW_OWNER) == Owner && IsWindowVisible(W)) return W;
  return nullptr;
}

void Click(HWND Button) { PostMessageW(Button, BM_CLICK, 0, 0); }

// ------------------------------------------------------------------ registry and mailbox

const wchar_t* const kSettingsKey = L"Software\\Trevane\\Korvel";

struct TValue {
  DWORD Type = REG_NONE;
  std::vector<BYTE> Data;
  DWORD Dword() const { return Data.size() == 4 ? *reinterpret_cast<const DWORD*>(Data.data()) : ~0u; }
  std::wstring Sz() const { return std::wstring(reinterpret_cast<const wchar_t*>(Data.data()), Data.size() / 2).c_str(); }
};

TValue ReadValue(const std::wstring& Key, const wchar_t* Name) {
  TValue V;
  HKEY H = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Key.c_str(), 0, KEY_READ, &H) != ERROR_SUCCESS) return V;
  DWORD Size = 0;
  if (RegQueryValueExW(H, Name, nullptr, &V.Type, nullptr, &Size) == ERROR_SUCCESS) {
    V.Data.resize(Size);
    RegQueryValueExW(H, Name, nullptr, &V.Type, V.Data.data(), &Size);
  } else {
    V.Type = REG_NONE;
  }
  RegCloseKey(H);
  return V;
}

bool CheckDword(const std::wstring& Key, const wchar_t* Name, DWORD Expected) {
  const TValue V = ReadValue(Key, Name);
  return CHECK(V.Type == REG_DWORD && V.Dword() == Expected, "%s\\%s: expected REG_DWORD %lu, found type %lu value %ld",
               WideToUtf8(Key).c_str(), WideToUtf8(Name).c_str(), Expected, V.Type, long(V.Dword()));
}

bool CheckSz(const std::wstring& Key, const wchar_t* Name, const wchar_t* Expected) {
  const TValue V = ReadValue(Key, Name);
  return CHECK(V.Type == REG_SZ && V.Sz() == Expected, "%s\\%s: expected REG_SZ \"%s\", found type %lu \"%s\"",
               WideToUtf8(Key).c_str(), WideToUtf8(Name).c_str(), WideToUtf8(Expected).c_str(), V.Type, WideToUtf8(V.Sz()).c_str());
}

// The 9-byte record as a player reads it: under the named lock. Empty while the program
// has not created the section.
std::vector<BYTE> ReadMailbox() {
  HANDLE Section = OpenFileMappingW(FILE_MAP_READ, FALSE, Utf8ToWide(kSpeedSectionName).c_str());
  if (!Section) return {};
  std::vector<BYTE> Record;
  if (const void* View = MapViewOfFile(Section, FILE_MAP_READ, 0, 0, kSpeedRecordSize)) {
    HANDLE Lock = OpenMutexW(SYNCHRONIZE, FALSE, Utf8ToWide(kSpeedLockName).c_str());
    if (Lock && WaitForSingleObject(Lock, 5000) == WAIT_OBJECT_0) {
      Record.assign(static_cast<const BYTE*>(View), static_cast<const BYTE*>(View) + kSpeedRecordSize);
      ReleaseMutex(Lock);
    }
    if (Lock) CloseHandle(Lock);
    UnmapViewOfFile(View);
  }
  CloseHandle(Section);
  return Record;
}

std::string Hex(const std::vector<BYTE>& Bytes) {
  std::string S;
  char Buf[4];
  for (BYTE B : Bytes) std::snprintf(Buf, sizeof Buf, "%02X ", B), S += Buf;
  return S;
}

// ------------------------------------------------------------------ pictures

// Pixels 0x00RRGGBB, top row first.
struct TPicture {
  int W = 0, H = 0;
  std::vector<uint32_t> Px;
  bool Ink(int X, int Y) const {
    if (X < 0 || Y < 0 || X >= W || Y >= H) return false;
    const uint32_t P = Px[size_t(Y) * W + X];
    return ((P >> 16 & 255) * 3 + (P >> 8 & 255) * 6 + (P & 255)) < 128 * 10;
  }
};

// A 32-bit uncompressed DIB, top row first for a negative H.
BITMAPINFOHEADER Header32(int W, int H) {
  BITMAPINFOHEADER Info{};
  Info.biSize = sizeof Info;
  Info.biWidth = W;
  Info.biHeight = H;
  Info.biPlanes = 1;
  Info.biBitCount = 32;
  Info.biCompression = BI_RGB;
  return Info;
}

// Copies a screen rectangle (a screen DC reads the X server's pixels) into a picture.
TPicture Grab(HDC Source, int X, int Y, int W, int H) {
  TPicture P{W, H, std::vector<uint32_t>(size_t(W) * H)};
  BITMAPINFO Info{};
  Info.bmiHeader = Header32(W, -H);
  void* Bits = nullptr;
  HDC Mem = CreateCompatibleDC(Source);
  HBITMAP Bitmap = CreateDIBSection(Mem, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0);
  HGDIOBJ Old = SelectObject(Mem, Bitmap);
  BitBlt(Mem, 0, 0, W, H, Source, X, Y, SRCCOPY);
  GdiFlush();
  std::memcpy(P.Px.data(), Bits, P.Px.size() * 4);
  SelectObject(Mem, Old);
  DeleteObject(Bitmap);
  DeleteDC(Mem);
  return P;
}

// Text drawn black on white in the window's font ("MS UI Gothic", 15 pixels, Shift-JIS),
// as the program's labels draw it.
TPicture Render(const std::wstring& S) {
  HDC Screen = GetDC(nullptr);
  HDC Mem = CreateCompatibleDC(Screen);
  HFONT Font = CreateFontW(-15, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, 0, L"MS UI Gothic");
  HGDIOBJ OldFont = SelectObject(Mem, Font);
  SIZE Extent{};
  GetTextExtentPoint32W(Mem, S.c_str(), int(S.size()), &Extent);
  BITMAPINFO Info{};
  Info.bmiHeader = Header32(Extent.cx, -Extent.cy);
  void* Bits = nullptr;
  HBITMAP Bitmap = CreateDIBSection(Mem, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0);
  HGDIOBJ OldBitmap = SelectObject(Mem, Bitmap);
  PatBlt(Mem, 0, 0, Extent.cx, Extent.cy, WHITENESS);
  SetBkMode(Mem, TRANSPARENT);
  TextOutW(Mem, 0, 0, S.c_str(), int(S.size()));
  const TPicture P = Grab(Mem, 0, 0, Extent.cx, Extent.cy);
  SelectObject(Mem, OldBitmap);
  SelectObject(Mem, OldFont);
  DeleteObject(Bitmap);
  DeleteObject(Font);
  DeleteDC(Mem);
  ReleaseDC(nullptr, Screen);
  return P;
}

// Pixels whose ink differs between Glyphs and Shot at X, Y, at the best shift by up to two
// pixels each way.
long Mismatch(const TPicture& Glyphs, const TPicture& Shot, int X, int Y) {
  long Best = LONG_MAX;
  for (int Dy = -2; Dy <= 2; ++Dy)
    for (int Dx = -2; Dx <= 2; ++Dx) {
      long N = 0;
      for (int Y0 = 0; Y0 < Glyphs.H; ++Y0)
        for (int X0 = 0; X0 < Glyphs.W; ++X0) N += Glyphs.Ink(X0, Y0) != Shot.Ink(X + Dx + X0, Y + Dy + Y0);
      Best = std::min(Best, N);
    }
  return Best;
}

bool WriteBmp(const std::string& Path, const TPicture& P) {
  const DWORD Bytes = DWORD(P.Px.size() * 4);
  BITMAPFILEHEADER File{0x4D42, DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) + Bytes, 0, 0,
                        DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
  BITMAPINFOHEADER Info = Header32(P.W, P.H);
  Info.biSizeImage = Bytes;
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char*>(&File), sizeof File);
  Out.write(reinterpret_cast<const char*>(&Info), sizeof Info);
  for (int Y = P.H - 1; Y >= 0; --Y) Out.write(reinterpret_cast<const char*>(&P.Px[size_t(Y) * P.W]), P.W * 4);
  return bool(Out);
}

// ------------------------------------------------------------------ the run

struct TRun {
  std::string Program, Dir, Screenshot;
  PROCESS_INFORMATION Process{};
  HWND Main = nullptr;
  RECT Placed{};  // where the window was moved before the first close
};

HWND Ctl(const TRun& R, int Id) {
  HWND W = GetDlgItem(R.Main, Id);
  if (!W) Fail("the window has no control %d", Id);
  return W;
}

bool StartProgram(TRun& R) {
  STARTUPINFOW Startup{};
  Startup.cb = sizeof Startup;
  std::wstring Command = L"\"" + Utf8ToWide(R.Program) + L"\"";
  if (!CHECK(CreateProcessW(nullptr, Command.data(), nullptr, nullptr, FALSE, 0, nullptr, Utf8ToWide(R.Dir).c_str(), &Startup,
                            &R.Process),
             "cannot start %s (error %lu)", R.Program.c_str(), GetLastError()))
    return false;
  return CHECK(WaitFor(30000,
                       [&] {
                         R.Main = FindWindowW(nullptr, L"Korvel 2.0");
                         DWORD Pid = 0;
                         if (R.Main) GetWindowThreadProcessId(R.Main, &Pid);
                         return Pid == R.Process.dwProcessId && IsWindowVisible(R.Main);
                       }),
               "no visible window captioned \"Korvel 2.0\" within 30 s");
}

bool CloseProgram(TRun& R) {
  PostMessageW(R.Main, WM_CLOSE, 0, 0);
  DWORD Code = STILL_ACTIVE;
  const bool Ended = WaitForSingleObject(R.Process.hProcess, 15000) == WAIT_OBJECT_0;
  GetExitCodeProcess(R.Process.hProcess, &Code);
  CloseHandle(R.Process.hThread);
  CloseHandle(R.Process.hProcess);
  R.Process = {};
  return CHECK(Ended, "WM_CLOSE did not end the program within 15 s") &&
         CHECK(Code == 0, "the program ended with exit code %lu", Code);
}

bool FreshStart(TRun& R) {
  RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
  HKEY H = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &H, nullptr);
  const wchar_t One[] = L"1";
  const bool Set = H && RegSetValueExW(H, L"vbRecordToFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(One), sizeof One) == 0;
  if (H) RegCloseKey(H);
  DeleteFileW(Utf8ToWide(R.Dir + "\\output.wav").c_str());
  return CHECK(Set, "cannot store vbRecordToFile") && StartProgram(R);
}

bool IdleWindow(TRun& R) {
  RECT W{};
  GetWindowRect(R.Main, &W);
  const int Left = (GetSystemMetrics(SM_CXSCREEN) - (W.right - W.left)) / 2;
  const int Top = (GetSystemMetrics(SM_CYSCREEN) - (W.bottom - W.top)) / 2;
  CHECK(W.left == Left && W.top == Top, "first start: window at %ld,%ld, not centred at %d,%d", W.left, W.top, Left, Top);
  HWND Record = Ctl(R, idBtnRecord), Stop = Ctl(R, idBtnStop);
  return Record && Stop &&
         CHECK(WaitFor(5000, [&] { return Text(Record) == L"開始" && IsWindowEnabled(Record); }),
               "開始 is not there and enabled") &&
         CHECK(Text(Stop) == L"停止" && !IsWindowEnabled(Stop), "停止 is not there and disabled");
}

bool Calibrate(TRun& R) {
  Click(Ctl(R, idBtnRecord));
  HWND Box = nullptr;
  if (!CHECK(WaitFor(10000, [&] { return (Box = OwnedBox(R.Main)) != nullptr; }),
             "開始 showed no box owned by the window within 10 s"))
    return false;
  CHECK(Text(Box) == L"korvel", "the calibration box is titled \"%s\", not with the program's title \"korvel\"",
        WideToUtf8(Text(Box)).c_str());
  HWND Ok = GetDlgItem(Box, IDOK);
  if (!CHECK(Ok != nullptr, "the calibration box has no OK button")) return false;
  // Uncalibrated, every analysed buffer shows as silent: the noise has reached the program.
  CHECK(WaitFor(10000, [&] { return Text(Ctl(R, idLblVolume)) == L"(無音)"; }),
        "no buffer analysed within 10 s of 開始 (the level label reads \"%s\")", WideToUtf8(Text(Ctl(R, idLblVolume))).c_str());
  Click(Ok);
  return CHECK(WaitFor(10000, [&] { return !IsWindow(Box); }), "the calibration box did not close after OK") &&
         CHECK(WaitFor(5000, [&] { return IsWindowEnabled(Ctl(R, idBtnStop)) && !IsWindowEnabled(Ctl(R, idBtnRecord)); }),
               "the buttons do not show a running capture") &&
         // The settings are saved once the reference is taken: only then may the tone come.
         CHECK(WaitFor(10000, [&] { return ReadValue(kSettingsKey, L"viWaveInDevice").Type != REG_NONE; }),
               "the settings were not saved within 10 s of answering the calibration box");
}

bool ToneStepsSpeed(TRun& R) {
  std::ofstream(R.Dir + "\\tone-now").put('1');
  std::vector<BYTE> Record;
  if (!CHECK(WaitFor(30000, [&] { return (Record = ReadMailbox()).size() == 9 && Record[0] == 1; }),
             "no publish in the mailbox within 30 s of the tone (record: %s)", Hex(ReadMailbox()).c_str()))
    return false;
  const std::vector<BYTE> Expected{0x01, 0x00, 0x00, 0x00, 0xA0, 0x99, 0x99, 0xF1, 0x3F};
  CHECK(Record == Expected, "mailbox holds %s, expected %s (1.10)", Hex(Record).c_str(), Hex(Expected).c_str());
  const std::wstring Speed = Text(Ctl(R, idLabel3)), Frequency = Text(Ctl(R, idLblFundamental)),
                     Volume = Text(Ctl(R, idLblVolume));
  CHECK(Speed == L"1.10倍速", "speed label shows \"%s\"", WideToUtf8(Speed).c_str());
  CHECK(Frequency == L"301", "fundamental label shows \"%s\", not 301 (the line nearest 300 Hz)", WideToUtf8(Frequency).c_str());
  const double Db = _wtof(Volume.c_str());
  return CHECK(Volume.size() > 2 && Volume.substr(Volume.size() - 2) == L"dB" && Db > 30 && Db < 60,
               "level label shows \"%s\", not the tone's level of about 44dB", WideToUtf8(Volume).c_str());
}

// The screenshot, and whether its labels are Japanese glyphs: the label "基本周波数" drawn by
// the program must look like the same text drawn here in "MS UI Gothic", and unlike as many
// private-use characters (which no font has: they come out as the missing-glyph box).
bool ScreenshotShowsJapanese(TRun& R) {
  SetForegroundWindow(R.Main);
  RedrawWindow(R.Main, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
  Sleep(500);  // the program repaints on its own thread; there is nothing to wait on from here
  RECT W{};
  GetWindowRect(R.Main, &W);
  HDC Screen = GetDC(nullptr);
  const TPicture Shot = Grab(Screen, W.left, W.top, W.right - W.left, W.bottom - W.top);
  ReleaseDC(nullptr, Screen);
  CHECK(WriteBmp(R.Screenshot, Shot), "cannot write %s", R.Screenshot.c_str());
  HWND Label = Ctl(R, idLabel1);
  if (!Label) return false;
  const std::wstring Caption = Text(Label);
  if (!CHECK(Caption == L"基本周波数", "Label1 reads \"%s\"", WideToUtf8(Caption).c_str())) return false;
  POINT At{0, 0};
  MapWindowPoints(Label, nullptr, &At, 1);
  const std::wstring Boxes(Caption.size(), L'\xE000');
  const TPicture Glyphs = Render(Caption), Missing = Render(Boxes);
  const long TextMiss = Mismatch(Glyphs, Shot, At.x - W.left, At.y - W.top);
  const long BoxMiss = Mismatch(Missing, Shot, At.x - W.left, At.y - W.top);
  std::printf("label pixels unlike the text: %ld, unlike missing-glyph boxes: %ld\n", TextMiss, BoxMiss);
  return CHECK(Glyphs.Px != Missing.Px,
               "\"MS UI Gothic\" draws Japanese as missing-glyph boxes (no font substitute in the prefix)") &&
         CHECK(TextMiss < BoxMiss, "the window's label looks like boxes, not like 基本周波数");
}

bool SevenSettings(TRun&) {
  const std::wstring K = kSettingsKey;
  const bool Dwords = CheckDword(K, L"viSpeed", 30) & CheckDword(K, L"viMaxFreq", 3000) &
                      CheckDword(K, L"viMinFreq", 20) & CheckDword(K, L"viFloor", 400) &
                      CheckDword(K, L"viFloor2", 200) & CheckDword(K, L"viWaveInDevice", 0);
  return CheckSz(K, L"vbRecordToFile", L"1") && Dwords;
}

// Opens the settings dialog (its button's click posted: the dialog is modal) and returns
// it with its four edits, top to bottom.
HWND OpenSettings(TRun& R, std::vector<HWND>& Edits) {
  Click(Ctl(R, idButton3));
  HWND Dialog = nullptr;
  const DWORD Start = GetTickCount();
  if (!CHECK(WaitFor(10000, [&] { return (Dialog = OwnedBox(R.Main)) != nullptr; }), "環境設定 opened no dialog"))
    return nullptr;
  std::printf("the settings dialog took %lu ms to open\n", GetTickCount() - Start);
  CHECK(Text(Dialog) == L"環境設定", "the settings dialog is titled \"%s\"", WideToUtf8(Text(Dialog)).c_str());
  Edits.clear();
  for (HWND W : Children(Dialog))
    if (_wcsicmp(ClassOf(W).c_str(), L"Edit") == 0) Edits.push_back(W);
  std::sort(Edits.begin(), Edits.end(), [](HWND A, HWND B) { return TopOf(A) < TopOf(B); });
  return CHECK(Edits.size() == 4, "the settings dialog has %zu edits, not 4", Edits.size()) ? Dialog : nullptr;
}

bool CloseSettings(HWND Dialog, const wchar_t* Button) {
  HWND B = ChildWithText(Dialog, L"Button", Button);
  if (!CHECK(B != nullptr, "no button \"%s\" in the settings dialog", WideToUtf8(Button).c_str())) return false;
  Click(B);
  return CHECK(WaitFor(5000, [&] { return !IsWindow(Dialog) || !IsWindowVisible(Dialog); }),
               "\"%s\" did not close the settings dialog", WideToUtf8(Button).c_str());
}

void Type(HWND Edit, const wchar_t* Keys) {
  SendMessageW(Edit, EM_SETSEL, 0, -1);
  for (const wchar_t* K = Keys; *K; ++K) SendMessageW(Edit, WM_CHAR, *K, 1);
}

bool SettingsDialogSteps(TRun& R) {
  std::vector<HWND> Edits;
  HWND Dialog = OpenSettings(R, Edits);
  if (!Dialog) return false;
  Type(Edits[0], L"2500");
  SendMessageW(Edits[0], WM_CHAR, L'x', 1);
  CHECK(Text(Edits[0]) == L"2500", "the maximum frequency reads \"%s\" after typing 2500 and x",
        WideToUtf8(Text(Edits[0])).c_str());
  if (!CloseSettings(Dialog, L"OK") || !CheckDword(kSettingsKey, L"viMaxFreq", 2500)) return false;

  if (!(Dialog = OpenSettings(R, Edits))) return false;
  Type(Edits[1], L"55");
  if (!CloseSettings(Dialog, L"キャンセル") || !CheckDword(kSettingsKey, L"viMinFreq", 20)) return false;
  if (!(Dialog = OpenSettings(R, Edits))) return false;
  CHECK(Text(Edits[0]) == L"2500" && Text(Edits[1]) == L"20", "reopened, the dialog shows %s and %s, not 2500 and 20",
        WideToUtf8(Text(Edits[0])).c_str(), WideToUtf8(Text(Edits[1])).c_str());
  return CloseSettings(Dialog, L"キャンセル");
}

// A failure above may leave the dialog open; it is cancelled so the run can go on.
bool SettingsDialog(TRun& R) {
  const bool Ok = SettingsDialogSteps(R);
  for (HWND Box; (Box = OwnedBox(R.Main));) {
    PostMessageW(Box, WM_COMMAND, IDCANCEL, 0);
    if (!WaitFor(3000, [&] { return !IsWindow(Box) || !IsWindowVisible(Box); })) break;
  }
  return Ok;
}

// The capture file after 停止: RIFF and data sizes match the file, and the capture has no
// gap between its buffers. The tone's period is exactly 147 frames (44100 / 300), so where
// it plays a sample equals the one a period later up to the noise; frames lost between two
// buffers (8192 frames each) break that across their boundary; and a quarter period on
// (37 frames) the tone is never near zero at once. A boundary is judged only where the
// tone is steady for 1024 frames on either side: a loaded sound server sometimes
// drops or zeroes a whole period of its own (2048 frames) anywhere in a buffer, which is
// not the program's doing.
bool StopAndCaptureFile(TRun& R) {
  // The tone is over once the program detects nothing again.
  CHECK(WaitFor(15000, [&] { return Text(Ctl(R, idLblFundamental)) == L"(未検出)"; }),
        "the tone did not end within 15 s (the fundamental label reads \"%s\")",
        WideToUtf8(Text(Ctl(R, idLblFundamental))).c_str());
  Click(Ctl(R, idBtnStop));
  if (!CHECK(WaitFor(5000, [&] { return IsWindowEnabled(Ctl(R, idBtnRecord)) && !IsWindowEnabled(Ctl(R, idBtnStop)); }),
             "停止 did not bring the buttons back to idle"))
    return false;
  std::ifstream In(R.Dir + "\\output.wav", std::ios::binary);
  const std::string F{std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
  auto U32 = [&](size_t At) { return At + 4 <= F.size() ? *reinterpret_cast<const uint32_t*>(&F[At]) : 0u; };
  if (!CHECK(F.size() > 12 && F.compare(0, 4, "RIFF") == 0 && U32(4) == F.size() - 8,
             "output.wav: %zu bytes, RIFF size %u", F.size(), U32(4)))
    return false;
  size_t Data = 12;
  while (Data + 8 <= F.size() && F.compare(Data, 4, "data") != 0) Data += 8 + U32(Data + 4);
  if (!CHECK(Data + 8 <= F.size() && U32(Data + 4) == F.size() - Data - 8 && U32(Data + 4) % 32768 == 0,
             "output.wav: data chunk at %zu of %u bytes does not end the %zu-byte file in whole buffers", Data,
             U32(Data + 4), F.size()))
    return false;
  const size_t Frames = (F.size() - Data - 8) / 4;
  auto Left = [&](size_t N) { return int(*reinterpret_cast<const int16_t*>(&F[Data + 8 + N * 4])); };
  size_t First = Frames, Last = 0;
  for (size_t N = 0; N < Frames; ++N)
    if (std::abs(Left(N)) > 2000) First = std::min(First, N), Last = N;
  if (!CHECK(First < Last && Last - First > 5 * 44100, "output.wav holds no 6 s of the tone (%zu frames from %zu)",
             Last - First, First))
    return false;
  auto Steady = [&](size_t From, size_t To) {
    for (size_t N = From; N < To; ++N)
      if (std::abs(Left(N) - Left(N + 147)) > 400 || std::abs(Left(N)) + std::abs(Left(N + 37)) < 4000) return false;
    return true;
  };
  size_t Judged = 0, Gaps = 0, FirstGap = 0;
  for (size_t B = (First / 8192 + 1) * 8192; B + 1024 < Last; B += 8192) {
    if (B < First + 1024 || !Steady(B - 1024, B - 147) || !Steady(B, B + 1024 - 147)) continue;
    ++Judged;
    if (!Steady(B - 147, B) && Gaps++ == 0) FirstGap = B;
  }
  std::printf("output.wav: %zu of the tone's buffer boundaries judged\n", Judged);
  return CHECK(Gaps == 0, "output.wav: the tone's phase jumps at %zu buffer boundaries, first at frame %zu", Gaps,
               FirstGap) &&
         CHECK(Judged >= 16, "output.wav: only %zu buffer boundaries in a steady tone, too few to judge", Judged);
}

bool MoveAndClose(TRun& R) {
  SetWindowPos(R.Main, nullptr, 37, 53, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  WaitFor(2000, [&] { return GetWindowRect(R.Main, &R.Placed) && R.Placed.left == 37 && R.Placed.top == 53; });
  return CloseProgram(R);
}

bool PlacementStored(TRun&) {
  const std::wstring Key = std::wstring(kSettingsKey) + L"\\fMain";
  return CheckDword(Key, L"left", 37) & CheckDword(Key, L"top", 53) & CheckSz(Key, L"maximized", L"0");
}

bool ReopensWhereClosed(TRun& R) {
  if (!StartProgram(R)) return false;
  RECT W{};
  GetWindowRect(R.Main, &W);
  CHECK(W.left == R.Placed.left && W.top == R.Placed.top, "second start: window at %ld,%ld, closed at %ld,%ld",
        W.left, W.top, R.Placed.left, R.Placed.top);
  return CloseProgram(R);
}

struct TStep {
  const char* Name;
  bool (*Run)(TRun&);
  bool LaterStepsNeedIt;
};

const TStep kSteps[] = {
    {"start with the settings key holding only vbRecordToFile", FreshStart, true},
    {"idle window, centred", IdleWindow, false},
    {"開始, calibration box answered", Calibrate, true},
    {"300 Hz tone: speed 1.10 published, labels", ToneStepsSpeed, false},
    {"screenshot shows Japanese", ScreenshotShowsJapanese, false},
    {"seven settings stored with their types", SevenSettings, false},
    {"停止: capture file complete and gapless", StopAndCaptureFile, false},
    {"settings dialog: digits saved, letters refused, Cancel forgets", SettingsDialog, false},
    {"moved window closed by WM_CLOSE: exit code 0", MoveAndClose, true},
    {"placement stored under fMain", PlacementStored, false},
    {"second start reopens where closed", ReopensWhereClosed, false},
};

}  // namespace

int main(int argc, char** argv) {
  // Whether this process can make a window: Wine's desktop process runs on the display.
  if (argc == 2 && std::strcmp(argv[1], "--can-make-windows") == 0) {
    HWND W = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    return W && DestroyWindow(W) ? 0 : 1;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: korvel-e2e-driver PROGRAM RUN_DIR SCREENSHOT.bmp\n");
    return 2;
  }
  TRun R{argv[1], argv[2], argv[3]};
  for (const TStep& S : kSteps) {
    const int Before = GFailures;
    const DWORD Start = GetTickCount();
    const bool Ok = S.Run(R) && GFailures == Before;
    std::printf("%s: %s (%.1f s)\n", Ok ? "ok" : "FAILED", S.Name, (GetTickCount() - Start) / 1000.0);
    std::fflush(stdout);
    if (!Ok) GFailures += GFailures == Before;
    if (!Ok && S.LaterStepsNeedIt) break;
  }
  if (R.Process.hProcess) {
    TerminateProcess(R.Process.hProcess, 1);
    CloseHandle(R.Process.hThread);
    CloseHandle(R.Process.hProcess);
  }
  return GFailures == 0 ? 0 : 1;
}
