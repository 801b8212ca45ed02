// The disk watchdog: at a fixed interval it checks that the download directory still exists and
// that its file system has room, and launches the alarm program when either fails.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/clock.h"

namespace qz {

// Bytes available to the calling user on the file system that holds the path; nothing on failure.
using FreeSpaceQuery = std::function<std::optional<std::uint64_t>(const std::string& path)>;
// Starts the alarm program for a number without waiting for it.
using AlarmLauncher = std::function<void(int alarmNumber)>;

class DiskWatchdog {
 public:
  // Takes the interval from CheckHardDiskEveryMin and the free-space limit from the INI file,
  // writing the default limit back when it is missing. Both hold for the watchdog's life.
  explicit DiskWatchdog(platform::Clock& clock = platform::SystemClock(),
                        FreeSpaceQuery freeBytesAvailable = DefaultFreeSpaceQuery(),
                        AlarmLauncher launchAlarm = DefaultAlarmLauncher());

  // One check of the download directory: its metrics, then the alarm and its pause when it fails.
  void Check();

  // Checks and pauses for the interval as long as keepRunning() says so, the first check at once.
  void Run(const std::function<bool()>& keepRunning);

  std::chrono::milliseconds Interval() const { return interval_; }
  std::uint32_t MinFreeDiskSpaceMB() const { return minFreeMB_; }

  static FreeSpaceQuery DefaultFreeSpaceQuery();
  static AlarmLauncher DefaultAlarmLauncher();

 private:
  bool HasTooLittleSpace(std::optional<std::uint64_t> bytes) const;
  void RaiseAlarm(const std::string& path);

  platform::Clock& clock_;
  FreeSpaceQuery freeBytesAvailable_;
  AlarmLauncher launchAlarm_;
  std::chrono::milliseconds interval_;
  std::uint32_t minFreeMB_;
};

// The thread's entry: checks on the system clock and the real disk until the process ends.
void DiskWatchdogThread();

// Starts DiskWatchdogThread detached; it is never stopped or waited for.
void StartDiskWatchdogThread();

}  // namespace qz
