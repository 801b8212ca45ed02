#include "monitor/disk_watchdog_thread.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "config/backup_settings.h"
#include "config/event_log.h"
#include "config/load_settings.h"
#include "config/process_values.h"
#include "monitor/alarm.h"
#include "monitor/watchdog_metrics.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace qz {
namespace {

constexpr const char* kWatchDogSection = "WatchDog";
constexpr const char* kMinFreeKey = "MinFreeDiskSpaceMB";
constexpr int kMissing = -9;
constexpr int kDefaultMinFreeMB = 200;

// In 64 bits, so pauses of more than 49 days hold as configured.
std::chrono::milliseconds MinutesToPause(int minutes) {
  return std::chrono::milliseconds(minutes * std::int64_t{60'000});
}

// A negative count of minutes has no meaning as a pause and is taken as none.
void PauseIfAny(platform::Clock& clock, std::chrono::milliseconds pause) {
  if (pause.count() > 0) clock.Sleep(pause);
}

std::uint32_t ReadMinFreeDiskSpaceMB() {
  int limit = platform::GetPrivateProfileInt(kWatchDogSection, kMinFreeKey, kMissing, kIniFile);
  if (limit == kMissing) {
    limit = kDefaultMinFreeMB;
    platform::WritePrivateProfileString(kWatchDogSection, kMinFreeKey,
                                        std::to_string(kDefaultMinFreeMB), kIniFile);
  }
  return static_cast<std::uint32_t>(limit);
}

// Read from the file each time, as the settings dialog may have changed it; a relative one names
// the folder inside the start directory, not inside the download directory the runs entered.
std::string ReadDownloadPath() {
  return ResolveDirectorySetting(
      platform::GetPrivateProfileString("Config", "DownloadPath", "", kIniFile));
}

}  // namespace

DiskWatchdog::DiskWatchdog(platform::Clock& clock, FreeSpaceQuery freeBytesAvailable,
                           AlarmLauncher launchAlarm)
    : clock_(clock),
      freeBytesAvailable_(std::move(freeBytesAvailable)),
      launchAlarm_(std::move(launchAlarm)),
      // LoadSettings already raises it to 1; a zero interval here would spin on the disk.
      interval_(MinutesToPause(std::max(CheckHardDiskEveryMin.load(), 1))),
      minFreeMB_(ReadMinFreeDiskSpaceMB()) {}

void DiskWatchdog::Check() {
  const std::string path = ReadDownloadPath();
  // Through symbolic links: a link whose directory is gone leaves nothing to download into.
  WatchdogCheck check{
      clock_.Now(), !path.empty() && platform::DirectoryExists(path), {}, minFreeMB_};
  if (check.pathExists) check.freeBytes = freeBytesAvailable_(path);
  // Before the alarm, whose pause would hold the figures back for half an hour.
  WriteWatchdogMetrics(check);
  if (!check.pathExists || HasTooLittleSpace(check.freeBytes)) RaiseAlarm(path);
}

void DiskWatchdog::Run(const std::function<bool()>& keepRunning) {
  while (keepRunning()) {
    Check();
    PauseIfAny(clock_, interval_);
  }
}

bool DiskWatchdog::HasTooLittleSpace(std::optional<std::uint64_t> bytes) const {
  if (!bytes) return false;
  // 0 MB is read as no real answer, like a failed query, rather than as a full disk.
  const auto freeMB = static_cast<std::uint32_t>(*bytes >> 20);
  return freeMB >= 1 && freeMB < minFreeMB_;
}

void DiskWatchdog::RaiseAlarm(const std::string& path) {
  const int alarmNumber = WatchDogAlarmNumber.load();
  // One text for a missing directory and a full disk alike.
  const std::string text = "The download path " + path + " does not exist anymore -> Start Alarm " +
                           std::to_string(alarmNumber);
  // Unlike a backup error's alarm, any number is launched, also one below 10.
  launchAlarm_(alarmNumber);
  WriteLog(text, clock_);
  PauseIfAny(clock_, MinutesToPause(WaitAfterErrorMin.load()));
}

FreeSpaceQuery DiskWatchdog::DefaultFreeSpaceQuery() {
  // There are no drive letters: the file system asked is the one that holds the path itself.
  return [](const std::string& path) { return platform::FreeBytesAvailable(path); };
}

AlarmLauncher DiskWatchdog::DefaultAlarmLauncher() {
  return [](int alarmNumber) { LaunchAlarmProgram(alarmNumber); };
}

void DiskWatchdogThread() {
  DiskWatchdog watchdog;
  watchdog.Run([] { return true; });
}

void StartDiskWatchdogThread() {
  std::thread(DiskWatchdogThread).detach();
}

}  // namespace qz
