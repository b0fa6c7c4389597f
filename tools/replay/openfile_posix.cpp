#include "openfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Opened without blocking, so a FIFO is refused at once instead of waiting for a writer.
std::FILE* OpenRegularFile(const char* Path, std::string& Error) {
  const int fd = ::open(Path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  struct stat st{};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    Error = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    Error = "not a regular file";
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    Error = std::strerror(errno);
    ::close(fd);
  }
  return file;
}
