#include "monitor/auto_start_text.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qz
