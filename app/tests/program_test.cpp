// The program as a process: it starts, shows its window and, on SIGTERM or SIGHUP, closes
// the window as a user would (placement written, exit status 0); a second start of the same
// user and a failed start say why and leave the mailbox alone; losing the X server ends a
// capture as the stop button would.
#include <gtest/gtest.h>

#include "test_files.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "alsa_test_route.h"
#include "test_signals.h"
#include "xvfb.h"
// Last: Xlib's macros (None, Bool, Status) would break the headers above.
// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
// clang-format on

namespace fs = std::filesystem;

namespace {
const char* const kSection = "/dev/shm/{27A5202C-14D9-4AB2-B94F-EBA8C281B542}";
const char* const kEvent = "/dev/shm/{36187C43-8604-4EC5-89CE-75C5220B89AB}";

// Clicks, as a user would, at a point of the viewable top-level window of the given size
// (the program's fixed window; no window manager runs, so its X window is the client area).
bool ClickInWindow(const std::string& display, int width, int height, int x, int y) {
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return false;
  const Window root = DefaultRootWindow(d);
  Window rootReturn, parent, *children = nullptr, target = 0;
  unsigned count = 0;
  if (XQueryTree(d, root, &rootReturn, &parent, &children, &count)) {
    for (unsigned i = 0; i < count; ++i) {
      XWindowAttributes a;
      if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable && a.width == width &&
          a.height == height)
        target = children[i];
    }
    XFree(children);
  }
  int rootX = 0, rootY = 0;
  Window child;
  const bool found = target && XTranslateCoordinates(d, target, root, x, y, &rootX, &rootY, &child);
  if (found) {
    XTestFakeMotionEvent(d, -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XSync(d, False);
  }
  XCloseDisplay(d);
  return found;
}

class Program : public ::testing::Test {
protected:
  void SetUp() override {
    // The program creates the mailbox under its real names: only inside a private /dev/shm.
    if (!std::getenv("KORVEL_PRIVATE_SHM")) GTEST_SKIP() << "needs a private /dev/shm (run through ctest)";
    const char* root = std::getenv("KORVEL_TEST_ROOT");
    Home = fs::path(root ? root : "/tmp") / "program";
    fs::remove_all(Home);
    fs::create_directories(Home / "config");
    fs::create_directories(Home / "run");
    fs::permissions(Home / "run", fs::perms::owner_all);
    // No sound setup of the machine: an empty ALSA configuration lists no devices.
    std::ofstream(Home / "alsa.conf") << "\n";
    fs::remove(kSection);
    fs::remove(kEvent);
  }

  // Starts the program; its standard error is read through ErrorFd. `prepare` runs in the
  // child before the program, to change its environment.
  pid_t Start(const std::function<void()>& prepare = {}) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
      dup2(pipeFds[1], STDERR_FILENO);
      setenv("HOME", Home.c_str(), 1);
      setenv("XDG_CONFIG_HOME", (Home / "config").c_str(), 1);
      setenv("XDG_RUNTIME_DIR", (Home / "run").c_str(), 1);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      setenv("ALSA_CONFIG_PATH", (Home / "alsa.conf").c_str(), 1);
      if (prepare) prepare();
      execl(KORVEL_PROGRAM, KORVEL_PROGRAM, nullptr);
      _exit(127);
    }
    close(pipeFds[1]);
    ErrorFd = pipeFds[0];
    return child;
  }
  void TearDown() override {
    if (ErrorFd >= 0) close(ErrorFd);
  }

  // Waits until the window is up: the settings key is created while it is built.
  bool WindowShown() {
    for (int i = 0; i < 400; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      if (ReadFileText(Registry()).find("\\fMain]") != std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the event loop
        return true;
      }
    }
    return false;
  }

  // What the program wrote to standard error, once it holds `lines` line breaks (or the
  // stream ends, or ten seconds pass).
  std::string ErrorText(int lines) {
    std::string text;
    for (int waited = 0; waited < 10000 && std::count(text.begin(), text.end(), '\n') < lines;) {
      pollfd p{ErrorFd, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) {
        waited += 100;
        continue;
      }
      char chunk[512];
      const ssize_t got = read(ErrorFd, chunk, sizeof chunk);
      if (got <= 0) break;
      text.append(chunk, size_t(got));
    }
    return text;
  }

  static int EndAndWait(pid_t child, int signal) {
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
    return status;
  }

  fs::path Registry() const { return Home / "config" / "korvel" / "registry.reg"; }

  fs::path Home;
  int ErrorFd = -1;
};
}  // namespace

TEST_F(Program, TerminateAndHangUpCloseTheWindowAndWriteThePlacement) {
  for (const int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    fs::remove(Registry());
    const pid_t child = Start();
    ASSERT_GT(child, 0);
    const bool shown = WindowShown();
    const int status = EndAndWait(child, signal);
    close(ErrorFd);
    ErrorFd = -1;
    ASSERT_TRUE(shown);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(ReadFileText(Registry()).find("\"left\"=dword:"), std::string::npos);
  }
}

TEST_F(Program, SecondStartOfTheUserSaysSoAndTouchesNothing) {
  const pid_t first = Start();
  ASSERT_GT(first, 0);
  const int firstErrors = ErrorFd;
  ASSERT_TRUE(WindowShown());
  // A record only the first instance's player would see: the second must not zero it.
  const unsigned char marker[9] = {1, 0, 0, 0, 0, 0, 0, 0, 0x40};
  {
    std::ofstream(kSection, std::ios::binary | std::ios::in | std::ios::out)
        .write(reinterpret_cast<const char*>(marker), sizeof marker);
  }
  const std::string settings = ReadFileText(Registry());

  const pid_t second = Start();
  ASSERT_GT(second, 0);
  const std::string text = ErrorText(2);
  const int secondStatus = EndAndWait(second, SIGKILL);  // it waits in its box
  EXPECT_TRUE(WIFSIGNALED(secondStatus)) << "ended before its box was answered";
  EXPECT_NE(text.find("korvel: korvel はすでに起動しています。"), std::string::npos) << text;
  EXPECT_NE(text.find("\n" + (Home / "run" / "korvel.lock").string() + ": held by process " +
                      std::to_string(first)),
            std::string::npos)
      << text;
  EXPECT_EQ(ReadFileText(kSection), std::string(reinterpret_cast<const char*>(marker), sizeof marker));
  EXPECT_EQ(ReadFileText(Registry()), settings);

  const int firstStatus = EndAndWait(first, SIGTERM);
  close(firstErrors);
  ASSERT_TRUE(WIFEXITED(firstStatus));
  EXPECT_EQ(WEXITSTATUS(firstStatus), 0);
}

TEST_F(Program, FailedStartShowsTheStepsTextThenTheSystemsReason) {
  struct TCase {
    const char* Name;
    std::function<void()> Spoil;  // in the test, before the start
    std::string Reason;           // how the second line starts
  };
  const fs::path notAFolder = Home / "not-a-folder";
  const TCase cases[] = {
      {"mailbox object replaced by a link", [] { fs::create_symlink("/dev/null", kEvent); },
       std::string(kEvent) + ":"},
      {"runtime folder is a file", [&] { std::ofstream(notAFolder) << "x"; },
       (notAFolder / "korvel.lock").string() + ": " + std::strerror(ENOTDIR)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove(kEvent);
    c.Spoil();
    const bool runtimeSpoiled = fs::exists(notAFolder);
    const pid_t child = Start([&] {
      if (runtimeSpoiled) setenv("XDG_RUNTIME_DIR", notAFolder.c_str(), 1);
    });
    ASSERT_GT(child, 0);
    const std::string text = ErrorText(2);
    EndAndWait(child, SIGKILL);  // it waits in its box
    close(ErrorFd);
    ErrorFd = -1;
    const size_t firstLine = text.find("korvel: ");
    const size_t secondLine = text.find('\n', firstLine);
    ASSERT_NE(secondLine, std::string::npos) << text;
    EXPECT_GT(secondLine, firstLine + 8) << "no text of the failed step: " << text;
    EXPECT_EQ(text.compare(secondLine + 1, c.Reason.size(), c.Reason), 0) << text;
  }
  // The lock comes first: the start that could not take it made no mailbox.
  EXPECT_FALSE(fs::exists(kSection));
}

// The toolkit ends the process with exit(1) from inside its loop when the X connection
// breaks; the capture is ended on the way out, so output.wav declares what it holds.
TEST_F(Program, LosingTheXServerMidCaptureLeavesAWholeCaptureFile) {
  auto server = std::make_unique<TXvfb>("640x480x24");
  ASSERT_FALSE(server->Name.empty()) << "Xvfb did not start (scripts/setup installs it)";
  TAlsaTestRoute route((Home / "alsa").string());
  WriteRawFrames(route.File("in.raw"), ToneFrames(440, 8000, 60 * 8192));
  TAlsaTestRoute::InstallPacedDefault(route, route.File("in.raw"), TAlsaTestEnd::Hang);
  fs::create_directories(Registry().parent_path());
  std::ofstream(Registry()) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n\"vbRecordToFile\"=\"1\"\n\n";
  const pid_t child = Start([&] {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("DISPLAY", server->Name.c_str(), 1);
    setenv("ALSA_CONFIG_PATH", route.ConfigPath().c_str(), 1);
    if (chdir(Home.c_str()) != 0) _exit(126);
  });
  ASSERT_GT(child, 0);
  ASSERT_TRUE(WindowShown());
  ASSERT_TRUE(ClickInWindow(server->Name, 269, 280, 16 + 37, 240 + 12));  // 開始
  // Buffers reach the file while the calibration prompt is up.
  const fs::path wav = Home / "output.wav";
  std::error_code ec;
  for (int i = 0; i < 400 && !(fs::file_size(wav, ec) >= 46 + 2 * 32768 && !ec); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  server->Stop();
  int status = 0;
  for (int i = 0; i < 200 && waitpid(child, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (kill(child, 0) == 0) {
    ADD_FAILURE() << "still running after the X server went";
    EndAndWait(child, SIGKILL);
  }
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);

  const std::vector<unsigned char> file = ReadFileBytes(wav);
  ASSERT_GE(file.size(), 46u + 2 * 32768) << ErrorText(1);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
  EXPECT_EQ(ReadLe32(file, 4), file.size() - 8);
  EXPECT_EQ(ReadLe32(file, 42), file.size() - 46);
  EXPECT_EQ((file.size() - 46) % 32768, 0u);
}
