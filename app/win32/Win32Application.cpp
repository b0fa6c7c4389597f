#include "Win32Application.h"

#include "apptitle.h"
#include "winstr.h"

#include <stdexcept>
#include <vector>

namespace {
HWND gMainWindow = nullptr;

std::wstring ProgramFileName() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return std::wstring(path.data(), n);
    path.resize(path.size() * 2);  // truncated: a longer path than MAX_PATH
  }
}
}  // namespace

const std::wstring& TWin32Application::Title() {
  static const std::wstring title =
      Utf8ToWide(ApplicationTitleFromPath(WideToUtf8(ProgramFileName())));
  return title;
}

void TWin32Application::SetMainWindow(HWND window) { gMainWindow = window; }

HWND TWin32Application::MainWindow() { return gMainWindow; }

int TWin32Application::ShowMessage(HWND owner, const std::string& text, UINT style) {
  if (!owner) owner = GetActiveWindow();  // of this thread only: never another program's
  if (!owner || !IsWindow(owner)) owner = IsWindow(gMainWindow) ? gMainWindow : nullptr;
  return MessageBoxExW(owner, Utf8ToWide(text).c_str(), Title().c_str(), style,
                       MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
}

void TWin32Application::ShowException(std::exception_ptr error) {
  ShowMessage(nullptr, ExceptionMessage(error), MB_OK | MB_ICONERROR);
}

void TWin32Application::Dispatch(MSG& message) {
  // The main window's dialog keys: Tab between its controls, Space and Enter on a button.
  if (gMainWindow && IsWindow(gMainWindow) && IsChild(gMainWindow, message.hwnd) &&
      IsDialogMessageW(gMainWindow, &message))
    return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

void RunGuarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    TWin32Application::ShowException(std::current_exception());
  }
}

void RegisterWindowClass(const wchar_t* className, const char* name, WNDPROC procedure,
                         HBRUSH background, HICON icon) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hIcon = icon;
  windowClass.hbrBackground = background;
  windowClass.lpszClassName = className;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error(std::string("RegisterClassEx(") + name + "): " + SystemErrorText(GetLastError()));
}
