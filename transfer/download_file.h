// Fetches one recording file from its recording server into the download directory with wget.
#pragma once

#include <atomic>
#include <string>

#include "config/backup_settings.h"
#include "platform/clock.h"

namespace qz {

// 1 when the file now stands in the download directory under `fileName`, its content flushed to
// disk (the directory is not); -1 when wget cannot be started, fails, or stores the file under
// another name; -2 without a server, -3 without a file name (and -1 once CancelDownloads is set).
// Every outcome but a failed start writes one log line. wget writes into the staging folder of
// `settings.DownloadPath` (the current directory when empty), the directory the run has made
// current; only a complete file of this name ever reaches the directory itself. Set by a second
// request to end the tool: a download under way is ended and fails, with a log line, and so does
// every later one.
extern std::atomic<bool> CancelDownloads;

int DownloadFile(const BackupSettings& settings, const std::string& serverName,
                 const std::string& fileName, platform::Clock& clock = platform::SystemClock());

// The same download, but a complete file stays in the staging folder of the download directory,
// for the caller to compare, deliver (StagingFolder::Deliver) or clear; on failure the folder is
// already clear.
int DownloadFileToStaging(const BackupSettings& settings, const std::string& serverName,
                          const std::string& fileName,
                          platform::Clock& clock = platform::SystemClock());

}  // namespace qz
