#include "platform/atomic_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qz::platform {
namespace {

std::string DirectoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string path) : path_(std::move(path)) {
  temp_ = path_ + std::string(kAtomicTemporarySuffix);
  fd_ = mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0) Fail();
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) close(fd_);
  if (!committed_ && fd_ != -1) unlink(temp_.c_str());
}

bool AtomicFileWriter::Fail() {
  if (error_ == 0) error_ = errno != 0 ? errno : EIO;
  return false;
}

bool AtomicFileWriter::Write(std::string_view text) {
  if (!Ok()) return false;
  for (size_t done = 0; done < text.size();) {
    ssize_t n = write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail();
    done += static_cast<size_t>(n);
  }
  return true;
}

bool AtomicFileWriter::Commit() {
  if (!Ok()) return false;
  struct stat st {};
  mode_t mode = stat(path_.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  if (fchmod(fd_, mode) != 0 || fsync(fd_) != 0) return Fail();
  int fd = fd_;
  fd_ = -2;  // closed; the destructor still removes the temporary file on failure
  if (close(fd) != 0 || rename(temp_.c_str(), path_.c_str()) != 0) return Fail();
  committed_ = true;
  int dir = open(DirectoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

}  // namespace qz::platform
