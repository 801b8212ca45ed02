#include "app/headless.h"

#include <unistd.h>

#include <cstdio>
#include <optional>

#include "app/stream_result_list.h"
#include "app/terminal_progress.h"
#include "backup/backup_run.h"
#include "config/load_settings.h"
#include "config/string_table.h"
#include "monitor/alarm.h"
#include "platform/control_bytes.h"
#include "platform/odbc.h"

namespace qz {

int RunHeadless() {
  BackupSettings settings;
  if (!LoadSettings(settings)) {
    std::fprintf(
        stderr, "%s\n",
        platform::EscapeControlBytes(FormatString(IDS_CREATE_DIR_FAILED, settings.DownloadPath))
            .c_str());
    return 2;
  }
  StreamResultList list(stdout);
  platform::Clock& clock = platform::SystemClock();
  // Only a person at a terminal gets the progress line; cron mail and the journal stay as they are.
  std::optional<TerminalProgress> terminal;
  if (isatty(STDERR_FILENO)) terminal.emplace(stderr, clock);
  int status = 2;
  try {
    RunSummary summary = RunBackup(settings, list, clock, terminal ? &*terminal : nullptr);
    status = summary.failed == 0 ? 0 : 1;
  } catch (const platform::OdbcError& error) {
    std::fprintf(stderr, "%s\n", platform::EscapeControlBytes(error.what()).c_str());
  }
  WaitForAlarmPrograms();
  return status;
}

}  // namespace qz
