#include "backup/run_metrics.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <utility>

#include "backup/backup_status.h"
#include "config/metrics_file.h"
#include "config/metrics_text.h"

namespace qz {
namespace {

using namespace std::chrono_literals;

// Every failure status has its series, 0 when no row had it, so an alert on one never sees a gap.
std::map<int, int> FailedByEveryStatus(const RunSummary& summary) {
  std::map<int, int> failed = summary.failedByStatus;
  for (int status : {kDownloadFailed, kNoServerName, kNoFileName, kMoveFailed, kArchiveFlagFailed,
                     kInvalidFileName, kOtherRecordingArchived})
    failed.try_emplace(status, 0);
  return failed;
}

void AddRows(MetricsText& text, const RunSummary& summary) {
  text.AddGauge("qzbackup_last_run_selected_rows",
                "Rows not yet archived that the last backup run selected.",
                static_cast<double>(summary.selected));
  text.AddGauge("qzbackup_last_run_backed_up_rows", "Rows the last backup run backed up.",
                summary.BackedUp());
  text.AddGauge("qzbackup_last_run_failed_rows",
                "Rows the last backup run failed, by status: -1 download failed, -2 no server "
                "name, -3 no file name, -4 move to the backup directory failed, -5 archive label "
                "not written, -6 invalid file name, -7 another recording of this name is already "
                "archived.");
  for (const auto& [status, rows] : FailedByEveryStatus(summary))
    text.AddSample("qzbackup_last_run_failed_rows", rows, {{"status", std::to_string(status)}});
}

void AddCutShort(MetricsText& text, const RunSummary& summary) {
  text.AddGauge("qzbackup_last_run_cut_short",
                "1 when the last backup run ended before all its rows were done, by reason "
                "(a stop request, or an error of the data layer); else 0.");
  text.AddSample("qzbackup_last_run_cut_short", summary.stopped ? 1 : 0,
                 {{"reason", "stop_request"}});
  text.AddSample("qzbackup_last_run_cut_short", summary.dataLayerError ? 1 : 0,
                 {{"reason", "data_layer_error"}});
}

// Absent after a run that handled no row, whose steps took no time.
void AddSteps(MetricsText& text, const RunSummary& summary) {
  const RunSummary::StepTimes& steps = summary.steps;
  const std::pair<const char*, std::chrono::nanoseconds> times[] = {{"fetch", steps.fetch},
                                                                    {"hashing", steps.hashing},
                                                                    {"placing", steps.placing},
                                                                    {"records", steps.records},
                                                                    {"label", steps.label}};
  if (std::all_of(std::begin(times), std::end(times),
                  [](const auto& t) { return t.second == 0ns; }))
    return;
  text.AddGauge("qzbackup_last_run_step_seconds",
                "Seconds the last backup run's rows spent in each step: fetch (wget's own time "
                "included), hashing, placing in the backup directory, records (checksum lines and "
                "notes), label. The pauses are in none.");
  for (const auto& [step, time] : times)
    text.AddSample("qzbackup_last_run_step_seconds", std::chrono::duration<double>(time).count(),
                   {{"step", step}});
}

}  // namespace

std::string FormatRunMetrics(const RunSummary& summary) {
  MetricsText text;
  text.AddGauge("qzbackup_last_run_start_time_seconds",
                "Start of the last backup run, in seconds since the Unix epoch.",
                static_cast<double>(summary.started));
  text.AddGauge("qzbackup_last_run_end_time_seconds",
                "End of the last backup run, in seconds since the Unix epoch.",
                static_cast<double>(summary.ended));
  AddRows(text, summary);
  AddCutShort(text, summary);
  text.AddGauge("qzbackup_last_run_log_lines_lost",
                "Event log lines the last backup run could not write; its standard error names "
                "the log and the reason.",
                static_cast<double>(summary.logLinesLost));
  AddSteps(text, summary);
  if (!summary.archiveLabel.empty()) {
    text.AddGauge("qzbackup_last_run_archive_label_info",
                  "The archive label the last backup run wrote into the rows it backed up.");
    text.AddSample("qzbackup_last_run_archive_label_info", 1, {{"label", summary.archiveLabel}});
  }
  return text.Text();
}

void WriteRunMetrics(const RunSummary& summary) {
  UpdateMetricsFile(kRunMetricsPrefix, FormatRunMetrics(summary));
}

}  // namespace qz
