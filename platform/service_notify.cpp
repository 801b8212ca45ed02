#include "platform/service_notify.h"

#include <systemd/sd-daemon.h>

#include "platform/control_bytes.h"

namespace qz::platform {

void NotifyReady() {
  sd_notify(0, "READY=1");
}

void NotifyStatus(const std::string& text) {
  // A line break would end the field early: the manager keeps one line of status.
  sd_notify(0, ("STATUS=" + EscapeControlBytes(text)).c_str());
}

void NotifyWatchdog() {
  sd_notify(0, "WATCHDOG=1");
}

std::optional<std::chrono::microseconds> WatchdogInterval() {
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return std::nullopt;
  return std::chrono::microseconds(usec);
}

}  // namespace qz::platform
