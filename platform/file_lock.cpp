#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/paths.h"

namespace qz::platform {
namespace {

// Another local user who could open a lock file could hold it for ever, so the file is the
// installation's user's and group's alone, whatever the umask or an older version made it.
constexpr mode_t kLockFileMode = 0660;

void KeepToInstallation(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || status.st_uid != geteuid()) return;
  if ((status.st_mode & 07777) != kLockFileMode) fchmod(fd, kLockFileMode);
}

}  // namespace

int OpenLockFile(std::string_view path) {
  int fd = open(NativePath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kLockFileMode);
  if (fd >= 0) KeepToInstallation(fd);
  return fd;
}

FileLock::~FileLock() {
  Unlock();
}

bool FileLock::TryLock(std::string_view path) {
  if (fd_ >= 0) return true;
  int fd = OpenLockFile(path);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool FileLock::TryLockShared(std::string_view path) {
  if (fd_ >= 0) return true;
  int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool FileLock::Lock(std::string_view path) {
  if (fd_ >= 0) return true;
  int fd = OpenLockFile(path);
  if (fd < 0) return false;
  int result;
  do {
    result = flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool FileLock::CanOpenForReading(std::string_view path) {
  int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool FileLock::CanOpen(std::string_view path) {
  int fd = OpenLockFile(path);
  if (fd < 0) return false;
  close(fd);
  return true;
}

void FileLock::Unlock() {
  if (fd_ < 0) return;
  close(fd_);  // closing the descriptor releases the lock
  fd_ = -1;
}

}  // namespace qz::platform
