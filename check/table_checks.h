// What --check finds of the data source: it connects read-only, the table has the recording
// columns and a key, ARCHIVE takes the labels and this account may write them, and the run's own
// query runs; the rows it selects now, by server.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "check/check_report.h"
#include "config/backup_settings.h"
#include "platform/clock.h"

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
// failed (reported). Reads through a read-only connection; the right to label is tried on a
// second one with a statement that changes no row, rolled back.
std::optional<PendingRows> CheckDataSource(const BackupSettings& settings, CheckReport& report,
                                           platform::Clock& clock);

// "a 200, b 100, c 40 and 2 more servers": the largest few by their rows.
std::string LargestServers(const PendingRows& rows, std::size_t shown = 5);

}  // namespace qz
