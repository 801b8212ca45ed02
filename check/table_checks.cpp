#include "check/table_checks.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "backup/archive_label.h"
#include "backup/backup_query.h"
#include "backup/backup_run.h"
#include "backup/database_connection.h"
#include "backup/db_rec_set.h"
#include "backup/recording_columns.h"
#include "backup/row_identity.h"
#include "check/label_checks.h"
#include "platform/odbc.h"

namespace qz {
namespace {

constexpr const char* kSetUpDataSource =
    "Define the data source in odbc.ini ($ODBCINI, $ODBCSYSINI or /etc/odbc.ini) or correct UseDSN";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool Connect(const BackupSettings& s, DatabaseConnection& connection, CheckReport& report) {
  const std::string thing = "data source " + s.UseDSN;
  try {
    if (!connection.OpenConnection(
            "DSN=" + s.UseDSN + ";",
            DatabaseConnection::kNoOdbcDialog | DatabaseConnection::kOpenReadOnly)) {
      report.Fail(thing, "the driver ended without connecting", kSetUpDataSource);
      return false;
    }
    report.Ok(thing, "connects read-only (" +
                         connection.Odbc().InfoText(platform::OdbcInfo::kDbmsName) + ")");
    return true;
  } catch (const platform::OdbcError& error) {
    report.Fail(thing, error.what(), kSetUpDataSource);
    return false;
  }
}

// The four columns the run cannot do without, where it reads them.
std::string MissingKeyColumns(const std::vector<platform::OdbcColumn>& columns) {
  std::string missing;
  for (int position : {kServerNamePosition, kFilePosition, kArchivePosition, 11}) {
    const std::string_view name = kRecordingColumns[static_cast<std::size_t>(position)].name;
    if (Upper(columns[static_cast<std::size_t>(position)].name) != name)
      missing += (missing.empty() ? "" : ", ") + std::string(name) + " (column " +
                 std::to_string(position + 1) + " is " +
                 columns[static_cast<std::size_t>(position)].name + ")";
  }
  return missing;
}

bool ReportColumns(const std::string& table, const std::vector<platform::OdbcColumn>& columns,
                   CheckReport& report) {
  const std::string thing = "columns of " + table;
  constexpr const char* kTodo =
      "The run reads the 27 recording columns by position: give the table that layout "
      "(docs/DATA_SOURCES.md) or correct GetDataFromTable";
  if (columns.size() < kRecordingColumns.size()) {
    report.Fail(thing, std::to_string(columns.size()) + " columns, the run reads 27", kTodo);
    return false;
  }
  const std::string missing = MissingKeyColumns(columns);
  if (!missing.empty()) {
    report.Fail(thing, "not where the run reads them: " + missing, kTodo);
    return false;
  }
  if (columns.size() > kRecordingColumns.size())
    report.Warn(thing, std::to_string(columns.size()) + " columns, the run reads the first 27",
                "Make sure the first 27 are the recording columns in their order");
  else
    report.Ok(thing, "27, with SERVERNAME, FILE, ARCHIVE and TIMESTAMP");
  return true;
}

std::vector<platform::OdbcColumn> DescribeTable(platform::OdbcConnection& odbc,
                                                const std::string& table) {
  platform::OdbcStatement statement(odbc);
  statement.ExecuteDirect("Select * from " + table + " where 1=0");
  std::vector<platform::OdbcColumn> columns;
  for (int number = 1; number <= statement.ColumnCount(); ++number)
    columns.push_back(statement.DescribeColumn(number));
  return columns;
}

// The run's own words when it labels without a key. The table the labels go to, when named.
std::optional<RowIdentity> ReportKey(const BackupSettings& s, platform::OdbcConnection& odbc,
                                     const std::vector<platform::OdbcColumn>& columns,
                                     CheckReport& report) {
  const std::string thing = "key of " + s.GetDataFromTable;
  if (s.UpdateArchiveField == 0) {
    report.Ok(thing, "not needed, UpdateArchiveField=0 writes no label");
    return std::nullopt;
  }
  std::optional<RowIdentity> identity = IdentifyRows(odbc, columns, MakeBackupQuery(s));
  if (!identity) {
    report.Fail(thing, "the rows come from no single table that can be named: no row is labelled",
                "Name one table in GetDataFromTable");
  } else if (identity->keyPositions.empty()) {
    report.Warn(thing,
                "Table " + identity->tableText +
                    " has no primary key: each archive label compares every column and searches "
                    "the whole table",
                "Give the table a primary key");
  } else {
    std::string names;
    for (int position : identity->keyPositions)
      names += (names.empty() ? "" : ", ") + columns[static_cast<std::size_t>(position)].name;
    report.Ok(thing, names);
  }
  return identity;
}

void CheckLabelling(const BackupSettings& s, platform::Clock& clock,
                    const std::optional<RowIdentity>& identity, const platform::OdbcColumn& archive,
                    CheckReport& report) {
  if (s.UpdateArchiveField == 0) return;
  const ArchiveLabel next = PeekArchiveLabel(s, clock);
  CheckLabelWidth(next, LongestArchiveLabel(s, next), archive, report);
  if (identity) CheckRightToLabel(s, *identity, archive, report);
}

PendingRows ReadPendingRows(platform::OdbcConnection& odbc, const std::string& query) {
  platform::OdbcStatement statement(odbc);
  statement.ExecuteDirect(query);
  PendingRows rows;
  std::map<std::string, PendingServer> servers;
  // Streamed: a large backlog costs no memory.
  while (statement.Fetch()) {
    ++rows.total;
    const std::string server = statement.ReadText(kServerNamePosition + 1).value_or("");
    const std::string file = statement.ReadText(kFilePosition + 1).value_or("");
    if (server.empty()) {
      ++rows.withoutServer;
      continue;
    }
    PendingServer& entry = servers[server];
    entry.name = server;
    ++entry.rows;
    if (entry.firstFile.empty() && !file.empty() && !IsUnsafeFileName(file)) entry.firstFile = file;
  }
  statement.CloseCursor();
  for (auto& [name, server] : servers) rows.servers.push_back(std::move(server));
  std::stable_sort(rows.servers.begin(), rows.servers.end(),
                   [](const PendingServer& a, const PendingServer& b) { return a.rows > b.rows; });
  return rows;
}

std::optional<PendingRows> CheckQuery(const BackupSettings& s, platform::OdbcConnection& odbc,
                                      CheckReport& report) {
  const std::string query = MakeBackupQuery(s);
  try {
    PendingRows rows = ReadPendingRows(odbc, query);
    std::string finding = std::to_string(rows.total) + " rows selected now";
    if (!rows.servers.empty()) finding += ": " + LargestServers(rows);
    report.Ok("the run's query", finding);
    if (rows.withoutServer > 0)
      report.Warn("server names", std::to_string(rows.withoutServer) + " rows have no SERVERNAME",
                  "They fail with -2 until the table names their server");
    return rows;
  } catch (const platform::OdbcError& error) {
    report.Fail("the run's query", std::string(error.what()) + " (" + query + ")",
                "Correct GetDataFromTable or the server range, or the data source's SQL dialect");
    return std::nullopt;
  }
}

}  // namespace

std::string LargestServers(const PendingRows& rows, std::size_t shown) {
  std::string text;
  const std::size_t count = std::min(shown, rows.servers.size());
  for (std::size_t i = 0; i < count; ++i)
    text +=
        (i == 0 ? "" : ", ") + rows.servers[i].name + " " + std::to_string(rows.servers[i].rows);
  if (rows.servers.size() > count)
    text += " and " + std::to_string(rows.servers.size() - count) + " more servers";
  return text;
}

std::optional<PendingRows> CheckDataSource(const BackupSettings& s, CheckReport& report,
                                           platform::Clock& clock) {
  DatabaseConnection connection;
  if (!Connect(s, connection, report)) return std::nullopt;
  platform::OdbcConnection& odbc = connection.Odbc();
  std::vector<platform::OdbcColumn> columns;
  try {
    columns = DescribeTable(odbc, s.GetDataFromTable);
  } catch (const platform::OdbcError& error) {
    report.Fail("table " + s.GetDataFromTable, error.what(),
                "Correct GetDataFromTable, or create the table in the data source");
    return std::nullopt;
  }
  if (!ReportColumns(s.GetDataFromTable, columns, report)) return std::nullopt;
  std::optional<RowIdentity> identity;
  try {
    identity = ReportKey(s, odbc, columns, report);
  } catch (const platform::OdbcError& error) {
    report.Warn("key of " + s.GetDataFromTable, error.what(), "Check the driver's catalog calls");
  }
  CheckLabelling(s, clock, identity, columns[static_cast<std::size_t>(kArchivePosition)], report);
  std::optional<PendingRows> rows = CheckQuery(s, odbc, report);
  connection.CloseConnection();
  return rows;
}

}  // namespace qz
