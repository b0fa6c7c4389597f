// Start-up: the global objects come into existence in a fixed order before any window and
// are released in reverse order at exit (uProgram.h); settings are not saved at exit.
#include "clock.h"
#include "registry.h"
#include "rendoif.h"
#include "uApplication.h"
#include "QtConfigDialog.h"
#include "QtMainWindow.h"
#include "uSharedMemory.h"
#include "uProgram.h"
#include "uSingleInstance.h"
#include "uglobal.h"
#include "wavein_alsa.h"

#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

namespace {
int gSignalPipe[2] = {-1, -1};

void OnTerminate(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = write(gSignalPipe[1], &byte, 1);  // async-signal-safe
}

// SIGTERM (logout, `kill`), SIGINT and SIGHUP (the terminal korvel was started from is
// closed) close the window as the user would: a running capture is stopped, its file
// finished and the window placement written, instead of the process dying with the file's
// sizes still 0.
void CloseOnTerminate(QWidget& window) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char byte;
    [[maybe_unused]] ssize_t n = read(gSignalPipe[0], &byte, 1);
    window.close();
  });
  struct sigaction action{};
  action.sa_handler = OnTerminate;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

// A source of one-time notices (TakeNotice, OnNotice): what it holds is shown over the
// window once the loop runs, and each later notice likewise, never inside the operation
// that raised it. The caller clears OnNotice before the window goes.
template <class TSource>
void ShowNoticesOver(QWidget& window, TSource& source) {
  auto show = [&window, &source] {
    const QString notice = QString::fromStdString(source.TakeNotice());
    if (!notice.isEmpty()) QMessageBox::warning(&window, TApplication::Title(), notice);
  };
  source.OnNotice = [&window, show] { QTimer::singleShot(0, &window, show); };
  QTimer::singleShot(0, &window, show);
}

// Shown in a box and on standard error, which is where a start from a terminal looks.
void Report(const std::string& text) {
  std::fprintf(stderr, "korvel: %s\n", text.c_str());
  TApplication::ShowException(std::make_exception_ptr(std::runtime_error(text)));
}

// An error while creating a global object ends the program before its window is shown.
int StartupFailed(std::exception_ptr error) {
  Report(StartupErrorText(error));
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  // The Qt application object must exist before any message box can be shown, so it is
  // constructed first; the design's global objects follow in their own order.
  TApplication app(argc, argv);

  std::unique_ptr<TSingleInstanceLock> instance;  // released last, after everything it guards
  std::unique_ptr<TProgramGlobals> globals;
  try {
    // Before the mailbox: a second instance must leave the first one's record, its capture
    // file and every other file alone.
    instance = std::make_unique<TSingleInstanceLock>();
    if (!instance->Held()) {
      Report(instance->AlreadyRunningText());
      return 1;
    }
    globals = std::make_unique<TProgramGlobals>(CreateAlsaWaveIn);
  } catch (...) {
    return StartupFailed(std::current_exception());
  }
  TSpeedSharedMemory& mailbox = globals->Mailbox();

  int result = 0;
  {
    TQtMainWindow window(globals->WaveIn(), SystemClock());
    fMain = &window;
    TApplication::SetMainWindow(&window);

    TQtConfigDialog::ExceptionHandler = TApplication::ShowException;
    TQtConfigDialog::MessageTitle = TApplication::Title();
    TQtConfigDialog config(&window);  // destroyed before the window
    fConfig = &config;
    window.ShowConfigDialog = [&config] { config.exec(); };

    window.show();
    CloseOnTerminate(window);
    // When the X connection breaks, the toolkit ends the process with exit(1) from inside
    // the loop: the capture is ended on the way out as 停止 would end it.
    std::atexit([] {
      if (fMain) fMain->EndCaptureAtExit();
    });

    // A settings file that could not be read is kept aside and the user told, over the
    // window: at start-up, and again whenever a later read finds it gone bad.
    ShowNoticesOver(window, TRegistry::CurrentUser());
    // Mailbox objects removed while the program runs are made again at the next publish;
    // the user is told once, since a player that kept the old ones hears nothing more.
    ShowNoticesOver(window, mailbox);
    // Used by the start-up figure (bench/startup-idle): leave as soon as the window is up.
    if (std::getenv("KORVEL_QUIT_WHEN_SHOWN")) QTimer::singleShot(0, &app, &QApplication::quit);
    // Used by the installed-tree test: the engine and picture this start took (an empty
    // name: it runs on the fallback).
    if (std::getenv("KORVEL_REPORT_FILES"))
      std::fprintf(stderr, "korvel: engine %s\nkorvel: picture %s\n", EngineFile().c_str(),
                   window.BackgroundBitmap.isNull() ? "" : qPrintable(window.PictureFile()));

    result = app.exec();
    TRegistry::CurrentUser().OnNotice = nullptr;
    mailbox.OnNotice = nullptr;
    fConfig = nullptr;
    fMain = nullptr;
  }
  return result;
}
