#pragma once
// The application object of the Win32 front end: its title, its message boxes, its default
// error handler and the dispatch of one message, which the main loop and every nested loop
// share.
//
// An exception that leaves an event handler is shown in a box (its text) owned by the
// active window of the program, or by the main window when none of ours is active, and the
// program goes on. The window procedures call every handler through RunGuarded, so no
// exception ever unwinds through the system's frames.
#include <windows.h>

#include <exception>
#include <functional>
#include <string>

class TWin32Application {
public:
  // The title every message box of the program carries: the title rule (apptitle.h)
  // applied to this process's program file.
  static const std::wstring& Title();

  // The window boxes fall back to as owner, and the one whose dialog keys (Tab, Enter,
  // Space on a focused button) the loops handle.
  static void SetMainWindow(HWND window);
  static HWND MainWindow();

  // A message box owned by `owner` (null: the active window or else the main window),
  // titled with the application title, asking for Japanese as its language. Returns the
  // button pressed. The message loop keeps running while it is open.
  static int ShowMessage(HWND owner, const std::string& text, UINT style);

  // The default error report: the text of `error` in an error box; returns once answered.
  static void ShowException(std::exception_ptr error);

  // Translates and dispatches one message as the main loop does.
  static void Dispatch(MSG& message);
};

// Registers a window class of this program once per process (a class another window of
// the process registered already is fine); `name` also names it in the error.
void RegisterWindowClass(const wchar_t* className, const char* name, WNDPROC procedure,
                         HBRUSH background = nullptr, HICON icon = nullptr);

// Runs `handler` and reports what it throws through the default error report.
void RunGuarded(const std::function<void()>& handler);
