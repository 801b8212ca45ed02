// The outcome of one table row: the run's own failures, and what the archive answers when it is
// asked to place a row's recording.
#pragma once

namespace qz {

enum BackupStatus {
  kBackedUp = 1,
  kDownloadFailed = -1,
  kNoServerName = -2,
  kNoFileName = -3,
  kMoveFailed = -4,
  kArchiveFlagFailed = -5,
  kInvalidFileName = -6,
  kOtherRecordingArchived = -7,
};

}  // namespace qz
