// The settings the main window holds, one field per key of section "Config". Texts are kept whole:
// a path, a command or a query shortened in silence would name something else.
#pragma once

#include <string>

namespace qz {

inline constexpr const char* kIniFile = "qzbackup.ini";

struct BackupSettings {
  int DownloadTransferRateKbs = 0;  // bytes per second once loaded (key value x 1024 when > 0)
  int DownloadIfFileAlreadyExists = 0;
  int ShowMaxItems = 0;
  int MaxArchiveCount = 0;
  int ArchiveFlagType = 0;
  int LastServerNumber = 0;
  int FirstServerNumber = 0;
  int BackupFromServerRange = 0;
  int UpdateArchiveField = 0;
  std::string ArchivePrefixForDBEntry;
  int StartAlarmOnError = 0;
  std::string BackupPath;
  int MoveToBackupPath = 0;
  std::string StartCommandAfterBackup;
  std::string DownloadPath;
  std::string GetDataFromTable;
  std::string UseDSN;
  std::string WebDocDir;
  int WriteChecksumFile = 1;            // read, never written back: older files stay as they are
  std::string DownloadScheme = "http";  // "http" or "https"; read, never written back
};

}  // namespace qz
