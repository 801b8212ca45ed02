#include "tests/support/odbc_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>

#include "backup/recording_columns.h"
#include "platform/clock.h"

namespace qz::test {
namespace fs = std::filesystem;

namespace {

int NextSourceNumber() {
  static int number = 0;
  return ++number;
}

std::size_t ColumnIndex(std::string_view column) {
  for (std::size_t i = 0; i < kRecordingColumns.size(); ++i) {
    if (kRecordingColumns[i].name == column) return i;
  }
  throw std::invalid_argument("no recordings column " + std::string(column));
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

const char* Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class SqliteDataSource : public TestDataSource {
 public:
  SqliteDataSource(const fs::path& folder, const std::string& extension)
      : TestDataSource("qz_sqlite_" + std::to_string(NextSourceNumber())) {
    const fs::path database = folder / (Dsn() + ".sqlite");
    const std::string command = ShellQuoted(OdbcScript("make-sqlite-dsn").string()) + " --db " +
                                ShellQuoted(database.string()) + " --dsn " + ShellQuoted(Dsn()) +
                                " --ext " + ShellQuoted(extension);
    if (std::system(command.c_str()) != 0)
      throw std::runtime_error("make-sqlite-dsn failed: " + command);
    Connect();
  }
};

using ServerSettings = std::map<std::string, std::string>;

// The environment may point elsewhere, at a server started by hand.
fs::path ServerDir(const char* variable, const char* built) {
  const char* dir = std::getenv(variable);
  return dir && *dir ? fs::path(dir) : fs::path(built);
}

fs::path MariaDbDir() {
  return ServerDir("QZ_MARIADB_DIR", QZ_MARIADB_DIR);
}

fs::path MariaDbServerFile() {
  return MariaDbDir() / "server.env";
}

fs::path PostgreSqlServerFile() {
  return ServerDir("QZ_POSTGRES_DIR", QZ_POSTGRES_DIR) / "server.env";
}

ServerSettings ReadServerSettings(const fs::path& file = MariaDbServerFile()) {
  ServerSettings settings;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    auto equals = line.find('=');
    if (equals != std::string::npos) settings[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return settings;
}

// Connection attributes without a database; a DSN or a driver connection string is made from it.
std::string ServerAttributes(ServerSettings& server, const char* separator) {
  return "SERVER=" + server["MARIADB_SERVER"] + separator + "PORT=" + server["MARIADB_PORT"] +
         separator + "USER=" + server["MARIADB_USER"] + separator +
         "PASSWORD=" + server["MARIADB_PASSWORD"] + separator;
}

class MariaDbDataSource : public TestDataSource {
 public:
  MariaDbDataSource()
      : TestDataSource("qz_mariadb_" + std::to_string(NextSourceNumber())),
        server_(ReadServerSettings()),
        database_("qz_" + std::to_string(getpid()) + "_" + Dsn()) {
    RunAsAdministrator("CREATE DATABASE " + database_);
    WriteDsn(Dsn(), true);
    Connect();
    Execute(TableDdl("recording"));
  }

  ~MariaDbDataSource() override {
    for (const std::string& database : {database_, database_ + "_other"}) {
      try {
        RunAsAdministrator("DROP DATABASE IF EXISTS " + database);
      } catch (...) {
      }
    }
    for (const char* host : {"127.0.0.1", "localhost"}) {
      try {
        RunAsAdministrator("DROP USER IF EXISTS '" + database_ + "'@'" + host + "'");
      } catch (...) {
      }
    }
  }

  std::optional<std::string> MakeTableElsewhere() override {
    const std::string other = database_ + "_other";
    RunAsAdministrator("CREATE DATABASE IF NOT EXISTS " + other);
    Execute(TableDdl(other + ".recording"));
    return other + ".recording";
  }

  std::optional<std::string> DsnWithoutDatabase() override {
    const std::string dsn = Dsn() + "_nodb";
    WriteDsn(dsn, false);
    return dsn;
  }

  // The account is named after the database: each data source has its own.
  std::optional<std::string> DsnOfReader() override {
    for (const char* host : {"127.0.0.1", "localhost"}) {
      const std::string account = "'" + database_ + "'@'" + host + "'";
      RunAsAdministrator("CREATE USER " + account + " IDENTIFIED BY 'reader'");
      RunAsAdministrator("GRANT SELECT ON " + database_ + ".* TO " + account);
    }
    ServerSettings reader = server_;
    reader["MARIADB_USER"] = database_;
    reader["MARIADB_PASSWORD"] = "reader";
    const std::string dsn = Dsn() + "_reader";
    WriteDsn(dsn, true, reader);
    return dsn;
  }

 private:
  void RunAsAdministrator(const std::string& sql) {
    platform::OdbcConnection connection;
    connection.Connect(
        "DRIVER={" + server_["MARIADB_DRIVER"] + "};" + ServerAttributes(server_, ";"), false);
    platform::OdbcStatement(connection).ExecuteDirect(sql);
  }

  void WriteDsn(const std::string& dsn, bool withDatabase) { WriteDsn(dsn, withDatabase, server_); }
  void WriteDsn(const std::string& dsn, bool withDatabase, ServerSettings account) {
    std::ofstream ini(Env("ODBCINI"), std::ios::app);
    ini << "\n[" << dsn << "]\nDriver=" << server_["MARIADB_DRIVER"] << "\n"
        << ServerAttributes(account, "\n");
    if (withDatabase) ini << "DATABASE=" << database_ << "\n";
    if (!ini) throw std::runtime_error("cannot write the DSN into $ODBCINI");
  }

  ServerSettings server_;
  std::string database_;
};

// A database of its own on the throwaway PostgreSQL server, with the curdate() it lacks.
class PostgreSqlDataSource : public TestDataSource {
 public:
  PostgreSqlDataSource()
      : TestDataSource("qz_postgres_" + std::to_string(NextSourceNumber())),
        server_(ReadServerSettings(PostgreSqlServerFile())),
        database_("qz_" + std::to_string(getpid()) + "_" + Dsn()) {
    RunAsAdministrator("CREATE DATABASE " + database_);
    WriteDsn();
    Connect();
    Execute("CREATE FUNCTION curdate() RETURNS date LANGUAGE sql STABLE AS 'SELECT current_date'");
    Execute(TableDdl("recording"));
  }

  ~PostgreSqlDataSource() override {
    Disconnect();
    try {
      RunAsAdministrator("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
      RunAsAdministrator("DROP ROLE IF EXISTS " + database_);
    } catch (...) {
    }
  }

  // The role is named after the database: each data source has its own.
  std::optional<std::string> DsnOfReader() override {
    RunAsAdministrator("CREATE ROLE " + database_ + " LOGIN");
    Execute("GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + database_);
    WriteDsn(Dsn() + "_reader", database_);
    return Dsn() + "_reader";
  }

  std::optional<std::string> MakeTableElsewhere() override {
    Execute("CREATE SCHEMA IF NOT EXISTS other");
    Execute(TableDdl("other.recording"));
    return "other.recording";
  }

  std::string TableDdl(std::string_view table, bool withKey = true) const override {
    return RecordingTableDdl(table, withKey, "TIMESTAMP");
  }

 private:
  std::string Attributes(const std::string& database, const char* separator,
                         const std::string& user = "") {
    return "Servername=" + server_["POSTGRES_SERVER"] + separator +
           "Port=" + server_["POSTGRES_PORT"] + separator +
           "Username=" + (user.empty() ? server_["POSTGRES_USER"] : user) + separator +
           "Database=" + database + separator;
  }

  void RunAsAdministrator(const std::string& sql) {
    platform::OdbcConnection connection;
    connection.Connect("DRIVER={" + server_["POSTGRES_DRIVER"] + "};" + Attributes("postgres", ";"),
                       false);
    platform::OdbcStatement(connection).ExecuteDirect(sql);
  }

  void WriteDsn(const std::string& dsn = "", const std::string& user = "") {
    std::ofstream ini(Env("ODBCINI"), std::ios::app);
    // As docs/DATA_SOURCES.md recommends: rows come through a cursor, not all at once.
    ini << "\n[" << (dsn.empty() ? Dsn() : dsn) << "]\nDriver=" << server_["POSTGRES_DRIVER"]
        << "\n"
        << Attributes(database_, "\n", user) << "UseDeclareFetch=1\n";
    if (!ini) throw std::runtime_error("cannot write the DSN into $ODBCINI");
  }

  ServerSettings server_;
  std::string database_;
};

}  // namespace

std::string SqlDateTime(std::time_t t) {
  std::tm local = platform::LocalTime(t);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::time_t StartOfToday() {
  std::tm local = platform::LocalTime(std::time(nullptr));
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

RecordingRow::RecordingRow(std::string id) {
  const std::string yesterdayNoon = SqlDateTime(StartOfToday() - 12 * 3600);
  values_ = {yesterdayNoon, std::move(id), "1",     "12",       "0",           "7",    "12",
             "2026",        "49",          "1",     "341",      yesterdayNoon, "1001", "2002",
             "2002",        "in",          "1",     "ok",       "61",          "3",    "isdn",
             "rec1",        "D:",          "\\rec", "call.wav", "0",           ""};
}

RecordingRow& RecordingRow::Set(std::string_view column, SqlValue value) {
  values_[ColumnIndex(column)] = std::move(value);
  return *this;
}

const SqlValue& RecordingRow::Get(std::string_view column) const {
  return values_[ColumnIndex(column)];
}

std::string KindName(DataSourceKind kind) {
  switch (kind) {
    case DataSourceKind::kSqlite:
      return "SQLite";
    case DataSourceKind::kMariaDb:
      return "MariaDB";
    case DataSourceKind::kPostgreSql:
      break;
  }
  return "PostgreSQL";
}

void PrintTo(DataSourceKind kind, std::ostream* out) {
  *out << KindName(kind);
}

TestDataSource::TestDataSource(std::string dsn) : dsn_(std::move(dsn)) {}

TestDataSource::~TestDataSource() = default;

void TestDataSource::Connect() {
  connection_ = std::make_unique<platform::OdbcConnection>();
  if (!connection_->Connect(ConnectString(), false))
    throw std::runtime_error("no connection to " + dsn_);
}

void TestDataSource::Disconnect() {
  connection_.reset();
}

std::string TestDataSource::TableDdl(std::string_view table, bool withKey) const {
  return RecordingTableDdl(table, withKey);
}

void TestDataSource::RecreateTableWithoutKey() {
  Execute("DROP TABLE recording");
  Execute(TableDdl("recording", false));
}

void TestDataSource::Execute(std::string_view sql) {
  platform::OdbcStatement(*connection_).ExecuteDirect(sql);
}

void TestDataSource::Insert(const RecordingRow& row, std::string_view table) {
  std::string sql = "INSERT INTO " + std::string(table) + " VALUES (?";
  for (std::size_t i = 1; i < row.Values().size(); ++i) sql += ",?";
  platform::OdbcStatement statement(*connection_);
  statement.Prepare(sql + ")");
  int number = 1;
  for (const SqlValue& value : row.Values()) statement.BindText(number++, value);
  statement.Execute();
}

std::vector<SqlValue> TestDataSource::SelectColumn(std::string_view query) {
  platform::OdbcStatement statement(*connection_);
  statement.ExecuteDirect(query);
  std::vector<SqlValue> values;
  while (statement.Fetch()) values.push_back(statement.ReadText(1));
  return values;
}

std::vector<SqlValue> TestDataSource::ArchiveOf(std::string_view id, std::string_view table) {
  return SelectColumn("SELECT ARCHIVE FROM " + std::string(table) + " WHERE ID='" +
                      std::string(id) + "'");
}

std::unique_ptr<TestDataSource> MakeSqliteDataSource(const fs::path& folder,
                                                     std::string extension) {
  if (extension.empty()) extension = CurdateExtension();
  return std::make_unique<SqliteDataSource>(folder, extension);
}

std::optional<std::string> MariaDbUnavailableReason() {
  if (!fs::exists(MariaDbServerFile()))
    return "no MariaDB test server in " + MariaDbDir().string() +
           " (started by ctest's fixture qz_mariadb, or scripts/odbc/mariadb-start)";
  return std::nullopt;
}

std::unique_ptr<TestDataSource> MakeMariaDbDataSource() {
  if (auto reason = MariaDbUnavailableReason()) throw std::runtime_error(*reason);
  return std::make_unique<MariaDbDataSource>();
}

std::optional<std::string> PostgreSqlUnavailableReason() {
  if (!fs::exists(PostgreSqlServerFile()))
    return "no PostgreSQL test server at " + PostgreSqlServerFile().string() +
           " (started by ctest's fixture qz_postgres, or scripts/odbc/postgres-start)";
  return std::nullopt;
}

std::unique_ptr<TestDataSource> MakePostgreSqlDataSource() {
  if (auto reason = PostgreSqlUnavailableReason()) throw std::runtime_error(*reason);
  return std::make_unique<PostgreSqlDataSource>();
}

std::unique_ptr<TestDataSource> MakeDataSourceOrSkip(DataSourceKind kind, const fs::path& folder) {
  if (kind == DataSourceKind::kSqlite) return MakeSqliteDataSource(folder);
  const bool postgres = kind == DataSourceKind::kPostgreSql;
  if (auto reason = postgres ? PostgreSqlUnavailableReason() : MariaDbUnavailableReason()) {
    if (std::string_view(Env("CI")) == "true") {
      [&] { FAIL() << *reason << " (CI=true: the " << KindName(kind) << " tests must run)"; }();
    } else {
      [&] { GTEST_SKIP() << *reason; }();
    }
    return nullptr;
  }
  return postgres ? MakePostgreSqlDataSource() : MakeMariaDbDataSource();
}

fs::path OdbcScript(std::string_view name) {
  return fs::path(QZ_ODBC_SCRIPTS_DIR) / name;
}

std::string CurdateExtension() {
  return QZ_CURDATE_EXTENSION;
}

std::string RecordingTableDdl(std::string_view table, bool withKey, std::string_view dateTimeType) {
  std::string ddl = "CREATE TABLE " + std::string(table) + " (";
  for (const RecordingColumn& column : kRecordingColumns) {
    if (column.name != kRecordingColumns.front().name) ddl += ", ";
    ddl += std::string(column.name) + " ";
    ddl += column.kind == ColumnKind::kDateTime ? std::string(dateTimeType)
           : column.kind == ColumnKind::kText   ? std::string("VARCHAR(255)")
                                                : std::string("INTEGER");
    if (withKey && column.name == "ID") ddl += " PRIMARY KEY";
  }
  return ddl + ")";
}

}  // namespace qz::test
