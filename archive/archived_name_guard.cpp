#include "archive/archived_name_guard.h"

#include <cerrno>

#include "archive/row_status.h"
#include "config/event_log.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/sha256_file.h"
#include "transfer/download_file.h"
#include "transfer/staging_folder.h"

namespace qz {

std::optional<int> ArchivedNameGuard::Check(const std::string& server, const std::string& file) {
  const std::string archived = platform::PathInDirectory(directories_.archive, file);
  if (file.empty() || !IsArchived(file, archived)) return std::nullopt;
  const int status = DownloadFileToStaging(s_, server, file, clock_);
  if (status != kBackedUp) return status;
  const std::string staged = platform::PathInDirectory(StagingFolder(s_.DownloadPath).Path(), file);
  if (!HasContentOf(staged, archived)) return RefuseRecording(server, file);
  return KeepRecording(file);
}

// Read as the checksum files stand: another installation may have listed the name since.
bool ArchivedNameGuard::IsArchived(const std::string& file, const std::string& archived) {
  if (!platform::PathExists(archived)) return false;
  DirectoryLockHold hold(lock_);
  manifests_.Refresh(directories_.archive, true);
  return manifests_.Lists(directories_.archive, file);
}

bool ArchivedNameGuard::Digest(const std::string& path, std::string& digest) {
  if (platform::Sha256OfFile(path, digest)) return true;
  WriteLog("ERROR reading file for checksum: " + path + "  Error:" + std::to_string(errno), clock_);
  return false;
}

// An archived file that cannot be read is never taken for the same recording.
bool ArchivedNameGuard::HasContentOf(const std::string& staged, const std::string& archived) {
  std::string stagedDigest, archivedDigest;
  return Digest(staged, stagedDigest) && Digest(archived, archivedDigest) &&
         stagedDigest == archivedDigest;
}

// The same recording: kept in the download directory when it moves on from there, as if
// downloaded; else the archived file is the download.
int ArchivedNameGuard::KeepRecording(const std::string& file) {
  StagingFolder staging(s_.DownloadPath);
  bool kept = !directories_.movesFiles || staging.Deliver(file);
  if (!kept)
    WriteLog("ERROR moving file: " + platform::PathInDirectory(staging.Path(), file) + " to " +
                 platform::PathInDirectory(s_.DownloadPath, file) +
                 "  Error:" + std::to_string(platform::LastError()),
             clock_);
  staging.Clear();
  return kept ? kBackedUp : kDownloadFailed;
}

int ArchivedNameGuard::RefuseRecording(const std::string& server, const std::string& file) {
  const std::string archived = platform::PathInDirectory(directories_.archive, file);
  StagingFolder(s_.DownloadPath).Clear();
  WriteLog("Another recording of this name is already archived: " + archived + " kept, " + file +
               " of server " + server + " not backed up",
           clock_);
  return kOtherRecordingArchived;
}

}  // namespace qz
