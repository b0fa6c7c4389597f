// The program as a process: it starts, shows its window and, on SIGTERM, closes the window
// as a user would (placement written, exit status 0).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {
std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
}  // namespace

TEST(Program, TerminateSignalClosesTheWindowAndWritesThePlacement) {
  // The program creates the mailbox under its real names: only inside a private /dev/shm.
  if (!std::getenv("KORVEL_PRIVATE_SHM")) GTEST_SKIP() << "needs a private /dev/shm (run through ctest)";
  const char* root = std::getenv("KORVEL_TEST_ROOT");
  const fs::path home = fs::path(root ? root : "/tmp") / "program";
  fs::remove_all(home);
  fs::create_directories(home / "config");
  const fs::path registry = home / "config" / "korvel" / "registry.reg";

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // No sound setup of the machine: an empty ALSA configuration lists no devices.
    std::ofstream(home / "alsa.conf") << "\n";
    setenv("ALSA_CONFIG_PATH", (home / "alsa.conf").c_str(), 1);
    execl(KORVEL_PROGRAM, KORVEL_PROGRAM, nullptr);
    _exit(127);
  }
  // The settings key is created while the window is built.
  bool started = false;
  for (int i = 0; i < 200 && !started; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    started = ReadFile(registry).find("\\fMain]") != std::string::npos;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the event loop
  ASSERT_EQ(kill(child, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(started);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(ReadFile(registry).find("\"left\"=dword:"), std::string::npos);
}
