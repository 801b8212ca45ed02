#include "monitor/scheduler_thread.h"

#include <chrono>
#include <thread>

#include "config/process_values.h"
#include "monitor/main_window_handle.h"

namespace qz {
namespace {

// Shorter than a minute, so minute 0 of every hour is met by at least one pass.
constexpr std::chrono::milliseconds kPauseOutsideMinuteZero{59'000};
// Takes the next pass out of minute 0, so one matching hour starts at most one run.
constexpr std::chrono::milliseconds kPauseAfterMinuteZero{60'000};

bool IsAutoStartDue(const std::tm& local) {
  const int day = AutoStartOnDay.load();
  return local.tm_hour == AutoStartOnHour.load() && (day == 0 || day == local.tm_wday + 1);
}

}  // namespace

void SchedulerPass(platform::Clock& clock) {
  const std::tm local = platform::LocalTime(clock.Now());
  if (local.tm_min != 0) {
    clock.Sleep(kPauseOutsideMinuteZero);
    return;
  }
  if (IsAutoStartDue(local)) {
    if (AutoBackupTarget* window = MainWindowHandle.load()) window->SendAutoBackup();
  }
  clock.Sleep(kPauseAfterMinuteZero);
}

void RunScheduler(platform::Clock& clock, const std::function<bool()>& keepRunning) {
  while (keepRunning()) SchedulerPass(clock);
}

void SchedulerThread() {
  RunScheduler(platform::SystemClock(), [] { return true; });
}

void StartSchedulerThread() {
  std::thread(SchedulerThread).detach();
}

}  // namespace qz
