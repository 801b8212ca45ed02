#include "monitor/disk_watchdog_thread.h"

#include <gtest/gtest.h>

#include <thread>

#include "config/backup_settings.h"
#include "config/process_values.h"
#include "monitor/alarm.h"
#include "platform/profile.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::uint64_t kMB = 1 << 20;

struct Launch {
  std::time_t when;
  std::string commandLine;
  bool operator==(const Launch&) const = default;
};

class DiskWatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetConfig();
    fs::create_directory(download_);
    LogDirectory = logs_.str() + "/";
    SetIni("Config", "DownloadPath", download_.string());
    SetIni("WatchDog", "MinFreeDiskSpaceMB", "200");
  }
  void TearDown() override {
    CheckHardDiskEveryMin = 2;
    WatchDogAlarmNumber = 7099;
    WaitAfterErrorMin = 30;
  }

  static void SetIni(const char* section, const char* key, const std::string& value) {
    platform::WritePrivateProfileString(section, key, value, kIniFile);
  }
  static std::string IniValue(const char* section, const char* key) {
    return platform::GetPrivateProfileString(section, key, "<absent>", kIniFile);
  }

  DiskWatchdog MakeWatchdog() {
    return DiskWatchdog(
        clock_,
        [this](const std::string& path) {
          queriedPaths_.push_back(path);
          return freeBytes_;
        },
        [this](int alarmNumber) {
          launches_.push_back({clock_.Now(), AlarmCommandLine(alarmNumber)});
          clock_.Set(clock_.Now() + launchSeconds_);
        });
  }

  // Checks from the fixture's start time for the simulated duration.
  void RunFor(std::chrono::minutes duration) {
    const std::time_t end = clock_.Now() + duration.count() * 60;
    int checks = 0;
    // The bound turns a watchdog that stops pausing into a failure instead of a hang.
    MakeWatchdog().Run([&] { return clock_.Now() < end && checks++ < 1000; });
  }

  std::string AlarmLine(const std::string& stamp, const std::string& path, int number) {
    return stamp + ", The download path " + path + " does not exist anymore -> Start Alarm " +
           std::to_string(number);
  }
  std::vector<std::string> LogLines() { return test::ReadLines(logs_ / "qzbackup.log"); }

  test::TempDir base_;
  test::TempDir logs_;
  fs::path download_ = base_ / "backup";
  test::FakeClock clock_{test::LocalTimeOf(2026, 5, 4, 10, 0, 0)};
  std::optional<std::uint64_t> freeBytes_ = 10'000 * kMB;
  std::vector<std::string> queriedPaths_;
  std::vector<Launch> launches_;
  int launchSeconds_ = 0;
};

TEST_F(DiskWatchdogTest, DeletedFolderRaisesTheAlarmAndTheNextCheckIs32MinutesLater) {
  const std::time_t start = clock_.Now();
  fs::remove(download_);
  launchSeconds_ = 3;
  RunFor(40min);

  const std::string alarm = "qze qzarun 1 -i47099 -s8BackupTool";
  EXPECT_EQ(launches_, (std::vector<Launch>{{start, alarm}, {start + 3 + 32 * 60, alarm}}));
  EXPECT_EQ(clock_.pauses, (std::vector<std::chrono::milliseconds>{30min, 2min, 30min, 2min}));
  // The time stamp is taken after the launch.
  ASSERT_EQ(LogLines().size(), 2u);
  EXPECT_EQ(LogLines()[0], AlarmLine("04.05.2026, 10:00:03", download_.string(), 7099));
  EXPECT_TRUE(queriedPaths_.empty());
}

// The free-space query fails on such a path; the existence test must not let it through.
TEST_F(DiskWatchdogTest, DanglingLinkAsTheFolderRaisesTheAlarm) {
  const fs::path link = base_ / "link";
  fs::create_directory_symlink(download_, link);
  fs::remove(download_);
  SetIni("Config", "DownloadPath", link.string());
  freeBytes_ = std::nullopt;
  MakeWatchdog().Check();
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_EQ(LogLines()[0], AlarmLine("04.05.2026, 10:00:00", link.string(), 7099));
}

TEST_F(DiskWatchdogTest, HealthyDiskIsCheckedEveryIntervalWithoutAlarm) {
  CheckHardDiskEveryMin = 5;
  RunFor(20min);
  EXPECT_TRUE(launches_.empty());
  EXPECT_FALSE(fs::exists(logs_ / "qzbackup.log"));
  EXPECT_EQ(clock_.pauses, (std::vector<std::chrono::milliseconds>{5min, 5min, 5min, 5min}));
  // There are no drive letters: the file system asked is the one holding the path itself.
  EXPECT_EQ(queriedPaths_, std::vector<std::string>(4, download_.string()));
}

TEST_F(DiskWatchdogTest, LowSpaceAlarmsOnlyFromOneMegabyteUpToBelowTheLimit) {
  struct Case {
    std::optional<std::uint64_t> bytes;
    bool alarm;
    const char* limit = "200";
    bool folderMissing = false;
  };
  const Case cases[] = {
      {150 * kMB, true},
      {200 * kMB - 1, true},
      {1 * kMB, true},
      {200 * kMB, false},
      {1 * kMB - 1, false},
      {0, false},
      {std::nullopt, false},
      {1ull << 50, false},
      // Limit 0: only a missing folder raises the alarm.
      {1 * kMB, false, "0"},
      {1 * kMB, true, "0", true},
  };
  for (const Case& c : cases) {
    launches_.clear();
    freeBytes_ = c.bytes;
    SetIni("WatchDog", "MinFreeDiskSpaceMB", c.limit);
    if (c.folderMissing) fs::remove(download_);
    MakeWatchdog().Check();
    EXPECT_EQ(launches_.size(), c.alarm ? 1u : 0u)
        << (c.bytes ? std::to_string(*c.bytes) : "failed query") << ", limit " << c.limit;
    fs::create_directory(download_);
  }
  // Only the alarms are logged, with the missing folder's text for too little space as well.
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], AlarmLine("04.05.2026, 10:00:00", download_.string(), 7099));
}

TEST_F(DiskWatchdogTest, LimitIsReadFromTheFileAndAMissingOneBecomes200) {
  SetIni("WatchDog", "MinFreeDiskSpaceMB", "0500");
  EXPECT_EQ(MakeWatchdog().MinFreeDiskSpaceMB(), 500u);
  EXPECT_EQ(IniValue("WatchDog", "MinFreeDiskSpaceMB"), "0500");

  for (const char* stored : {"", "-9"}) {
    test::WriteFile(test::IniFile(),
                    "[Config]\nDownloadPath=" + download_.string() + "\n[WatchDog]\n" +
                        (*stored ? "MinFreeDiskSpaceMB=" + std::string(stored) + "\n" : ""));
    EXPECT_EQ(MakeWatchdog().MinFreeDiskSpaceMB(), 200u) << "stored '" << stored << "'";
    EXPECT_EQ(IniValue("WatchDog", "MinFreeDiskSpaceMB"), "200");
  }
}

TEST_F(DiskWatchdogTest, AnyAlarmNumberIsLaunchedAndLogged) {
  fs::remove(download_);
  const std::time_t start = clock_.Now();
  for (int number : {5, -3, 7099}) {
    launches_.clear();
    clock_.Set(start);
    WatchDogAlarmNumber = number;
    MakeWatchdog().Check();
    ASSERT_EQ(launches_.size(), 1u);
    EXPECT_EQ(launches_[0].commandLine,
              "qze qzarun 1 -i4" + std::to_string(number) + " -s8BackupTool");
    EXPECT_EQ(LogLines().back(), AlarmLine("04.05.2026, 10:00:00", download_.string(), number));
  }
}

TEST_F(DiskWatchdogTest, DownloadPathIsReadAnewAtEveryCheck) {
  fs::path other = base_ / "other";
  int checks = 0;
  DiskWatchdog watchdog = MakeWatchdog();
  watchdog.Run([&] {
    if (checks == 1) SetIni("Config", "DownloadPath", other.string());
    if (checks == 2) test::WriteFile(test::IniFile(), "[WatchDog]\nMinFreeDiskSpaceMB=200\n");
    return checks++ < 3;
  });
  EXPECT_EQ(queriedPaths_, std::vector<std::string>{download_.string()});
  ASSERT_EQ(launches_.size(), 2u);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("The download path " + other.string() + " does not"), std::string::npos);
  // The key removed from the file: an empty path, which counts as missing.
  EXPECT_NE(lines[1].find("The download path  does not exist anymore"), std::string::npos);
  EXPECT_EQ(IniValue("Config", "DownloadPath"), "<absent>");
}

TEST_F(DiskWatchdogTest, IntervalAndLimitAreTakenOnceAtStart) {
  CheckHardDiskEveryMin = 3;
  DiskWatchdog watchdog = MakeWatchdog();
  CheckHardDiskEveryMin = 10;
  SetIni("WatchDog", "MinFreeDiskSpaceMB", "100");
  freeBytes_ = 150 * kMB;
  int checks = 0;
  watchdog.Run([&] { return checks++ < 2; });
  EXPECT_EQ(launches_.size(), 2u);
  EXPECT_EQ(clock_.pauses, (std::vector<std::chrono::milliseconds>{30min, 3min, 30min, 3min}));
}

// The pauses after one check: the interval, and after an alarm the extra wait first.
TEST_F(DiskWatchdogTest, PausesHoldAsConfiguredBeyond32BitsAndNeverBelowAMinute) {
  using std::chrono::milliseconds;
  struct Case {
    int every, waitAfterError;
    bool folderMissing;
    std::vector<milliseconds> pauses;
  };
  const Case cases[] = {
      // Both hold as configured rather than wrapping at 32 bits.
      {80'000, 100'000, true, {6'000'000'000ms, 4'800'000'000ms}},
      {80'000, 30, false, {4'800'000'000ms}},
      // A negative wait after an alarm is none.
      {2, -5, true, {2min}},
      // An interval below one minute is one minute.
      {0, 30, false, {1min}},
      {-4, 30, false, {1min}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.every) + " / " + std::to_string(c.waitAfterError));
    clock_.pauses.clear();
    launches_.clear();
    if (c.folderMissing) fs::remove(download_);
    CheckHardDiskEveryMin = c.every;
    WaitAfterErrorMin = c.waitAfterError;
    int checks = 0;
    MakeWatchdog().Run([&] { return checks++ < 1; });
    EXPECT_EQ(launches_.size(), c.folderMissing ? 1u : 0u);
    EXPECT_EQ(clock_.pauses, c.pauses);
    fs::create_directory(download_);
  }
}

TEST_F(DiskWatchdogTest, DefaultLauncherStartsTheAlarmProgramFoundOnPath) {
  test::TempDir bin;
  const fs::path out = bin / "args";
  // Written aside and renamed, so the file appears complete.
  test::WriteScript(bin / "qze", "echo \"$@\" > \"" + out.string() + ".tmp\" && mv \"" +
                                     out.string() + ".tmp\" \"" + out.string() + "\"");
  test::PathPrepend path(bin.path());
  fs::remove(download_);
  WatchDogAlarmNumber = 5;

  DiskWatchdog(clock_).Check();
  for (int i = 0; i < 500 && !fs::exists(out); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(test::ReadFile(out), "qzarun 1 -i45 -s8BackupTool\n");
  EXPECT_EQ(LogLines().size(), 1u);
}

}  // namespace
}  // namespace qz
