// One backup run: every recording not yet archived and older than today is fetched, optionally
// moved to the backup directory, labelled in its row and shown as one result line.
#pragma once

#include <atomic>
#include <string>

#include "backup/result_list.h"
#include "config/backup_settings.h"
#include "platform/clock.h"

namespace qz {

// Set by a request to end the tool: a run finishes the row it is on and stops there.
extern std::atomic<bool> StopRequested;

struct RunSummary {
  int rows = 0;
  int failed = 0;
};

// Data-layer errors (platform::OdbcError) end the run where they happen and pass to the caller;
// the connection and the rows are released as the run unwinds.
RunSummary RunBackup(const BackupSettings& settings, ResultList& list,
                     platform::Clock& clock = platform::SystemClock());

// The automatic start: its log line, then the same run.
RunSummary OnAutoBackup(const BackupSettings& settings, ResultList& list,
                        platform::Clock& clock = platform::SystemClock());

// The trace an unattended tool leaves of a data-layer error that ended a run.
void LogDataLayerError(const std::string& driverText);

// A name from the table that could address a file outside the download and backup directories,
// or the staging folder inside the download directory.
bool IsUnsafeFileName(const std::string& fileName);

}  // namespace qz
