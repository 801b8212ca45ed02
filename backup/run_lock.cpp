#include "backup/run_lock.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "backup/backup_run.h"
#include "config/event_log.h"
#include "config/process_values.h"
#include "platform/paths.h"

namespace qz {

std::string RunLockPath() {
  return BaseDirectory + ".\\qzbackup.lock";
}

RunLock::RunLock(platform::Clock& clock) {
  const std::string path = RunLockPath();
  bool logged = false;
  while (!lock_.TryLock(path)) {
    if (StopRequested) {
      stopped_ = true;
      return;
    }
    if (!platform::FileLock::CanOpen(path)) {
      openError_ = errno;
      return;
    }
    if (!logged) {
      WriteLog("Waiting for another backup run to end", clock);
      logged = true;
    }
    clock.Sleep(std::chrono::milliseconds(100));
  }
}

std::string RunLock::Failure() const {
  return "the run lock " + platform::NativePath(RunLockPath()) +
         " cannot be opened: " + std::strerror(openError_);
}

SharedRunLock::SharedRunLock(platform::Clock& clock) {
  const std::string path = RunLockPath();
  while (!lock_.TryLockShared(path)) {
    if (!platform::FileLock::CanOpenForReading(path)) return;
    clock.Sleep(std::chrono::milliseconds(100));
  }
}

}  // namespace qz
