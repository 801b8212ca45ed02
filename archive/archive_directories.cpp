#include "archive/archive_directories.h"

#include "platform/files.h"
#include "platform/paths.h"

namespace qz {
namespace {

bool BackupIsDownloadDirectory(const BackupSettings& s) {
  if (s.BackupPath.empty()) return true;
  return platform::NativeDirectoryPath(s.BackupPath) ==
             platform::NativeDirectoryPath(s.DownloadPath) ||
         platform::IsSameDirectory(s.BackupPath, s.DownloadPath);
}

}  // namespace

ArchiveDirectories FindArchiveDirectories(const BackupSettings& settings) {
  ArchiveDirectories directories;
  if (settings.MoveToBackupPath != 0) {
    directories.backupIsDownload = BackupIsDownloadDirectory(settings);
    directories.movesFiles = !directories.backupIsDownload;
  }
  directories.archive = directories.movesFiles ? settings.BackupPath : settings.DownloadPath;
  return directories;
}

}  // namespace qz
