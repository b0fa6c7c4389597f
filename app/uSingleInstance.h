#pragma once
// One korvel per user: a lock file held with flock for the life of the process. Two
// instances of one user would write the same ./output.wav and zero each other's mailbox.
//
// The file lives in $XDG_RUNTIME_DIR, the user's private folder for the session. Without
// it the program's settings folder is used: also private to the user and already korvel's,
// whereas a shared folder such as /tmp would let another user take the name first (or plant
// a link there) and so keep korvel from starting. The lock ends with the process, however it
// ends; a normal end also removes the file. The file is the user's own, mode 0600 whatever
// the umask; one of another user's under the name is refused with its owner named.
#include <string>

class TSingleInstanceLock {
public:
  static std::string DefaultPath();

  // Opens (creating when missing) and tries to lock `path`. Raises std::runtime_error with
  // a Japanese first line and "<path>: <reason>" on the second when the file cannot be
  // opened or locked; another instance holding it is no error (see Held).
  explicit TSingleInstanceLock(const std::string& path = DefaultPath());
  ~TSingleInstanceLock();
  TSingleInstanceLock(const TSingleInstanceLock&) = delete;
  TSingleInstanceLock& operator=(const TSingleInstanceLock&) = delete;

  // False when another process holds the lock; this one then changed nothing.
  bool Held() const { return FHeld; }
  // For the user when another instance holds the lock: the fixed text, then the file and
  // the holder's process id where known.
  std::string AlreadyRunningText() const;

private:
  std::string FPath;
  std::string FHolder;  // the holder's process id as it wrote it, when another holds it
  int FFd = -1;
  bool FHeld = false;
};
