#include "app/systemd_watchdog.h"

#include <algorithm>
#include <thread>

#include "platform/service_notify.h"

namespace qz {

WatchdogPinger::WatchdogPinger() {
  if (auto interval = platform::WatchdogInterval()) {
    enabled_ = true;
    wait_ = std::max(std::chrono::milliseconds(1),
                     std::chrono::duration_cast<std::chrono::milliseconds>(*interval / 4));
  }
}

void WatchdogPinger::PingIfDue() {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  auto now = std::chrono::steady_clock::now();
  if (now - lastPing_ < wait_) return;
  platform::NotifyWatchdog();
  lastPing_ = now;
}

std::time_t ServiceRunClock::Now() {
  return std::time(nullptr);
}

// A long pause is slept in pieces, so it never outlasts the watchdog.
void ServiceRunClock::Sleep(std::chrono::milliseconds duration) {
  while (duration.count() > 0) {
    auto piece = std::min(duration, pinger_.WaitBetweenPings());
    std::this_thread::sleep_for(piece);
    duration -= piece;
    pinger_.PingIfDue();
  }
}

void ServiceRunClock::KeepAlive() {
  pinger_.PingIfDue();
}

}  // namespace qz
