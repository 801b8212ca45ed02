#include "backup/backup_status.h"

#include "backup/result_list.h"
#include "config/string_table.h"

namespace qz {

std::string StatusText(int status) {
  switch (status) {
    case kBackedUp:
      return LoadString(IDS_BACKUP_OK);
    case kDownloadFailed:
      return LoadString(IDS_DOWNLOAD_FAILED);
    case kNoServerName:
      return LoadString(IDS_NO_SERVERNAME);
    case kNoFileName:
      return LoadString(IDS_NO_FILENAME);
    case kMoveFailed:
      return LoadString(IDS_MOVE_FAILED);
    case kArchiveFlagFailed:
      return LoadString(IDS_ARCHIVE_FLAG_FAILED);
    case kInvalidFileName:
      return LoadString(IDS_INVALID_FILENAME);
    case kOtherRecordingArchived:
      return LoadString(IDS_OTHER_RECORDING_ARCHIVED);
  }
  return {};
}

int StatusImage(int status) {
  return status == kBackedUp ? kImageOk : kImageFailed;
}

}  // namespace qz
