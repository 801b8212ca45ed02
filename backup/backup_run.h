// One backup run: every recording not yet archived and older than today is fetched, optionally
// moved to the backup directory, labelled in its row and shown as one result line.
#pragma once

#include <atomic>
#include <string>

#include "backup/result_list.h"
#include "backup/run_progress.h"
#include "config/backup_settings.h"
#include "platform/clock.h"

namespace qz {

// Set by a request to end the tool: a run finishes the row it is on and stops there.
extern std::atomic<bool> StopRequested;

// Who learns of a data-layer error besides the log: the window's caller shows it in a box, and a
// run that nobody watches starts the alarm (once per run, like a failed row).
enum class DataLayerErrorAlarm { kNone, kStart };

// Every run ends with its summary line in the log and its metrics in the metrics file, and tells
// `progress`, when given, how far it is. Data-layer errors (platform::OdbcError) end the run where
// they happen: the connection and the rows are released, the run logs "ERROR in database: <text>"
// and its summary, and the error passes to the caller. A run that cannot open its lock is refused
// (`refusal`, standard error, the alarm); one stopped while it waits for the lock ends as stopped.
RunSummary RunBackup(const BackupSettings& settings, ResultList& list,
                     platform::Clock& clock = platform::SystemClock(),
                     RunProgress* progress = nullptr,
                     DataLayerErrorAlarm dataLayerErrorAlarm = DataLayerErrorAlarm::kNone);

// The automatic start: its log line, then the same run.
RunSummary OnAutoBackup(const BackupSettings& settings, ResultList& list,
                        platform::Clock& clock = platform::SystemClock(),
                        RunProgress* progress = nullptr,
                        DataLayerErrorAlarm dataLayerErrorAlarm = DataLayerErrorAlarm::kNone);

// A name from the table that could address a file outside the download and backup directories,
// or one of the tool's own files inside them.
bool IsUnsafeFileName(const std::string& fileName);

}  // namespace qz
