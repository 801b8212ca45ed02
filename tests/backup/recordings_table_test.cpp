#include "tests/backup/recordings_table_test.h"

#include <algorithm>
#include <stdexcept>

#include "backup/archive_update.h"
#include "backup/backup_query.h"
#include "backup/recording_columns.h"
#include "backup/row_identity.h"
#include "platform/odbc.h"

namespace qz {
namespace {

using test::RecordingRow;
using test::SqlDateTime;
using test::StartOfToday;
using Values = std::vector<test::SqlValue>;

std::string Yesterday(const char* time) {
  return SqlDateTime(StartOfToday() - 12 * 3600).substr(0, 11) + time;
}

std::string Today(const char* time) {
  return SqlDateTime(StartOfToday()).substr(0, 11) + time;
}

}  // namespace

void RecordingsTableTest::SetUp() {
  source_ = test::MakeDataSourceOrSkip(GetParam(), folder_.path());
}

BackupSettings RecordingsTableTest::Settings() const {
  BackupSettings settings;
  settings.GetDataFromTable = "recording";
  return settings;
}

void RecordingsTableTest::Open(std::string_view query, int options, int connectionOptions) {
  ASSERT_TRUE(connection_.OpenConnection(source_->ConnectString(), connectionOptions));
  rows_.OpenRows(CDBRecSet::kSnapshot, query, options);
}

std::vector<std::string> RecordingsTableTest::SelectedIds(const BackupSettings& settings) {
  DatabaseConnection connection;
  EXPECT_TRUE(
      connection.OpenConnection(source_->ConnectString(), DatabaseConnection::kNoOdbcDialog));
  CDBRecSet rows(&connection);
  rows.OpenRows(CDBRecSet::kSnapshot, MakeBackupQuery(settings), CDBRecSet::kNone);
  std::vector<std::string> ids;
  for (; !rows.IsAtEnd(); rows.MoveToNext()) ids.push_back(rows.ReadColumnText(1));
  rows.CloseRows();
  connection.CloseConnection();
  std::sort(ids.begin(), ids.end());
  return ids;
}

bool RecordingsTableTest::OpenAt(std::string_view id) {
  if (rows_.IsOpen()) rows_.CloseRows();
  if (!connection_.IsOpen())
    connection_.OpenConnection(source_->ConnectString(), DatabaseConnection::kNoOdbcDialog);
  rows_.OpenRows(CDBRecSet::kSnapshot, MakeBackupQuery(Settings()), CDBRecSet::kNone);
  for (; !rows_.IsAtEnd(); rows_.MoveToNext()) {
    if (rows_.ReadColumnText(1) == id) return true;
  }
  return false;
}

std::string DataSourceName(const ::testing::TestParamInfo<test::DataSourceKind>& info) {
  return test::KindName(info.param);
}

// --- The backup query, verbatim, on the data source ---

TEST_P(RecordingsTableTest, QuerySelectsUnarchivedRowsRecordedBeforeToday) {
  Insert(RecordingRow("late-yesterday").Set("TIMESTAMP", Yesterday("23:59:59")));
  Insert(RecordingRow("midnight-today").Set("TIMESTAMP", Today("00:00:00")));
  Insert(RecordingRow("noon-today").Set("TIMESTAMP", Today("12:00:00")));
  Insert(RecordingRow("years-ago").Set("TIMESTAMP", "2019-05-01 08:00:00"));
  Insert(RecordingRow("archive-null").Set("ARCHIVE", std::nullopt));
  Insert(RecordingRow("archived").Set("ARCHIVE", "DAT_3"));

  EXPECT_EQ(SelectedIds(Settings()), (std::vector<std::string>{"late-yesterday", "years-ago"}));
}

TEST_P(RecordingsTableTest, ServerRangeBoundsAreInclusive) {
  for (int server = 1; server <= 5; ++server)
    Insert(RecordingRow("s" + std::to_string(server)).Set("SERVER", std::to_string(server)));
  Insert(RecordingRow("s3-today").Set("SERVER", "3").Set("TIMESTAMP", Today("00:00:00")));
  BackupSettings settings = Settings();
  settings.BackupFromServerRange = 1;
  settings.FirstServerNumber = 2;
  settings.LastServerNumber = 4;
  EXPECT_EQ(SelectedIds(settings), (std::vector<std::string>{"s2", "s3", "s4"}));
  settings.FirstServerNumber = settings.LastServerNumber = 5;
  EXPECT_EQ(SelectedIds(settings), (std::vector<std::string>{"s5"}));
  settings.FirstServerNumber = 4;
  settings.LastServerNumber = 2;
  EXPECT_EQ(SelectedIds(settings), std::vector<std::string>{});
}

TEST_P(RecordingsTableTest, RangeFlagOtherThanOneSelectsEveryServer) {
  for (int server = 1; server <= 3; ++server)
    Insert(RecordingRow("s" + std::to_string(server)).Set("SERVER", std::to_string(server)));
  BackupSettings settings = Settings();
  settings.FirstServerNumber = settings.LastServerNumber = 2;
  for (int flag : {0, 2, -1}) {
    settings.BackupFromServerRange = flag;
    EXPECT_EQ(SelectedIds(settings), (std::vector<std::string>{"s1", "s2", "s3"})) << flag;
  }
}

// --- Reading the snapshot ---

TEST_P(RecordingsTableTest, ReadColumnTextGivesTextValuesAndEmptyForNullOrOtherTypes) {
  source_->RecreateTableWithoutKey();  // so that the snapshot keeps every column
  Insert(RecordingRow("null-server").Set("SERVERNAME", std::nullopt).Set("FILE", "a.wav"));
  Insert(RecordingRow("null-file")
             .Set("SERVERNAME", "rec2")
             .Set("FILE", std::nullopt)
             .Set("SERVER", "7"));
  ASSERT_TRUE(OpenAt("null-server"));
  EXPECT_EQ(rows_.ReadColumnText(kServerNamePosition), "");
  EXPECT_EQ(rows_.ReadColumnText(kFilePosition), "a.wav");
  EXPECT_EQ(rows_.m_FILE, "a.wav");

  ASSERT_TRUE(OpenAt("null-file"));
  EXPECT_EQ(rows_.ReadColumnText(kServerNamePosition), "rec2");
  EXPECT_EQ(rows_.ReadColumnText(kFilePosition), "");
  EXPECT_EQ(rows_.ReadColumnText(2), "");   // SERVER, an integer
  EXPECT_EQ(rows_.ReadColumnText(11), "");  // TIMESTAMP
  EXPECT_EQ(rows_.ReadColumnText(kArchivePosition), "");
  EXPECT_EQ(rows_.m_SERVER, 7);
  EXPECT_EQ(rows_.m_SERVERNAME, "rec2");
  EXPECT_EQ(rows_.m_TIMESTAMP, StartOfToday() - 12 * 3600);
  EXPECT_THROW(rows_.ReadColumnText(27), std::out_of_range);
}

TEST_P(RecordingsTableTest, SnapshotIsFixedWhenOpened) {
  Insert(RecordingRow("before"));
  Open(MakeBackupQuery(Settings()));
  Insert(RecordingRow("after"));
  source_->Execute("UPDATE recording SET FILE='changed.wav' WHERE ID='before'");
  ASSERT_FALSE(rows_.IsAtEnd());
  EXPECT_EQ(rows_.ReadColumnText(1), "before");
  EXPECT_EQ(rows_.ReadColumnText(kFilePosition), "call.wav");
  rows_.MoveToNext();
  EXPECT_TRUE(rows_.IsAtEnd());
  EXPECT_THROW(rows_.ReadColumnText(1), std::logic_error);
  EXPECT_THROW(rows_.MoveToNext(), std::logic_error);
}

TEST_P(RecordingsTableTest, EmptyResultIsAtEndAtOnceAndClosingEndsTheRows) {
  Insert(RecordingRow("archived").Set("ARCHIVE", "DAT_1"));
  Open(MakeBackupQuery(Settings()));
  EXPECT_TRUE(rows_.IsAtEnd());
  rows_.CloseRows();
  EXPECT_FALSE(rows_.IsOpen());
  EXPECT_EQ(rows_.m_ARCHIVE, "");
}

// --- Writing the label ---

TEST_P(RecordingsTableTest, TwoIdenticalRowsEachGetTheirOwnLabel) {
  source_->RecreateTableWithoutKey();
  Insert(RecordingRow("twin"));
  Insert(RecordingRow("twin"));
  Open(MakeBackupQuery(Settings()));
  ASSERT_TRUE(rows_.IsUpdatable());
  EXPECT_TRUE(rows_.UpdateArchive("DAT_1"));
  EXPECT_EQ(rows_.m_ARCHIVE, "DAT_1");
  rows_.MoveToNext();
  EXPECT_TRUE(rows_.UpdateArchive("DAT_2"));
  Values archive = source_->ArchiveOf("twin");
  std::sort(archive.begin(), archive.end());
  EXPECT_EQ(archive, (Values{"DAT_1", "DAT_2"}));
}

TEST_P(RecordingsTableTest, UpdateChangesOnlyTheCurrentRow) {
  Insert(RecordingRow("a").Set("MODIFY", "1999-12-31 23:59:59"));
  Insert(RecordingRow("b")
             .Set("MODIFY", "2000-02-29 00:00:01")
             .Set("TIMESTAMP", Yesterday("23:59:59")));
  Insert(RecordingRow("c"));
  ASSERT_TRUE(OpenAt("b"));
  EXPECT_TRUE(rows_.UpdateArchive("DAT_7"));
  EXPECT_EQ(source_->ArchiveOf("a"), Values{""});
  EXPECT_EQ(source_->ArchiveOf("b"), Values{"DAT_7"});
  EXPECT_EQ(source_->ArchiveOf("c"), Values{""});
  // The same row again: the snapshot follows what was written.
  EXPECT_TRUE(rows_.UpdateArchive("DAT_8"));
  EXPECT_EQ(source_->ArchiveOf("b"), Values{"DAT_8"});
}

TEST_P(RecordingsTableTest, RowWithNullColumnsIsUpdated) {
  source_->RecreateTableWithoutKey();
  Insert(RecordingRow("nulls")
             .Set("MODIFY", std::nullopt)
             .Set("CALLER", std::nullopt)
             .Set("LENGTH", std::nullopt)
             .Set("SERVERNAME", std::nullopt)
             .Set("REPLFLAG", std::nullopt));
  Insert(RecordingRow("nulls").Set("CALLER", std::nullopt));  // differs only in MODIFY and others
  Open(MakeBackupQuery(Settings()));
  for (; !rows_.IsAtEnd(); rows_.MoveToNext()) {
    if (rows_.ReadColumnText(kServerNamePosition).empty()) break;
  }
  ASSERT_FALSE(rows_.IsAtEnd());
  EXPECT_TRUE(rows_.UpdateArchive("DAT_4"));
  EXPECT_EQ(source_->SelectColumn("SELECT ARCHIVE FROM recording WHERE SERVERNAME IS NULL"),
            Values{"DAT_4"});
  EXPECT_EQ(source_->SelectColumn("SELECT ARCHIVE FROM recording WHERE SERVERNAME IS NOT NULL"),
            Values{""});
}

TEST_P(RecordingsTableTest, RowDeletedSinceTheSnapshotAnswersFalse) {
  Insert(RecordingRow("gone"));
  Insert(RecordingRow("kept"));
  ASSERT_TRUE(OpenAt("gone"));
  source_->Execute("DELETE FROM recording WHERE ID='gone'");
  EXPECT_FALSE(rows_.UpdateArchive("DAT_1"));
  ASSERT_TRUE(OpenAt("kept"));
  EXPECT_TRUE(rows_.UpdateArchive("DAT_1"));
}

TEST_P(RecordingsTableTest, RowChangedSinceTheSnapshotIsLeftAlone) {
  Insert(RecordingRow("changed"));
  Open(MakeBackupQuery(Settings()));
  source_->Execute("UPDATE recording SET FILE='other.wav' WHERE ID='changed'");
  EXPECT_FALSE(rows_.UpdateArchive("DAT_1"));
  EXPECT_EQ(source_->ArchiveOf("changed"), Values{""});
}

TEST_P(RecordingsTableTest, ReadOnlyOpeningIsNotUpdatableAndWritesNothing) {
  Insert(RecordingRow("r"));
  Open(MakeBackupQuery(Settings()), CDBRecSet::kReadOnly);
  EXPECT_FALSE(rows_.IsUpdatable());
  EXPECT_FALSE(rows_.UpdateArchive("DAT_1"));
  rows_.CloseRows();
  connection_.CloseConnection();

  Open(MakeBackupQuery(Settings()), CDBRecSet::kNone,
       DatabaseConnection::kNoOdbcDialog | DatabaseConnection::kOpenReadOnly);
  EXPECT_FALSE(rows_.IsUpdatable());
  EXPECT_FALSE(rows_.UpdateArchive("DAT_1"));
  EXPECT_EQ(source_->ArchiveOf("r"), Values{""});
}

TEST_P(RecordingsTableTest, ResultWithAComputedColumnIsNotUpdatable) {
  Insert(RecordingRow("r"));
  Open("Select recording.*, 1 from recording");
  ASSERT_FALSE(rows_.IsAtEnd());
  EXPECT_FALSE(rows_.IsUpdatable());
  EXPECT_EQ(rows_.ReadColumnText(kFilePosition), "call.wav");
}

// A driver that names no base table for the columns leaves the naming to the query's own text.
TEST_P(RecordingsTableTest, WithoutBaseTablesTheQuerysPlainTableIsNamedWithItsKey) {
  ASSERT_TRUE(
      connection_.OpenConnection(source_->ConnectString(), DatabaseConnection::kNoOdbcDialog));
  std::vector<platform::OdbcColumn> columns;
  {
    platform::OdbcStatement statement(connection_.Odbc());
    statement.ExecuteDirect("Select * from recording");
    for (int number = 1; number <= statement.ColumnCount(); ++number)
      columns.push_back(statement.DescribeColumn(number));
  }
  for (platform::OdbcColumn& column : columns) column.baseTable.clear();
  std::optional<RowIdentity> identity =
      IdentifyRows(connection_.Odbc(), columns, MakeBackupQuery(Settings()));
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->table, "recording");
  EXPECT_EQ(identity->keyPositions, std::vector<int>{1});
  // A query that is no plain table leaves nothing to name: such rows are never labelled.
  EXPECT_FALSE(IdentifyRows(connection_.Odbc(), columns,
                            "Select * from recording r join recording s on r.ID=s.ID where 1=1"));
}

// The fallback for data sources without a one-row limiter, tried on the ones at hand.
TEST_P(RecordingsTableTest, TransactionFallbackWritesOnlyAUniqueRow) {
  source_->RecreateTableWithoutKey();
  Insert(RecordingRow("twin"));
  Insert(RecordingRow("twin"));
  Insert(RecordingRow("single"));
  ASSERT_TRUE(
      connection_.OpenConnection(source_->ConnectString(), DatabaseConnection::kNoOdbcDialog));
  platform::OdbcConnection& odbc = connection_.Odbc();
  std::vector<platform::OdbcColumn> columns;
  std::vector<RowValues> table;
  {
    platform::OdbcStatement select(odbc);
    select.ExecuteDirect("Select * from recording");
    for (int i = 1; i <= select.ColumnCount(); ++i) columns.push_back(select.DescribeColumn(i));
    while (select.Fetch()) {
      RowValues& row = table.emplace_back();
      for (int i = 1; i <= select.ColumnCount(); ++i) row.push_back(select.ReadText(i));
    }
  }
  ASSERT_EQ(table.size(), 3u);
  std::vector<MatchColumn> match;
  for (const platform::OdbcColumn& column : columns) match.push_back({column, true});
  ArchiveUpdate update(RowLimiter::kTransaction,
                       odbc.InfoText(platform::OdbcInfo::kIdentifierQuoteChar), "recording",
                       columns[kArchivePosition], match);
  EXPECT_FALSE(update.Write(odbc, table[0], "DAT_1"));
  EXPECT_EQ(source_->ArchiveOf("twin"), (Values{"", ""}));
  EXPECT_TRUE(update.Write(odbc, table[2], "DAT_2"));
  EXPECT_EQ(source_->ArchiveOf("single"), Values{"DAT_2"});  // committed: seen from elsewhere
  source_->Execute("UPDATE recording SET ARCHIVE='x' WHERE ID='twin'");  // autocommit is back
  EXPECT_EQ(source_->ArchiveOf("twin"), (Values{"x", "x"}));
}

// --- Connection and errors ---

TEST_P(RecordingsTableTest, ConnectionTakesTheFrameworkPrefixAndRefusesUnknownOptions) {
  EXPECT_THROW(connection_.OpenConnection(source_->ConnectString(), 0x4), std::invalid_argument);
  EXPECT_FALSE(connection_.IsOpen());
  EXPECT_TRUE(connection_.OpenConnection("ODBC;" + source_->ConnectString(), 0));
  EXPECT_THROW(connection_.OpenConnection(source_->ConnectString(), 0), std::logic_error);
  connection_.CloseConnection();
  EXPECT_FALSE(connection_.IsOpen());
  EXPECT_THROW(connection_.Odbc(), std::logic_error);
  EXPECT_EQ(rows_.DefaultConnect(), "ODBC;DSN=qz_data;");
  EXPECT_EQ(rows_.DefaultQuery(), "qz_data");
}

TEST_P(RecordingsTableTest, ErrorsCarryTheDataSourceText) {
  try {
    connection_.OpenConnection("DSN=qz_no_such_source;", DatabaseConnection::kNoOdbcDialog);
    ADD_FAILURE() << "connected to a missing data source";
  } catch (const platform::OdbcError& error) {
    EXPECT_NE(std::string(error.what()).find("Data source name not found"), std::string::npos)
        << error.what();
    EXPECT_EQ(error.SqlState(), "IM002");
  }
  EXPECT_FALSE(connection_.IsOpen());

  BackupSettings settings = Settings();
  settings.GetDataFromTable = "nosuch";
  Open("Select * from recording");
  rows_.CloseRows();
  try {
    rows_.OpenRows(CDBRecSet::kSnapshot, MakeBackupQuery(settings), CDBRecSet::kNone);
    ADD_FAILURE() << "opened a missing table";
  } catch (const platform::OdbcError& error) {
    const std::string expected =
        GetParam() == test::DataSourceKind::kSqlite    ? "no such table: nosuch"
        : GetParam() == test::DataSourceKind::kMariaDb ? "nosuch' doesn't exist"
                                                       : "\"nosuch\" does not exist";
    EXPECT_NE(std::string(error.what()).find(expected), std::string::npos) << error.what();
  }
  EXPECT_FALSE(rows_.IsOpen());
  EXPECT_THROW(rows_.OpenRows(CDBRecSet::kSnapshot, "Select ID, FILE from recording", 0),
               platform::OdbcError);
}

}  // namespace qz
