// systemd's watchdog for the service: the main loop pings while it waits, and a run pings from
// its clock between polls and pauses, so only a service that is really stuck stops pinging.
#pragma once

#include <chrono>
#include <mutex>

#include "platform/clock.h"

namespace qz {

class WatchdogPinger {
 public:
  WatchdogPinger();
  // Pings when a quarter of the interval has passed since the last ping; thread-safe.
  void PingIfDue();
  // How long the main loop may wait between two calls of PingIfDue.
  std::chrono::milliseconds WaitBetweenPings() const { return wait_; }

 private:
  bool enabled_ = false;
  std::chrono::milliseconds wait_{std::chrono::hours(1)};
  std::mutex mutex_;
  std::chrono::steady_clock::time_point lastPing_;
};

// The real clock and a real sleep, with a watchdog ping whenever one is due.
class ServiceRunClock : public platform::Clock {
 public:
  explicit ServiceRunClock(WatchdogPinger& pinger) : pinger_(pinger) {}
  std::time_t Now() override;
  void Sleep(std::chrono::milliseconds duration) override;
  void KeepAlive() override;

 private:
  WatchdogPinger& pinger_;
};

}  // namespace qz
