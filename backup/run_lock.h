// One run at a time across processes: the window, --run and --service all take this lock, a file
// in the base directory, for the whole of a run.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/file_lock.h"

namespace qz {

// In the base directory itself, which every process of one installation names the same way: the
// log folder may be missing, and a run goes ahead without its log lines.
std::string RunLockPath();

class RunLock {
 public:
  // Waits, in pauses of the clock, until no other run holds the lock; says so once in the log.
  // A stop request ends the wait, not held. Without a usable lock file it returns at once, not
  // held: a run must not go ahead unguarded.
  explicit RunLock(platform::Clock& clock);
  bool Held() const { return lock_.Held(); }
  // A stop was requested while the lock was awaited.
  bool Stopped() const { return stopped_; }
  // Why the lock file could not be opened, when it is not held and no stop was requested.
  std::string Failure() const;

 private:
  platform::FileLock lock_;
  int openError_ = 0;
  bool stopped_ = false;
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
