#include "monitor/watchdog_metrics.h"

#include "config/metrics_file.h"
#include "config/metrics_text.h"

namespace qz {

std::string FormatWatchdogMetrics(const WatchdogCheck& check) {
  MetricsText text;
  text.AddGauge("qzbackup_watchdog_last_check_time_seconds",
                "Time of the disk watchdog's last check, in seconds since the Unix epoch.",
                static_cast<double>(check.when));
  text.AddGauge("qzbackup_watchdog_download_path_exists",
                "1 when the download directory existed at the last check, else 0.",
                check.pathExists ? 1 : 0);
  // No number is better than a wrong one: a failed query leaves the family out.
  if (check.freeBytes)
    text.AddGauge("qzbackup_watchdog_free_bytes",
                  "Bytes available to the tool's user on the file system that holds the download "
                  "directory, at the last check.",
                  static_cast<double>(*check.freeBytes));
  text.AddGauge("qzbackup_watchdog_min_free_bytes",
                "Free bytes below which the disk watchdog raises its alarm (MinFreeDiskSpaceMB).",
                static_cast<double>(std::uint64_t{check.minFreeMB} << 20));
  return text.Text();
}

void WriteWatchdogMetrics(const WatchdogCheck& check) {
  UpdateMetricsFile(kWatchdogMetricsPrefix, FormatWatchdogMetrics(check));
}

}  // namespace qz
