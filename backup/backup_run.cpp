#include "backup/backup_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "archive/checksum_manifest.h"
#include "archive/recording_archive.h"
#include "archive/tool_file_names.h"
#include "backup/archive_label.h"
#include "backup/backup_query.h"
#include "backup/backup_status.h"
#include "backup/database_connection.h"
#include "backup/db_rec_set.h"
#include "backup/run_lock.h"
#include "backup/run_metrics.h"
#include "config/event_log.h"
#include "config/load_settings.h"
#include "config/string_table.h"
#include "monitor/alarm.h"
#include "platform/control_bytes.h"
#include "platform/files.h"
#include "platform/odbc.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/scope_timer.h"
#include "transfer/download_file.h"
#include "transfer/staging_folder.h"

namespace qz {
namespace {

using std::chrono::milliseconds;

constexpr int kServerNameColumn = 21;
constexpr int kFileColumn = 24;

// The file inside the directory: the directory is mapped as it is wherever a directory is named,
// so "/x/rec." is the folder that was created and entered.
std::string InDirectory(const std::string& directory, const std::string& fileName) {
  return platform::PathInDirectory(directory, fileName);
}

BackupSettings WithBackupDirectoryOfThisRun(BackupSettings settings) {
  settings.BackupPath = ResolveBackupPath(settings);
  return settings;
}

class NoRunProgress : public RunProgress {
 public:
  void RunStarted(std::size_t) override {}
  void RowDone(std::size_t, std::size_t, std::size_t) override {}
  void RunEnded(const RunSummary&) override {}
};

class Run {
 public:
  Run(const BackupSettings& settings, ResultList& list, platform::Clock& clock,
      RunProgress* progress, DataLayerErrorAlarm dataLayerErrorAlarm)
      : s_(WithBackupDirectoryOfThisRun(settings)),
        list_(list),
        clock_(clock),
        progress_(progress ? *progress : noProgress_),
        dataLayerErrorAlarm_(dataLayerErrorAlarm) {}

  RunSummary Execute();

 private:
  void FindDirectories();
  RunSummary Refuse(const RunLock& lock);
  RunSummary StopWhileWaiting();
  void StartAlarmOnce();
  void BackUpTable();
  void BackUpRows(DatabaseConnection& connection);
  int BackUpRow(CDBRecSet& rows, const std::string& server, const std::string& file);
  bool WillLabel(CDBRecSet& rows) const;
  ArchiveRow RowToPlace(CDBRecSet& rows, const std::string& server, const std::string& file);
  int FindRecording(const std::string& server, const std::string& file, bool& delivered);
  int FetchFile(const std::string& server, const std::string& file, bool& delivered);
  void AccountSteps();
  bool WasCutShortByOlderVersion(const std::string& file);
  int SetArchiveFlag(CDBRecSet& rows, const std::string& file, int status);
  void ShowResult(const std::string& server, const std::string& file, int status);
  void RunCommandAfterBackup();
  void TrimResultList();
  void EndRun();
  void Log(const std::string& text) { WriteLog(text, clock_); }

  // A copy: the backup directory is resolved once, for the whole run.
  const BackupSettings s_;
  ResultList& list_;
  platform::Clock& clock_;
  NoRunProgress noProgress_;
  RunProgress& progress_;
  DataLayerErrorAlarm dataLayerErrorAlarm_;
  ArchiveLabel label_;
  bool alarmStarted_ = false;
  RunSummary summary_;
  long logLostBefore_ = 0;
  RecordingArchive archive_{s_, clock_};
  // Placing and ending the rows, the archive's hashing and records included.
  std::chrono::nanoseconds placing_{0};
};

RunSummary Run::Execute() {
  logLostBefore_ = StartLogLossReport();
  RunLock lock(clock_);
  summary_.started = clock_.Now();
  if (lock.Stopped()) return StopWhileWaiting();
  if (!lock.Held()) return Refuse(lock);
  label_ = MakeArchiveLabel(s_, clock_);
  if (!label_.Fits() && s_.UpdateArchiveField != 0)
    Log("Archive label " + label_.text + " is longer than " +
        std::to_string(kMaxArchiveLabelLength) + " characters: no row is labelled");
  if (label_.Fits() && s_.UpdateArchiveField != 0) summary_.archiveLabel = label_.text;
  platform::SetCurrentDirectory(s_.DownloadPath);
  // What a killed run left in the staging folder is never complete.
  StagingFolder(s_.DownloadPath).Clear();
  FindDirectories();
  try {
    BackUpTable();
  } catch (const platform::OdbcError& error) {
    // Logged here, so the summary follows the error and a monitor sees the run cut short.
    Log("ERROR in database: " + std::string(error.what()));
    summary_.dataLayerError = true;
    if (dataLayerErrorAlarm_ == DataLayerErrorAlarm::kStart) StartAlarmOnce();
    EndRun();
    throw;
  }
  // A run cut short is not followed by the operator's command, which may expect a whole run.
  if (!summary_.stopped) RunCommandAfterBackup();
  TrimResultList();
  EndRun();
  return summary_;
}

void Run::FindDirectories() {
  if (archive_.Directories().backupIsDownload)
    Log("Backup directory is the download directory " + NativeDirectory(s_.DownloadPath) +
        ": recordings are not moved");
}

// Without its lock a run could overlap another one. Nobody may be watching and the log may be out
// of reach as well, so the refusal also goes to standard error, the progress and the alarm; the
// run writes neither its summary nor its metrics.
RunSummary Run::Refuse(const RunLock& lock) {
  summary_.refusal = "Backup run refused: " + lock.Failure();
  summary_.ended = summary_.started;
  std::fprintf(stderr, "qzbackup: %s\n", platform::EscapeControlBytes(summary_.refusal).c_str());
  Log(summary_.refusal);
  StartAlarmOnce();
  progress_.RunEnded(summary_);
  return summary_;
}

// Stopped while another run held the lock: it ends as a run stopped before its rows does.
RunSummary Run::StopWhileWaiting() {
  Log("Backup run stopped before all rows were done");
  summary_.stopped = true;
  EndRun();
  return summary_;
}

// The flag is set even when the number starts nothing: a run calls StartAlarm once at most.
void Run::StartAlarmOnce() {
  if (alarmStarted_) return;
  StartAlarm(s_.StartAlarmOnError);
  alarmStarted_ = true;
}

void Run::BackUpTable() {
  DatabaseConnection connection;
  if (connection.OpenConnection("DSN=" + s_.UseDSN + ";", DatabaseConnection::kNoOdbcDialog))
    BackUpRows(connection);
}

void Run::BackUpRows(DatabaseConnection& connection) {
  CDBRecSet rows(&connection);
  rows.OpenRows(CDBRecSet::kSnapshot, MakeBackupQuery(s_), CDBRecSet::kNone);
  summary_.selected = rows.RowCount();
  progress_.RunStarted(summary_.selected);
  if (s_.UpdateArchiveField != 0 && rows.IsUpdatable() && !rows.NamesRowsByKey() && !rows.IsAtEnd())
    Log("Table " + rows.TableName() +
        " has no primary key: each archive label compares every column and searches the "
        "whole table");
  while (!rows.IsAtEnd()) {
    if (StopRequested) {
      Log("Backup run stopped before all rows were done");
      summary_.stopped = true;
      break;
    }
    std::string server = rows.ReadColumnText(kServerNameColumn);
    std::string file = rows.ReadColumnText(kFileColumn);
    int status = BackUpRow(rows, server, file);
    ShowResult(server, file, status);
    // A download the operator ended is no fault to raise the alarm for.
    if (status < 1 && !CancelDownloads) StartAlarmOnce();
    rows.MoveToNext();
  }
  rows.CloseRows();
  connection.CloseConnection();
}

int Run::BackUpRow(CDBRecSet& rows, const std::string& server, const std::string& file) {
  clock_.Sleep(milliseconds(50));
  archive_.StartRow(RowToPlace(rows, server, file));
  // Whether a download of this row put the file in place, flushed.
  bool delivered = false;
  int status = FindRecording(server, file, delivered);
  clock_.Sleep(milliseconds(100));
  {
    platform::ScopeTimer timer(placing_);
    status = archive_.Place(status, delivered);
  }
  {
    platform::ScopeTimer timer(summary_.steps.label);
    status = SetArchiveFlag(rows, file, status);
  }
  {
    platform::ScopeTimer timer(placing_);
    archive_.EndRow(status);
  }
  clock_.Sleep(milliseconds(50));
  return status;
}

int Run::FindRecording(const std::string& server, const std::string& file, bool& delivered) {
  platform::ScopeTimer timer(summary_.steps.fetch);
  if (IsUnsafeFileName(file)) {
    Log("Invalid filename in DB: " + file);
    return kInvalidFileName;
  }
  if (archive_.WasPlacedByEndedRun()) return kBackedUp;
  if (std::optional<int> archived = archive_.CheckArchivedName()) return *archived;
  return FetchFile(server, file, delivered);
}

bool Run::WillLabel(CDBRecSet& rows) const {
  return s_.UpdateArchiveField != 0 && label_.Fits() && rows.IsUpdatable();
}

// Only a row about to be labelled is noted before its move and gets its checksum line.
ArchiveRow Run::RowToPlace(CDBRecSet& rows, const std::string& server, const std::string& file) {
  ArchiveRow row{server, file, {}, {}};
  if (!WillLabel(rows)) return row;
  if (archive_.Directories().movesFiles)
    row.pendingKey = PendingRowKey(server, file, rows.NamingValues());
  if (s_.WriteChecksumFile != 0) row.listLabel = label_.text;
  return row;
}

int Run::FetchFile(const std::string& server, const std::string& file, bool& delivered) {
  std::string localPath = InDirectory(s_.DownloadPath, file);
  if (!file.empty() && platform::PathExists(localPath) && !WasCutShortByOlderVersion(file) &&
      s_.DownloadIfFileAlreadyExists != 1)
    return kBackedUp;
  const int status = DownloadFile(s_, server, file, clock_);
  delivered = status == kBackedUp;
  return status;
}

// Versions before the staging folder downloaded in place and marked a download under way with
// "<name>.qzdownload": a file beside such a marker was left half written by a killed run. A listed
// file of the marker's name is a recording labelled before such names were refused, not a marker.
bool Run::WasCutShortByOlderVersion(const std::string& file) {
  const std::string markerName = file + std::string(kOldDownloadMarkerSuffix);
  std::string marker = InDirectory(s_.DownloadPath, markerName);
  if (!platform::PathExists(marker) || archive_.Lists(s_.DownloadPath, markerName)) return false;
  platform::DeleteFile(InDirectory(s_.DownloadPath, file));
  platform::DeleteFile(marker);
  return true;
}

int Run::SetArchiveFlag(CDBRecSet& rows, const std::string& file, int status) {
  if (s_.UpdateArchiveField == 0 || status <= 0) return status;
  if (!rows.IsUpdatable()) {
    Log("Can not set archive flag " + label_.text + " in DB for file " + file);
    return kArchiveFlagFailed;
  }
  // A label that does not fit is never shortened: a shortened one names another archive set.
  if (!label_.Fits() || !rows.UpdateArchive(label_.text)) {
    Log("Failed to set archive flag " + label_.text + " in DB for file " + file);
    // A refusal by the data source ends only this row; its text says why.
    if (label_.Fits() && !rows.LastUpdateFailure().empty())
      Log("Archive flag refused by the database: " + rows.LastUpdateFailure());
    return kArchiveFlagFailed;
  }
  return status;
}

void Run::ShowResult(const std::string& server, const std::string& file, int status) {
  ++summary_.rows;
  if (status < 1) {
    ++summary_.failed;
    ++summary_.failedByStatus[status];
  }
  list_.AddLine({server, file, StatusText(status), StatusImage(status)});
  progress_.RowDone(summary_.rows, summary_.selected, summary_.failed);
}

void Run::RunCommandAfterBackup() {
  const std::string& command = s_.StartCommandAfterBackup;
  if (command.empty()) return;
  platform::RunShellCommand(command);
  Log(FormatString(IDS_START_COMMAND, command));
}

void Run::TrimResultList() {
  for (int n = list_.CountLines(); n > s_.ShowMaxItems; --n) list_.DeleteLine(n - 1);
}

// The last line of every run, after the command and the stop line, then the metrics.
void Run::EndRun() {
  archive_.EndRun();
  AccountSteps();
  summary_.ended = clock_.Now();
  Log(FormatRunSummary(summary_));
  const LogLoss lost = LogLinesLost();
  summary_.logLinesLost = lost.lines - logLostBefore_;
  if (summary_.logLinesLost > 0) summary_.logLoss = lost.why;
  WriteRunMetrics(summary_);
  progress_.RunEnded(summary_);
}

// The archive's hashing and records happen inside placing; each is counted in one step.
void Run::AccountSteps() {
  RunSummary::StepTimes& steps = summary_.steps;
  steps.hashing = archive_.HashingTime();
  steps.records = archive_.RecordsTime();
  steps.placing = std::max(placing_ - steps.hashing - steps.records, std::chrono::nanoseconds{0});
}

}  // namespace

std::atomic<bool> StopRequested{false};

bool IsUnsafeFileName(const std::string& fileName) {
  return fileName == "." || fileName == ".." || IsToolFileName(fileName) ||
         fileName.find_first_of(std::string("/\\\0", 3)) != std::string::npos;
}

RunSummary RunBackup(const BackupSettings& settings, ResultList& list, platform::Clock& clock,
                     RunProgress* progress, DataLayerErrorAlarm dataLayerErrorAlarm) {
  return Run(settings, list, clock, progress, dataLayerErrorAlarm).Execute();
}

RunSummary OnAutoBackup(const BackupSettings& settings, ResultList& list, platform::Clock& clock,
                        RunProgress* progress, DataLayerErrorAlarm dataLayerErrorAlarm) {
  WriteLog("Started backup automatically", clock);
  return RunBackup(settings, list, clock, progress, dataLayerErrorAlarm);
}

}  // namespace qz
