#include "tests/support/write_refusing_folder.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qz::test {

WriteRefusingFolder::WriteRefusingFolder(std::filesystem::path folder)
    : folder_(std::move(folder)) {
  struct stat st {};
  if (stat(folder_.c_str(), &st) == 0) mode_ = st.st_mode & 07777;
  if (geteuid() != 0) {
    if (chmod(folder_.c_str(), mode_ & 0555) != 0)
      failure_ = "chmod: " + std::string(strerror(errno));
    return;
  }
  immutable_ = SetImmutable(true);
  if (!immutable_)
    failure_ = "the file system of " + folder_.string() +
               " cannot mark a folder immutable: " + strerror(errno);
}

WriteRefusingFolder::~WriteRefusingFolder() {
  if (immutable_)
    SetImmutable(false);
  else
    chmod(folder_.c_str(), mode_);
}

int WriteRefusingFolder::RefusalError() const {
  return immutable_ ? EPERM : EACCES;
}

bool WriteRefusingFolder::SetImmutable(bool on) {
  int fd = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  int saved = errno;
  close(fd);
  errno = saved;
  return ok;
}

}  // namespace qz::test
