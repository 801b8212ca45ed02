// The address a recording is fetched from: "<scheme>://<server>/<WebDocDir>/<encoded name>".
#pragma once

#include <string>

#include "config/backup_settings.h"

namespace qz {

// Only these two are fetched; any other DownloadScheme fails every download.
bool IsKnownDownloadScheme(const std::string& scheme);

// The URL of `encodedName` (already URL-encoded) on `serverName`, in the settings' scheme, as
// wget gets it: control bytes in the server name and WebDocDir, which belong to no host or folder,
// are percent-encoded so that wget's messages never carry them raw.
std::string DownloadUrl(const BackupSettings& settings, const std::string& serverName,
                        const std::string& encodedName);

// The same URL as the command line shows it in the log: server name and WebDocDir as stored.
std::string DownloadUrlText(const BackupSettings& settings, const std::string& serverName,
                            const std::string& encodedName);

}  // namespace qz
