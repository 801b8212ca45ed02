// The checksum files record what is archived. A file they list is never replaced by, or taken
// for, another recording of the same name: before a row touches such a file, its own recording is
// fetched into the staging folder and compared with it.
#pragma once

#include <optional>
#include <string>

#include "archive/archive_directories.h"
#include "archive/checksum_manifest.h"
#include "archive/directory_lock.h"
#include "config/backup_settings.h"
#include "platform/clock.h"

namespace qz {

class ArchivedNameGuard {
 public:
  ArchivedNameGuard(const BackupSettings& settings, const ArchiveDirectories& directories,
                    ChecksumManifests& manifests, DirectoryLock& lock, platform::Clock& clock)
      : s_(settings),
        directories_(directories),
        manifests_(manifests),
        lock_(lock),
        clock_(clock) {}

  // Nothing when no listed file stands under `file` in the archive folder: the row goes on as
  // ever. Otherwise the row's status: 1 when its recording is the archived one (it then stands in
  // the download directory), the failure of its download, or kOtherRecordingArchived, logged, with
  // the archived file untouched.
  std::optional<int> Check(const std::string& server, const std::string& file);

  // The row's recording is not the archived file of its name: logged, kOtherRecordingArchived.
  int RefuseRecording(const std::string& server, const std::string& file);

 private:
  bool IsArchived(const std::string& file, const std::string& archived);
  bool Digest(const std::string& path, std::string& digest);
  bool HasContentOf(const std::string& staged, const std::string& archived);
  int KeepRecording(const std::string& file);

  const BackupSettings& s_;
  const ArchiveDirectories& directories_;
  ChecksumManifests& manifests_;
  DirectoryLock& lock_;
  platform::Clock& clock_;
};

}  // namespace qz
