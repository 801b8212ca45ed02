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

void RefuseCutValues(platform::OdbcConnection& connection, RowLimiter limiter) {
  if (limiter != RowLimiter::kLimit) return;
  // Where the server will not have it, the column's size checked before each label still holds.
  try {
    platform::OdbcStatement statement(connection);
    statement.ExecuteDirect(
        "SET SESSION sql_mode=CONCAT_WS(',',NULLIF(@@sql_mode,''),'STRICT_ALL_TABLES')");
  } catch (const platform::OdbcError& error) {
    if (error.IsConnectionFailure()) throw;
  }
}

std::string QuotedIdentifier(std::string_view identifier, std::string_view quote) {
  if (quote.empty() || quote == " ") return std::string(identifier);
  std::string text(quote);
  for (char c : identifier) {
    text += c;
    if (std::string_view(&c, 1) == quote) text += c;
  }
  return text += quote;
}

ArchiveUpdate::ArchiveUpdate(RowLimiter limiter, std::string quote, std::string table,
                             platform::OdbcColumn archive, std::vector<MatchColumn> match)
    : limiter_(limiter),
      quote_(std::move(quote)),
      table_(std::move(table)),
      archive_(std::move(archive)),
      match_(std::move(match)) {
  if (match_.empty()) throw std::invalid_argument("an archive update must match some column");
}

std::string ArchiveUpdate::Quoted(std::string_view identifier) const {
  return QuotedIdentifier(identifier, quote_);
}

std::string ArchiveUpdate::RowCondition(const RowValues& values, bool essentialOnly) const {
  if (values.size() != match_.size()) throw std::invalid_argument("values do not match columns");
  std::string condition;
  for (std::size_t i = 0; i < match_.size(); ++i) {
    if (essentialOnly && !match_[i].essential) continue;
    if (!condition.empty()) condition += " AND ";
    condition += Quoted(match_[i].column.name) + (values[i] ? "=?" : " IS NULL");
  }
  return condition;
}

bool ArchiveUpdate::FitsColumn(std::string_view label) const {
  return archive_.size == 0 || !platform::IsOdbcTextType(archive_.sqlType) ||
         label.size() <= archive_.size;
}

bool ArchiveUpdate::HasNonEssentialColumns() const {
  for (const MatchColumn& column : match_) {
    if (!column.essential) return true;
  }
  return false;
}

std::string ArchiveUpdate::StatementText(const RowValues& values, bool essentialOnly) const {
  const std::string update = "UPDATE " + table_ + " SET " + Quoted(archive_.name) + "=? WHERE ";
  const std::string condition = RowCondition(values, essentialOnly);
  switch (limiter_) {
    case RowLimiter::kRowid:
      return update + "rowid=(SELECT rowid FROM " + table_ + " WHERE " + condition + " LIMIT 1)";
    case RowLimiter::kCtid:
      return update + "ctid=(SELECT ctid FROM " + table_ + " WHERE " + condition + " LIMIT 1)";
    case RowLimiter::kLimit:
      return update + condition + " LIMIT 1";
    case RowLimiter::kTransaction:
      break;
  }
  return update + condition;
}

long ArchiveUpdate::Execute(platform::OdbcConnection& connection, const RowValues& values,
                            std::string_view label, bool essentialOnly) const {
  platform::OdbcStatement statement(connection);
  statement.Prepare(StatementText(values, essentialOnly));
  int parameter = 1;
  statement.BindText(parameter++, std::string(label), archive_);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (essentialOnly && !match_[i].essential) continue;
    if (values[i]) statement.BindText(parameter++, values[i], match_[i].column);
  }
  statement.Execute();
  // A label the data source cut short names another archive set: it counts as refused.
  if (!statement.TruncationWarning().empty())
    throw platform::OdbcError(statement.TruncationWarning(), "01004");
  return statement.RowCount();
}

bool ArchiveUpdate::WriteOnce(platform::OdbcConnection& connection, const RowValues& values,
                              std::string_view label, bool essentialOnly) const {
  if (limiter_ != RowLimiter::kTransaction)
    return Execute(connection, values, label, essentialOnly) == 1;
  ManualCommit transaction(connection);
  const bool exactlyOne = Execute(connection, values, label, essentialOnly) == 1;
  transaction.End(exactlyOne);
  return exactlyOne;
}

bool ArchiveUpdate::Write(platform::OdbcConnection& connection, const RowValues& values,
                          std::string_view label, std::string* failure) const {
  if (!FitsColumn(label)) {
    if (failure)
      *failure = archive_.name + " holds at most " + std::to_string(archive_.size) +
                 " characters; the label " + std::string(label) + " would be cut short";
    return false;
  }
  for (bool essentialOnly : {false, true}) {
    if (essentialOnly && !HasNonEssentialColumns()) break;
    try {
      return WriteOnce(connection, values, label, essentialOnly);
    } catch (const platform::OdbcError& error) {
      if (error.IsConnectionFailure()) throw;
      if (failure) *failure = error.what();
      if (error.SqlState() == "01004") break;
    }
  }
  return false;
}

}  // namespace qz
