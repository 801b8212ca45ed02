// Where a run keeps the recordings it backs up: the backup directory when they are moved there,
// else the download directory.
#pragma once

#include <string>

#include "config/backup_settings.h"

namespace qz {

struct ArchiveDirectories {
  // MoveToBackupPath is on and the backup directory is another folder than the download directory.
  bool movesFiles = false;
  // MoveToBackupPath is on but names the download directory itself: a move there would be a move
  // of each file onto itself, so nothing is moved.
  bool backupIsDownload = false;
  // The folder that keeps the archive, whose checksum files record it.
  std::string archive;
};

// An empty BackupPath names the download directory (the run's working directory). Otherwise the
// two are one folder when they map to the same path or stand for the same directory (the same
// device and inode, as through a link).
ArchiveDirectories FindArchiveDirectories(const BackupSettings& settings);

}  // namespace qz
