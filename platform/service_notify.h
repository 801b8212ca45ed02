// Messages to the service manager (systemd's notify protocol). Each call is one datagram to
// $NOTIFY_SOCKET and does nothing when that is unset, so the tool behaves the same outside systemd.
// Every function may be called from any thread: a run's thread may report progress while the main
// loop pings the watchdog.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace qz::platform {

// Start-up is complete: systemd considers a Type=notify unit started only from here on.
void NotifyReady();

// One line that `systemctl status` shows as what the service is doing now.
void NotifyStatus(const std::string& text);

// The main loop is alive; without these pings within WatchdogSec= systemd restarts the service.
void NotifyWatchdog();

// The watchdog interval systemd expects pings within, or nothing when no watchdog is set for
// this process.
std::optional<std::chrono::microseconds> WatchdogInterval();

}  // namespace qz::platform
