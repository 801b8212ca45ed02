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
  // Without a usable lock file (no log folder) the run goes ahead unguarded, as it cannot log
  // either.
  explicit RunLock(platform::Clock& clock);
  bool Held() const { return lock_.Held(); }

 private:
  platform::FileLock lock_;
};

}  // namespace qz
