#include "archive/recording_archive.h"

#include "archive/row_status.h"
#include "config/event_log.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/scope_timer.h"
#include "platform/sha256_file.h"

namespace qz {
namespace {

std::string Native(const std::string& path) {
  return platform::NativePath(path);
}

}  // namespace

RecordingArchive::RecordingArchive(const BackupSettings& settings, platform::Clock& clock)
    : s_(settings),
      clock_(clock),
      directories_(FindArchiveDirectories(settings)),
      manifests_(clock),
      // Only a backup directory is shared: a download directory's staging folder is cleared by
      // every run of its one installation.
      lock_(directories_.movesFiles ? settings.BackupPath : std::string(), clock),
      guard_(settings, directories_, manifests_, lock_, clock),
      pendingLabels_(clock) {
  if (directories_.movesFiles) pendingLabels_.Use(settings.BackupPath);
}

bool RecordingArchive::Lists(std::string_view directory, const std::string& fileName) {
  return manifests_.Lists(directory, fileName);
}

void RecordingArchive::StartRow(ArchiveRow row) {
  row_ = std::move(row);
  digest_.clear();
  movedBefore_ = noted_ = flushed_ = false;
}

// A copy of the name still in the download directory goes the usual way (the move was cut short
// before its source was deleted).
bool RecordingArchive::WasPlacedByEndedRun() {
  if (row_.pendingKey.empty()) return false;
  DirectoryLockHold hold(lock_);
  if (!hold.Held()) return false;
  std::optional<std::string> digest = pendingLabels_.DigestOf(row_.pendingKey);
  if (!digest || platform::PathExists(platform::PathInDirectory(s_.DownloadPath, row_.file)))
    return false;
  const std::string moved = Native(platform::PathInDirectory(s_.BackupPath, row_.file));
  std::string found;
  if (!Digest(moved, found) || found != *digest) {
    pendingLabels_.Remove(row_.pendingKey);
    return false;
  }
  Log("File moved by an ended run found in the backup directory: " + moved);
  digest_ = found;
  movedBefore_ = noted_ = true;
  return true;
}

std::optional<int> RecordingArchive::CheckArchivedName() {
  return guard_.Check(row_.server, row_.file);
}

int RecordingArchive::Place(int status, bool delivered) {
  const std::string localPath = platform::PathInDirectory(s_.DownloadPath, row_.file);
  if (status <= 0) return status;
  flushed_ = delivered;
  if (!directories_.movesFiles) {
    // The label below promises the file is safely stored: its content and its name in the
    // download directory go to disk first.
    if (!(flushed_ || Flush(localPath)) || !FlushDirectory(s_.DownloadPath)) return kDownloadFailed;
    return WriteChecksumLine(status);
  }
  const std::string target = platform::PathInDirectory(s_.BackupPath, row_.file);
  if (movedBefore_) {
    // Moved by a run that may have ended before it flushed anything.
    if (!Flush(target) || !FlushDirectory(s_.BackupPath)) return kMoveFailed;
    DirectoryLockHold hold(lock_);
    return hold.Held() ? WriteChecksumLine(status) : kMoveFailed;
  }
  // Read before the lock: hashing a long recording is the slow part of placing it.
  if (!row_.pendingKey.empty() && !LocalDigest(localPath)) digest_.clear();
  DirectoryLockHold hold(lock_);
  if (!hold.Held()) return kMoveFailed;
  return PlaceInBackupDirectory(localPath, target, status);
}

int RecordingArchive::PlaceInBackupDirectory(const std::string& localPath,
                                             const std::string& target, int status) {
  const bool standing = platform::PathExists(target);
  // Only a name already taken needs the directory listed for checksum files made meanwhile.
  manifests_.Refresh(s_.BackupPath, standing);
  if (standing) {
    if (std::optional<int> decided = DecideOnStandingFile(localPath, target)) return *decided;
  }
  NoteRow(localPath);
  return WriteChecksumLine(MoveFile(localPath, target, status));
}

// A file already under the row's name: the same recording stays as it is and serves the row; a
// listed one, or one moved for a row still awaiting its label, is never replaced. Nothing when
// the file is neither, and the copy over it goes ahead.
std::optional<int> RecordingArchive::DecideOnStandingFile(const std::string& localPath,
                                                          const std::string& target) {
  std::string standing;
  if (!Digest(Native(target), standing) || !LocalDigest(localPath)) {
    Log("ERROR reading file for checksum: " + Native(target) +
        "  Error:" + std::to_string(platform::LastError()));
    return kMoveFailed;
  }
  if (standing == digest_) {
    NoteRow(localPath);
    // Another run may have placed it and ended before flushing; it is the only copy once the
    // download is deleted.
    if (!Flush(target) || !FlushDirectory(s_.BackupPath)) return kMoveFailed;
    platform::DeleteFile(localPath);
    return WriteChecksumLine(kBackedUp);
  }
  if (!manifests_.Lists(s_.BackupPath, row_.file) &&
      !pendingLabels_.NotesDigest(standing, row_.pendingKey))
    return std::nullopt;
  platform::DeleteFile(localPath);
  return guard_.RefuseRecording(row_.server, row_.file);
}

bool RecordingArchive::LocalDigest(const std::string& localPath) {
  return !digest_.empty() || Digest(Native(localPath), digest_);
}

bool RecordingArchive::Digest(const std::string& path, std::string& digest) {
  platform::ScopeTimer timer(hashing_);
  return platform::Sha256OfFile(path, digest);
}

// Before the only copy leaves the download directory, its row is noted with the file's digest,
// so a run ended before the label leaves a row the next run can still label. Without the note the
// row goes on as ever: a file that cannot be read fails its move or flush, which say why, and the
// note's own failure is logged.
void RecordingArchive::NoteRow(const std::string& localPath) {
  if (row_.pendingKey.empty() || !LocalDigest(localPath)) return;
  platform::ScopeTimer timer(records_);
  noted_ = pendingLabels_.Add(row_.pendingKey, digest_);
  notedThisRun_ = true;
}

// The download directory is not flushed after the move: nothing depends on the name leaving it,
// and a journalling file system commits both names of a rename together.
int RecordingArchive::MoveFile(const std::string& localPath, const std::string& target,
                               int status) {
  // The move flushes the backup directory, once: the label, and a later run's rescue of the row,
  // rely on the name in it. A download flushed the content before naming it; a file found in the
  // download directory is flushed where it now stands, before the label.
  if (platform::MoveFile(localPath, target))
    return flushed_ || Flush(target) ? status : kMoveFailed;
  Log("ERROR moving file: " + Native(localPath) + " to " + Native(target) +
      "  Error:" + std::to_string(platform::LastError()));
  // CopyFile has flushed the copy's content before naming it; its name is flushed before the
  // source goes.
  if (!platform::CopyFile(localPath, target, false) || !FlushDirectory(s_.BackupPath)) {
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
bool RecordingArchive::Flush(const std::string& path) {
  if (platform::SyncFile(path)) return true;
  Log("ERROR flushing file: " + Native(path) + "  Error:" + std::to_string(platform::LastError()));
  return false;
}

bool RecordingArchive::FlushDirectory(const std::string& directory) {
  if (platform::SyncDirectory(directory)) return true;
  Log("ERROR flushing directory: " + NativeDirectory(directory) +
      "  Error:" + std::to_string(platform::LastError()));
  return false;
}

// Only a row about to be labelled gets its line: the label promises the file and its line.
int RecordingArchive::WriteChecksumLine(int status) {
  if (status <= 0 || row_.listLabel.empty()) return status;
  // Read where it now stands when the row needed no digest before; a failure is logged below.
  if (digest_.empty() &&
      !Digest(Native(platform::PathInDirectory(directories_.archive, row_.file)), digest_))
    digest_.clear();
  platform::ScopeTimer timer(records_);
  const bool added =
      digest_.empty()
          ? manifests_.AddRecording(directories_.archive, row_.listLabel, row_.file)
          : manifests_.AddRecording(directories_.archive, row_.listLabel, row_.file, digest_);
  if (added) return status;
  Log("Failed to set archive flag " + row_.listLabel + " in DB for file " + row_.file);
  return kArchiveFlagFailed;
}

// A row left unlabelled stays noted: its recording is in the backup directory now. A labelled
// row's note goes without a flush (see PendingLabels::Remove).
void RecordingArchive::EndRow(int status) {
  if (!noted_ || status <= 0) return;
  platform::ScopeTimer timer(records_);
  DirectoryLockHold hold(lock_);
  if (hold.Held()) pendingLabels_.Remove(row_.pendingKey);
}

void RecordingArchive::EndRun() {
  if (!notedThisRun_) return;
  DirectoryLockHold hold(lock_);
  if (hold.Held()) pendingLabels_.RemoveIfEmpty();
}

void RecordingArchive::Log(const std::string& text) {
  WriteLog(text, clock_);
}

}  // namespace qz
