#include "backup/backup_query.h"

#include <cstdio>

namespace qz {
namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
  int length = std::snprintf(nullptr, 0, format, args...);
  std::string text(static_cast<std::size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

}  // namespace

std::string MakeBackupQuery(const BackupSettings& settings) {
  const char* table = settings.GetDataFromTable.c_str();
  if (settings.BackupFromServerRange == 1) {
    return Format(
        "Select * from %s where SERVER>=%d and SERVER<=%d and ARCHIVE='' and "
        "TIMESTAMP<CURDATE()",
        table, settings.FirstServerNumber, settings.LastServerNumber);
  }
  return Format("Select * from %s where ARCHIVE='' and TIMESTAMP<CURDATE()", table);
}

std::string MakeVerifyQuery(const BackupSettings& settings) {
  const char* table = settings.GetDataFromTable.c_str();
  if (settings.BackupFromServerRange == 1) {
    return Format("Select * from %s where SERVER>=%d and SERVER<=%d and ARCHIVE=?", table,
                  settings.FirstServerNumber, settings.LastServerNumber);
  }
  return Format("Select * from %s where ARCHIVE=?", table);
}

}  // namespace qz
