#include "backup/archive_update.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qz {
namespace {

platform::OdbcColumn Column(std::string name, short sqlType = 12) {
  platform::OdbcColumn column;
  column.name = std::move(name);
  column.sqlType = sqlType;
  column.size = 255;
  return column;
}

std::vector<MatchColumn> Match(std::vector<std::string> names) {
  std::vector<MatchColumn> match;
  for (std::string& name : names) match.push_back({Column(std::move(name)), true});
  return match;
}

TEST(RowLimiterTest, ChosenByTheDatabaseName) {
  EXPECT_EQ(RowLimiterFor("SQLite"), RowLimiter::kRowid);
  EXPECT_EQ(RowLimiterFor("MariaDB"), RowLimiter::kLimit);
  EXPECT_EQ(RowLimiterFor("mysql"), RowLimiter::kLimit);
  EXPECT_EQ(RowLimiterFor("PostgreSQL"), RowLimiter::kCtid);
  EXPECT_EQ(RowLimiterFor("Microsoft SQL Server"), RowLimiter::kTransaction);
  EXPECT_EQ(RowLimiterFor(""), RowLimiter::kTransaction);
}

TEST(ArchiveUpdateTextTest, PostgresqlFormNamesOneRowByItsCtid) {
  ArchiveUpdate update(RowLimiter::kCtid, "\"", "\"o\".\"rec\"", Column("ARCHIVE"),
                       Match({"A", "B", "ARCHIVE"}));
  EXPECT_EQ(update.StatementText({"x", std::nullopt, ""}),
            "UPDATE \"o\".\"rec\" SET \"ARCHIVE\"=? WHERE ctid=(SELECT ctid FROM \"o\".\"rec\" "
            "WHERE \"A\"=? AND \"B\" IS NULL AND \"ARCHIVE\"=? LIMIT 1)");
}

TEST(ArchiveUpdateTextTest, QuoteCharacterInsideANameIsDoubledAndABlankMeansNone) {
  EXPECT_EQ(QuotedIdentifier("my`table", "`"), "`my``table`");
  EXPECT_EQ(QuotedIdentifier("rec", " "), "rec");
  EXPECT_EQ(QuotedIdentifier("rec", ""), "rec");
  ArchiveUpdate unquoted(RowLimiter::kTransaction, " ", "rec", Column("ARCHIVE"),
                         Match({"ARCHIVE"}));
  EXPECT_EQ(unquoted.StatementText({""}), "UPDATE rec SET ARCHIVE=? WHERE ARCHIVE=?");
}

// A value that cannot be bound back (a zero date, say) drops out of the second attempt, but the
// columns that tell recordings apart never do.
TEST(ArchiveUpdateTextTest, SecondAttemptKeepsOnlyTheEssentialColumns) {
  std::vector<MatchColumn> match = {{Column("MODIFY", 93), false},
                                    {Column("CALLER"), true},
                                    {Column("FILE"), true},
                                    {Column("ARCHIVE"), true}};
  ArchiveUpdate update(RowLimiter::kLimit, "`", "`rec`", Column("ARCHIVE"), match);
  const RowValues values = {"0000-00-00 00:00:00", std::nullopt, "a.wav", ""};
  EXPECT_EQ(update.StatementText(values),
            "UPDATE `rec` SET `ARCHIVE`=? WHERE `MODIFY`=? AND `CALLER` IS NULL AND `FILE`=? AND "
            "`ARCHIVE`=? LIMIT 1");
  EXPECT_EQ(update.StatementText(values, true),
            "UPDATE `rec` SET `ARCHIVE`=? WHERE `CALLER` IS NULL AND `FILE`=? AND `ARCHIVE`=? "
            "LIMIT 1");
  EXPECT_THROW(update.StatementText({"x"}), std::invalid_argument);
}

}  // namespace
}  // namespace qz
