// Values the background threads read. The integers are shared without locks, so each is one
// atomic word; the directories are set before any thread starts and never change after.
#pragma once

#include <atomic>
#include <string>

namespace qz {

extern std::atomic<int> AutoStartOnDay;   // 0 every day, 1 Sunday ... 7 Saturday
extern std::atomic<int> AutoStartOnHour;  // 0 to 23
extern std::atomic<int> HardDiskWatchDogActive;
extern std::atomic<int> CheckHardDiskEveryMin;
extern std::atomic<int> WatchDogAlarmNumber;
extern std::atomic<int> WaitAfterErrorMin;

extern std::string BaseDirectory;
extern std::string LogDirectory;
// The directory the tool started in, taken when its settings are loaded (before any run enters
// the download directory); relative directory settings name folders inside it.
extern std::string StartDirectory;

}  // namespace qz
