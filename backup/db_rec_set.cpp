#include "backup/db_rec_set.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "backup/recording_columns.h"

namespace qz {
namespace {

std::string TextValue(const std::optional<std::string>& value) {
  return value.value_or("");
}

int IntegerValue(const std::optional<std::string>& value) {
  return value ? static_cast<int>(std::strtol(value->c_str(), nullptr, 10)) : 0;
}

// Local "YYYY-MM-DD hh:mm:ss", the form both drivers deliver; anything else reads as 0.
std::time_t TimeValue(const std::optional<std::string>& value) {
  std::tm tm{};
  if (!value || std::sscanf(value->c_str(), "%d-%d-%d %d:%d:%d", &tm.tm_year, &tm.tm_mon,
                            &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec) < 3)
    return 0;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  return t == static_cast<std::time_t>(-1) ? 0 : t;
}

// Naming the row in an UPDATE needs one base table behind every column.
std::optional<std::string> SingleBaseTable(const std::vector<platform::OdbcColumn>& columns) {
  const std::string& table = columns.front().baseTable;
  if (table.empty()) return std::nullopt;
  for (const platform::OdbcColumn& column : columns) {
    if (column.baseTable != table) return std::nullopt;
  }
  return table;
}

}  // namespace

CDBRecSet::CDBRecSet(DatabaseConnection* connection) : connection_(connection) {}

void CDBRecSet::OpenRows(int openType, std::string_view query, int options) {
  if (open_) throw std::logic_error("the recordset is already open");
  if (openType != kSnapshot) throw std::invalid_argument("only a snapshot can be opened");
  platform::OdbcStatement statement(connection_->Odbc());
  statement.ExecuteDirect(query);
  ReadSnapshot(statement);
  PrepareArchiveUpdate(options);
  current_ = 0;
  open_ = true;
  ExchangeColumns();
}

void CDBRecSet::ReadSnapshot(platform::OdbcStatement& statement) {
  const int count = statement.ColumnCount();
  if (count < kFieldCount) {
    throw platform::OdbcError("The result has " + std::to_string(count) +
                                  " columns; the recordings table has " +
                                  std::to_string(kFieldCount),
                              "07009");
  }
  columns_.clear();
  for (int number = 1; number <= count; ++number)
    columns_.push_back(statement.DescribeColumn(number));
  rows_.clear();
  while (statement.Fetch()) {
    RowValues& row = rows_.emplace_back();
    for (int number = 1; number <= count; ++number) row.push_back(statement.ReadText(number));
  }
}

void CDBRecSet::PrepareArchiveUpdate(int options) {
  archiveUpdate_.reset();
  platform::OdbcConnection& odbc = connection_->Odbc();
  if ((options & kReadOnly) || odbc.IsReadOnly()) return;
  std::optional<std::string> table = SingleBaseTable(columns_);
  if (!table) return;
  archiveUpdate_.emplace(RowLimiterFor(odbc.InfoText(platform::OdbcInfo::kDbmsName)),
                         odbc.InfoText(platform::OdbcInfo::kIdentifierQuoteChar), *table, columns_,
                         kArchivePosition);
}

bool CDBRecSet::IsAtEnd() const {
  return !open_ || current_ >= rows_.size();
}

const RowValues& CDBRecSet::CurrentRow() const {
  if (IsAtEnd()) throw std::logic_error("the recordset has no current row");
  return rows_[current_];
}

std::string CDBRecSet::ReadColumnText(int position) const {
  const RowValues& row = CurrentRow();
  if (position < 0 || position >= static_cast<int>(row.size()))
    throw std::out_of_range("column position outside the row");
  if (!platform::IsOdbcTextType(columns_[position].sqlType)) return "";
  return TextValue(row[position]);
}

bool CDBRecSet::UpdateArchive(std::string_view label) {
  const RowValues& row = CurrentRow();
  if (!archiveUpdate_ || !archiveUpdate_->Write(connection_->Odbc(), row, label)) return false;
  // The row now holds the label; a later write to it must match that.
  rows_[current_][kArchivePosition] = std::string(label);
  m_ARCHIVE = label;
  return true;
}

void CDBRecSet::MoveToNext() {
  if (IsAtEnd()) throw std::logic_error("moved past the last row");
  ++current_;
  ExchangeColumns();
}

void CDBRecSet::CloseRows() {
  open_ = false;
  archiveUpdate_.reset();
  rows_.clear();
  columns_.clear();
  current_ = 0;
  ExchangeColumns();
}

void CDBRecSet::ExchangeColumns() {
  static const RowValues kNoRow(kFieldCount);
  const RowValues& row = IsAtEnd() ? kNoRow : rows_[current_];
  m_MODIFY = TimeValue(row[0]);
  m_ID = TextValue(row[1]);
  m_SERVER = IntegerValue(row[2]);
  m_HOUR = IntegerValue(row[3]);
  m_MIN = IntegerValue(row[4]);
  m_DAY = IntegerValue(row[5]);
  m_MONTH = IntegerValue(row[6]);
  m_YEAR = IntegerValue(row[7]);
  m_WEEK = IntegerValue(row[8]);
  m_WDAY = IntegerValue(row[9]);
  m_YDAY = IntegerValue(row[10]);
  m_TIMESTAMP = TimeValue(row[11]);
  m_CALLER = TextValue(row[12]);
  m_CALLED = TextValue(row[13]);
  m_CONNECTED = TextValue(row[14]);
  m_DIRECTION = TextValue(row[15]);
  m_INCOMING = IntegerValue(row[16]);
  m_STATUS = TextValue(row[17]);
  m_LENGTH = IntegerValue(row[18]);
  m_LINENBR = IntegerValue(row[19]);
  m_CNXTYPE = TextValue(row[20]);
  m_SERVERNAME = TextValue(row[21]);
  m_DRIVE = TextValue(row[22]);
  m_DIR = TextValue(row[23]);
  m_FILE = TextValue(row[24]);
  m_REPLFLAG = IntegerValue(row[25]);
  m_ARCHIVE = TextValue(row[26]);
}

}  // namespace qz
