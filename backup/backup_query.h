// The SELECT of a backup run: rows not yet archived and recorded before today.
#pragma once

#include <string>

#include "config/backup_settings.h"

namespace qz {

// The table name goes in unchanged and unquoted. The server range applies only when
// BackupFromServerRange is exactly 1.
std::string MakeBackupQuery(const BackupSettings& settings);

// The rows that carry one label (the one parameter), in the same server range as the run.
std::string MakeVerifyQuery(const BackupSettings& settings);

}  // namespace qz
