#include <gtest/gtest.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

#include <cstdlib>
#include <string>

#include "backup/backup_query.h"
#include "backup/recording_columns.h"
#include "tests/backup/recordings_table_test.h"
#include "tests/backup/scoped_time_zone.h"

namespace qz {
namespace {

INSTANTIATE_TEST_SUITE_P(SQLite, RecordingsTableTest,
                         ::testing::Values(test::DataSourceKind::kSqlite), DataSourceName);

int MakeSqliteDsn(const test::TempDir& folder, const std::string& dsn, const std::string& rows,
                  const std::string& options = "") {
  const std::string command = test::OdbcScript("make-sqlite-dsn").string() + " --db " +
                              (folder / "recordings.sqlite").string() + " --dsn " + dsn +
                              " --ext " + test::CurdateExtension() + " --rows " + rows + options;
  return std::system(command.c_str());
}

std::string TsvLine(const std::string& caller, const std::string& serverName) {
  std::string line = "2026-01-05 10:00:00\tid\t1";
  for (int i = 3; i < 11; ++i) line += "\t1";
  line += "\t2026-01-05 10:00:00\t" + caller + "\tb\tc\td\t1\tok\t60\t1\tisdn\t" + serverName +
          "\tD:\t\\rec\tf.wav\t0\t\n";
  return line;
}

TEST(MakeSqliteDsnTest, LoadsTabSeparatedRowsIntoTheOdbcFoldersOfTheEnvironment) {
  test::TempDir folder;
  test::WriteFile(folder / "rows.tsv",
                  "# comment\n" + TsvLine("O'Neil", "rec1") + "\n" + TsvLine("plain", "\\N"));
  // Without a key the snapshot keeps every column, so CALLER can be read back.
  ASSERT_EQ(MakeSqliteDsn(folder, "qz_script", (folder / "rows.tsv").string(), " --no-key"), 0);
  EXPECT_NE(test::ReadFile(std::getenv("ODBCINI")).find("[qz_script]"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(std::getenv("HOME")) / ".odbc.ini"));

  DatabaseConnection connection;
  ASSERT_TRUE(connection.OpenConnection("DSN=qz_script;", DatabaseConnection::kNoOdbcDialog));
  CDBRecSet rows(&connection);
  rows.OpenRows(CDBRecSet::kSnapshot, "Select * from recording where SERVERNAME IS NULL", 0);
  ASSERT_FALSE(rows.IsAtEnd());
  EXPECT_EQ(rows.ReadColumnText(12), "plain");
  rows.CloseRows();
  rows.OpenRows(CDBRecSet::kSnapshot, "Select * from recording where SERVERNAME='rec1'", 0);
  ASSERT_FALSE(rows.IsAtEnd());
  EXPECT_EQ(rows.ReadColumnText(12), "O'Neil");
  EXPECT_EQ(rows.m_SERVER, 1);
  EXPECT_EQ(rows.ReadColumnText(kArchivePosition), "");
  EXPECT_TRUE(rows.IsUpdatable());
  EXPECT_FALSE(rows.NamesRowsByKey());
}

TEST(MakeSqliteDsnTest, TableGetsAPrimaryKeyOnIdByDefault) {
  test::TempDir folder;
  test::WriteFile(folder / "rows.tsv", TsvLine("a", "rec1"));
  ASSERT_EQ(MakeSqliteDsn(folder, "qz_keyed", (folder / "rows.tsv").string()), 0);
  DatabaseConnection connection;
  ASSERT_TRUE(connection.OpenConnection("DSN=qz_keyed;", DatabaseConnection::kNoOdbcDialog));
  CDBRecSet rows(&connection);
  rows.OpenRows(CDBRecSet::kSnapshot, "Select * from recording where ARCHIVE=''", 0);
  ASSERT_EQ(rows.RowCount(), 1u);
  EXPECT_TRUE(rows.NamesRowsByKey());
  EXPECT_EQ(rows.ReadColumnText(1), "id");
}

TEST(MakeSqliteDsnTest, RefusesARowWithoutTwentySevenFields) {
  test::TempDir folder;
  test::WriteFile(folder / "rows.tsv", "a\tb\n");
  EXPECT_NE(MakeSqliteDsn(folder, "qz_short", (folder / "rows.tsv").string()), 0);
}

// A table of an attached database is named as the query named it, never by its bare name, which
// is the twin in the main database.
TEST(SqliteAttachedDatabaseTest, LabelGoesToTheAttachedTableNotItsTwin) {
  test::TempDir folder;
  auto source = test::MakeSqliteDataSource(folder.path());
  const std::string attach =
      "ATTACH DATABASE '" + (folder / "other.sqlite").string() + "' AS other";
  source->Execute(attach);
  source->Execute(source->TableDdl("other.recording"));
  const test::RecordingRow row("1");
  source->Insert(row, "other.recording");
  source->Insert(row);

  DatabaseConnection connection;
  ASSERT_TRUE(
      connection.OpenConnection(source->ConnectString(), DatabaseConnection::kNoOdbcDialog));
  platform::OdbcStatement(connection.Odbc()).ExecuteDirect(attach);
  BackupSettings settings;
  settings.GetDataFromTable = "other.recording";
  CDBRecSet rows(&connection);
  rows.OpenRows(CDBRecSet::kSnapshot, MakeBackupQuery(settings), 0);
  ASSERT_EQ(rows.RowCount(), 1u);
  EXPECT_TRUE(rows.NamesRowsByKey());
  EXPECT_TRUE(rows.UpdateArchive("DAT_1"));
  EXPECT_EQ(source->ArchiveOf("1", "other.recording"), std::vector<test::SqlValue>{"DAT_1"});
  EXPECT_EQ(source->ArchiveOf("1"), std::vector<test::SqlValue>{""});
  rows.CloseRows();

  // The driver answers the key question for the main database's table of that name, so twins in
  // a table without a key rely on the match of SERVERNAME, FILE and ARCHIVE and the one-row limit.
  source->Execute("DROP TABLE other.recording");
  source->Execute(source->TableDdl("other.recording", false));
  source->Insert(row, "other.recording");
  source->Insert(row, "other.recording");
  rows.OpenRows(CDBRecSet::kSnapshot, MakeBackupQuery(settings), 0);
  ASSERT_EQ(rows.RowCount(), 2u);
  EXPECT_TRUE(rows.UpdateArchive("DAT_2"));
  rows.MoveToNext();
  EXPECT_TRUE(rows.UpdateArchive("DAT_3"));
  EXPECT_EQ(source->ArchiveOf("1", "other.recording"),
            (std::vector<test::SqlValue>{"DAT_2", "DAT_3"}));
}

// The SQLite driver never frees the loader's message when an extension fails to load.
struct ExtensionLoadLeaksIgnored {
#ifdef __SANITIZE_ADDRESS__
  __lsan::ScopedDisabler disabler;
#endif
};

TEST(SqliteCurdateTest, QueryFailsOnCurdateWhenTheExtensionDidNotLoad) {
  test::TempDir folder;
  test::WriteFile(folder / "not-an-extension.so", "");
  std::unique_ptr<test::TestDataSource> source;
  DatabaseConnection connection;
  {
    [[maybe_unused]] ExtensionLoadLeaksIgnored ignored;
    source = test::MakeSqliteDataSource(folder.path(), (folder / "not-an-extension.so").string());
    ASSERT_TRUE(
        connection.OpenConnection(source->ConnectString(), DatabaseConnection::kNoOdbcDialog));
  }
  CDBRecSet rows(&connection);
  BackupSettings settings;
  settings.GetDataFromTable = "recording";
  try {
    rows.OpenRows(CDBRecSet::kSnapshot, MakeBackupQuery(settings), 0);
    ADD_FAILURE() << "CURDATE() without the extension";
  } catch (const platform::OdbcError& error) {
    EXPECT_NE(std::string(error.what()).find("no such function: CURDATE"), std::string::npos)
        << error.what();
  }
}

TEST(SqliteCurdateTest, CurdateIsTodaysLocalDate) {
  test::TempDir folder;
  auto source = test::MakeSqliteDataSource(folder.path());
  // Fourteen hours either side of UTC, the local date differs from the UTC one most of the day.
  for (const char* zone : {"UTC-14", "UTC+12"}) {
    test::ScopedTimeZone scoped(zone);
    EXPECT_EQ(source->SelectColumn("SELECT CURDATE()"),
              std::vector<test::SqlValue>{test::SqlDateTime(std::time(nullptr)).substr(0, 10)})
        << zone;
  }
}

// Values come in pieces when longer than the read buffer; NULL stays apart from the empty text.
TEST(OdbcReadTextTest, LongValuesAreReadWholeAndNullIsNotEmpty) {
  test::TempDir folder;
  auto source = test::MakeSqliteDataSource(folder.path());
  const std::string expected = std::string(2999, '0') + "x";
  EXPECT_EQ(source->SelectColumn("SELECT substr(hex(zeroblob(1500)), 2) || 'x'"),
            std::vector<test::SqlValue>{expected});
  EXPECT_EQ(source->SelectColumn("SELECT NULL UNION ALL SELECT ''"),
            (std::vector<test::SqlValue>{std::nullopt, ""}));
}

}  // namespace
}  // namespace qz
