#include "mmio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

struct HMMIO__ {
  int fd;
};

namespace {

// RIFF sizes are 32-bit: no byte may lie beyond this offset.
constexpr int64_t kLimit = 0xFFFFFFFFll;

bool WriteAll(int fd, const void* data, size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    count -= size_t(n);
  }
  return true;
}

bool PutU32(int fd, int64_t offset, uint32_t value) {
  unsigned char b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                        uint8_t(value >> 24)};
  return ::pwrite(fd, b, 4, offset) == 4;
}

int64_t Position(int fd) { return ::lseek(fd, 0, SEEK_CUR); }

// Opens `path` as open(2) would, except that a symbolic link in a sticky folder anyone may
// write to (/tmp) is followed only when it belongs to us or to the folder's owner: the
// kernel's protected-symlinks rule, kept where the kernel's setting is off, so another user
// cannot plant a link that makes us overwrite a file of ours.
//
// The check and the open are one step. Everything is looked up through one descriptor of
// the folder, and the name is first opened with O_NOFOLLOW: a name that is no link at that
// moment (missing, or a file) is opened as it is, and a link planted a moment later is
// never followed. Only a link found there is checked, then opened through the same folder;
// in a sticky folder no one but its owner, the folder's owner or root can replace a link
// between the two, and those are the owners the rule trusts.
int OpenNoForeignLink(const std::string& path, int mode) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const int dirFd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return -1;
  int fd = ::openat(dirFd, name.c_str(), mode | O_NOFOLLOW, 0644);
  struct stat ls {}, ds {};
  if (fd < 0 && errno == ELOOP && ::fstatat(dirFd, name.c_str(), &ls, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(ls.st_mode) && ::fstat(dirFd, &ds) == 0) {
    const bool shared = (ds.st_mode & S_ISVTX) && (ds.st_mode & S_IWOTH);
    if (shared && ls.st_uid != ::geteuid() && ls.st_uid != ds.st_uid)
      errno = EACCES;
    else
      fd = ::openat(dirFd, name.c_str(), mode, 0644);
  }
  const int err = errno;
  ::close(dirFd);
  errno = err;
  return fd;
}

}  // namespace

std::string MmioOpenFailureText() { return std::strerror(errno); }

HMMIO mmioOpenA(const char* fileName, void* info, uint32_t flags) {
  if (fileName == nullptr || info != nullptr) return nullptr;
  std::string path(fileName);
  for (char& c : path)
    if (c == '\\') c = '/';
  int mode = O_RDONLY;
  if (flags & MMIO_READWRITE)
    mode = O_RDWR;
  else if (flags & MMIO_WRITE)
    mode = O_WRONLY;
  if (flags & MMIO_CREATE) mode |= O_CREAT | O_TRUNC;
  // Opened non-blocking so that a FIFO in the file's place fails at once (no reader) instead
  // of blocking the caller forever; ordinary blocking I/O from then on.
  const int fd = OpenNoForeignLink(path, mode | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) < 0) {
    const int err = errno;  // the reason the caller reports, not close()'s
    ::close(fd);
    errno = err;
    return nullptr;
  }
  return new HMMIO__{fd};
}

uint32_t mmioUpdateSize(HMMIO handle, const MMCKINFO* ck) {
  if (handle == nullptr || ck == nullptr) return MMIOERR_CANNOTWRITE;
  const int64_t end = Position(handle->fd);
  if (end < int64_t(ck->dwDataOffset)) return MMIOERR_CANNOTSEEK;
  return PutU32(handle->fd, int64_t(ck->dwDataOffset) - 4, uint32_t(end - ck->dwDataOffset)) ? 0
                                                                                           : MMIOERR_CANNOTWRITE;
}

uint32_t mmioCreateChunk(HMMIO handle, MMCKINFO* ck, uint32_t flags) {
  if (handle == nullptr || ck == nullptr) return MMIOERR_CANNOTWRITE;
  const int64_t pos = Position(handle->fd);
  if (pos < 0) return MMIOERR_CANNOTSEEK;
  const bool form = (flags & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;
  if (flags & MMIO_CREATERIFF) ck->ckid = FOURCC_RIFF;
  if (flags & MMIO_CREATELIST) ck->ckid = FOURCC_LIST;
  const int64_t header = form ? 12 : 8;
  if (pos + header > kLimit) return MMIOERR_CANNOTWRITE;
  unsigned char b[12];
  const uint32_t v[3] = {ck->ckid, ck->cksize, ck->fccType};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) b[4 * i + j] = uint8_t(v[i] >> (8 * j));
  ck->dwDataOffset = uint32_t(pos + 8);
  ck->dwFlags = MMIO_DIRTY;
  return WriteAll(handle->fd, b, size_t(header)) ? 0 : MMIOERR_CANNOTWRITE;
}

int32_t mmioWrite(HMMIO handle, const void* buffer, int32_t count) {
  if (handle == nullptr || count < 0 || (count > 0 && buffer == nullptr)) return -1;
  const int64_t pos = Position(handle->fd);
  if (pos < 0 || pos + count > kLimit) return -1;
  struct stat st {};
  const bool appending = ::fstat(handle->fd, &st) == 0 && st.st_size <= pos;
  if (WriteAll(handle->fd, buffer, size_t(count))) return count;
  // An append cut short (a full disk) is taken back whole, so the file never ends in the
  // middle of a frame and -1 means nothing of the buffer was written. Should that fail
  // too, the part written stays and the chunk sizes still count it truly.
  if (appending && ::ftruncate(handle->fd, pos) == 0) ::lseek(handle->fd, pos, SEEK_SET);
  return -1;
}

uint32_t mmioAscend(HMMIO handle, MMCKINFO* ck, uint32_t flags) {
  if (handle == nullptr || ck == nullptr) return MMIOERR_CANNOTSEEK;
  const int fd = handle->fd;
  int64_t end = Position(fd);
  if (end < 0) return MMIOERR_CANNOTSEEK;
  if (ck->dwFlags & MMIO_DIRTY) {
    const int64_t size = end - int64_t(ck->dwDataOffset);
    if (size < 0) return MMIOERR_CANNOTSEEK;
    if (uint32_t(size) != ck->cksize) {
      ck->cksize = uint32_t(size);
      if (!PutU32(fd, int64_t(ck->dwDataOffset) - 4, ck->cksize)) return MMIOERR_CANNOTWRITE;
    }
    if (size & 1) {
      const unsigned char pad = 0;
      if (end + 1 > kLimit || ::pwrite(fd, &pad, 1, end) != 1) return MMIOERR_CANNOTWRITE;
    }
    ck->dwFlags &= ~MMIO_DIRTY;
  }
  const int64_t after = int64_t(ck->dwDataOffset) + ck->cksize + (ck->cksize & 1);
  return ::lseek(fd, after, SEEK_SET) == after ? 0 : MMIOERR_CANNOTSEEK;
}

int64_t mmioSeek64(HMMIO handle, int64_t offset, int origin) {
  if (handle == nullptr) return -1;
  const int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
  return ::lseek(handle->fd, offset, whence);
}

int32_t mmioSeek(HMMIO handle, int32_t offset, int origin) {
  const int64_t pos = mmioSeek64(handle, offset, origin);
  return pos < 0 || pos > INT32_MAX ? -1 : int32_t(pos);
}

uint32_t mmioClose(HMMIO handle, uint32_t flags) {
  if (handle == nullptr) return MMIOERR_CANNOTCLOSE;
  const int rc = ::close(handle->fd);
  delete handle;
  return rc == 0 ? 0 : MMIOERR_CANNOTCLOSE;
}

FOURCC mmioStringToFOURCCA(const char* text, uint32_t flags) {
  char c[4] = {' ', ' ', ' ', ' '};
  for (int i = 0; i < 4 && text != nullptr && text[i] != '\0'; ++i)
    c[i] = (flags & MMIO_TOUPPER) ? char(std::toupper(uint8_t(text[i]))) : text[i];
  return MakeFourCC(c[0], c[1], c[2], c[3]);
}
