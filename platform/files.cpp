#include "platform/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/paths.h"

namespace qz::platform {
namespace {

thread_local int lastError = 0;
FileEventWatcher watcher;

bool Fail() {
  lastError = errno;
  return false;
}

std::string DirectoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool Rename(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0) return false;
  ReportFileEvent({FileEvent::kRename, to, from});
  return true;
}

bool CopyContents(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buffer + done, n - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += w;
    }
  }
}

// Named apart from the target, so a target name of the longest length still has one.
std::string TemporaryNameBeside(const std::string& to) {
  std::string dir = DirectoryOf(to);
  return (dir == "/" ? dir : dir + "/") + std::string(kTemporaryCopyPrefix) + "XXXXXX";
}

// Writes a durable copy of `from` into a fresh temporary file beside `to`; returns its name.
bool WriteTemporaryCopy(const std::string& from, const std::string& to, std::string& temp) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  fstat(in, &st);
  temp = TemporaryNameBeside(to);
  int out = mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    int saved = errno;
    close(in);
    errno = saved;
    return false;
  }
  bool ok =
      CopyContents(in, out) && fchmod(out, st.st_mode & 07777) == 0 && SyncOpenFile(out, temp);
  int saved = errno;
  close(in);
  if (close(out) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    errno = saved;
  }
  return ok;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without the flag: a hard link fails on an existing target, as wanted.
    if (link(from.c_str(), to.c_str()) != 0) return false;
    unlink(from.c_str());
  }
  ReportFileEvent({FileEvent::kRename, to, from});
  return true;
}

}  // namespace

int LastError() {
  return lastError;
}

bool PathExists(std::string_view path) {
  struct stat st {};
  return lstat(NativePath(path).c_str(), &st) == 0 || Fail();
}

bool DirectoryExists(std::string_view path) {
  struct stat st {};
  if (stat(NativeDirectoryPath(path).c_str(), &st) != 0) return Fail();
  if (S_ISDIR(st.st_mode)) return true;
  errno = ENOTDIR;
  return Fail();
}

bool CreateDirectory(std::string_view path) {
  return mkdir(NativeDirectoryPath(path).c_str(), 0777) == 0 || Fail();
}

bool SetCurrentDirectory(std::string_view path) {
  return chdir(NativeDirectoryPath(path).c_str()) == 0 || Fail();
}

std::string CurrentDirectory() {
  std::error_code ec;
  std::string path = std::filesystem::current_path(ec).string();
  if (ec) {
    errno = ec.value();
    Fail();
  }
  return path;
}

bool IsSameDirectory(std::string_view a, std::string_view b) {
  struct stat first {
  }, second{};
  if (stat(NativeDirectoryPath(a).c_str(), &first) != 0 ||
      stat(NativeDirectoryPath(b).c_str(), &second) != 0)
    return Fail();
  return S_ISDIR(first.st_mode) && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool ClearDirectory(std::string_view path) {
  std::string native = NativeDirectoryPath(path);
  struct stat st {};
  if (lstat(native.c_str(), &st) != 0) return Fail();
  // Never through a link: what stands behind it is not ours to delete.
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return Fail();
  }
  std::error_code ec;
  for (std::filesystem::directory_iterator entry(native, ec), end; !ec && entry != end;
       entry.increment(ec))
    std::filesystem::remove_all(entry->path(), ec);
  if (ec) {
    errno = ec.value();
    return Fail();
  }
  return true;
}

bool RemoveDirectory(std::string_view path) {
  std::string native = NativeDirectoryPath(path);
  return rmdir(native.c_str()) == 0 || Fail();
}

bool DeleteFile(std::string_view path) {
  return unlink(NativePath(path).c_str()) == 0 || Fail();
}

bool MoveFile(std::string_view fromPath, std::string_view toPath) {
  std::string from = NativePath(fromPath), to = NativePath(toPath);
  if (RenameNoReplace(from, to)) return SyncNativeDirectory(DirectoryOf(to));
  if (errno != EXDEV) return Fail();
  std::string temp;
  if (!WriteTemporaryCopy(from, to, temp)) return Fail();
  if (!RenameNoReplace(temp, to)) {
    int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    return Fail();
  }
  // The only copy then stands under the new name: it must survive a crash before the old goes.
  if (!SyncNativeDirectory(DirectoryOf(to)) || unlink(from.c_str()) != 0) return Fail();
  return true;
}

bool MoveFileReplacing(std::string_view fromPath, std::string_view toPath) {
  std::string from = NativePath(fromPath), to = NativePath(toPath);
  return Rename(from, to) || Fail();
}

bool CopyFile(std::string_view fromPath, std::string_view toPath, bool failIfExists) {
  std::string from = NativePath(fromPath), to = NativePath(toPath);
  std::string temp;
  if (!WriteTemporaryCopy(from, to, temp)) return Fail();
  bool placed = failIfExists ? RenameNoReplace(temp, to) : Rename(temp, to);
  if (!placed) {
    int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    return Fail();
  }
  return true;
}

bool SyncFile(std::string_view path) {
  int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail();
  bool ok = SyncOpenFile(fd, NativePath(path));
  int saved = errno;
  close(fd);
  errno = saved;
  return ok || Fail();
}

bool SyncOpenFile(int fd, const std::string& path) {
  if (fdatasync(fd) != 0) return Fail();
  ReportFileEvent({FileEvent::kFlush, path, {}});
  return true;
}

bool SyncNativeDirectory(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail();
  bool ok = fsync(fd) == 0;
  int saved = errno;
  close(fd);
  errno = saved;
  if (!ok) return Fail();
  ReportFileEvent({FileEvent::kFlush, dir, {}});
  return true;
}

bool SyncDirectory(std::string_view path) {
  return SyncNativeDirectory(NativeDirectoryPath(path));
}

void WatchFileEvents(FileEventWatcher newWatcher) {
  watcher = std::move(newWatcher);
}

void ReportFileEvent(const FileEvent& event) {
  if (watcher) watcher(event);
}

bool ReplaceFileContents(std::string_view path, std::string_view text, int newFileMode) {
  int error = 0;
  {
    AtomicFileWriter writer(NativePath(path), newFileMode);
    if (writer.Write(text) && writer.Commit()) return true;
    error = writer.Error();
  }
  // The writer's destructor removes the temporary file, which may change errno.
  errno = error;
  return Fail();
}

std::optional<std::uint64_t> FreeBytesAvailable(std::string_view path) {
  struct statvfs st {};
  if (statvfs(NativeDirectoryPath(path).c_str(), &st) != 0) {
    Fail();
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

}  // namespace qz::platform
