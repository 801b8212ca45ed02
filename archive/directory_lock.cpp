#include "archive/directory_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "config/event_log.h"
#include "platform/file_lock.h"
#include "platform/paths.h"

namespace qz {
namespace {

// Open file description locks belong to the open file, not to the process, so no other open of
// the file in this process drops them; classic record locks where the kernel has none.
#ifdef F_OFD_SETLKW
constexpr int kLockWait = F_OFD_SETLKW, kLockNow = F_OFD_SETLK;
#else
constexpr int kLockWait = F_SETLKW, kLockNow = F_SETLK;
#endif

bool SetLock(int fd, int command, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  int result;
  do {
    result = fcntl(fd, command, &lock);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

}  // namespace

DirectoryLock::DirectoryLock(std::string_view directory, platform::Clock& clock)
    : path_(directory.empty()
                ? std::string()
                : platform::NativePath(platform::PathInDirectory(directory, kDirectoryLockName))),
      clock_(clock) {}

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) close(fd_);
}

bool DirectoryLock::Open() {
  // The installations sharing the folder have its group in common; nobody else may hold them up.
  if (fd_ < 0) fd_ = platform::OpenLockFile(path_);
  return fd_ >= 0;
}

bool DirectoryLock::Acquire() {
  if (path_.empty()) return held_ = true;
  if (Open() && SetLock(fd_, kLockWait, F_WRLCK)) return held_ = true;
  // A folder that is not there records nothing, and a move into it fails by itself, saying why.
  if (fd_ < 0 && errno == ENOENT) return held_ = true;
  WriteLog("ERROR locking file: " + path_ + "  Error:" + std::to_string(errno), clock_);
  return false;
}

void DirectoryLock::Release() {
  if (held_ && fd_ >= 0) SetLock(fd_, kLockNow, F_UNLCK);
  held_ = false;
}

}  // namespace qz
