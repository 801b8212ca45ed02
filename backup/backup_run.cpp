#include "backup/backup_run.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "backup/archive_directories.h"
#include "backup/archive_label.h"
#include "backup/archived_name_guard.h"
#include "backup/backup_query.h"
#include "backup/backup_status.h"
#include "backup/checksum_manifest.h"
#include "backup/database_connection.h"
#include "backup/db_rec_set.h"
#include "backup/pending_labels.h"
#include "backup/run_lock.h"
#include "backup/run_metrics.h"
#include "backup/tool_file_names.h"
#include "config/event_log.h"
#include "config/string_table.h"
#include "monitor/alarm.h"
#include "platform/control_bytes.h"
#include "platform/files.h"
#include "platform/odbc.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/sha256_file.h"
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

std::string Native(const std::string& path) {
  return platform::NativePath(path);
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
      RunProgress* progress)
      : s_(settings), list_(list), clock_(clock), progress_(progress ? *progress : noProgress_) {}

  RunSummary Execute();

 private:
  void FindDirectories();
  RunSummary Refuse(const RunLock& lock);
  void BackUpTable();
  void BackUpRows(DatabaseConnection& connection);
  int BackUpRow(CDBRecSet& rows, const std::string& server, const std::string& file);
  bool WillLabel(CDBRecSet& rows) const;
  bool WasMovedByEndedRun(const std::string& file);
  int FetchFile(const std::string& server, const std::string& file);
  bool WasCutShortByOlderVersion(const std::string& file);
  int MoveToBackupPath(const std::string& file, int status);
  void RecordPendingLabel(const std::string& localPath);
  int MoveFile(const std::string& localPath, const std::string& target, int status);
  bool Flush(const std::string& path);
  int WriteChecksumLine(CDBRecSet& rows, const std::string& file, int status);
  int SetArchiveFlag(CDBRecSet& rows, const std::string& file, int status);
  void ForgetPendingLabel(int status);
  void ShowResult(const std::string& server, const std::string& file, int status);
  void RunCommandAfterBackup();
  void TrimResultList();
  void EndRun();
  void Log(const std::string& text) { WriteLog(text, clock_); }

  const BackupSettings& s_;
  ResultList& list_;
  platform::Clock& clock_;
  NoRunProgress noProgress_;
  RunProgress& progress_;
  ArchiveLabel label_;
  bool alarmStarted_ = false;
  RunSummary summary_;
  long logLostBefore_ = 0;
  ChecksumManifests manifests_{clock_};
  ArchiveDirectories directories_;
  ArchivedNameGuard archivedNames_{s_, directories_, manifests_, clock_};
  PendingLabels pendingLabels_{clock_};
  // The row being backed up: its key among pending labels (empty when it is not to be moved and
  // labelled), its recording's digest once known, and whether an ended run had moved it already.
  struct RowState {
    std::string pendingKey;
    std::string digest;
    bool movedBefore = false;
    bool recorded = false;
  } row_;
};

RunSummary Run::Execute() {
  logLostBefore_ = StartLogLossReport();
  RunLock lock(clock_);
  summary_.started = clock_.Now();
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
  if (directories_.movesFiles) pendingLabels_.Load(s_.BackupPath);
  try {
    BackUpTable();
  } catch (const platform::OdbcError& error) {
    // Logged here, so the summary follows the error and a monitor sees the run cut short.
    Log("ERROR in database: " + std::string(error.what()));
    summary_.dataLayerError = true;
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
  directories_ = FindArchiveDirectories(s_);
  if (directories_.backupIsDownload)
    Log("Backup directory is the download directory " + NativeDirectory(s_.DownloadPath) +
        ": recordings are not moved");
}

// Without its lock a run could overlap another one. The log may be out of reach as well, so the
// refusal also goes to standard error; the run writes neither its summary nor its metrics.
RunSummary Run::Refuse(const RunLock& lock) {
  summary_.refusal = "Backup run refused: " + lock.Failure();
  summary_.ended = summary_.started;
  std::fprintf(stderr, "qzbackup: %s\n", platform::EscapeControlBytes(summary_.refusal).c_str());
  Log(summary_.refusal);
  return summary_;
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
    if (status < 1 && !alarmStarted_ && !CancelDownloads) {
      StartAlarm(s_.StartAlarmOnError);
      alarmStarted_ = true;
    }
    rows.MoveToNext();
  }
  rows.CloseRows();
  connection.CloseConnection();
}

int Run::BackUpRow(CDBRecSet& rows, const std::string& server, const std::string& file) {
  clock_.Sleep(milliseconds(50));
  row_ = {};
  if (directories_.movesFiles && WillLabel(rows))
    row_.pendingKey = PendingRowKey(server, file, rows.NamingValues());
  int status;
  if (IsUnsafeFileName(file)) {
    Log("Invalid filename in DB: " + file);
    status = kInvalidFileName;
  } else if (WasMovedByEndedRun(file)) {
    status = kBackedUp;
  } else if (std::optional<int> archived = archivedNames_.Check(server, file)) {
    status = *archived;
  } else {
    status = FetchFile(server, file);
  }
  clock_.Sleep(milliseconds(100));
  status = MoveToBackupPath(file, status);
  status = WriteChecksumLine(rows, file, status);
  status = SetArchiveFlag(rows, file, status);
  ForgetPendingLabel(status);
  clock_.Sleep(milliseconds(50));
  return status;
}

bool Run::WillLabel(CDBRecSet& rows) const {
  return s_.UpdateArchiveField != 0 && label_.Fits() && rows.IsUpdatable();
}

// A run ended after moving this row's recording and before labelling the row: the moved file is
// the recording while it has the digest noted before the move. A copy of the name still in the
// download directory goes the usual way (the move was cut short before its source was deleted).
bool Run::WasMovedByEndedRun(const std::string& file) {
  if (row_.pendingKey.empty()) return false;
  std::optional<std::string> digest = pendingLabels_.DigestOf(row_.pendingKey);
  if (!digest || platform::PathExists(InDirectory(s_.DownloadPath, file))) return false;
  const std::string moved = Native(InDirectory(s_.BackupPath, file));
  std::string found;
  if (!platform::Sha256OfFile(moved, found) || found != *digest) {
    pendingLabels_.Remove(row_.pendingKey);
    return false;
  }
  Log("File moved by an ended run found in the backup directory: " + moved);
  row_.digest = found;
  row_.movedBefore = row_.recorded = true;
  return true;
}

int Run::FetchFile(const std::string& server, const std::string& file) {
  std::string localPath = InDirectory(s_.DownloadPath, file);
  if (!file.empty() && platform::PathExists(localPath) && !WasCutShortByOlderVersion(file) &&
      s_.DownloadIfFileAlreadyExists != 1)
    return kBackedUp;
  return DownloadFile(s_, server, file, clock_);
}

// Versions before the staging folder downloaded in place and marked a download under way with
// "<name>.qzdownload": a file beside such a marker was left half written by a killed run. A listed
// file of the marker's name is a recording labelled before such names were refused, not a marker.
bool Run::WasCutShortByOlderVersion(const std::string& file) {
  const std::string markerName = file + std::string(kOldDownloadMarkerSuffix);
  std::string marker = InDirectory(s_.DownloadPath, markerName);
  if (!platform::PathExists(marker) || manifests_.Lists(s_.DownloadPath, markerName)) return false;
  platform::DeleteFile(InDirectory(s_.DownloadPath, file));
  platform::DeleteFile(marker);
  return true;
}

int Run::MoveToBackupPath(const std::string& file, int status) {
  std::string localPath = InDirectory(s_.DownloadPath, file);
  if (!directories_.movesFiles || status <= 0) {
    // The label below promises the file is safely stored, so it goes to disk first.
    if (status > 0 && !Flush(localPath)) return kDownloadFailed;
    return status;
  }
  std::string target = InDirectory(s_.BackupPath, file);
  if (row_.movedBefore) return Flush(target) ? status : kMoveFailed;
  if (!row_.pendingKey.empty()) RecordPendingLabel(localPath);
  return MoveFile(localPath, target, status);
}

// Before the only copy leaves the download directory, its row is noted with the file's digest,
// so a run ended before the label leaves a row the next run can still label. Without the note the
// row goes on as ever: a file that cannot be read fails its move or flush, which say why, and the
// note's own failure is logged.
void Run::RecordPendingLabel(const std::string& localPath) {
  if (!platform::Sha256OfFile(Native(localPath), row_.digest)) {
    row_.digest.clear();
    return;
  }
  row_.recorded = pendingLabels_.Add(row_.pendingKey, row_.digest);
}

int Run::MoveFile(const std::string& localPath, const std::string& target, int status) {
  if (platform::MoveFile(localPath, target)) return Flush(target) ? status : kMoveFailed;
  Log("ERROR moving file: " + Native(localPath) + " to " + Native(target) +
      "  Error:" + std::to_string(platform::LastError()));
  // CopyFile has flushed the copy to disk before the source is deleted.
  if (!platform::CopyFile(localPath, target, false)) {
    Log("ERROR copy file: " + Native(localPath) + " to " + Native(target) +
        "  Error:" + std::to_string(platform::LastError()));
    return kMoveFailed;
  }
  if (!platform::DeleteFile(localPath))
    Log("ERROR delete source file: " + Native(localPath) +
        "  Error:" + std::to_string(platform::LastError()));
  return status;
}

// A file that cannot be flushed to disk is not safely stored, and its row is not labelled.
bool Run::Flush(const std::string& path) {
  if (platform::SyncFile(path)) return true;
  Log("ERROR flushing file: " + Native(path) + "  Error:" + std::to_string(platform::LastError()));
  return false;
}

// Only a row about to be labelled gets its line: the label promises the file and its line.
int Run::WriteChecksumLine(CDBRecSet& rows, const std::string& file, int status) {
  if (s_.WriteChecksumFile == 0 || s_.UpdateArchiveField == 0 || status <= 0 || !label_.Fits() ||
      !rows.IsUpdatable())
    return status;
  const bool added =
      row_.digest.empty()
          ? manifests_.AddRecording(directories_.archive, label_.text, file)
          : manifests_.AddRecording(directories_.archive, label_.text, file, row_.digest);
  if (added) return status;
  Log("Failed to set archive flag " + label_.text + " in DB for file " + file);
  return kArchiveFlagFailed;
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

// A row left unlabelled stays noted: its recording is in the backup directory now.
void Run::ForgetPendingLabel(int status) {
  if (row_.recorded && status > 0) pendingLabels_.Remove(row_.pendingKey);
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
  summary_.ended = clock_.Now();
  Log(FormatRunSummary(summary_));
  const LogLoss lost = LogLinesLost();
  summary_.logLinesLost = lost.lines - logLostBefore_;
  if (summary_.logLinesLost > 0) summary_.logLoss = lost.why;
  WriteRunMetrics(summary_);
  progress_.RunEnded(summary_);
}

}  // namespace

std::atomic<bool> StopRequested{false};

bool IsUnsafeFileName(const std::string& fileName) {
  return fileName == "." || fileName == ".." || IsToolFileName(fileName) ||
         fileName.find_first_of(std::string("/\\\0", 3)) != std::string::npos;
}

RunSummary RunBackup(const BackupSettings& settings, ResultList& list, platform::Clock& clock,
                     RunProgress* progress) {
  return Run(settings, list, clock, progress).Execute();
}

RunSummary OnAutoBackup(const BackupSettings& settings, ResultList& list, platform::Clock& clock,
                        RunProgress* progress) {
  WriteLog("Started backup automatically", clock);
  return RunBackup(settings, list, clock, progress);
}

}  // namespace qz
