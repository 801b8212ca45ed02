#include "config/string_table.h"

#include <map>

namespace qz {

std::string LoadString(int id) {
  static const std::map<int, const char*> table = {
      {IDS_ABOUTBOX, "Inf&o über qzbackup..."},
      {IDS_COL_SERVER, "Server"},
      {IDS_COL_FILENAME, "Filename"},
      {IDS_COL_STATUS, "Status"},
      {IDS_DOWNLOAD_FAILED, "Failed to download file"},
      {IDS_BACKUP_OK, "Backup of file successfull"},
      {IDS_NO_SERVERNAME, "No servername defined in DB"},
      {IDS_NO_FILENAME, "No filename defined in DB"},
      {IDS_ERROR, "Error"},
      {IDS_CREATE_DIR_FAILED, "Failed to create download directory %1 !"},
      {IDS_START_COMMAND, "Start command: %1"},
      {IDS_MOVE_FAILED, "Move to backup directory failed!"},
      {IDS_ARCHIVE_FLAG_FAILED, "Failed to set archive flag in DB!"},
      {IDS_INVALID_FILENAME, "Invalid filename in DB"},
      {IDS_OTHER_RECORDING_ARCHIVED, "Another recording of this name is already archived"},
  };
  auto it = table.find(id);
  return it == table.end() ? std::string() : std::string(it->second);
}

std::string FormatString(int id, std::string_view insert) {
  std::string text = LoadString(id);
  if (auto at = text.find("%1"); at != std::string::npos) text.replace(at, 2, insert);
  return text;
}

}  // namespace qz
