// Start-up of the Windows program: the global objects come into existence in a fixed order
// before any window and are released in reverse order at exit; settings are not saved at
// exit (uProgram.h, shared with the Linux program), with the system's own services.
#include "Win32Application.h"
#include "Win32ConfigDialog.h"
#include "Win32MainWindow.h"
#include "Win32Placement.h"
#include "clock.h"
#include "registry.h"
#include "rendoif.h"
#include "uProgram.h"
#include "uSharedMemory.h"
#include "uglobal.h"
#include "wavein_winmm.h"
#include "winstr.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

namespace {
// One korvel per session: two would write the same .\output.wav and zero each other's
// mailbox. The mutex goes with the process, however it ends.
constexpr const wchar_t* kInstanceMutex = L"Local\\Trevane.Korvel.Instance";
constexpr const char* kAlreadyRunning =
    "korvel はすでに起動しています。同じユーザーが同時に起動できるのは 1 つだけです。";

class TSingleInstance {
public:
  TSingleInstance() : FMutex(CreateMutexW(nullptr, FALSE, kInstanceMutex)) {
    if (!FMutex) throw std::runtime_error("二重起動を防ぐためのミューテックスを作成できません。\n" +
                                          SystemErrorText(GetLastError()));
    FHeld = GetLastError() != ERROR_ALREADY_EXISTS;
  }
  ~TSingleInstance() { CloseHandle(FMutex); }
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;
  bool Held() const { return FHeld; }

private:
  HANDLE FMutex;
  bool FHeld = false;
};

// A source of one-time notices (TakeNotice, OnNotice): what it holds is shown over the
// window once the loop runs, and each later notice likewise, never inside the operation
// that raised it. The caller clears OnNotice before the window goes.
template <class TSource>
void ShowNoticesOver(TWin32MainWindow& window, TSource& source) {
  auto show = [&window, &source] {
    const std::string notice = source.TakeNotice();
    if (!notice.empty()) TWin32Application::ShowMessage(window.Handle(), notice, MB_OK | MB_ICONWARNING);
  };
  source.OnNotice = [&window, show] { window.Post(show); };
  window.Post(show);
}

// The text of a start-up error: the failed step's own text, then on a second line what the
// system said, where the error carries it apart.
// Shown in a box, and on standard error for a start from a console (Wine's included).
int StartupFailed(const std::string& text) {
  std::fprintf(stderr, "korvel: %s\n", text.c_str());
  TWin32Application::ShowMessage(nullptr, text, MB_OK | MB_ICONERROR);
  return 1;
}

int RunMessageLoop() {
  MSG message;
  BOOL got;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (got < 0) return 1;
    TWin32Application::Dispatch(message);
  }
  return int(message.wParam);
}
}  // namespace

int main() {
  // The version 6 controls the manifest asks for are registered once comctl32 is loaded.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  std::unique_ptr<TSingleInstance> instance;  // released last, after everything it guards
  std::unique_ptr<TProgramGlobals> globals;
  try {
    // Before the mailbox: a second instance must leave the first one's record, its capture
    // file and every other file alone.
    instance = std::make_unique<TSingleInstance>();
    if (!instance->Held()) return StartupFailed(kAlreadyRunning);
    globals = std::make_unique<TProgramGlobals>(CreateWinmmWaveIn);
  } catch (...) {
    return StartupFailed(StartupErrorText(std::current_exception()));
  }
  TSpeedSharedMemory& mailbox = globals->Mailbox();

  int result = 0;
  try {
    TWin32MainWindow window(globals->WaveIn(), SystemClock());
    fMain = &window;
    TWin32Application::SetMainWindow(window.Handle());
    // The window reopens where it was closed; the placement lives under the settings key.
    // A placement that cannot be read is reported once the loop runs, and the window opens
    // where the system puts it.
    try {
      RestoreWindowPlacement(window.Handle(), "fMain");
    } catch (...) {
      const std::exception_ptr error = std::current_exception();
      window.Post([error] { TWin32Application::ShowException(error); });
    }
    window.OnDestroying = [](HWND handle) { SaveWindowPlacement(handle, "fMain"); };

    TWin32ConfigDialog::ExceptionHandler = TWin32Application::ShowException;
    TWin32ConfigDialog::MessageTitle = TWin32Application::Title();
    TWin32ConfigDialog config(window.Handle());  // destroyed before the window object
    window.ShowConfigDialog = [&config] { config.ShowModal(); };

    ShowWindow(window.Handle(), SW_SHOWNORMAL);
    UpdateWindow(window.Handle());

    // A settings store that could not be read is kept aside and the user told, over the
    // window: at start-up, and again whenever a later read finds it gone bad.
    ShowNoticesOver(window, TRegistry::CurrentUser());
    // Mailbox objects removed while the program runs are made again at the next publish;
    // the user is told once, since a player that kept the old ones hears nothing more.
    ShowNoticesOver(window, mailbox);
    // Used by the start-up figure and the end-to-end test: leave as soon as the window is up.
    if (std::getenv("KORVEL_QUIT_WHEN_SHOWN")) window.Post([] { PostQuitMessage(0); });
    // Used by the installed-tree test: the engine and picture this start took (an empty
    // name: it runs on the fallback).
    if (std::getenv("KORVEL_REPORT_FILES"))
      std::fprintf(stderr, "korvel: engine %s\nkorvel: picture %s\n", EngineFile().c_str(),
                   window.Background ? WideToUtf8(window.PictureFile()).c_str() : "");

    result = RunMessageLoop();
    window.ShowConfigDialog = nullptr;
    TRegistry::CurrentUser().OnNotice = nullptr;
    mailbox.OnNotice = nullptr;
    fMain = nullptr;
    TWin32Application::SetMainWindow(nullptr);
  } catch (...) {
    fMain = nullptr;
    TRegistry::CurrentUser().OnNotice = nullptr;
    mailbox.OnNotice = nullptr;
    return StartupFailed(StartupErrorText(std::current_exception()));
  }
  return result;
}
