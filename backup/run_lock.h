// One run at a time across processes: the window, --run and --service all take this lock, a file
// beside the log, for the whole of a run.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/file_lock.h"

namespace qz {

std::string RunLockPath();

class RunLock {
 public:
  // Waits, in pauses of the clock, until no other run holds the lock; says so once in the log.
  // Without a usable lock file (no log folder) it returns at once, not held: a run must not go
  // ahead unguarded.
  explicit RunLock(platform::Clock& clock);
  bool Held() const { return lock_.Held(); }
  // Why the lock file could not be opened, when it is not held.
  std::string Failure() const;

 private:
  platform::FileLock lock_;
  int openError_ = 0;
};

// Held by a check that must not see a run halfway through a row: it waits for a run to end and
// a run waits for it. It writes nothing: without a lock file no run is in progress.
class SharedRunLock {
 public:
  explicit SharedRunLock(platform::Clock& clock);

 private:
  platform::FileLock lock_;
};

}  // namespace qz
