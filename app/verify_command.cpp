#include "app/verify_command.h"

#include <cstdio>
#include <iostream>

#include "backup/backup_run.h"
#include "backup/verify_archive.h"
#include "config/event_log.h"
#include "config/load_settings.h"
#include "platform/control_bytes.h"
#include "platform/odbc.h"

namespace qz {

int RunVerify(const std::optional<std::string>& label) {
  // A label names a file in the two directories, and nothing outside them.
  if (label && (label->empty() || IsUnsafeFileName(*label))) {
    std::fprintf(stderr, "qzbackup: invalid archive label: %s\n",
                 platform::EscapeControlBytes(*label).c_str());
    return 2;
  }
  BackupSettings settings;
  ReadSettingsOnly(settings);
  try {
    bool whole = VerifyArchive(settings, label, std::cout);
    std::cout.flush();
    return whole ? 0 : 1;
  } catch (const platform::OdbcError& error) {
    std::cout.flush();
    WriteLog("ERROR in database: " + std::string(error.what()));
    std::fprintf(stderr, "%s\n", platform::EscapeControlBytes(error.what()).c_str());
    return 2;
  }
}

}  // namespace qz
