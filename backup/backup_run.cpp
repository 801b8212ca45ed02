#include "backup/backup_run.h"

#include <chrono>

#include "backup/archive_label.h"
#include "backup/backup_query.h"
#include "backup/backup_status.h"
#include "backup/database_connection.h"
#include "backup/db_rec_set.h"
#include "backup/run_lock.h"
#include "config/event_log.h"
#include "config/string_table.h"
#include "monitor/alarm.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "transfer/download_file.h"

namespace qz {
namespace {

using std::chrono::milliseconds;

constexpr int kServerNameColumn = 21;
constexpr int kFileColumn = 24;

std::string InDirectory(const std::string& directory, const std::string& fileName) {
  return directory + ".\\" + fileName;
}

std::string Native(const std::string& path) {
  return platform::NativePath(path);
}

class Run {
 public:
  Run(const BackupSettings& settings, ResultList& list, platform::Clock& clock)
      : s_(settings), list_(list), clock_(clock) {}

  RunSummary Execute();

 private:
  void BackUpRows(DatabaseConnection& connection);
  int BackUpRow(CDBRecSet& rows, const std::string& server, const std::string& file);
  int FetchFile(const std::string& server, const std::string& file);
  int MoveToBackupPath(const std::string& file, int status);
  int SetArchiveFlag(CDBRecSet& rows, const std::string& file, int status);
  void ShowResult(const std::string& server, const std::string& file, int status);
  void RunCommandAfterBackup();
  void TrimResultList();
  void Log(const std::string& text) { WriteLog(text, clock_); }

  const BackupSettings& s_;
  ResultList& list_;
  platform::Clock& clock_;
  ArchiveLabel label_;
  bool alarmStarted_ = false;
  bool stopped_ = false;
  RunSummary summary_;
};

RunSummary Run::Execute() {
  RunLock lock(clock_);
  label_ = MakeArchiveLabel(s_, clock_);
  if (!label_.Fits() && s_.UpdateArchiveField != 0)
    Log("Archive label " + label_.text + " is longer than " +
        std::to_string(kMaxArchiveLabelLength) + " characters: no row is labelled");
  platform::SetCurrentDirectory(s_.DownloadPath);
  {
    DatabaseConnection connection;
    if (connection.OpenConnection("DSN=" + s_.UseDSN + ";", DatabaseConnection::kNoOdbcDialog))
      BackUpRows(connection);
  }
  // A run cut short is not followed by the operator's command, which may expect a whole run.
  if (!stopped_) RunCommandAfterBackup();
  TrimResultList();
  return summary_;
}

void Run::BackUpRows(DatabaseConnection& connection) {
  CDBRecSet rows(&connection);
  rows.OpenRows(CDBRecSet::kSnapshot, MakeBackupQuery(s_), CDBRecSet::kNone);
  if (s_.UpdateArchiveField != 0 && rows.IsUpdatable() && !rows.NamesRowsByKey() && !rows.IsAtEnd())
    Log("Table " + rows.TableName() +
        " has no primary key: each archive label compares every column and searches the "
        "whole table");
  while (!rows.IsAtEnd()) {
    if (StopRequested) {
      Log("Backup run stopped before all rows were done");
      stopped_ = true;
      break;
    }
    std::string server = rows.ReadColumnText(kServerNameColumn);
    std::string file = rows.ReadColumnText(kFileColumn);
    int status = BackUpRow(rows, server, file);
    ShowResult(server, file, status);
    if (status < 1 && !alarmStarted_) {
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
  int status;
  if (IsUnsafeFileName(file)) {
    Log("Invalid filename in DB: " + file);
    status = kInvalidFileName;
  } else {
    status = FetchFile(server, file);
  }
  clock_.Sleep(milliseconds(100));
  status = MoveToBackupPath(file, status);
  status = SetArchiveFlag(rows, file, status);
  clock_.Sleep(milliseconds(50));
  return status;
}

int Run::FetchFile(const std::string& server, const std::string& file) {
  std::string localPath = InDirectory(s_.DownloadPath, file);
  // A file whose download marker still stands was left half written by a killed run.
  bool interrupted = platform::PathExists(InDirectory(s_.DownloadPath, DownloadMarkerName(file)));
  if (!file.empty() && platform::PathExists(localPath)) {
    if (interrupted) {
      platform::DeleteFile(localPath);
    } else if (s_.DownloadIfFileAlreadyExists != 1) {
      return kBackedUp;
    }
  }
  return DownloadFile(s_, server, file, clock_);
}

int Run::MoveToBackupPath(const std::string& file, int status) {
  std::string localPath = InDirectory(s_.DownloadPath, file);
  if (s_.MoveToBackupPath == 0 || status <= 0) {
    // The label below promises the file is safely stored, so it goes to disk first.
    if (status > 0) platform::SyncFile(localPath);
    return status;
  }
  std::string target = InDirectory(s_.BackupPath, file);
  if (platform::MoveFile(localPath, target)) {
    platform::SyncFile(target);
    return status;
  }
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
  if (status < 1) ++summary_.failed;
  list_.AddLine({server, file, StatusText(status), StatusImage(status)});
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

}  // namespace

std::atomic<bool> StopRequested{false};

bool IsUnsafeFileName(const std::string& fileName) {
  return fileName == "." || fileName == ".." ||
         fileName.find_first_of(std::string("/\\\0", 3)) != std::string::npos;
}

RunSummary RunBackup(const BackupSettings& settings, ResultList& list, platform::Clock& clock) {
  return Run(settings, list, clock).Execute();
}

RunSummary OnAutoBackup(const BackupSettings& settings, ResultList& list, platform::Clock& clock) {
  WriteLog("Started backup automatically", clock);
  return RunBackup(settings, list, clock);
}

void LogDataLayerError(const std::string& driverText) {
  WriteLog("ERROR in database: " + driverText);
}

}  // namespace qz
