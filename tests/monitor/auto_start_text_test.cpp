#include "monitor/auto_start_text.h"

#include <gtest/gtest.h>

#include "config/process_values.h"
#include "tests/backup/scoped_time_zone.h"

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

}  // namespace
}  // namespace qz
