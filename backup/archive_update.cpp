#include "backup/archive_update.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace qz {
namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

// Rolls back and returns to autocommit unless the caller committed; never throws, as it also
// runs while an error unwinds.
class ManualCommit {
 public:
  explicit ManualCommit(platform::OdbcConnection& connection) : connection_(connection) {
    connection_.SetAutoCommit(false);
  }
  ~ManualCommit() {
    try {
      if (!ended_) connection_.EndTransaction(false);
    } catch (...) {
    }
    try {
      connection_.SetAutoCommit(true);
    } catch (...) {
    }
  }
  ManualCommit(const ManualCommit&) = delete;
  ManualCommit& operator=(const ManualCommit&) = delete;

  void End(bool commit) {
    connection_.EndTransaction(commit);
    ended_ = true;
  }

 private:
  platform::OdbcConnection& connection_;
  bool ended_ = false;
};

}  // namespace

RowLimiter RowLimiterFor(std::string_view dbmsName) {
  if (StartsWithIgnoringCase(dbmsName, "SQLite")) return RowLimiter::kRowid;
  if (StartsWithIgnoringCase(dbmsName, "MariaDB") || StartsWithIgnoringCase(dbmsName, "MySQL"))
    return RowLimiter::kLimit;
  if (StartsWithIgnoringCase(dbmsName, "PostgreSQL")) return RowLimiter::kCtid;
  return RowLimiter::kTransaction;
}

ArchiveUpdate::ArchiveUpdate(RowLimiter limiter, std::string quote, std::string table,
                             std::vector<platform::OdbcColumn> columns, int archivePosition)
    : limiter_(limiter),
      quote_(quote == " " ? "" : std::move(quote)),
      table_(std::move(table)),
      columns_(std::move(columns)),
      archivePosition_(archivePosition) {
  if (archivePosition_ < 0 || archivePosition_ >= static_cast<int>(columns_.size()))
    throw std::out_of_range("ARCHIVE position outside the row");
}

std::string ArchiveUpdate::Quoted(std::string_view identifier) const {
  if (quote_.empty()) return std::string(identifier);
  std::string text = quote_;
  for (char c : identifier) {
    text += c;
    if (std::string_view(&c, 1) == quote_) text += c;
  }
  return text + quote_;
}

std::string ArchiveUpdate::RowCondition(const RowValues& row) const {
  if (row.size() != columns_.size()) throw std::invalid_argument("row does not match its columns");
  std::string condition;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0) condition += " AND ";
    condition += Quoted(columns_[i].name) + (row[i] ? "=?" : " IS NULL");
  }
  return condition;
}

std::string ArchiveUpdate::StatementText(const RowValues& row) const {
  const std::string table = Quoted(table_);
  const std::string update =
      "UPDATE " + table + " SET " + Quoted(columns_[archivePosition_].name) + "=? WHERE ";
  const std::string condition = RowCondition(row);
  switch (limiter_) {
    case RowLimiter::kRowid:
      return update + "rowid=(SELECT rowid FROM " + table + " WHERE " + condition + " LIMIT 1)";
    case RowLimiter::kCtid:
      return update + "ctid=(SELECT ctid FROM " + table + " WHERE " + condition + " LIMIT 1)";
    case RowLimiter::kLimit:
      return update + condition + " LIMIT 1";
    case RowLimiter::kTransaction:
      break;
  }
  return update + condition;
}

long ArchiveUpdate::Execute(platform::OdbcConnection& connection, const RowValues& row,
                            std::string_view label) const {
  platform::OdbcStatement statement(connection);
  statement.Prepare(StatementText(row));
  int parameter = 1;
  statement.BindText(parameter++, std::string(label), columns_[archivePosition_]);
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (row[i]) statement.BindText(parameter++, row[i], columns_[i]);
  }
  statement.Execute();
  return statement.RowCount();
}

bool ArchiveUpdate::WriteInTransaction(platform::OdbcConnection& connection, const RowValues& row,
                                       std::string_view label) const {
  ManualCommit transaction(connection);
  const bool exactlyOne = Execute(connection, row, label) == 1;
  transaction.End(exactlyOne);
  return exactlyOne;
}

bool ArchiveUpdate::Write(platform::OdbcConnection& connection, const RowValues& row,
                          std::string_view label) const {
  if (limiter_ == RowLimiter::kTransaction) return WriteInTransaction(connection, row, label);
  return Execute(connection, row, label) == 1;
}

}  // namespace qz
