#include "backup/archive_update.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qz {
namespace {

std::vector<platform::OdbcColumn> Columns(std::vector<std::string> names) {
  std::vector<platform::OdbcColumn> columns;
  for (std::string& name : names) columns.push_back({std::move(name), "t", 12, 255, 0});
  return columns;
}

TEST(RowLimiterTest, ChosenByTheDatabaseName) {
  EXPECT_EQ(RowLimiterFor("SQLite"), RowLimiter::kRowid);
  EXPECT_EQ(RowLimiterFor("MariaDB"), RowLimiter::kLimit);
  EXPECT_EQ(RowLimiterFor("mysql"), RowLimiter::kLimit);
  EXPECT_EQ(RowLimiterFor("PostgreSQL"), RowLimiter::kCtid);
  EXPECT_EQ(RowLimiterFor("Microsoft SQL Server"), RowLimiter::kTransaction);
  EXPECT_EQ(RowLimiterFor(""), RowLimiter::kTransaction);
}

// PostgreSQL has no test server here, so its form is checked as text.
TEST(ArchiveUpdateTextTest, PostgresqlFormNamesOneRowByItsCtid) {
  ArchiveUpdate update(RowLimiter::kCtid, "\"", "rec", Columns({"A", "B", "ARCHIVE"}), 2);
  EXPECT_EQ(update.StatementText({"x", std::nullopt, ""}),
            "UPDATE \"rec\" SET \"ARCHIVE\"=? WHERE ctid=(SELECT ctid FROM \"rec\" WHERE "
            "\"A\"=? AND \"B\" IS NULL AND \"ARCHIVE\"=? LIMIT 1)");
}

TEST(ArchiveUpdateTextTest, QuoteCharacterInsideANameIsDoubledAndABlankMeansNone) {
  ArchiveUpdate quoted(RowLimiter::kLimit, "`", "my`table", Columns({"ARCHIVE"}), 0);
  EXPECT_EQ(quoted.StatementText({""}),
            "UPDATE `my``table` SET `ARCHIVE`=? WHERE `ARCHIVE`=? LIMIT 1");
  ArchiveUpdate unquoted(RowLimiter::kTransaction, " ", "rec", Columns({"ARCHIVE"}), 0);
  EXPECT_EQ(unquoted.StatementText({""}), "UPDATE rec SET ARCHIVE=? WHERE ARCHIVE=?");
}

}  // namespace
}  // namespace qz
