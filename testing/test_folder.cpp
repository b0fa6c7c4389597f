#include "test_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

std::filesystem::path NewTestFolder(const std::string& stem) {
  const char* root = std::getenv("KORVEL_TEST_ROOT");
  const std::filesystem::path base = root && *root ? root : "/tmp";
  std::filesystem::create_directories(base);
  std::string name = (base / (stem + "-XXXXXX")).string();
  if (!mkdtemp(name.data()))
    throw std::runtime_error("cannot make a test folder\n" + name + ": " + std::strerror(errno));
  return name;
}
