#include "app/headless.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <optional>

#include "app/stop_signals.h"
#include "app/stream_result_list.h"
#include "app/terminal_progress.h"
#include "backup/backup_run.h"
#include "config/load_settings.h"
#include "config/string_table.h"
#include "monitor/alarm.h"
#include "platform/control_bytes.h"
#include "platform/odbc.h"
#include "transfer/download_file.h"

namespace qz {
namespace {

std::atomic<int> StopSignal{0};

// The first SIGINT or SIGTERM lets the row under way finish; at a terminal the operator learns
// that a second one ends the download too.
void WatchStopSignalsOfTheRun(const sigset_t& stopSignals, bool atTerminal) {
  WatchStopSignals(stopSignals, [atTerminal](int signal) {
    StopSignal = signal;
    if (atTerminal)
      std::fputs("\r\x1b[KStopping after the file under way; a second Ctrl+C stops at once\n",
                 stderr);
  });
}

int ExitStatus(const RunSummary& summary) {
  if (StopSignal != 0 && (summary.stopped || CancelDownloads)) return 128 + StopSignal;
  return summary.failed == 0 ? 0 : 1;
}

}  // namespace

int RunHeadless() {
  const sigset_t stopSignals = BlockStopSignals();
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
  WatchStopSignalsOfTheRun(stopSignals, terminal.has_value());
  int status = 2;
  try {
    RunSummary summary = RunBackup(settings, list, clock, terminal ? &*terminal : nullptr,
                                   DataLayerErrorAlarm::kStart);
    status = summary.refusal.empty() ? ExitStatus(summary) : 2;
  } catch (const platform::OdbcError& error) {
    std::fprintf(stderr, "%s\n", platform::EscapeControlBytes(error.what()).c_str());
  }
  WaitForAlarmPrograms();
  return status;
}

}  // namespace qz
