// The string table of the resources. The backup run shows its texts in the result list, so the
// table lives below the window layer.
#pragma once

#include <string>
#include <string_view>

namespace qz {

enum StringId {
  IDS_ABOUTBOX = 101,
  IDS_COL_SERVER = 102,
  IDS_COL_FILENAME = 103,
  IDS_COL_STATUS = 104,
  IDS_DOWNLOAD_FAILED = 105,
  IDS_BACKUP_OK = 106,
  IDS_NO_SERVERNAME = 107,
  IDS_NO_FILENAME = 108,
  IDS_ERROR = 109,
  IDS_CREATE_DIR_FAILED = 110,
  IDS_START_COMMAND = 111,
  IDS_MOVE_FAILED = 112,
  IDS_ARCHIVE_FLAG_FAILED = 113,
  IDS_INVALID_FILENAME = 114,
  IDS_OTHER_RECORDING_ARCHIVED = 115,
};

// The text of `id`, or the empty text for an unknown id.
std::string LoadString(int id);

// The text of `id` with "%1" replaced by `insert`.
std::string FormatString(int id, std::string_view insert);

}  // namespace qz
