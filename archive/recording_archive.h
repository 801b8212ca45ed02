// The archive folder of one run: the run asks it to place one row's recording there and gets the
// row's status back. It moves the file, lists it in the checksum file and notes the row until its
// label is written; what the folder records is read and changed under the folder's lock, from the
// files as they stand, so installations sharing the folder never replace, mislabel or forget each
// other's recordings. The lock is held while one recording is placed, never across a download.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "archive/archive_directories.h"
#include "archive/archived_name_guard.h"
#include "archive/checksum_manifest.h"
#include "archive/directory_lock.h"
#include "archive/pending_labels.h"
#include "config/backup_settings.h"
#include "platform/clock.h"

namespace qz {

// One row as the archive needs it.
struct ArchiveRow {
  std::string server;
  std::string file;
  // Names the row among those awaiting their label; empty when it will not be labelled.
  std::string pendingKey;
  // The label whose checksum file lists the recording; empty: no checksum line.
  std::string listLabel;
};

class RecordingArchive {
 public:
  RecordingArchive(const BackupSettings& settings, platform::Clock& clock);
  RecordingArchive(const RecordingArchive&) = delete;
  RecordingArchive& operator=(const RecordingArchive&) = delete;

  const ArchiveDirectories& Directories() const { return directories_; }
  // Whether a checksum file of `directory` lists `fileName`.
  bool Lists(std::string_view directory, const std::string& fileName);

  // The row the next calls are about.
  void StartRow(ArchiveRow row);
  // A run ended after moving this row's recording and before its label: true while the moved
  // file has the digest noted for the row before the move; the row then needs no download.
  bool WasPlacedByEndedRun();
  // Before a download: nothing when no listed file stands under the row's name, else the row's
  // status (see ArchivedNameGuard).
  std::optional<int> CheckArchivedName();
  // After the download, with its status: a status above 0 means the recording stands in the
  // download directory (or was placed by an ended run); `delivered`: a download of this row put
  // it there, its content already flushed. Makes it durable, moves it into the backup directory
  // when files move there, and lists it; the row's new status.
  int Place(int status, bool delivered);
  // After the label: a labelled row is no longer noted.
  void EndRow(int status);
  // After the last row.
  void EndRun();

  // Time spent so far reading recordings for their digests, and writing the checksum lines and
  // the notes.
  std::chrono::nanoseconds HashingTime() const { return hashing_; }
  std::chrono::nanoseconds RecordsTime() const { return records_; }

 private:
  int PlaceInBackupDirectory(const std::string& localPath, const std::string& target, int status);
  std::optional<int> DecideOnStandingFile(const std::string& localPath, const std::string& target);
  bool LocalDigest(const std::string& localPath);
  bool Digest(const std::string& path, std::string& digest);
  void NoteRow(const std::string& localPath);
  int MoveFile(const std::string& localPath, const std::string& target, int status);
  bool Flush(const std::string& path);
  bool FlushDirectory(const std::string& directory);
  int WriteChecksumLine(int status);
  void Log(const std::string& text);

  const BackupSettings& s_;
  platform::Clock& clock_;
  ArchiveDirectories directories_;
  ChecksumManifests manifests_;
  DirectoryLock lock_;
  ArchivedNameGuard guard_;
  PendingLabels pendingLabels_;
  ArchiveRow row_;
  // The recording's digest once known, whether an ended run had moved it, and whether the row
  // is noted as awaiting its label.
  std::string digest_;
  bool movedBefore_ = false;
  bool noted_ = false;
  // The recording's content is on disk (a download flushed it before naming it).
  bool flushed_ = false;
  bool notedThisRun_ = false;
  std::chrono::nanoseconds hashing_{0};
  std::chrono::nanoseconds records_{0};
};

}  // namespace qz
