// `qzbackup --check`: everything a run would need, looked at without changing anything. No key is
// written back, no counter advanced, nothing downloaded, labelled, alarmed or counted in the
// metrics; the only trace is one log line with the result.
#pragma once

#include <ostream>

#include "config/backup_settings.h"
#include "platform/clock.h"

namespace qz {

// Prints one line per check to `out` and logs the summary. The number of checks that failed.
int CheckInstallation(const BackupSettings& settings, std::ostream& out,
                      platform::Clock& clock = platform::SystemClock());

}  // namespace qz
