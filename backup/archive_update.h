// Writes the archive label into one table row, found by values the snapshot read for it: the
// table's key where it has one, else every column. Positioned updates are not used: SQLSetPos
// needs a key and all columns bound on the SQLite driver, and WHERE CURRENT OF needs a live
// cursor, which a snapshot does not keep.
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

// Makes the session refuse a value too long for its column instead of storing it cut short, where
// the data source would otherwise cut it silently (MariaDB and MySQL outside their strict modes).
// SQLite keeps the whole text and PostgreSQL refuses it already.
void RefuseCutValues(platform::OdbcConnection& connection, RowLimiter limiter);

// `identifier` in the driver's quote character, doubled inside; a blank or empty quote: as is.
std::string QuotedIdentifier(std::string_view identifier, std::string_view quote);

// One column the UPDATE compares with its value as read.
struct MatchColumn {
  platform::OdbcColumn column;
  // Stays compared in every attempt: the key, ARCHIVE, SERVERNAME, FILE and text columns.
  // Other columns are left out when their values cannot be bound back.
  bool essential = true;
};

class ArchiveUpdate {
 public:
  // `table` is the table as the statement names it (qualified and quoted already); `archive`
  // the column that receives the label; `quote` the driver's identifier quote character.
  ArchiveUpdate(RowLimiter limiter, std::string quote, std::string table,
                platform::OdbcColumn archive, std::vector<MatchColumn> match);

  // UPDATE table SET ARCHIVE=? WHERE each match column equals its value in `values` (in match
  // order; IS NULL for NULL), every value a parameter, limited to one row. `essentialOnly`
  // leaves the other columns out.
  std::string StatementText(const RowValues& values, bool essentialOnly = false) const;

  // True when exactly one row now carries `label`; otherwise nothing was written. A label longer
  // than the column's size, or one the data source reports cut short, is refused. A statement
  // the data source refuses (a value read that it will not take back, say) is tried once more
  // with the essential columns only; a refusal then answers false with the driver's text in
  // `failure`. Only a failure of the connection itself raises platform::OdbcError.
  bool Write(platform::OdbcConnection& connection, const RowValues& values, std::string_view label,
             std::string* failure = nullptr) const;

 private:
  std::string Quoted(std::string_view identifier) const;
  std::string RowCondition(const RowValues& values, bool essentialOnly) const;
  bool FitsColumn(std::string_view label) const;
  bool HasNonEssentialColumns() const;
  long Execute(platform::OdbcConnection& connection, const RowValues& values,
               std::string_view label, bool essentialOnly) const;
  bool WriteOnce(platform::OdbcConnection& connection, const RowValues& values,
                 std::string_view label, bool essentialOnly) const;

  RowLimiter limiter_;
  std::string quote_;
  std::string table_;
  platform::OdbcColumn archive_;
  std::vector<MatchColumn> match_;
};

}  // namespace qz
