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

enum class DataSourceKind { kSqlite, kMariaDb, kPostgreSql };
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

  // The "recording" table made anew without a primary key, for rows that are each other's twins.
  void RecreateTableWithoutKey();
  // A recordings table in another database (MariaDB) or schema (PostgreSQL) than the data
  // source's own, as GetDataFromTable names it; nothing where the data source has neither.
  virtual std::optional<std::string> MakeTableElsewhere() { return std::nullopt; }
  // A data source for the same server without a default database; nothing where there is none.
  virtual std::optional<std::string> DsnWithoutDatabase() { return std::nullopt; }
  // A data source for the same database through an account that may only read it; nothing where
  // the data source has no accounts.
  virtual std::optional<std::string> DsnOfReader() { return std::nullopt; }
  // CREATE TABLE for the 27 columns in this data source's types.
  virtual std::string TableDdl(std::string_view table, bool withKey = true) const;

 protected:
  explicit TestDataSource(std::string dsn);
  void Connect();
  void Disconnect();

 private:
  std::string dsn_;
  std::unique_ptr<platform::OdbcConnection> connection_;
};

// A new SQLite file in `folder`, made by scripts/odbc/make-sqlite-dsn with the CURDATE()
// extension of this build, or with `extension` instead. Throws std::runtime_error on failure.
std::unique_ptr<TestDataSource> MakeSqliteDataSource(const std::filesystem::path& folder,
                                                     std::string extension = "");

// Why no MariaDB or PostgreSQL test server is reachable from this process, or nothing when one is.
std::optional<std::string> MariaDbUnavailableReason();
std::optional<std::string> PostgreSqlUnavailableReason();
// A new database with a "recording" table on the test server. Throws when there is none.
std::unique_ptr<TestDataSource> MakeMariaDbDataSource();
std::unique_ptr<TestDataSource> MakePostgreSqlDataSource();

// For SetUp: the data source, or nothing after marking the test skipped (server unavailable)
// or failed (unavailable while CI=true, where those tests must run).
std::unique_ptr<TestDataSource> MakeDataSourceOrSkip(DataSourceKind kind,
                                                     const std::filesystem::path& folder);

// A script of scripts/odbc, and the CURDATE() extension of this build.
std::filesystem::path OdbcScript(std::string_view name);
std::string CurdateExtension();

// CREATE TABLE for the 27 columns with ID as primary key (or without a key), DATETIME for the
// date-time columns unless told otherwise.
std::string RecordingTableDdl(std::string_view table = "recording", bool withKey = true,
                              std::string_view dateTimeType = "DATETIME");

}  // namespace qz::test
