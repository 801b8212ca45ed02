// The recordings table as the run sees it: the rows of one SELECT, read into memory when opened
// (a static snapshot), walked forward, with the ARCHIVE column of the current row writable. The
// snapshot keeps of each row only what the run and the label need: SERVERNAME and FILE, and the
// columns that name the row (the table's key and ARCHIVE, or every column of a table without one).
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/archive_update.h"
#include "backup/database_connection.h"
#include "backup/row_snapshot.h"
#include "platform/odbc.h"

namespace qz {

class CDBRecSet {
 public:
  // Open types and options in the framework's numbering. Only the snapshot is offered.
  static constexpr int kSnapshot = 1;
  static constexpr int kNone = 0;
  static constexpr int kReadOnly = 0x4;
  static constexpr int kFieldCount = 27;

  // Reads through `connection`, which must stay open while rows are open; it is not owned.
  explicit CDBRecSet(DatabaseConnection* connection);
  CDBRecSet(const CDBRecSet&) = delete;
  CDBRecSet& operator=(const CDBRecSet&) = delete;

  std::string DefaultConnect() const { return "ODBC;DSN=qz_data;"; }
  std::string DefaultQuery() const { return "qz_data"; }

  // Runs `query` and reads every row once, keeping NULL apart from the empty text. A query the
  // data source refuses, or one with fewer than 27 columns, raises platform::OdbcError.
  void OpenRows(int openType, std::string_view query, int options);
  bool IsOpen() const { return open_; }
  bool IsAtEnd() const;
  // The number of rows in the snapshot.
  std::size_t RowCount() const { return snapshot_.RowCount(); }
  // The current row's value at zero-based `position` when it is text; the empty text when it is
  // NULL or of another type. std::logic_error for a column the snapshot does not keep.
  std::string ReadColumnText(int position) const;
  // Decided at OpenRows: updatable when neither the options nor the connection are read-only and
  // every column comes from one and the same base table, so that the row can be named.
  bool IsUpdatable() const { return archiveUpdate_.has_value(); }
  // Whether the label names its row by the table's key; without one it compares every column.
  bool NamesRowsByKey() const { return !keyPositions_.empty(); }
  // The table the label is written to, as a log line names it; empty when not updatable.
  const std::string& TableName() const { return tableText_; }
  // True when exactly the current row was written. False when the result is not updatable, the
  // row no longer holds the values read (changed or deleted since) or the data source refused the
  // statement; nothing is written then. Only a failure of the connection raises.
  bool UpdateArchive(std::string_view label);
  // The current row's values of the columns the label compares, in result order.
  RowValues NamingValues() const;
  // Why the data source refused the last label, or empty.
  const std::string& LastUpdateFailure() const { return lastUpdateFailure_; }
  void MoveToNext();
  void CloseRows();

  // The current row, one member per column in table order; zero and empty when there is none.
  std::time_t m_MODIFY = 0;
  std::string m_ID;
  int m_SERVER = 0;
  int m_HOUR = 0;
  int m_MIN = 0;
  int m_DAY = 0;
  int m_MONTH = 0;
  int m_YEAR = 0;
  int m_WEEK = 0;
  int m_WDAY = 0;
  int m_YDAY = 0;
  std::time_t m_TIMESTAMP = 0;
  std::string m_CALLER;
  std::string m_CALLED;
  std::string m_CONNECTED;
  std::string m_DIRECTION;
  int m_INCOMING = 0;
  std::string m_STATUS;
  int m_LENGTH = 0;
  int m_LINENBR = 0;
  std::string m_CNXTYPE;
  std::string m_SERVERNAME;
  std::string m_DRIVE;
  std::string m_DIR;
  std::string m_FILE;
  int m_REPLFLAG = 0;
  std::string m_ARCHIVE;

 private:
  void DescribeColumns(platform::OdbcStatement& statement);
  void PrepareArchiveUpdate(int options, std::string_view query);
  std::vector<int> KeptPositions() const;
  void ReadRows(platform::OdbcStatement& statement);
  void RequireCurrentRow() const;
  std::optional<std::string> CurrentValue(int position) const;
  void ExchangeColumns();

  DatabaseConnection* connection_;
  std::vector<platform::OdbcColumn> columns_;
  RowSnapshot snapshot_;
  std::size_t current_ = 0;
  bool open_ = false;
  std::optional<ArchiveUpdate> archiveUpdate_;
  std::vector<int> matchPositions_;  // the columns the label compares, in result order
  std::vector<int> keyPositions_;
  std::string tableText_;
  std::optional<std::string> writtenArchive_;  // the label written into the current row
  std::string lastUpdateFailure_;
};

}  // namespace qz
