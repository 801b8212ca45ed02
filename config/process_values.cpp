#include "config/process_values.h"

namespace qz {

std::atomic<int> AutoStartOnDay{0};
std::atomic<int> AutoStartOnHour{0};
std::atomic<int> HardDiskWatchDogActive{0};
std::atomic<int> CheckHardDiskEveryMin{2};
std::atomic<int> WatchDogAlarmNumber{7099};
std::atomic<int> WaitAfterErrorMin{30};

std::string BaseDirectory;
std::string LogDirectory;
std::string StartDirectory;

}  // namespace qz
