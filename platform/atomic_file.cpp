#include "platform/atomic_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/file_modes.h"
#include "platform/files.h"

namespace qz::platform {
namespace {

std::string DirectoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a chain of symbolic links ends in, so that the link stays a link; the path itself when
// it is no link. A chain too long to follow is left to fail where the file is opened.
std::string FollowLinks(std::string path) {
  constexpr int kMaxLinks = 40;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    char target[PATH_MAX];
    ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) == sizeof target) break;
    std::string next(target, static_cast<size_t>(length));
    path = next.front() == '/' ? next : DirectoryOf(path) + "/" + next;
  }
  return path;
}

// The replacement gets the file's owner, group and permissions. Only a privileged writer can give
// a file to another owner; any other keeps at least the group where it may.
bool TakeOverAttributes(int fd, const std::string& path, int newFileMode) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    mode_t mode = newFileMode == kModeFromUmask ? 0666 & ~CurrentUmask() : newFileMode;
    return fchmod(fd, mode) == 0;
  }
  if (fchown(fd, st.st_uid, st.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), st.st_gid);
  return fchmod(fd, st.st_mode & 07777) == 0;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string path, int newFileMode)
    : path_(FollowLinks(std::move(path))), newFileMode_(newFileMode) {
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
  if (!TakeOverAttributes(fd_, path_, newFileMode_) || !SyncOpenFile(fd_, temp_)) return Fail();
  int fd = fd_;
  fd_ = -2;  // closed; the destructor still removes the temporary file on failure
  if (close(fd) != 0 || rename(temp_.c_str(), path_.c_str()) != 0) return Fail();
  committed_ = true;
  ReportFileEvent({FileEvent::kRename, path_, temp_});
  SyncNativeDirectory(DirectoryOf(path_));
  return true;
}

}  // namespace qz::platform
