#include "app/headless.h"

#include <unistd.h>

#include <cstdio>
#include <optional>

#include "app/stream_result_list.h"
#include "app/terminal_progress.h"
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
  platform::Clock& clock = platform::SystemClock();
  // Only a person at a terminal gets the progress line; cron mail and the journal stay as they are.
  std::optional<TerminalProgress> terminal;
  if (isatty(STDERR_FILENO)) terminal.emplace(stderr, clock);
  try {
    RunSummary summary = RunBackup(settings, list, clock, terminal ? &*terminal : nullptr);
    if (!summary.refusal.empty()) return 2;
    return summary.failed == 0 ? 0 : 1;
  } catch (const platform::OdbcError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
}

}  // namespace qz
