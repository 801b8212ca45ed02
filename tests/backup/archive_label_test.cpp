#include "backup/archive_label.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <ctime>
#include <string>

#include "platform/profile.h"
#include "tests/backup/scoped_time_zone.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

using test::LocalTimeOf;

struct WeekCase {
  int year, month, day, week;
};

TEST(CurrentIsoWeekTest, GivesTheDocumentedWeeks) {
  const WeekCase cases[] = {
      {2023, 1, 1, 0},    {2023, 1, 2, 1}, {2021, 1, 3, 0}, {2024, 1, 1, 1},    {2024, 12, 30, 53},
      {2025, 12, 31, 53}, {2026, 1, 1, 1}, {2026, 1, 5, 2}, {2020, 12, 31, 53},
  };
  for (const WeekCase& c : cases) {
    for (int hour : {0, 12, 23}) {
      EXPECT_EQ(CurrentIsoWeek(LocalTimeOf(c.year, c.month, c.day, hour, 30)), c.week)
          << c.year << "-" << c.month << "-" << c.day << " " << hour << ":30";
    }
  }
}

// ISO 8601 by the C library, folded the way the tool folds the year boundaries.
int ExpectedWeek(const std::tm& local) {
  char text[16];
  std::strftime(text, sizeof text, "%G %V", &local);
  int isoYear = 0;
  int isoWeek = 0;
  std::sscanf(text, "%d %d", &isoYear, &isoWeek);
  const int year = local.tm_year + 1900;
  if (isoYear < year) return 0;
  if (isoYear > year) return 53;
  return isoWeek;
}

TEST(CurrentIsoWeekTest, AgreesWithIso8601FromNineteenNinetyToTwentySixty) {
  std::tm day{};
  day.tm_year = 1990 - 1900;
  day.tm_mday = 1;
  day.tm_hour = 12;
  day.tm_isdst = -1;
  int days = 0;
  for (std::time_t t = std::mktime(&day); day.tm_year <= 2060 - 1900; t = std::mktime(&day)) {
    ASSERT_EQ(CurrentIsoWeek(t), ExpectedWeek(day))
        << day.tm_year + 1900 << "-" << day.tm_mon + 1 << "-" << day.tm_mday;
    ++day.tm_mday;
    day.tm_isdst = -1;
    ++days;
  }
  EXPECT_EQ(days, 25933);  // every day of 71 years was looked at
}

TEST(CurrentIsoWeekTest, UsesTheLocalDateNotTheUtcOne) {
  test::ScopedTimeZone zone("UTC-14");  // POSIX sign: 14 hours ahead of UTC
  // Monday 2023-01-02 00:30 local is still Sunday 1 January in UTC (week 0).
  EXPECT_EQ(CurrentIsoWeek(LocalTimeOf(2023, 1, 2, 0, 30)), 1);
  test::ScopedTimeZone behind("UTC+11");
  // Sunday 2023-01-01 23:30 local is already Monday in UTC.
  EXPECT_EQ(CurrentIsoWeek(LocalTimeOf(2023, 1, 1, 23, 30)), 0);
}

class MakeArchiveLabelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetConfig();
    settings_.ArchiveFlagType = 1;
    settings_.MaxArchiveCount = 15;
    settings_.ArchivePrefixForDBEntry = "DAT";
  }

  std::string LabelOn(int year, int month, int day) {
    clock_.Set(LocalTimeOf(year, month, day, 10));
    return MakeArchiveLabel(settings_, clock_).text;
  }

  static int Stored(const char* key) {
    return platform::GetPrivateProfileInt("ArchiveCounter", key, -99, kIniFile);
  }

  static void Store(const char* key, int value) {
    platform::WritePrivateProfileString("ArchiveCounter", key, std::to_string(value), kIniFile);
  }

  BackupSettings settings_;
  test::FakeClock clock_;
};

TEST_F(MakeArchiveLabelTest, FirstRunEverStartsTheCounterAtOne) {
  EXPECT_EQ(LabelOn(2024, 3, 6), "DAT_1");  // week 10
  EXPECT_EQ(Stored("LastArchiveWeek"), 10);
  EXPECT_EQ(Stored("CounterForCurWeek"), 1);
  EXPECT_NE(test::ReadFile(test::IniFile()).find("LastArchiveWeek=10"), std::string::npos);
}

TEST_F(MakeArchiveLabelTest, SecondRunInTheSameWeekKeepsTheLabelAndLeavesTheFileAlone) {
  ASSERT_EQ(LabelOn(2024, 3, 4), "DAT_1");
  struct stat before {};
  ASSERT_EQ(stat(test::IniFile().c_str(), &before), 0);
  const std::string content = test::ReadFile(test::IniFile());

  EXPECT_EQ(LabelOn(2024, 3, 10), "DAT_1");  // Sunday of the same week

  struct stat after {};
  ASSERT_EQ(stat(test::IniFile().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(test::ReadFile(test::IniFile()), content);
}

TEST_F(MakeArchiveLabelTest, AdvancesOncePerNewWeekAndWrapsAfterTheMaximum) {
  Store("LastArchiveWeek", 9);
  Store("CounterForCurWeek", 14);
  EXPECT_EQ(LabelOn(2024, 3, 6), "DAT_15");
  EXPECT_EQ(LabelOn(2024, 3, 13), "DAT_1");
  EXPECT_EQ(Stored("LastArchiveWeek"), 11);
  EXPECT_EQ(Stored("CounterForCurWeek"), 1);
  // Weeks without a run do not count: one step per run in a new week.
  EXPECT_EQ(LabelOn(2024, 6, 5), "DAT_2");
}

TEST_F(MakeArchiveLabelTest, ZeroOrNegativeMaximumGivesOneEveryNewWeek) {
  for (int max : {0, -3}) {
    test::ResetConfig();
    settings_.MaxArchiveCount = max;
    EXPECT_EQ(LabelOn(2024, 3, 6), "DAT_1") << max;
    EXPECT_EQ(LabelOn(2024, 3, 13), "DAT_1") << max;
    EXPECT_EQ(Stored("CounterForCurWeek"), 1) << max;
  }
}

TEST_F(MakeArchiveLabelTest, CounterAboveALoweredMaximumStaysForTheWeekThenWraps) {
  Store("LastArchiveWeek", 10);
  Store("CounterForCurWeek", 20);
  EXPECT_EQ(LabelOn(2024, 3, 6), "DAT_20");
  EXPECT_EQ(LabelOn(2024, 3, 13), "DAT_1");
}

TEST_F(MakeArchiveLabelTest, CounterStepsWithoutWrappingAndANegativeOneCountsUp) {
  struct {
    int stored, max;
    const char* label;
  } cases[] = {{INT_MAX, 15, "DAT_1"},
               {INT_MAX, INT_MAX, "DAT_1"},
               {INT_MAX - 1, INT_MAX, "DAT_2147483647"},
               {-5, 15, "DAT_-4"},
               {INT_MIN, 15, "DAT_-2147483647"},
               {-1, -3, "DAT_1"}};
  for (const auto& c : cases) {
    Store("LastArchiveWeek", 9);  // the run below is in week 10
    Store("CounterForCurWeek", c.stored);
    settings_.MaxArchiveCount = c.max;
    EXPECT_EQ(LabelOn(2024, 3, 6), c.label) << c.stored << " " << c.max;
    EXPECT_EQ("DAT_" + std::to_string(Stored("CounterForCurWeek")), c.label);
  }
}

TEST_F(MakeArchiveLabelTest, SameWeekNumberAYearLaterDoesNotAdvance) {
  Store("LastArchiveWeek", 10);
  Store("CounterForCurWeek", 4);
  EXPECT_EQ(LabelOn(2025, 3, 5), "DAT_4");  // week 10 again
}

TEST_F(MakeArchiveLabelTest, YearBoundaryWeeksAdvanceTheCounterOnBothSides) {
  EXPECT_EQ(LabelOn(2025, 12, 31), "DAT_1");  // 53
  EXPECT_EQ(LabelOn(2026, 1, 1), "DAT_2");    // 1, same ISO week
  EXPECT_EQ(LabelOn(2022, 12, 30), "DAT_3");  // 52
  EXPECT_EQ(LabelOn(2023, 1, 1), "DAT_4");    // 0
  EXPECT_EQ(LabelOn(2023, 1, 2), "DAT_5");    // 1
}

TEST_F(MakeArchiveLabelTest, WeekNumberLabelNeitherReadsNorWritesTheCounter) {
  Store("LastArchiveWeek", 0);
  Store("CounterForCurWeek", 7);
  const std::string content = test::ReadFile(test::IniFile());
  settings_.ArchiveFlagType = 0;
  EXPECT_EQ(LabelOn(2023, 1, 1), "DAT_0");
  EXPECT_EQ(LabelOn(2024, 3, 6), "DAT_10");
  settings_.ArchiveFlagType = 2;
  EXPECT_EQ(LabelOn(2024, 12, 30), "DAT_53");
  EXPECT_EQ(test::ReadFile(test::IniFile()), content);
}

TEST_F(MakeArchiveLabelTest, WeekNumberLabelCreatesNoFile) {
  settings_.ArchiveFlagType = 0;
  EXPECT_EQ(LabelOn(2024, 3, 6), "DAT_10");
  EXPECT_FALSE(std::filesystem::exists(test::IniFile()));
}

TEST_F(MakeArchiveLabelTest, OverlongLabelIsReportedWholeAndTheCounterStillAdvances) {
  settings_.ArchivePrefixForDBEntry = std::string(37, 'P');
  clock_.Set(LocalTimeOf(2024, 3, 6, 10));
  ArchiveLabel fits = MakeArchiveLabel(settings_, clock_);
  EXPECT_EQ(fits.text, std::string(37, 'P') + "_1");  // 39 characters
  EXPECT_TRUE(fits.Fits());

  settings_.ArchivePrefixForDBEntry = std::string(38, 'P');
  clock_.Set(LocalTimeOf(2024, 3, 13, 10));
  ArchiveLabel tooLong = MakeArchiveLabel(settings_, clock_);
  EXPECT_EQ(tooLong.text, std::string(38, 'P') + "_2");  // 40 characters, not cut
  EXPECT_FALSE(tooLong.Fits());
  EXPECT_EQ(Stored("CounterForCurWeek"), 2);
}

}  // namespace
}  // namespace qz

namespace qz {
namespace {

// What --check shows: the label the next run writes, the stored counter left as it is.
TEST_F(MakeArchiveLabelTest, PeekGivesTheNextRunsLabelWithoutWritingTheCounter) {
  struct Case {
    int lastWeek, counter;
    const char* label;
  };
  for (const Case& c : {Case{10, 4, "DAT_4"}, Case{9, 4, "DAT_5"}, Case{9, 15, "DAT_1"}}) {
    Store("LastArchiveWeek", c.lastWeek);
    Store("CounterForCurWeek", c.counter);
    const std::string content = test::ReadFile(test::IniFile());
    clock_.Set(LocalTimeOf(2024, 3, 6, 10));  // week 10
    EXPECT_EQ(PeekArchiveLabel(settings_, clock_).text, c.label) << c.lastWeek << " " << c.counter;
    EXPECT_EQ(test::ReadFile(test::IniFile()), content);
    EXPECT_EQ(MakeArchiveLabel(settings_, clock_).text, c.label) << "the run writes another label";
  }
  test::ResetConfig();
  EXPECT_EQ(PeekArchiveLabel(settings_, clock_).text, "DAT_1");
  EXPECT_FALSE(std::filesystem::exists(test::IniFile()));
}

}  // namespace
}  // namespace qz
