// The address a recording is fetched from: "<scheme>://<server>/<WebDocDir>/<encoded name>".
#pragma once

#include <string>

#include "config/backup_settings.h"

namespace qz {

// Only these two are fetched; any other DownloadScheme fails every download.
bool IsKnownDownloadScheme(const std::string& scheme);

// The URL of `encodedName` (already URL-encoded) on `serverName`, in the settings' scheme.
std::string DownloadUrl(const BackupSettings& settings, const std::string& serverName,
                        const std::string& encodedName);

}  // namespace qz
