// Writes the archive label into one table row, found by the values the snapshot read for it.
// Positioned updates are not used: SQLSetPos needs a key and all columns bound on the SQLite
// driver, and WHERE CURRENT OF needs a live cursor, which a snapshot does not keep.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/odbc.h"

namespace qz {

using RowValues = std::vector<std::optional<std::string>>;

// How the UPDATE is kept to one of several equal rows.
enum class RowLimiter {
  kRowid,        // SQLite: rowid=(SELECT rowid ... LIMIT 1)
  kLimit,        // MariaDB, MySQL: UPDATE ... LIMIT 1
  kCtid,         // PostgreSQL: ctid=(SELECT ctid ... LIMIT 1)
  kTransaction,  // anything else: roll back unless exactly one row changed
};

// Chosen by the driver's SQL_DBMS_NAME.
RowLimiter RowLimiterFor(std::string_view dbmsName);

class ArchiveUpdate {
 public:
  // `columns` describe the snapshot's row in order; `archivePosition` is the ARCHIVE column.
  // `quote` is the driver's identifier quote character (a blank: none).
  ArchiveUpdate(RowLimiter limiter, std::string quote, std::string table,
                std::vector<platform::OdbcColumn> columns, int archivePosition);

  // UPDATE table SET ARCHIVE=? WHERE every column equals its value in `row` (IS NULL for NULL),
  // every value a parameter, limited to one row.
  std::string StatementText(const RowValues& row) const;

  // True when exactly one row now carries `label`; otherwise nothing was written.
  bool Write(platform::OdbcConnection& connection, const RowValues& row,
             std::string_view label) const;

 private:
  std::string Quoted(std::string_view identifier) const;
  std::string RowCondition(const RowValues& row) const;
  long Execute(platform::OdbcConnection& connection, const RowValues& row,
               std::string_view label) const;
  bool WriteInTransaction(platform::OdbcConnection& connection, const RowValues& row,
                          std::string_view label) const;

  RowLimiter limiter_;
  std::string quote_;
  std::string table_;
  std::vector<platform::OdbcColumn> columns_;
  int archivePosition_;
};

}  // namespace qz
