// The program as a process: it starts, shows its window and, on SIGTERM or SIGHUP, closes
// the window as a user would (placement written, exit status 0); a second start of the same
// user and a failed start say why and leave the mailbox alone; losing the X server ends a
// capture as the stop button would.
#include <gtest/gtest.h>

#include "test_files.h"
#include "test_folder.h"

#include <signal.h>

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
  Window rootReturn, parent, *children = nullptr, target = 0, child;
  unsigned count = 0;  // stays 0 when the tree cannot be queried
  XQueryTree(d, root, &rootReturn, &parent, &children, &count);
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable && a.width == width &&
        a.height == height)
      target = children[i];
  }
  if (children) XFree(children);
  int rootX = 0, rootY = 0;
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
    Home = NewTestFolder("program");
    fs::create_directories(Home / "config");
    fs::create_directories(Home / "run");
    fs::permissions(Home / "run", fs::perms::owner_all);
    // No sound setup of the machine: an empty ALSA configuration lists no devices.
    std::ofstream(Home / "alsa.conf") << "\n";
    fs::remove(kSection);
    fs::remove(kEvent);
  }

  // Starts the program in its home folder, with its own configuration and runtime folders,
  // on the offscreen platform; `env`: more NAME=VALUE settings, the later one winning.
  TChildProcess Start(const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv{"env", "-C", Home, "HOME=" + Home.string(),
                                  "XDG_CONFIG_HOME=" + (Home / "config").string(),
                                  "XDG_RUNTIME_DIR=" + (Home / "run").string(),
                                  "QT_QPA_PLATFORM=offscreen",
                                  "ALSA_CONFIG_PATH=" + (Home / "alsa.conf").string()};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.push_back(KORVEL_PROGRAM);
    return TChildProcess(argv);
  }

  // Waits until the window is up: the settings key is created while it is built.
  bool WindowShown() {
    const bool shown = PollUntil(
        [&] { return ReadFileText(Registry()).find("\\fMain]") != std::string::npos; }, 10000, 25);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the event loop
    return shown;
  }

  fs::path Registry() const { return Home / "config" / "korvel" / "registry.reg"; }

  fs::path Home;
};
}  // namespace

TEST_F(Program, TerminateAndHangUpCloseTheWindowAndWriteThePlacement) {
  for (const int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    fs::remove(Registry());
    TChildProcess program = Start();
    ASSERT_TRUE(WindowShown());
    program.Kill(signal);
    EXPECT_EQ(program.WaitExit(20000), 0);
    EXPECT_NE(ReadFileText(Registry()).find("\"left\"=dword:"), std::string::npos);
  }
}

TEST_F(Program, SecondStartOfTheUserSaysSoAndTouchesNothing) {
  TChildProcess first = Start();
  ASSERT_TRUE(WindowShown());
  // A record only the first instance's player would see: the second must not zero it.
  const std::string marker("\x01\0\0\0\0\0\0\0\x40", 9);
  std::ofstream(kSection, std::ios::binary | std::ios::in | std::ios::out) << marker;
  const std::string settings = ReadFileText(Registry());

  TChildProcess second = Start();
  EXPECT_TRUE(second.WaitForLine("korvel: korvel はすでに起動しています。"));
  const std::string reason = second.ReadLine(10000);
  const std::string holder = (Home / "run" / "korvel.lock").string() + ": held by process ";
  EXPECT_EQ(reason.rfind(holder + std::to_string(first.Pid()), 0), 0u) << reason;
  EXPECT_EQ(second.WaitExit(0), -1) << "ended before its box was answered";
  second.Kill(SIGKILL);
  second.WaitExit(5000);
  EXPECT_EQ(ReadFileText(kSection), marker);
  EXPECT_EQ(ReadFileText(Registry()), settings);

  first.Kill(SIGTERM);
  EXPECT_EQ(first.WaitExit(20000), 0);
}

TEST_F(Program, FailedStartShowsTheStepsTextThenTheSystemsReason) {
  const fs::path notAFolder = Home / "not-a-folder";
  const struct {
    const char* Name;
    std::function<void()> Spoil;  // in the test, before the start
    std::vector<std::string> Env;
    std::string Reason;  // how the second line starts
  } cases[] = {
      {"mailbox object replaced by a link", [] { fs::create_symlink("/dev/null", kEvent); }, {},
       std::string(kEvent) + ":"},
      {"runtime folder is a file", [&] { std::ofstream(notAFolder) << "x"; },
       {"XDG_RUNTIME_DIR=" + notAFolder.string()},
       (notAFolder / "korvel.lock").string() + ": " + std::strerror(ENOTDIR)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove(kEvent);
    c.Spoil();
    TChildProcess program = Start(c.Env);  // it waits in its box, killed at the end
    const std::string step = program.ReadLineUntil(
        [](const std::string& line) { return line.find("korvel: ") != std::string::npos; });
    ASSERT_FALSE(step.empty());
    EXPECT_GT(step.size(), step.find("korvel: ") + 8) << "no text of the failed step: " << step;
    const std::string reason = program.ReadLine(10000);
    EXPECT_EQ(reason.rfind(c.Reason, 0), 0u) << reason;
  }
  // The lock comes first: the start that could not take it made no mailbox.
  EXPECT_FALSE(fs::exists(kSection));
}

TEST_F(Program, LosingTheXServerMidCaptureLeavesAWholeCaptureFile) {
  TXvfb server("640x480x24");
  ASSERT_FALSE(server.Name.empty()) << "Xvfb did not start (scripts/setup installs it)";
  TAlsaTestRoute route((Home / "alsa").string());
  WriteRawFrames(route.File("in.raw"), ToneFrames(440, 8000, 60 * 8192));
  TAlsaTestRoute::InstallPacedDefault(route, route.File("in.raw"), TAlsaTestEnd::Hang);
  fs::create_directories(Registry().parent_path());
  std::ofstream(Registry()) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Trevane\\Korvel]\n\"vbRecordToFile\"=\"1\"\n\n";
  TChildProcess program = Start({"QT_QPA_PLATFORM=xcb", "DISPLAY=" + server.Name,
                                 "ALSA_CONFIG_PATH=" + route.ConfigPath()});
  ASSERT_TRUE(WindowShown());
  ASSERT_TRUE(ClickInWindow(server.Name, 269, 280, 16 + 37, 240 + 12));  // 開始
  // Buffers reach the file while the calibration prompt is up.
  const fs::path wav = Home / "output.wav";
  std::error_code ec;
  PollUntil([&] { return fs::file_size(wav, ec) >= 46 + 2 * 32768 && !ec; }, 20000, 50);
  server.Stop();
  const int status = program.WaitExit(10000);
  EXPECT_NE(status, -1) << "still running after the X server went";
  EXPECT_LT(status, 128) << "ended by signal " << status - 128;

  const std::vector<unsigned char> file = ReadFileBytes(wav);
  ASSERT_GE(file.size(), 46u + 2 * 32768) << program.ReadLine(1000);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 46),
            WavHeader(uint32_t(file.size() - 46), {.FmtBytes = 18}));
  EXPECT_EQ((file.size() - 46) % 32768, 0u);
}
