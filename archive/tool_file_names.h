// The names the tool itself keeps in the download and backup directories. No recording may carry
// one: a row so named would be taken for, or written over, the tool's own file.
#pragma once

#include <string_view>

namespace qz {

// Versions before the staging folder marked a download under way with "<name>.qzdownload".
inline constexpr std::string_view kOldDownloadMarkerSuffix = ".qzdownload";

// Checksum files ("*.sha256") and the list of rows awaiting their label with temporary copies of
// both, the directory's lock, the staging folder, temporary copies of recordings, and old download
// markers.
bool IsToolFileName(std::string_view name);

}  // namespace qz
