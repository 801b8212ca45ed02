// Where the scheduler sends its automatic start: the main window, or the window-less service.
#pragma once

#include <atomic>

namespace qz {

class AutoBackupTarget {
 public:
  virtual ~AutoBackupTarget() = default;
  // Runs OnAutoBackup on the main thread and returns only when the whole run has ended.
  virtual void SendAutoBackup() = 0;
};

// Empty until the main window's initialisation stores it, just before the scheduler starts.
extern std::atomic<AutoBackupTarget*> MainWindowHandle;

}  // namespace qz
