#include "monitor/auto_start_text.h"

#include <gtest/gtest.h>

#include "tests/backup/scoped_time_zone.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

TEST(IdleStatusTextTest, NamesTheHourAndTheWeekdayTheSchedulerMatches) {
  EXPECT_EQ(IdleStatusText(2, 0), "Idle, next automatic start 02:00");
  EXPECT_EQ(IdleStatusText(0, 0), "Idle, next automatic start 00:00");
  EXPECT_EQ(IdleStatusText(23, 1), "Idle, next automatic start Sunday 23:00");
  EXPECT_EQ(IdleStatusText(14, 2), "Idle, next automatic start Monday 14:00");
  EXPECT_EQ(IdleStatusText(9, 7), "Idle, next automatic start Saturday 09:00");
}

TEST(IdleStatusTextTest, AnHourOrDayThatNeverMatchesPromisesNoStart) {
  for (auto [hour, day] : {std::pair{24, 0}, {-1, 0}, {2, 8}, {2, -1}, {-9, -9}})
    EXPECT_EQ(IdleStatusText(hour, day), "Idle, no automatic start") << hour << " " << day;
}

// Minute 0 of the hour on the day, local time; the hour now counts while its minute 0 lasts.
TEST(NextAutomaticStartTest, FindsMinuteZeroOfTheHourOnTheDayAcrossWeeksAndSummerTime) {
  test::ScopedTimeZone zone("Europe/Berlin");
  using test::LocalTimeOf;
  struct Case {
    std::time_t now;
    int hour, day;
    std::time_t expected;
  };
  const Case cases[] = {
      // Wednesday 6 March 2024.
      {LocalTimeOf(2024, 3, 6, 1, 30), 2, 0, LocalTimeOf(2024, 3, 6, 2)},
      {LocalTimeOf(2024, 3, 6, 2, 0, 30), 2, 0, LocalTimeOf(2024, 3, 6, 2)},
      {LocalTimeOf(2024, 3, 6, 2, 1), 2, 0, LocalTimeOf(2024, 3, 7, 2)},
      {LocalTimeOf(2024, 3, 6, 12), 23, 1, LocalTimeOf(2024, 3, 10, 23)},  // Sunday
      {LocalTimeOf(2024, 3, 6, 12), 9, 4, LocalTimeOf(2024, 3, 13, 9)},    // next Wednesday
      // 31 March 2024 has no 02:00 in Berlin: the first start is the next day's.
      {LocalTimeOf(2024, 3, 30, 12), 2, 0, LocalTimeOf(2024, 4, 1, 2)},
      {LocalTimeOf(2024, 3, 30, 12), 3, 0, LocalTimeOf(2024, 3, 31, 3)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NextAutomaticStart(c.now, c.hour, c.day), c.expected)
        << c.now << " " << c.hour << " " << c.day;
  for (auto [hour, day] : {std::pair{24, 0}, {-1, 0}, {2, 8}})
    EXPECT_EQ(NextAutomaticStart(LocalTimeOf(2024, 3, 6), hour, day), std::nullopt);
}

}  // namespace
}  // namespace qz
