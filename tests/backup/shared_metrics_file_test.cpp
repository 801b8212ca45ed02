// A run and the disk watchdog write their families into the one metrics file, in either order;
// Prometheus' own parser must read every family of both, once each.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "backup/backup_status.h"
#include "backup/run_metrics.h"
#include "config/process_values.h"
#include "monitor/watchdog_metrics.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

class SharedMetricsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(folder_ / "log");
    LogDirectory = folder_.str() + ".\\log\\";
    run_.rows = 3;
    run_.failed = 1;
    run_.selected = 3;
    run_.failedByStatus = {{kDownloadFailed, 1}};
    run_.archiveLabel = "DAT_7";
    run_.started = 1700000000;
    run_.ended = 1700000042;
  }
  void TearDown() override { LogDirectory = savedLogDirectory_; }

  // Each parsed line split at its last blank: a sample and its value, or "# TYPE name" and the
  // family's type.
  std::map<std::string, std::string> Parsed() {
    std::map<std::string, std::string> values;
    std::string text = test::ParsedMetrics(folder_ / "log" / "qzbackup.prom");
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      std::string line = text.substr(start, end - start);
      size_t blank = line.rfind(' ');
      EXPECT_TRUE(values.emplace(line.substr(0, blank), line.substr(blank + 1)).second) << line;
    }
    return values;
  }

  static WatchdogCheck Check(std::time_t when, std::optional<std::uint64_t> freeBytes) {
    return {.when = when,
            .pathExists = freeBytes.has_value(),
            .freeBytes = freeBytes,
            .minFreeMB = 500};
  }

  void ExpectTheRun(const std::map<std::string, std::string>& values) {
    const std::map<std::string, std::string> expected = {
        {"qzbackup_last_run_start_time_seconds", "1700000000.0"},
        {"qzbackup_last_run_end_time_seconds", "1700000042.0"},
        {"qzbackup_last_run_selected_rows", "3.0"},
        {"qzbackup_last_run_backed_up_rows", "2.0"},
        {"qzbackup_last_run_failed_rows{status=-1}", "1.0"},
        {"qzbackup_last_run_failed_rows{status=-5}", "0.0"},
        {"qzbackup_last_run_cut_short{reason=stop_request}", "0.0"},
        {"qzbackup_last_run_archive_label_info{label=DAT_7}", "1.0"}};
    for (const auto& [sample, value] : expected)
      EXPECT_EQ(values.contains(sample) ? values.at(sample) : "<missing>", value) << sample;
  }

  // Every family is a gauge: a TYPE line lost in the merge would make it "unknown".
  static int GaugeFamilies(const std::map<std::string, std::string>& values) {
    int families = 0;
    for (const auto& [key, value] : values) {
      if (!key.starts_with("# TYPE ")) continue;
      EXPECT_EQ(value, "gauge") << key;
      ++families;
    }
    return families;
  }

  std::string savedLogDirectory_ = LogDirectory;
  test::TempDir folder_;
  RunSummary run_;
};

TEST_F(SharedMetricsFileTest, WatchdogCheckAfterARunKeepsTheRunsFamilies) {
  WriteRunMetrics(run_);
  WriteWatchdogMetrics(Check(1700000100, 123456789012));
  auto values = Parsed();
  ExpectTheRun(values);
  EXPECT_EQ(values["qzbackup_watchdog_last_check_time_seconds"], "1700000100.0");
  EXPECT_EQ(values["qzbackup_watchdog_download_path_exists"], "1.0");
  EXPECT_EQ(values["qzbackup_watchdog_free_bytes"], "123456789012.0");
  EXPECT_EQ(values["qzbackup_watchdog_min_free_bytes"], "524288000.0");
  EXPECT_EQ(GaugeFamilies(values), 8 + 4);
}

TEST_F(SharedMetricsFileTest, RunAfterAWatchdogCheckAndAMissingDownloadPathAfterBoth) {
  WriteWatchdogMetrics(Check(1700000100, 123456789012));
  WriteRunMetrics(run_);
  EXPECT_EQ(Parsed()["qzbackup_watchdog_free_bytes"], "123456789012.0");
  // The free bytes of the earlier check must not stay behind as if they were still true.
  WriteWatchdogMetrics(Check(1700000200, std::nullopt));
  auto values = Parsed();
  ExpectTheRun(values);
  EXPECT_EQ(values["qzbackup_watchdog_last_check_time_seconds"], "1700000200.0");
  EXPECT_EQ(values["qzbackup_watchdog_download_path_exists"], "0.0");
  EXPECT_FALSE(values.contains("qzbackup_watchdog_free_bytes"));
  EXPECT_FALSE(values.contains("# TYPE qzbackup_watchdog_free_bytes"));
  EXPECT_EQ(values["qzbackup_watchdog_min_free_bytes"], "524288000.0");
  EXPECT_EQ(GaugeFamilies(values), 8 + 3);
}

}  // namespace
}  // namespace qz
