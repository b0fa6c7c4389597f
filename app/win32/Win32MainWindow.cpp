#include "Win32MainWindow.h"

#include "Win32Application.h"
#include "Win32PaintBox.h"
#include "controlids.h"
#include "rendoif.h"
#include "toneanalysis.h"
#include "uglobal.h"
#include "winstr.h"

#include <stdexcept>

namespace {
constexpr UINT kRunPosted = WM_APP + 1;     // Post's jobs are waiting
constexpr UINT kWaveInFailure = WM_APP + 2;  // the sink queued a device failure

constexpr int kClientWidth = 269;
constexpr int kClientHeight = 280;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// The one input handled by ProcessMessagesWithoutInput's peek: posted messages (the
// audio notices, our own jobs), timers, paints and sent messages; keys and the mouse wait.
constexpr UINT kWithoutInput = PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_PAINT | PM_QS_SENDMESSAGE;

int LabelIndex(TMainLabel label) { return static_cast<int>(label); }
}  // namespace

TWin32MainWindow::TWin32MainWindow(IWaveIn& waveIn, IClock& clock, const std::wstring& pictureFolder)
    : TfMain(static_cast<IMainView&>(*this), waveIn, clock),
      FWaveIn(waveIn),
      FPictureFolder(pictureFolder.empty()
                         ? Utf8ToWide(ProgramFileFolder(WideToUtf8(PictureName), TProgramFileKind::Data))
                         : pictureFolder) {
  RegisterWindowClass(kMainWindowClass, "TfMain", WindowProc,
                      reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                      LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION)));
  // The client area is fixed; the frame around it is whatever the system draws for a
  // single fixed border with a caption.
  RECT bounds{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&bounds, kWindowStyle, FALSE, 0);
  FHandle = CreateWindowExW(0, kMainWindowClass, L"Korvel 2.0", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            bounds.right - bounds.left, bounds.bottom - bounds.top, nullptr, nullptr,
                            GetModuleHandleW(nullptr), this);
  if (!FHandle) throw std::runtime_error("CreateWindowEx(TfMain): " + SystemErrorText(GetLastError()));
  try {
    CreateControls();
    FormCreate();
  } catch (...) {
    // No window may outlive a construction that failed: its procedure would reach this
    // object. Nor does its going end the loop of whoever tried to make it.
    QuitOnDestroy = false;
    DestroyWindow(FHandle);
    throw;
  }
  try {
    LoadBackground();
  } catch (...) {
    // Reported once the loop runs; creation goes on without the picture.
    ReportLater(std::current_exception());
  }
  SetTimerActive(TMainTimer::Timer2, true);
}

TWin32MainWindow::~TWin32MainWindow() {
  // Released while this window can still drop the device's posted notices.
  StopCapture();
  if (FHandle) {
    QuitOnDestroy = false;  // the loop has ended or was never this window's
    DestroyWindow(FHandle);
  }
  FPaintBox.reset();
  if (FFont) DeleteObject(FFont);
}

HWND TWin32MainWindow::AddControl(const wchar_t* windowClass, const char* text, DWORD style, int id,
                                  int left, int top, int width, int height) {
  HWND control = CreateWindowExW(0, windowClass, Utf8ToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style, left,
                                 top, width, height, FHandle, reinterpret_cast<HMENU>(INT_PTR(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  if (!control) throw std::runtime_error("CreateWindowEx: " + SystemErrorText(GetLastError()));
  SendMessageW(control, WM_SETFONT, WPARAM(FFont), FALSE);
  return control;
}

HWND TWin32MainWindow::AddLabel(const char* text, int id, int left, int top) {
  HWND label = AddControl(L"STATIC", text, SS_LEFT | SS_NOPREFIX, id, left, top, 0, 0);
  FitLabel(label);
  return label;
}

// A label is as large as its text in the window's font, like an auto-sized label.
void TWin32MainWindow::FitLabel(HWND label) {
  const int length = GetWindowTextLengthW(label);
  std::wstring text(size_t(length) + 1, L'\0');
  GetWindowTextW(label, text.data(), length + 1);
  text.resize(size_t(length));
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, FFont);
  SIZE size{};
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  GetTextExtentPoint32W(dc, text.c_str(), length, &size);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  SetWindowPos(label, nullptr, 0, 0, size.cx, metrics.tmHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(label, nullptr, TRUE);
}

void TWin32MainWindow::CreateControls() {
  // Pixel sizes as laid out, whatever the screen's density.
  FFont = CreateFontW(-15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS UI Gothic");
  if (!FFont) throw std::runtime_error("CreateFont: " + SystemErrorText(GetLastError()));
  SendMessageW(FHandle, WM_SETFONT, WPARAM(FFont), FALSE);

  AddControl(L"STATIC", "", SS_SUNKEN | WS_CLIPSIBLINGS, idBevel1, 23, 15, kStripWidth + 2, kStripHeight + 2);
  FPaintBox = std::make_unique<TWin32PaintBox>(FHandle, idDpb, 24, 16, kStripWidth, kStripHeight);
  // Over the bevel's face, so the bevel shows as the frame around the strip.
  SetWindowPos(FPaintBox->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  HWND check = AddControl(L"BUTTON", "ラノフォンの速度を変更する", BS_AUTOCHECKBOX | WS_TABSTOP, idCheckBox1,
                          24, 88, 249, 17);
  SendMessageW(check, BM_SETCHECK, BST_CHECKED, 0);

  // A drop-down list: the height given is that of the opened list; the closed box is 23.
  HWND combo = AddControl(L"COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, idWaveInComboBox1,
                          24, 112, 225, 200);
  SendMessageW(combo, CB_SETITEMHEIGHT, WPARAM(-1), 17);
  // Position 0 is the system's preferred device, position k device number k - 1.
  SendMessageW(combo, CB_ADDSTRING, 0, LPARAM(L"利用可能なデバイス"));
  for (const std::string& name : FWaveIn.DeviceNames())
    SendMessageW(combo, CB_ADDSTRING, 0, LPARAM(Utf8ToWide(name).c_str()));

  AddLabel("現在の速度", idLabel2, 24, 144);
  AddLabel(SpeedCaption(1.0f).c_str(), idLabel3, 120, 144);
  AddLabel("基本周波数", idLabel1, 24, 168);
  AddLabel(kNotDetectedCaption, idLblFundamental, 120, 168);
  AddLabel("音量レベル", idLabel6, 24, 192);
  AddLabel("", idLblVolume, 120, 192);
  AddLabel("しきい値", idLabel5, 24, 216);
  AddLabel(ThresholdCaption(TSettingDefaults::viFloor).c_str(), idLabel4, 120, 216);

  AddControl(L"BUTTON", "開始", BS_PUSHBUTTON | WS_TABSTOP, idBtnRecord, 16, 240, 75, 25);
  HWND stop = AddControl(L"BUTTON", "停止", BS_PUSHBUTTON | WS_TABSTOP, idBtnStop, 96, 240, 75, 25);
  EnableWindow(stop, FALSE);
  AddControl(L"BUTTON", "環境設定", BS_PUSHBUTTON | WS_TABSTOP, idButton3, 176, 240, 75, 25);
}

void TWin32MainWindow::LoadBackground() {
  const std::wstring picture = PictureFile();
  auto bitmap = static_cast<HBITMAP>(
      LoadImageW(nullptr, picture.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  BITMAP info{};
  if (!bitmap || !GetObjectW(bitmap, sizeof info, &info) || info.bmWidth < 1 || info.bmHeight < 1) {
    if (bitmap) DeleteObject(bitmap);
    throw EMainWindowError("背景画像 \"" + WideToUtf8(picture) + "\" を読み込めませんでした。");
  }
  // Made 32-bit here, once, by the copy into a 32-bit section; the strip then copies its
  // pixels at every redraw without converting.
  std::unique_ptr<TDIBSurface> pixels;
  try {
    pixels = std::make_unique<TDIBSurface>(info.bmWidth, info.bmHeight, 32);
  } catch (...) {
    DeleteObject(bitmap);
    throw;
  }
  HDC source = CreateCompatibleDC(static_cast<HDC>(pixels->DC()));
  HGDIOBJ old = SelectObject(source, bitmap);
  const BOOL copied = BitBlt(static_cast<HDC>(pixels->DC()), 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
  GdiFlush();
  SelectObject(source, old);
  DeleteDC(source);
  DeleteObject(bitmap);
  if (!copied) throw EMainWindowError("背景画像 \"" + WideToUtf8(picture) + "\" を読み込めませんでした。");
  // A copy into a 32-bit section leaves the fourth byte as it was (zero), as the strip wants.
  Background = std::move(pixels);
}

std::wstring TWin32MainWindow::PictureFile() const {
  std::wstring file = FPictureFolder;
  if (!file.empty() && file.back() != L'\\' && file.back() != L'/') file += L'\\';
  return file + PictureName;
}

void TWin32MainWindow::Post(std::function<void()> job) {
  if (!FHandle) return;
  {
    std::lock_guard<std::mutex> hold(FPostedLock);
    FPosted.push_back(std::move(job));
  }
  PostMessageW(FHandle, kRunPosted, 0, 0);
}

void TWin32MainWindow::RunPosted() {
  for (;;) {
    std::function<void()> job;
    {
      std::lock_guard<std::mutex> hold(FPostedLock);
      if (FPosted.empty()) return;
      job = std::move(FPosted.front());
      FPosted.pop_front();
    }
    RunGuarded(job);
  }
}

void TWin32MainWindow::Destroying() {
  KillTimer(FHandle, idTimer1);
  KillTimer(FHandle, idTimer2);
  if (OnDestroying) {
    try {
      OnDestroying(FHandle);
    } catch (...) {
      // Writing the placement must not fail the close; the next start opens where it can.
    }
  }
  if (QuitOnDestroy) PostQuitMessage(0);
}

LRESULT CALLBACK TWin32MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TWin32MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->FHandle = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->Receive(window, message, wParam, lParam);
}

LRESULT TWin32MainWindow::Receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
          case idBtnRecord: RunGuarded([this] { btnRecordClick(); }); return 0;
          case idBtnStop: RunGuarded([this] { btnStopClick(); }); return 0;
          case idButton3: RunGuarded([this] { Button3Click(); }); return 0;
        }
      }
      break;
    case WM_TIMER:
      if (wParam == idTimer1) RunGuarded([this] { Timer1Timer(); });
      if (wParam == idTimer2) RunGuarded([this] { Timer2Timer(); });
      return 0;
    case MM_WIM_DATA:
      RunGuarded([&] { MMWimData(reinterpret_cast<HWAVEIN>(wParam), reinterpret_cast<WAVEHDR*>(lParam)); });
      return 0;
    case kWaveInFailure: {
      std::pair<HWAVEIN, std::string> failure;
      {
        std::lock_guard<std::mutex> hold(FPostedLock);
        if (FFailures.empty()) return 0;  // dropped with the device's other notices
        failure = std::move(FFailures.front());
        FFailures.pop_front();
      }
      RunGuarded([&] { TfMain::WaveInFailed(failure.first, failure.second); });
      return 0;
    }
    case kRunPosted:
      RunPosted();
      return 0;
    case WM_SHOWWINDOW:
      if (wParam && !FShown) {
        FShown = true;
        RunGuarded([this] { FormShow(); });
      }
      break;
    case WM_CTLCOLORSTATIC: {
      auto dc = reinterpret_cast<HDC>(wParam);
      COLORREF color = GetSysColor(COLOR_WINDOWTEXT);
      for (TMainLabel label : {TMainLabel::Label3, TMainLabel::lblFundamental, TMainLabel::lblVolume, TMainLabel::Label4})
        if (LabelHandle(label) == reinterpret_cast<HWND>(lParam)) color = FLabelColor[LabelIndex(label)];
      SetTextColor(dc, color);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CLOSE: {
      bool allowed = true;
      RunGuarded([&] { allowed = FormCloseQuery(); });
      if (allowed) DestroyWindow(window);
      return 0;
    }
    case WM_ENDSESSION:
      // The session ends and the process with it once this returns: a running capture is
      // ended as 停止 would end it, so its file is complete.
      if (wParam) RunGuarded([this] { EndCaptureAtExit(); });
      return 0;
    case WM_DESTROY:
      Destroying();
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND TWin32MainWindow::LabelHandle(TMainLabel label) const {
  switch (label) {
    case TMainLabel::Label3: return Control(idLabel3);
    case TMainLabel::lblFundamental: return Control(idLblFundamental);
    case TMainLabel::lblVolume: return Control(idLblVolume);
    case TMainLabel::Label4: return Control(idLabel4);
  }
  return Control(idLabel4);
}

void TWin32MainWindow::SetCaption(TMainLabel label, const std::string& text) {
  HWND handle = LabelHandle(label);
  SetWindowTextW(handle, Utf8ToWide(text).c_str());
  FitLabel(handle);
}

void TWin32MainWindow::SetCaptionColor(TMainLabel label, uint32_t color) {
  // The core's colour values are 0x00BBGGRR, as COLORREF is.
  if (FLabelColor[LabelIndex(label)] == color) return;
  FLabelColor[LabelIndex(label)] = color;
  InvalidateRect(LabelHandle(label), nullptr, TRUE);
}

void TWin32MainWindow::SetEnabled(TMainControl control, bool enabled) {
  const int id = control == TMainControl::btnRecord ? idBtnRecord
                 : control == TMainControl::btnStop ? idBtnStop
                                                    : idWaveInComboBox1;
  HWND handle = Control(id);
  // The focus leaves a control that is disabled, so the keyboard keeps working.
  if (!enabled && GetFocus() == handle) {
    EnableWindow(handle, FALSE);
    SetFocus(GetNextDlgTabItem(FHandle, handle, FALSE));
    return;
  }
  EnableWindow(handle, enabled ? TRUE : FALSE);
}

int32_t TWin32MainWindow::DevicePosition() {
  return int32_t(SendMessageW(Control(idWaveInComboBox1), CB_GETCURSEL, 0, 0));  // CB_ERR is -1: none
}

int32_t TWin32MainWindow::DeviceCount() {
  return int32_t(SendMessageW(Control(idWaveInComboBox1), CB_GETCOUNT, 0, 0));
}

void TWin32MainWindow::SelectDevice(int32_t position) {
  SendMessageW(Control(idWaveInComboBox1), CB_SETCURSEL, WPARAM(position), 0);
}

bool TWin32MainWindow::PublishChecked() {
  return SendMessageW(Control(idCheckBox1), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TWin32MainWindow::ShowInformation(const std::string& text) {
  TWin32Application::ShowMessage(FHandle, text, MB_OK | MB_ICONINFORMATION);
}

void TWin32MainWindow::ReportLater(std::exception_ptr error) {
  Post([error] { TWin32Application::ShowException(error); });
}

void TWin32MainWindow::ProcessMessagesUntil(const std::function<bool()>& done) {
  MSG message;
  while (!done()) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      // The program is leaving: the outer loop must see the quit too.
      PostQuitMessage(int(message.wParam));
      return;
    }
    if (got < 0) return;
    TWin32Application::Dispatch(message);
  }
}

void TWin32MainWindow::ProcessMessagesWithoutInput() {
  // Keys and mouse stay queued for after the wait; everything else pending is handled, for
  // a few milliseconds at most.
  const DWORD start = GetTickCount();
  MSG message;
  while (GetTickCount() - start < 5 && PeekMessageW(&message, nullptr, 0, 0, kWithoutInput)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(int(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void TWin32MainWindow::SetTimerActive(TMainTimer timer, bool active) {
  const UINT_PTR id = timer == TMainTimer::Timer1 ? idTimer1 : idTimer2;
  if (active) {
    SetTimer(FHandle, id, timer == TMainTimer::Timer1 ? 100 : 1000, nullptr);
  } else {
    KillTimer(FHandle, id);
  }
}

TDIBSurface& TWin32MainWindow::StripSurface() { return FPaintBox->Surface(); }

void TWin32MainWindow::PaintStrip() { FPaintBox->Paint(); }

TWaveInWindow TWin32MainWindow::WaveInWindow() { return TWaveInWindow{FHandle, &FSink}; }

void TWin32MainWindow::DropWaveInNotices() {
  MSG message;
  if (FHandle)
    while (PeekMessageW(&message, FHandle, MM_WIM_OPEN, MM_WIM_DATA, PM_REMOVE)) {
    }
  std::lock_guard<std::mutex> hold(FPostedLock);
  FFailures.clear();
}

// A null window would make PostMessage post to the calling thread itself: after the window
// has gone, a notice has nowhere to go and is dropped.
void TWin32MainWindow::TSink::WaveInData(HWAVEIN handle, WAVEHDR* header) {
  if (!Owner.FHandle) return;
  PostMessageW(Owner.FHandle, MM_WIM_DATA, reinterpret_cast<WPARAM>(handle), reinterpret_cast<LPARAM>(header));
}

void TWin32MainWindow::TSink::WaveInFailed(HWAVEIN handle, const std::string& detail) {
  if (!Owner.FHandle) return;
  {
    std::lock_guard<std::mutex> hold(Owner.FPostedLock);
    Owner.FFailures.emplace_back(handle, detail);
  }
  PostMessageW(Owner.FHandle, kWaveInFailure, 0, 0);
}
