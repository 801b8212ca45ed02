// The lock of one archive folder. Installations that share a backup directory (server ranges, on
// one machine or several over NFS) read and change what it records only while they hold it: a
// POSIX record lock on ".qzlock" in that folder, which NFS passes on to the file server.
#pragma once

#include <string>
#include <string_view>

#include "platform/clock.h"

namespace qz {

inline constexpr std::string_view kDirectoryLockName = ".qzlock";

class DirectoryLock {
 public:
  // `directory` is a directory setting; an empty one makes a lock that is always held (an
  // archive folder no other installation can share).
  DirectoryLock(std::string_view directory, platform::Clock& clock);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // Waits until no other holder has it. False, logged, when the lock file cannot be opened or
  // locked: nothing the folder records may then be changed. A folder that does not exist needs
  // no lock.
  bool Acquire();
  void Release();

 private:
  bool Open();

  std::string path_;
  platform::Clock& clock_;
  int fd_ = -1;
  bool held_ = false;
};

// Holds a DirectoryLock for one scope.
class DirectoryLockHold {
 public:
  explicit DirectoryLockHold(DirectoryLock& lock) : lock_(lock), held_(lock.Acquire()) {}
  ~DirectoryLockHold() {
    if (held_) lock_.Release();
  }
  DirectoryLockHold(const DirectoryLockHold&) = delete;
  DirectoryLockHold& operator=(const DirectoryLockHold&) = delete;
  bool Held() const { return held_; }

 private:
  DirectoryLock& lock_;
  bool held_;
};

}  // namespace qz
