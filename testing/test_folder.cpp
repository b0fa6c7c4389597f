#include "test_folder.h"

#include <cstdlib>
#include <random>
#include <stdexcept>
#include <system_error>

// mkdtemp is POSIX only; this is the same on every platform: create_directory fails for a
// name that exists, so a made folder is always new, and a clash only costs another draw.
std::filesystem::path NewTestFolder(const std::string& stem) {
  const char* root = std::getenv("KORVEL_TEST_ROOT");
  const std::filesystem::path base = root && *root ? root : std::filesystem::temp_directory_path();
  std::filesystem::create_directories(base);
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 draw(seed());
  std::uniform_int_distribution<int> pick(0, sizeof kLetters - 2);
  std::error_code error;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem + "-";
    for (int i = 0; i < 6; ++i) name += kLetters[pick(draw)];
    const std::filesystem::path folder = base / name;
    if (std::filesystem::create_directory(folder, error)) {
      // Private to the owner, as mkdtemp makes it (some tests check modes below it).
      std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
      if (error) break;
      return folder;
    }
    if (error) break;
  }
  throw std::runtime_error("cannot make a test folder\n" + (base / stem).string() + "-XXXXXX: " +
                           (error ? error.message() : "every name drawn was taken"));
}
