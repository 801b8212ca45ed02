// Real data sources for tests: a fresh SQLite file through its ODBC driver, or a fresh database on
// the throwaway MariaDB server that CTest starts (fixture qz_mariadb, scripts/odbc/mariadb-start).
// Each data source gets its own DSN in the test process's ODBC folder and a "recording" table.
#pragma once

#include <array>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/odbc.h"

namespace qz::test {

using SqlValue = std::optional<std::string>;  // nothing is NULL

// "YYYY-MM-DD hh:mm:ss" in local time, as both data sources store date-times.
std::string SqlDateTime(std::time_t t);
// Local midnight of today, by the real clock that CURDATE() also reads.
std::time_t StartOfToday();

// One row of the recordings table as texts in column order. A new row is complete, recorded
// yesterday at noon and not archived.
class RecordingRow {
 public:
  explicit RecordingRow(std::string id = "1");
  RecordingRow& Set(std::string_view column, SqlValue value);
  const SqlValue& Get(std::string_view column) const;
  const std::array<SqlValue, 27>& Values() const { return values_; }

 private:
  std::array<SqlValue, 27> values_;
};

enum class DataSourceKind { kSqlite, kMariaDb };
std::string KindName(DataSourceKind kind);
void PrintTo(DataSourceKind kind, std::ostream* out);

class TestDataSource {
 public:
  virtual ~TestDataSource();
  const std::string& Dsn() const { return dsn_; }
  // "DSN=<name>;" as the tool builds it.
  std::string ConnectString() const { return "DSN=" + dsn_ + ";"; }

  // Runs one statement on a connection of the fixture's own.
  void Execute(std::string_view sql);
  void Insert(const RecordingRow& row, std::string_view table = "recording");
  // First column of every row of `query`.
  std::vector<SqlValue> SelectColumn(std::string_view query);
  // ARCHIVE of the rows with this ID, in table order.
  std::vector<SqlValue> ArchiveOf(std::string_view id, std::string_view table = "recording");

 protected:
  explicit TestDataSource(std::string dsn);
  void Connect();

 private:
  std::string dsn_;
  std::unique_ptr<platform::OdbcConnection> connection_;
};

// A new SQLite file in `folder`, made by scripts/odbc/make-sqlite-dsn with the CURDATE()
// extension of this build, or with `extension` instead. Throws std::runtime_error on failure.
std::unique_ptr<TestDataSource> MakeSqliteDataSource(const std::filesystem::path& folder,
                                                     std::string extension = "");

// Why no MariaDB test server is reachable from this process, or nothing when one is.
std::optional<std::string> MariaDbUnavailableReason();
// A new database with a "recording" table on the test server. Throws when there is none.
std::unique_ptr<TestDataSource> MakeMariaDbDataSource();

// For SetUp: the data source, or nothing after marking the test skipped (MariaDB unavailable)
// or failed (unavailable while CI=true, where those tests must run).
std::unique_ptr<TestDataSource> MakeDataSourceOrSkip(DataSourceKind kind,
                                                     const std::filesystem::path& folder);

// A script of scripts/odbc, and the CURDATE() extension of this build.
std::filesystem::path OdbcScript(std::string_view name);
std::string CurdateExtension();

// CREATE TABLE for the 27 columns, in a form both data sources accept.
std::string RecordingTableDdl(std::string_view table = "recording");

}  // namespace qz::test
