// The outcome of one table row, and what the result list shows for it.
#pragma once

#include <string>

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

// The string-table text of a status.
std::string StatusText(int status);

// Image 0 (green tick) for a backed-up row, image 1 (red disc) for every failure.
int StatusImage(int status);

}  // namespace qz
