#include "openfile.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <windows.h>

// The name is taken in the ANSI code page, as the command line gives it.
std::FILE* OpenRegularFile(const char* Path, std::string& Error) {
  const DWORD attributes = GetFileAttributesA(Path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Error = std::system_category().message(int(GetLastError()));
    return nullptr;
  }
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    Error = "not a regular file";
    return nullptr;
  }
  std::FILE* file = std::fopen(Path, "rb");
  if (file == nullptr) Error = std::strerror(errno);
  return file;
}
