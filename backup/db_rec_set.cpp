#include "backup/db_rec_set.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "backup/recording_columns.h"
#include "backup/row_identity.h"

namespace qz {
namespace {

std::string TextValue(const std::optional<std::string>& value) {
  return value.value_or("");
}

int IntegerValue(const std::optional<std::string>& value) {
  return value ? static_cast<int>(std::strtol(value->c_str(), nullptr, 10)) : 0;
}

// Local "YYYY-MM-DD hh:mm:ss", the form the drivers deliver; anything else reads as 0.
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

bool Contains(const std::vector<int>& positions, int position) {
  return std::find(positions.begin(), positions.end(), position) != positions.end();
}

}  // namespace

CDBRecSet::CDBRecSet(DatabaseConnection* connection) : connection_(connection) {}

void CDBRecSet::OpenRows(int openType, std::string_view query, int options) {
  if (open_) throw std::logic_error("the recordset is already open");
  if (openType != kSnapshot) throw std::invalid_argument("only a snapshot can be opened");
  platform::OdbcStatement statement(connection_->Odbc());
  statement.ExecuteDirect(query);
  DescribeColumns(statement);
  PrepareArchiveUpdate(options, query);
  ReadRows(statement);
  current_ = 0;
  writtenArchive_.reset();
  open_ = true;
  ExchangeColumns();
}

void CDBRecSet::DescribeColumns(platform::OdbcStatement& statement) {
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
}

void CDBRecSet::PrepareArchiveUpdate(int options, std::string_view query) {
  archiveUpdate_.reset();
  matchPositions_.clear();
  keyPositions_.clear();
  tableText_.clear();
  platform::OdbcConnection& odbc = connection_->Odbc();
  if ((options & kReadOnly) || odbc.IsReadOnly()) return;
  std::optional<RowIdentity> identity = IdentifyRows(odbc, columns_, query);
  if (!identity) return;
  keyPositions_ = identity->keyPositions;
  tableText_ = identity->tableText;
  // With a key, ARCHIVE, SERVERNAME and FILE as read still guard against a row changed since.
  if (NamesRowsByKey()) {
    matchPositions_ = keyPositions_;
    for (int position : {kServerNamePosition, kFilePosition, kArchivePosition}) {
      if (!Contains(matchPositions_, position)) matchPositions_.push_back(position);
    }
    std::sort(matchPositions_.begin(), matchPositions_.end());
  } else {
    for (int position = 0; position < static_cast<int>(columns_.size()); ++position)
      matchPositions_.push_back(position);
  }
  std::vector<MatchColumn> match;
  for (int position : matchPositions_) {
    const platform::OdbcColumn& column = columns_[position];
    const bool essential = NamesRowsByKey() || platform::IsOdbcTextType(column.sqlType) ||
                           position == kServerNamePosition || position == kFilePosition ||
                           position == kArchivePosition;
    match.push_back({column, essential});
  }
  const RowLimiter limiter = RowLimiterFor(odbc.InfoText(platform::OdbcInfo::kDbmsName));
  RefuseCutValues(odbc, limiter);
  archiveUpdate_.emplace(limiter, odbc.InfoText(platform::OdbcInfo::kIdentifierQuoteChar),
                         identity->table, columns_[kArchivePosition], std::move(match));
}

std::vector<int> CDBRecSet::KeptPositions() const {
  std::vector<int> kept = matchPositions_;
  for (int position : {kServerNamePosition, kFilePosition}) {
    if (!Contains(kept, position)) kept.push_back(position);
  }
  std::sort(kept.begin(), kept.end());
  return kept;
}

void CDBRecSet::ReadRows(platform::OdbcStatement& statement) {
  snapshot_.Reset(KeptPositions(), static_cast<int>(columns_.size()));
  while (statement.Fetch()) {
    snapshot_.StartRow();
    for (int position : snapshot_.KeptPositions())
      snapshot_.AppendValue(statement.ReadText(position + 1));
  }
  snapshot_.Seal();
}

bool CDBRecSet::IsAtEnd() const {
  return !open_ || current_ >= snapshot_.RowCount();
}

void CDBRecSet::RequireCurrentRow() const {
  if (IsAtEnd()) throw std::logic_error("the recordset has no current row");
}

std::optional<std::string> CDBRecSet::CurrentValue(int position) const {
  if (position == kArchivePosition && writtenArchive_) return writtenArchive_;
  std::optional<std::string_view> value = snapshot_.Value(current_, position);
  if (!value) return std::nullopt;
  return std::string(*value);
}

std::string CDBRecSet::ReadColumnText(int position) const {
  RequireCurrentRow();
  if (position < 0 || position >= static_cast<int>(columns_.size()))
    throw std::out_of_range("column position outside the row");
  if (!platform::IsOdbcTextType(columns_[position].sqlType)) return "";
  return TextValue(CurrentValue(position));
}

RowValues CDBRecSet::NamingValues() const {
  RequireCurrentRow();
  RowValues values;
  values.reserve(matchPositions_.size());
  for (int position : matchPositions_) values.push_back(CurrentValue(position));
  return values;
}

bool CDBRecSet::UpdateArchive(std::string_view label) {
  RequireCurrentRow();
  lastUpdateFailure_.clear();
  if (!archiveUpdate_) return false;
  if (!archiveUpdate_->Write(connection_->Odbc(), NamingValues(), label, &lastUpdateFailure_))
    return false;
  // The row now holds the label; a later write to it must match that.
  writtenArchive_ = std::string(label);
  m_ARCHIVE = label;
  return true;
}

void CDBRecSet::MoveToNext() {
  if (IsAtEnd()) throw std::logic_error("moved past the last row");
  ++current_;
  writtenArchive_.reset();
  ExchangeColumns();
}

void CDBRecSet::CloseRows() {
  open_ = false;
  archiveUpdate_.reset();
  snapshot_.Reset({}, 0);
  columns_.clear();
  matchPositions_.clear();
  keyPositions_.clear();
  tableText_.clear();
  writtenArchive_.reset();
  current_ = 0;
  ExchangeColumns();
}

// Members of columns the snapshot does not keep stay zero and empty.
void CDBRecSet::ExchangeColumns() {
  std::vector<std::optional<std::string>> row(kFieldCount);
  if (!IsAtEnd()) {
    for (int position : snapshot_.KeptPositions()) {
      if (position < kFieldCount) row[position] = CurrentValue(position);
    }
  }
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
