#include "monitor/alarm.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "config/process_values.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

class StartAlarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "log");
    std::filesystem::create_directories(dir_ / "bin");
    LogDirectory = dir_.str() + "/log/";
    test::WriteScript(dir_ / "bin" / "qze", "echo \"$*\" >> '" + (dir_ / "calls").string() + "'");
  }
  std::vector<std::string> Calls(size_t expected) {
    for (int i = 0; i < 500 && test::ReadLines(dir_ / "calls").size() < expected; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return test::ReadLines(dir_ / "calls");
  }
  std::vector<std::string> LogTexts() { return test::LogTexts(dir_ / "log" / "qzbackup.log"); }
  test::TempDir dir_;
};

TEST_F(StartAlarmTest, NumbersBelowTenLaunchAndLogNothing) {
  test::PathPrepend path(dir_ / "bin");
  for (int number : {9, 0, -1}) StartAlarm(number);
  StartAlarm(10);  // the marker that the launches above would have come before
  EXPECT_EQ(Calls(1), std::vector<std::string>{"qzarun 1 -i410 -s8BackupTool"});
  EXPECT_EQ(LogTexts(), std::vector<std::string>{"Start alarm 10 because of error"});
}

TEST_F(StartAlarmTest, EveryCallLaunchesAgain) {
  test::PathPrepend path(dir_ / "bin");
  StartAlarm(12);
  StartAlarm(12);
  EXPECT_EQ(Calls(2), (std::vector<std::string>{"qzarun 1 -i412 -s8BackupTool",
                                                "qzarun 1 -i412 -s8BackupTool"}));
  EXPECT_EQ(MessageBuffer, "Start alarm 12 because of error");
}

TEST_F(StartAlarmTest, MissingAlarmProgramIsLoggedAllTheSameAndToldOnStandardError) {
  test::PathPrepend path(dir_ / "empty");
  setenv("PATH", (dir_ / "empty").c_str(), 1);
  testing::internal::CaptureStderr();
  StartAlarm(10);
  const std::string told = testing::internal::GetCapturedStderr();
  EXPECT_EQ(LogTexts(), std::vector<std::string>{"Start alarm 10 because of error"});
  EXPECT_EQ(told, "Alarm program cannot be started: qze qzarun 1 -i410 -s8BackupTool (PATH=" +
                      (dir_ / "empty").string() + ")\n");
}

}  // namespace
}  // namespace qz
