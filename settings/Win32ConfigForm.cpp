#include "Win32ConfigForm.h"

#include "Win32ConfigDialog.h"
#include "Win32NumberEdit.h"
#include "apptitle.h"
#include "uglobal.h"
#include "winstr.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {
// Message boxes ask for Japanese buttons, whatever the user's language.
const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// The program's title by the rule every front end shares.
std::wstring ProgramTitle() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), DWORD(path.size())));
  return Utf8ToWide(ApplicationTitleFromPath(WideToUtf8(path)));
}

std::wstring ErrorText(std::exception_ptr error) { return Utf8ToWide(ExceptionMessage(error)); }

// A dialog template with no controls: the dialog manager gives the modal loop (the owner
// disabled, IsDialogMessage for Tab, Enter and Esc, every message of the thread
// dispatched, the main window's audio buffers included), while the controls are made
// with CreateWindowEx in WM_INITDIALOG. Template controls are placed in dialog units,
// which follow the dialog font's metrics; the form is laid out in pixels scaled by the
// screen's density instead, so none are in the template. DWORD-aligned, as it must be.
std::vector<DWORD> DialogTemplate(const wchar_t* caption) {
  std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  DLGTEMPLATE head{};
  head.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  memcpy(words.data(), &head, sizeof head);  // x, y, cx, cy: sized in WM_INITDIALOG
  words.push_back(0);  // no menu
  words.push_back(0);  // the dialog class
  for (const wchar_t* c = caption; *c; ++c) words.push_back(WORD(*c));
  words.push_back(0);
  std::vector<DWORD> aligned((words.size() + 1) / 2, 0);
  memcpy(aligned.data(), words.data(), words.size() * sizeof(WORD));
  return aligned;
}

struct TLabel {
  const wchar_t* Text;
  int X, Y;
};
// Label2 is made apart: its text follows the bar.
const TLabel kLabels[] = {
    {L"最大の速度", 24, 16}, {L"検出する最高の周波数", 24, 88},
    {L"hz", 264, 96},        {L"検出する最低の周波数", 24, 120},
    {L"hz", 264, 128},       {L"しきい値", 24, 152},
    {L"hz", 264, 160},       {L"開始5分後のしきい値", 24, 184},
    {L"hz", 264, 192},
};

int EditId(TConfigEdit edit) {
  switch (edit) {
    case TConfigEdit::MaxFreq:
      return TWin32ConfigForm::idEditMaxFreq;
    case TConfigEdit::MinFreq:
      return TWin32ConfigForm::idEditMinFreq;
    case TConfigEdit::Floor:
      return TWin32ConfigForm::idEditFloor;
    case TConfigEdit::Floor2:
      return TWin32ConfigForm::idEditFloor2;
  }
  return TWin32ConfigForm::idEditFloor2;
}
}  // namespace

TWin32ConfigForm::TWin32ConfigForm(HWND owner, int dpi)
    : TfConfig(static_cast<IConfigView&>(*this)), Owner(owner), Dpi(dpi > 0 ? dpi : kDesignDpi) {}

TWin32ConfigForm::~TWin32ConfigForm() {
  if (Window) DestroyWindow(Window);
  if (Font) DeleteObject(Font);
}

int TWin32ConfigForm::ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDesignDpi;
}

void TWin32ConfigForm::ShowModal() {
  if (Window) return;  // shown already: a second modal loop on the same window would nest
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
  InitCommonControlsEx(&classes);
  // "MS UI Gothic" at 15 pixels of the design (character height, hence negative), with the
  // Japanese character set so a substitute face is chosen where it is missing.
  Font = CreateFontW(-Scaled(15), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, L"MS UI Gothic");
  const std::vector<DWORD> dialog = DialogTemplate(L"環境設定");
  const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                                 reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()),
                                                 Owner, DialogProc, reinterpret_cast<LPARAM>(this));
  const DWORD code = GetLastError();
  Window = nullptr;
  if (Font) DeleteObject(Font);
  Font = nullptr;
  if (result == -1 || result == 0)
    throw std::runtime_error("環境設定の画面を開けません。\n" + SystemErrorText(code));
}

INT_PTR CALLBACK TWin32ConfigForm::DialogProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lParam);
  auto* self = reinterpret_cast<TWin32ConfigForm*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  if (message == WM_INITDIALOG) self->Window = window;
  // No exception may unwind through the system's code that called this procedure.
  try {
    return self->Dispatch(message, wParam, lParam);
  } catch (...) {
    self->ReportError(std::current_exception());
    // A dialog whose controls could not all be made is not shown half built.
    if (message == WM_INITDIALOG) ::EndDialog(window, IDCANCEL);
    return TRUE;
  }
}

INT_PTR TWin32ConfigForm::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      CreateControls();
      // Client area at the density, the whole window centred on the owner and kept within
      // the work area of the owner's screen (a main window stored partly off screen would
      // otherwise hide the dialog that blocks it).
      RECT frame{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
      AdjustWindowRectEx(&frame, DWORD(GetWindowLongPtrW(Window, GWL_STYLE)), FALSE,
                         DWORD(GetWindowLongPtrW(Window, GWL_EXSTYLE)));
      const int width = frame.right - frame.left, height = frame.bottom - frame.top;
      MONITORINFO screen{};
      screen.cbSize = sizeof screen;
      GetMonitorInfoW(MonitorFromWindow(Owner ? Owner : Window, MONITOR_DEFAULTTOPRIMARY), &screen);
      RECT around = screen.rcWork;
      if (Owner) GetWindowRect(Owner, &around);
      int left = around.left + (around.right - around.left - width) / 2;
      int top = around.top + (around.bottom - around.top - height) / 2;
      left = std::max(std::min(left, int(screen.rcWork.right) - width), int(screen.rcWork.left));
      top = std::max(std::min(top, int(screen.rcWork.bottom) - height), int(screen.rcWork.top));
      SetWindowPos(Window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
      FormShow();
      // The first control in the tab order has the focus, as on every showing.
      SetFocus(Control(idOK));
      return FALSE;  // the focus is set
    }
    case WM_HSCROLL:
      if (reinterpret_cast<HWND>(lParam) == Control(idTrackSpeed)) SpeedMoved();
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      switch (LOWORD(wParam)) {
        case idOK:
          btnOKClick();
          return TRUE;
        case idCancel:  // also Esc and the close box
          Button1Click();
          return TRUE;
        case idDefaults:
          Button2Click();
          return TRUE;
      }
      return FALSE;
    case WM_NCDESTROY:
      Window = nullptr;
      return FALSE;
  }
  return FALSE;
}

void TWin32ConfigForm::CreateControls() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  auto S = [this](int v) { return Scaled(v); };
  auto make = [&](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style, int id,
                  int x, int y, int w, int h) {
    HWND control =
        CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, S(x), S(y), S(w), S(h),
                        Window, reinterpret_cast<HMENU>(INT_PTR(id)), instance, nullptr);
    if (!control)
      throw std::runtime_error("環境設定の画面を作れません。\n" + SystemErrorText(GetLastError()));
    SendMessageW(control, WM_SETFONT, WPARAM(Font), FALSE);
    return control;
  };
  // Creation order is the tab order: the buttons of the bottom panel first, then the
  // controls above it. The panel itself has no bevel and no behaviour, so the buttons
  // are the dialog's own children at the panel's offset (a panel window between them would
  // take their notifications and the dialog manager's keyboard handling).
  const int panelTop = kClientHeight - 40;  // bottom-aligned, 40 high, in design pixels
  const DWORD tab = WS_TABSTOP | WS_GROUP;
  make(0, L"BUTTON", L"OK", tab | BS_DEFPUSHBUTTON, idOK, 72, panelTop + 8, 75, 25);
  make(0, L"BUTTON", L"キャンセル", tab | BS_PUSHBUTTON, idCancel, 160, panelTop + 8, 75, 25);
  make(0, L"BUTTON", L"標準の設定", tab | BS_PUSHBUTTON, idDefaults, 248, panelTop + 8, 97, 25);
  // Positions 10..60, a tick every 10; arrow keys move by 1, page keys by 2.
  HWND bar = make(0, TRACKBAR_CLASSW, L"", tab | TBS_HORZ | TBS_BOTTOM | TBS_AUTOTICKS,
                  idTrackSpeed, 16, 40, 257, 33);
  SendMessageW(bar, TBM_SETRANGE, FALSE, MAKELPARAM(10, 60));
  SendMessageW(bar, TBM_SETTICFREQ, 10, 0);
  SendMessageW(bar, TBM_SETLINESIZE, 0, 1);
  SendMessageW(bar, TBM_SETPAGESIZE, 0, 2);
  SendMessageW(bar, TBM_SETPOS, TRUE, TSettingDefaults::viSpeed);
  ShownSpeed = TSettingDefaults::viSpeed;
  const struct {
    int Id, Y;
    int32_t Value;
  } edits[] = {{idEditMaxFreq, 88, TSettingDefaults::viMaxFreq},
               {idEditMinFreq, 120, TSettingDefaults::viMinFreq},
               {idEditFloor, 152, TSettingDefaults::viFloor},
               {idEditFloor2, 184, TSettingDefaults::viFloor2}};
  for (const auto& e : edits) {
    HWND edit = make(WS_EX_CLIENTEDGE, L"EDIT", Wide(IntegerText(e.Value)).c_str(),
                     tab | ES_LEFT | ES_AUTOHSCROLL, e.Id, 192, e.Y, 65, 23);
    MakeNumberEdit(edit, TNumberRules{false, true});
  }
  make(0, L"BUTTON", L"録音結果をファイルに保存", tab | BS_AUTOCHECKBOX, idRecordToFile, 24, 216,
       273, 17);
  // Static texts, sized to their text.
  SizeLabel(make(0, L"STATIC", Utf8ToWide(SpeedCaption(ShownSpeed)).c_str(), SS_LEFT | SS_NOPREFIX,
                 idLabel2, 288, 48, 0, 0));
  int id = idFirstLabel;
  for (const TLabel& l : kLabels)
    SizeLabel(make(0, L"STATIC", l.Text, SS_LEFT | SS_NOPREFIX, id++, l.X, l.Y, 0, 0));
}

void TWin32ConfigForm::SizeLabel(HWND label) {
  const int length = GetWindowTextLengthW(label);
  std::wstring text(size_t(length) + 1, L'\0');
  text.resize(size_t(GetWindowTextW(label, text.data(), length + 1)));
  SIZE extent{};
  if (HDC dc = GetDC(label)) {
    HGDIOBJ previous = SelectObject(dc, Font);
    GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
    SelectObject(dc, previous);
    ReleaseDC(label, dc);
  }
  SetWindowPos(label, nullptr, 0, 0, extent.cx, extent.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(label, nullptr, TRUE);
}

void TWin32ConfigForm::SpeedMoved() {
  const int32_t position = SpeedPosition();
  if (position == ShownSpeed) return;
  ShownSpeed = position;
  trackSpeedChange();
}

void TWin32ConfigForm::SetSpeedPosition(int32_t position) {
  // The bar clamps to its range itself; TBM_SETPOS sends no notification, so the change
  // is announced here.
  SendMessageW(Control(idTrackSpeed), TBM_SETPOS, TRUE, LPARAM(position));
  SpeedMoved();
}

int32_t TWin32ConfigForm::SpeedPosition() {
  return int32_t(SendMessageW(Control(idTrackSpeed), TBM_GETPOS, 0, 0));
}

void TWin32ConfigForm::SetSpeedCaption(const std::string& text) {
  HWND label = Control(idLabel2);
  SetWindowTextW(label, Utf8ToWide(text).c_str());
  SizeLabel(label);
}

void TWin32ConfigForm::SetRecordToFile(bool checked) {
  SendMessageW(Control(idRecordToFile), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TWin32ConfigForm::RecordToFile() {
  return SendMessageW(Control(idRecordToFile), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::u16string TWin32ConfigForm::ReadEdit(TConfigEdit edit) {
  return ReadNumberEdit(Control(EditId(edit)), false);
}

void TWin32ConfigForm::WriteEdit(TConfigEdit edit, const std::u16string& text) {
  WriteEditText(Control(EditId(edit)), text);
}

std::wstring TWin32ConfigForm::Title() const {
  return TWin32ConfigDialog::MessageTitle.empty() ? ProgramTitle()
                                                  : TWin32ConfigDialog::MessageTitle;
}

int TWin32ConfigForm::Box(const std::wstring& text, UINT type) {
  // Owned by the application window, as every message box of the program. That window is
  // disabled by this dialog already; the dialog is disabled for the box's time as well, so
  // nothing below the question can be pressed meanwhile (OK would end the dialog from
  // within the box's loop).
  const bool enabled = Window && IsWindowEnabled(Window);
  if (enabled) EnableWindow(Window, FALSE);
  const int answer = MessageBoxExW(Owner, text.c_str(), Title().c_str(), type, kJapanese);
  if (enabled) {
    EnableWindow(Window, TRUE);
    SetActiveWindow(Window);
  }
  return answer;
}

bool TWin32ConfigForm::AskYesNo(const std::string& text) {
  return Box(Utf8ToWide(text), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void TWin32ConfigForm::ReportError(std::exception_ptr error) {
  if (TWin32ConfigDialog::ExceptionHandler) {
    TWin32ConfigDialog::ExceptionHandler(error);
    return;
  }
  Box(ErrorText(error), MB_OK | MB_ICONERROR);
}

void TWin32ConfigForm::EndDialog(bool ok) {
  if (Window) ::EndDialog(Window, ok ? IDOK : IDCANCEL);
}
