#include "monitor/scheduler_thread.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/load_settings.h"
#include "config/process_values.h"
#include "monitor/main_window_handle.h"
#include "platform/profile.h"
#include "tests/support/prerequisite.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

using namespace std::chrono_literals;

// Remembers the time of every pass: the scheduler reads the clock once per pass, the test's own
// reads go through SimNow().
class PassClock : public test::FakeClock {
 public:
  using FakeClock::FakeClock;
  std::time_t Now() override {
    passTimes.push_back(FakeClock::Now());
    return passTimes.back();
  }
  std::time_t SimNow() { return FakeClock::Now(); }
  std::vector<std::time_t> passTimes;
};

// The main window's side: records each automatic start and lets the simulated run take its time.
class RecordingWindow : public AutoBackupTarget {
 public:
  explicit RecordingWindow(PassClock& clock) : clock_(clock) {}
  void SendAutoBackup() override {
    const std::time_t start = clock_.FakeClock::Now();
    starts.push_back(start);
    clock_.Set(start + runTime.count());
  }
  std::vector<std::time_t> starts;
  std::chrono::seconds runTime{0};

 private:
  PassClock& clock_;
};

class SchedulerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MainWindowHandle = &window_;
    AutoStartOnDay = 0;
    AutoStartOnHour = 0;
  }
  void TearDown() override {
    MainWindowHandle = nullptr;
    AutoStartOnDay = 0;
    AutoStartOnHour = 0;
  }

  // Passes from `start` until the simulated clock reaches `end`.
  void RunBetween(std::time_t start, std::time_t end) {
    clock_.Set(start);
    RunScheduler(clock_, [&] { return clock_.SimNow() < end; });
  }

  std::vector<std::tm> LocalStarts() const {
    std::vector<std::tm> local;
    for (std::time_t t : window_.starts) local.push_back(platform::LocalTime(t));
    return local;
  }

  PassClock clock_;
  RecordingWindow window_{clock_};
};

// Which days and hours start a run: each row runs the scheduler over its span and checks the
// number of starts, their weekday and that each falls on a day of its own at minute 0.
TEST_F(SchedulerTest, StartsOnTheConfiguredDaysAndHourOnly) {
  struct Case {
    std::string what;
    int day, hour;
    std::time_t from, to;
    size_t starts;
    int weekday;  // -1: any
  };
  std::vector<Case> cases;
  // Several start seconds, so the 59 s cadence meets minute 0 at different phases.
  for (int second : {0, 13, 37, 59})
    cases.push_back({"every day, started at second " + std::to_string(second), 0, 2,
                     test::LocalTimeOf(2026, 5, 4, 13, 17, second),
                     test::LocalTimeOf(2026, 5, 11, 12), 7, -1});
  cases.push_back(
      {"Sundays only", 1, 23, test::LocalTimeOf(2026, 5, 1), test::LocalTimeOf(2026, 5, 22), 3, 0});
  // The day value is the weekday plus one.
  for (int day = 1; day <= 7; ++day)
    cases.push_back({"day value " + std::to_string(day), day, 9, test::LocalTimeOf(2026, 6, 1),
                     test::LocalTimeOf(2026, 6, 8), 1, day - 1});
  cases.push_back(
      {"hour 24", 0, 24, test::LocalTimeOf(2026, 6, 1), test::LocalTimeOf(2026, 6, 9), 0, -1});
  cases.push_back(
      {"day value 8", 8, 3, test::LocalTimeOf(2026, 6, 1), test::LocalTimeOf(2026, 6, 9), 0, -1});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AutoStartOnDay = c.day;
    AutoStartOnHour = c.hour;
    window_.starts.clear();
    RunBetween(c.from, c.to);
    ASSERT_EQ(window_.starts.size(), c.starts);
    int previousDay = 0;
    for (const std::tm& tm : LocalStarts()) {
      if (c.weekday >= 0) {
        EXPECT_EQ(tm.tm_wday, c.weekday);
      }
      EXPECT_EQ(tm.tm_hour, c.hour);
      EXPECT_EQ(tm.tm_min, 0);
      EXPECT_GT(tm.tm_mday, previousDay);
      previousDay = tm.tm_mday;
    }
  }
}

TEST_F(SchedulerTest, KeysMissingFromTheFileMeanEveryDayAtMidnight) {
  test::ResetConfig();
  test::TempDir download;
  platform::WritePrivateProfileString("Config", "DownloadPath", download.str() + "/", kIniFile);
  AutoStartOnDay = 4;
  AutoStartOnHour = 17;
  BackupSettings settings;
  ASSERT_TRUE(LoadSettings(settings));

  RunBetween(test::LocalTimeOf(2026, 6, 1, 0, 0, 30), test::LocalTimeOf(2026, 6, 3, 12));
  ASSERT_EQ(window_.starts.size(), 3u);
  for (const std::tm& tm : LocalStarts()) {
    EXPECT_EQ(tm.tm_hour, 0);
    EXPECT_EQ(tm.tm_min, 0);
  }
}

TEST_F(SchedulerTest, StartedOrRestartedInMinuteZeroStartsAtOnce) {
  AutoStartOnHour = 2;
  const std::time_t first = test::LocalTimeOf(2026, 6, 1, 2, 0, 10);
  RunBetween(first, first + 1);
  ASSERT_EQ(window_.starts, std::vector<std::time_t>{first});
  EXPECT_EQ(clock_.pauses, std::vector<std::chrono::milliseconds>{60s});

  // A new process knows nothing of the run before it.
  const std::time_t restart = test::LocalTimeOf(2026, 6, 1, 2, 0, 40);
  RunBetween(restart, restart + 1);
  EXPECT_EQ(window_.starts, (std::vector<std::time_t>{first, restart}));
}

TEST_F(SchedulerTest, PausesAre59SecondsExceptAfterAPassInMinuteZero) {
  AutoStartOnHour = 5;
  RunBetween(test::LocalTimeOf(2026, 6, 1, 12, 59, 30), test::LocalTimeOf(2026, 6, 1, 13, 2));
  EXPECT_EQ(clock_.pauses, (std::vector<std::chrono::milliseconds>{59s, 60s, 59s}));
  EXPECT_TRUE(window_.starts.empty());
}

TEST_F(SchedulerTest, NoWindowYetMeansNoStart) {
  MainWindowHandle = nullptr;
  RunBetween(test::LocalTimeOf(2026, 6, 1, 12), test::LocalTimeOf(2026, 6, 2, 12));
  EXPECT_TRUE(window_.starts.empty());
  EXPECT_FALSE(clock_.pauses.empty());
}

TEST_F(SchedulerTest, LongRunMakesNoPassesAndResumesAMinuteAfterIt) {
  AutoStartOnHour = 2;
  window_.runTime = 90min;
  const std::time_t start = test::LocalTimeOf(2026, 6, 1, 2, 0, 5);
  clock_.Set(start);
  RunScheduler(clock_, [&] { return clock_.passTimes.size() < 3; });

  ASSERT_EQ(window_.starts, std::vector<std::time_t>{start});
  const std::time_t runEnd = start + 90 * 60;
  EXPECT_EQ(clock_.passTimes, (std::vector<std::time_t>{start, runEnd + 60, runEnd + 119}));
}

TEST_F(SchedulerTest, HourChangedWhileRunningIsUsedAtTheNextPass) {
  AutoStartOnHour = 4;
  const std::time_t changeAt = test::LocalTimeOf(2026, 6, 1, 2, 0, 0);
  const std::time_t end = test::LocalTimeOf(2026, 6, 1, 5);
  clock_.Set(test::LocalTimeOf(2026, 6, 1, 1, 59, 30));
  RunScheduler(clock_, [&] {
    if (clock_.SimNow() >= changeAt) AutoStartOnHour = 2;
    return clock_.SimNow() < end;
  });
  // Passes at 01:59:30 and 02:00:29; the second one already compares with hour 2.
  EXPECT_EQ(window_.starts, std::vector<std::time_t>{changeAt + 29});
}

// The local clock of a zone with summer time, for the days it skips or repeats an hour.
class SummerTimeTest : public SchedulerTest {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists("/usr/share/zoneinfo/Europe/Berlin"))
      QZ_SKIP_OUTSIDE_CI("tzdata is not installed");
    if (const char* tz = getenv("TZ")) savedTz_ = tz;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    SchedulerTest::SetUp();
    AutoStartOnHour = 2;
  }
  void TearDown() override {
    SchedulerTest::TearDown();
    if (savedTz_)
      setenv("TZ", savedTz_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  std::optional<std::string> savedTz_;
};

TEST_F(SummerTimeTest, DayThatSkipsTheHourStartsNothing) {
  // 29 March 2026: 02:00 CET becomes 03:00 CEST.
  RunBetween(test::LocalTimeOf(2026, 3, 27, 12), test::LocalTimeOf(2026, 3, 30, 12));
  ASSERT_EQ(window_.starts.size(), 2u);
  EXPECT_EQ(LocalStarts()[0].tm_mday, 28);
  EXPECT_EQ(LocalStarts()[1].tm_mday, 30);
}

TEST_F(SummerTimeTest, DayThatRepeatsTheHourStartsTwice) {
  // 25 October 2026: 03:00 CEST becomes 02:00 CET.
  RunBetween(test::LocalTimeOf(2026, 10, 24, 12), test::LocalTimeOf(2026, 10, 25, 12));
  ASSERT_EQ(window_.starts.size(), 2u);
  const std::vector<std::tm> local = LocalStarts();
  EXPECT_EQ(local[0].tm_isdst, 1);
  EXPECT_EQ(local[1].tm_isdst, 0);
  for (const std::tm& tm : local) {
    EXPECT_EQ(tm.tm_mday, 25);
    EXPECT_EQ(tm.tm_hour, 2);
    EXPECT_EQ(tm.tm_min, 0);
  }
  EXPECT_NEAR(static_cast<double>(window_.starts[1] - window_.starts[0]), 3600.0, 59.0);
}

}  // namespace
}  // namespace qz
