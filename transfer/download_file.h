// Fetches one recording file from its recording server into the current directory with wget.
#pragma once

#include <string>

#include "config/backup_settings.h"
#include "platform/clock.h"

namespace qz {

// 1 when the file now stands in the current directory under `fileName`; -1 when wget cannot be
// started, fails, or stores the file under another name; -2 without a server, -3 without a file
// name. Every outcome but a failed start writes one log line.
// The file that stands beside a recording while its download is under way. Its presence means a
// file under the recording's name may be incomplete.
std::string DownloadMarkerName(const std::string& fileName);

int DownloadFile(const BackupSettings& settings, const std::string& serverName,
                 const std::string& fileName, platform::Clock& clock = platform::SystemClock());

}  // namespace qz
