#include "app/headless.h"

#include <cstdio>

#include "app/stream_result_list.h"
#include "backup/backup_run.h"
#include "config/load_settings.h"
#include "config/string_table.h"
#include "platform/odbc.h"

namespace qz {

int RunHeadless() {
  BackupSettings settings;
  if (!LoadSettings(settings)) {
    std::fprintf(stderr, "%s\n",
                 FormatString(IDS_CREATE_DIR_FAILED, settings.DownloadPath).c_str());
    return 2;
  }
  StreamResultList list(stdout);
  try {
    RunSummary summary = RunBackup(settings, list);
    return summary.failed == 0 ? 0 : 1;
  } catch (const platform::OdbcError& error) {
    LogDataLayerError(error.what());
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
}

}  // namespace qz
