#include "monitor/auto_start_text.h"

#include <gtest/gtest.h>

#include "config/process_values.h"
#include "tests/backup/scoped_time_zone.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

constexpr std::time_t kThursday1747 = 1747936020;  // 2025-05-22 17:47:00 UTC
constexpr std::time_t kThursday1700 = 1747933230;  // 2025-05-22 17:00:30 UTC, still minute 0

TEST(IdleStatusTextTest, NamesTheDayOnlyWhenTheNextStartIsNotToday) {
  test::ScopedTimeZone utc("UTC0");
  struct Case {
    std::time_t now;
    int hour, day;
    const char* text;
  };
  for (const Case& c : {
           Case{kThursday1747, 18, 0, "Idle, next automatic start 18:00"},
           // This hour's minute 0 is past: the scheduler starts tomorrow.
           Case{kThursday1747, 17, 0, "Idle, next automatic start Friday 17:00"},
           Case{kThursday1747, 0, 0, "Idle, next automatic start Friday 00:00"},
           // Within minute 0 the scheduler's first pass still starts today.
           Case{kThursday1700, 17, 0, "Idle, next automatic start 17:00"},
           Case{kThursday1747, 23, 1, "Idle, next automatic start Sunday 23:00"},
           Case{kThursday1747, 23, 5, "Idle, next automatic start 23:00"},
           Case{kThursday1747, 17, 5, "Idle, next automatic start Thursday 17:00"},
           Case{kThursday1747, 24, 0, "Idle, no automatic start"},
           Case{kThursday1747, -1, 0, "Idle, no automatic start"},
           Case{kThursday1747, 2, 8, "Idle, no automatic start"},
           Case{kThursday1747, 2, -1, "Idle, no automatic start"},
       })
    EXPECT_EQ(IdleStatusText(c.now, c.hour, c.day), c.text) << c.hour << " " << c.day;
}

TEST(IdleStatusTextTest, AnHourTheClockSkipsIsNotPromised) {
  test::ScopedTimeZone berlin("Europe/Berlin");
  // Saturday 2025-03-29 12:00; on Sunday the clocks go from 02:00 straight to 03:00.
  EXPECT_EQ(IdleStatusText(1743246000, 2, 0), "Idle, next automatic start Monday 02:00");
}

TEST(AfterRunStatusTextTest, TheSummaryStaysWithTheStartAfterThisHour) {
  test::ScopedTimeZone utc("UTC0");
  AutoStartOnHour = 17;
  AutoStartOnDay = 0;
  EXPECT_EQ(AfterRunStatusText("Backup run ended: 3 rows, 3 backed up, 0 failed", kThursday1700),
            "Backup run ended: 3 rows, 3 backed up, 0 failed; next automatic start Friday 17:00");
  AutoStartOnHour = 18;
  EXPECT_EQ(AfterRunStatusText("S", kThursday1700), "S; next automatic start 18:00");
  AutoStartOnHour = 0;
}

// Minute 0 of the hour on the day, local time; the hour now counts while its minute 0 lasts.
TEST(NextAutoStartTest, FindsMinuteZeroOfTheHourOnTheDayAcrossWeeksAndSummerTime) {
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
    EXPECT_EQ(NextAutoStart(c.now, c.hour, c.day), c.expected)
        << c.now << " " << c.hour << " " << c.day;
  for (auto [hour, day] : {std::pair{24, 0}, {-1, 0}, {2, 8}})
    EXPECT_EQ(NextAutoStart(LocalTimeOf(2024, 3, 6), hour, day), std::nullopt);
}

}  // namespace
}  // namespace qz
