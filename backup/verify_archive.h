// The check of archive sets: every file a manifest lists is present with its listed content, and
// every row carrying the label has a manifest line. It changes nothing but the log.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "config/backup_settings.h"
#include "platform/clock.h"

namespace qz {

// Checks the manifests of the download and backup directories: of `label`, or of every label
// that has one. Writes one line per problem and one summary line per label to `out`, and the
// summary to the log. True when every set is whole. Data-layer errors raise platform::OdbcError.
bool VerifyArchive(const BackupSettings& settings, const std::optional<std::string>& label,
                   std::ostream& out, platform::Clock& clock = platform::SystemClock());

}  // namespace qz
