// An exclusive (or shared) lock on a file, held across processes for as long as the object lives.
// A lock file is open to its owner and group only (0660), whatever the umask.
#pragma once

#include <string_view>

namespace qz::platform {

// Opens a lock file read-write, creating it when needed, and keeps it to its owner and group
// (0660) whatever the umask or an older version made it. A descriptor, or -1 with errno.
int OpenLockFile(std::string_view path);

class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Creates the file when needed and takes the lock without waiting. False when another holder
  // has it or the file cannot be opened (see CanOpen).
  bool TryLock(std::string_view path);
  // A shared lock beside other shared holders, on a file that already exists (never created).
  bool TryLockShared(std::string_view path);
  static bool CanOpenForReading(std::string_view path);
  // Creates the file when needed and waits until the lock is free. False when it cannot be opened.
  bool Lock(std::string_view path);
  // Whether the lock file can be opened at all.
  static bool CanOpen(std::string_view path);
  bool Held() const { return fd_ >= 0; }
  void Unlock();

 private:
  int fd_ = -1;
};

}  // namespace qz::platform
