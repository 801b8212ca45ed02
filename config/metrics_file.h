// The metrics file beside the log, qzbackup.prom, for node_exporter's textfile collector. A run
// and the disk watchdog each own the families that begin with their prefix, and may write from
// different processes (--run beside --service), so each update merges into the file under a lock.
#pragma once

#include <string>
#include <string_view>

namespace qz {

// The file's path as composed from LogDirectory, before the native mapping.
std::string MetricsFilePath();

// Replaces the families whose names begin with `prefix` by `families` and keeps every other
// family, then replaces the file atomically. False when it could not be written (no log folder).
bool UpdateMetricsFile(std::string_view prefix, std::string_view families);

}  // namespace qz
