// What --check finds of the data source: it connects read-only, the table has the recording
// columns and a key, and the run's own query runs; the rows it selects now, by server.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "check/check_report.h"
#include "config/backup_settings.h"

namespace qz {

struct PendingServer {
  std::string name;
  long rows = 0;
  std::string firstFile;  // the first of its recordings with a usable name, or empty
};

struct PendingRows {
  long total = 0;
  long withoutServer = 0;
  std::vector<PendingServer> servers;  // most rows first
};

// The rows the run would select now, or nothing when the data source, the table or the query
// failed (reported). Only reads: the connection is opened read-only.
std::optional<PendingRows> CheckDataSource(const BackupSettings& settings, CheckReport& report);

// "a 200, b 100, c 40 and 2 more servers": the largest few by their rows.
std::string LargestServers(const PendingRows& rows, std::size_t shown = 5);

}  // namespace qz
