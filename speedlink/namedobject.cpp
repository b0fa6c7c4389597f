#include "namedobject.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Describe(const std::string& Path, const char* What, int Err) {
  return Path + ": " + What + ": " + std::strerror(Err);
}

// O_NONBLOCK: opening a FIFO (or anything planted in its place) must never hang; for the
// regular files it changes nothing.
constexpr int kOpenFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

// An object of ours that only lacks the owner's read or write bit (a narrow umask at its
// creation by an earlier run): give the owner access back. Anything open to others, of
// another user or of the wrong kind is left for the checks to refuse. Keeps errno.
bool RepairOwnerAccess(const std::string& Path, TNamedKind Kind) {
  const int Err = errno;
  struct stat St {};
  bool Repaired = ::lstat(Path.c_str(), &St) == 0 && St.st_uid == ::geteuid() && (St.st_mode & 077) == 0 &&
                  (Kind == TNamedKind::Fifo ? S_ISFIFO(St.st_mode) : S_ISREG(St.st_mode)) &&
                  ::fchmodat(AT_FDCWD, Path.c_str(), 0600, AT_SYMLINK_NOFOLLOW) == 0;
  errno = Err;
  return Repaired;
}

}  // namespace

std::string NamedObjectPath(const std::string& Directory, const std::string& Name) {
  return Directory + "/" + Name;
}

TNamedOpen OpenNamedObject(const std::string& Directory, const std::string& Name, TNamedKind Kind) {
  TNamedOpen R;
  const std::string Path = NamedObjectPath(Directory, Name);
  if (Name.empty() || Name == "." || Name == ".." || Name.find('/') != std::string::npos) {
    R.Why = "invalid object name '" + Name + "'";
    return R;
  }

  // A few rounds cover a peer creating or (against the rules) removing the file between
  // our attempts; more than that means something keeps interfering.
  bool Repaired = false;
  for (int Attempt = 0; Attempt < 8 && R.Fd < 0; ++Attempt) {
    R.Created = false;  // a FIFO we made may have been replaced before we opened it
    R.Fd = ::open(Path.c_str(), kOpenFlags);
    if (R.Fd >= 0) break;
    if (errno == EACCES && !Repaired && RepairOwnerAccess(Path, Kind)) {
      Repaired = true;
      continue;
    }
    if (errno != ENOENT) {
      R.Why = Describe(Path, errno == ELOOP ? "is a symbolic link" : "cannot open", errno);
      return R;
    }
    if (Kind == TNamedKind::Regular) {
      R.Fd = ::open(Path.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0600);
      if (R.Fd >= 0) {
        R.Created = true;
        break;
      }
    } else if (::mkfifo(Path.c_str(), 0600) == 0) {
      R.Created = true;
      // The umask may have taken the owner's own access away, and opening needs it.
      ::fchmodat(AT_FDCWD, Path.c_str(), 0600, AT_SYMLINK_NOFOLLOW);
      R.Fd = ::open(Path.c_str(), kOpenFlags);
      if (R.Fd >= 0) break;
      if (errno == ENOENT) continue;  // removed again before we opened it: another round
      R.Why = Describe(Path, "cannot open", errno);
      return R;
    }
    // EEXIST: the peer created it first, open it in the next round. Anything else, ENOENT
    // included (the directory itself is missing), will not go away by trying again.
    if (errno != EEXIST) {
      R.Why = Describe(Path, "cannot create", errno);
      return R;
    }
  }
  if (R.Fd < 0) {
    R.Why = Path + ": keeps appearing and disappearing";
    return R;
  }

  struct stat St {};
  const bool Inspected = ::fstat(R.Fd, &St) == 0;
  // The umask may have narrowed the creation mode, or an earlier run left an owner-only
  // file without the owner's read or write bit (root opens it all the same): set it exactly.
  if (Inspected && (R.Created || (St.st_uid == ::geteuid() && (St.st_mode & 077) == 0)) &&
      (St.st_mode & 0777) != 0600 && ::fchmod(R.Fd, 0600) == 0)
    St.st_mode = (St.st_mode & ~07777) | 0600;
  if (!Inspected) {
    R.Why = Describe(Path, "cannot inspect", errno);
  } else if (Kind == TNamedKind::Regular && !S_ISREG(St.st_mode)) {
    R.Why = Path + ": is not a regular file";
  } else if (Kind == TNamedKind::Fifo && !S_ISFIFO(St.st_mode)) {
    R.Why = Path + ": is not a FIFO";
  } else if (St.st_uid != ::geteuid()) {
    R.Why = Path + ": belongs to uid " + std::to_string(St.st_uid) + ", not to us (uid " +
            std::to_string(::geteuid()) + ")";
  } else if ((St.st_mode & 077) != 0) {
    char Mode[8];
    std::snprintf(Mode, sizeof Mode, "%04o", static_cast<unsigned>(St.st_mode & 07777));
    R.Why = Path + ": mode " + Mode + " lets other users in (0600 required)";
  }
  if (!R.Why.empty()) {
    ::close(R.Fd);
    R.Fd = -1;
  }
  return R;
}
