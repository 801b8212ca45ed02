// What --check finds of the folders a run uses: the settings file, the base directory, the log
// folder, the download and backup directories and the free space on them. Nothing is created,
// written or entered.
#pragma once

#include "check/check_report.h"
#include "config/backup_settings.h"

namespace qz {

void CheckSettingsFile(CheckReport& report);
void CheckBaseAndLogFolders(CheckReport& report);
void CheckDownloadAndBackupDirectories(const BackupSettings& settings, CheckReport& report);

}  // namespace qz
