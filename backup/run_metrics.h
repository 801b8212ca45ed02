// The last run's metrics in the metrics file: when it ran, its rows by outcome, whether it was cut
// short, and the archive label it wrote.
#pragma once

#include <string>

#include "backup/run_progress.h"

namespace qz {

// Every family of a run begins with this; the disk watchdog's do not.
inline constexpr const char* kRunMetricsPrefix = "qzbackup_last_run_";

std::string FormatRunMetrics(const RunSummary& summary);

// Replaces the run's families in the metrics file; the watchdog's stay. Never reports failure.
void WriteRunMetrics(const RunSummary& summary);

}  // namespace qz
