// The disk watchdog's metrics in the metrics file, after each check: the free bytes and the limit
// of the file system that holds the download directory.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace qz {

// Every family of the watchdog begins with this; a run's do not.
inline constexpr const char* kWatchdogMetricsPrefix = "qzbackup_watchdog_";

struct WatchdogCheck {
  std::time_t when = 0;
  bool pathExists = false;
  std::optional<std::uint64_t> freeBytes;  // nothing when the query failed or the path is missing
  std::uint32_t minFreeMB = 0;
};

std::string FormatWatchdogMetrics(const WatchdogCheck& check);

// Replaces the watchdog's families in the metrics file; a run's stay. Never reports failure.
void WriteWatchdogMetrics(const WatchdogCheck& check);

}  // namespace qz
