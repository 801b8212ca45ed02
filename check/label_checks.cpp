#include "check/label_checks.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "backup/archive_update.h"
#include "backup/database_connection.h"

namespace qz {
namespace {

constexpr const char* kRightThing = "right to label";

bool IsSqlite(const std::string& dbms) {
  return dbms.rfind("SQLite", 0) == 0;
}

bool IsMariaDbOrMySql(const std::string& dbms) {
  return RowLimiterFor(dbms) == RowLimiter::kLimit;
}

std::string QuotedText(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

// 'name'@'host' as MariaDB names the account this connection logged in as.
std::string MariaDbAccount(platform::OdbcConnection& odbc) {
  platform::OdbcStatement statement(odbc);
  statement.ExecuteDirect("SELECT CURRENT_USER()");
  std::string account = statement.Fetch() ? statement.ReadText(1).value_or("") : "";
  const auto at = account.rfind('@');
  if (at == std::string::npos) return QuotedText(account);
  return QuotedText(account.substr(0, at)) + "@" + QuotedText(account.substr(at + 1));
}

std::string GrantStatement(platform::OdbcConnection& odbc, const std::string& dbms,
                           const RowIdentity& identity, const std::string& archive) {
  const std::string quote = odbc.InfoText(platform::OdbcInfo::kIdentifierQuoteChar);
  const std::string account =
      IsMariaDbOrMySql(dbms)
          ? MariaDbAccount(odbc)
          : QuotedIdentifier(odbc.InfoText(platform::OdbcInfo::kUserName), quote);
  return "GRANT UPDATE (" + QuotedIdentifier(archive, quote) + ") ON " + identity.table + " TO " +
         account;
}

// UPDATE ... WHERE 1=0 needs the same right as a label and changes no row; rolled back besides.
void TryUpdate(platform::OdbcConnection& odbc, const RowIdentity& identity,
               const std::string& archive) {
  const std::string column =
      QuotedIdentifier(archive, odbc.InfoText(platform::OdbcInfo::kIdentifierQuoteChar));
  odbc.SetAutoCommit(false);
  try {
    platform::OdbcStatement(odbc).ExecuteDirect("UPDATE " + identity.table + " SET " + column +
                                                "=" + column + " WHERE 1=0");
  } catch (...) {
    odbc.EndTransaction(false);
    throw;
  }
  odbc.EndTransaction(false);
}

std::string WriteProblem(const std::string& path) {
  if (access(path.c_str(), W_OK) == 0) return "";
  return path + " is not writable (" + std::strerror(errno) + ")";
}

// SQLite has no accounts: the label needs the file, and its folder for the journal beside it.
void CheckSqliteFile(const std::string& file, CheckReport& report) {
  const std::filesystem::path path = std::filesystem::absolute(file);
  std::string problem = WriteProblem(path.string());
  if (problem.empty()) problem = WriteProblem(path.parent_path().string());
  if (problem.empty())
    report.Ok(kRightThing, path.string() + " and its folder are writable");
  else
    report.Fail(kRightThing, problem + ": no row would be labelled",
                "Make the database file and its folder writable by the user the tool runs as");
}

void TryRightToLabel(platform::OdbcConnection& odbc, const std::string& dbms,
                     const RowIdentity& identity, const std::string& archive, CheckReport& report) {
  try {
    TryUpdate(odbc, identity, archive);
    report.Ok(kRightThing, "this account may update " + archive + " of " + identity.tableText);
  } catch (const platform::OdbcError& error) {
    if (error.IsConnectionFailure()) throw;
    report.Fail(kRightThing, std::string(error.what()) + ": no row would be labelled",
                "Grant it: " + GrantStatement(odbc, dbms, identity, archive));
  }
}

}  // namespace

void CheckLabelWidth(const ArchiveLabel& next, const ArchiveLabel& longest,
                     const platform::OdbcColumn& archive, CheckReport& report) {
  const std::string thing = "width of " + archive.name;
  if (archive.size == 0 || !platform::IsOdbcTextType(archive.sqlType)) {
    report.Ok(thing, "the driver gives no size");
    return;
  }
  const std::string size = std::to_string(archive.size) + " characters";
  if (longest.text.size() <= archive.size) {
    report.Ok(thing, size + ", the longest label " + longest.text + " fits");
    return;
  }
  const std::string which =
      next.text.size() > archive.size ? "the next label " + next.text : "the label " + longest.text;
  report.Fail(thing, size + ": " + which + " does not fit, and a row is never labelled with less",
              "Widen the column (to " + std::to_string(longest.text.size()) +
                  " characters or more), or shorten ArchivePrefixForDBEntry");
}

void CheckRightToLabel(const BackupSettings& s, const RowIdentity& identity,
                       const platform::OdbcColumn& archive, CheckReport& report) {
  DatabaseConnection connection;
  try {
    if (!connection.OpenConnection("DSN=" + s.UseDSN + ";", DatabaseConnection::kNoOdbcDialog)) {
      report.Fail(kRightThing, "the driver ended without connecting for writing",
                  "Check the data source's account");
      return;
    }
    platform::OdbcConnection& odbc = connection.Odbc();
    const std::string dbms = odbc.InfoText(platform::OdbcInfo::kDbmsName);
    if (IsSqlite(dbms))
      CheckSqliteFile(odbc.InfoText(platform::OdbcInfo::kDatabaseName), report);
    else
      TryRightToLabel(odbc, dbms, identity, archive.name, report);
  } catch (const platform::OdbcError& error) {
    report.Fail(kRightThing, error.what(), "Check the data source's account");
  }
}

}  // namespace qz
