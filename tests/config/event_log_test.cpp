#include "config/event_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "config/process_values.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(base_ / "log");
    LogDirectory = base_.str() + ".\\log\\";
  }
  std::filesystem::path LogFile() { return base_ / "log" / "qzbackup.log"; }
  test::TempDir base_;
  test::FakeClock clock_{test::LocalTimeOf(2026, 3, 7, 4, 5, 6)};
};

TEST_F(EventLogTest, LineFormatPadsWithZerosAndWritesTheYearInFull) {
  EXPECT_EQ(FormatLogLine(test::LocalTimeOf(2026, 3, 7, 4, 5, 6), "x"),
            "07.03.2026, 04:05:06, x\n");
  EXPECT_EQ(FormatLogLine(test::LocalTimeOf(2026, 12, 17, 23, 59, 58), ""),
            "17.12.2026, 23:59:58, \n");
}

TEST_F(EventLogTest, CreatesTheFileAndAppendsLinesAsPassed) {
  WriteLog("Started backup automatically", clock_);
  WriteLog("100% \"quoted\" \\path", clock_);
  EXPECT_EQ(test::ReadFile(LogFile()),
            "07.03.2026, 04:05:06, Started backup automatically\n"
            "07.03.2026, 04:05:06, 100% \"quoted\" \\path\n");
  EXPECT_TRUE(clock_.pauses.empty());
}

TEST_F(EventLogTest, MissingFolderIsRetriedAHundredTimesThenTheLineIsDropped) {
  LogDirectory = base_.str() + "/nofolder\\";
  WriteLog("lost", clock_);
  EXPECT_EQ(clock_.pauses.size(), 100u);
  for (auto pause : clock_.pauses) EXPECT_EQ(pause.count(), 10);
  EXPECT_FALSE(std::filesystem::exists(base_ / "nofolder"));
}

// A clock whose pauses make the log folder appear, as when another process releases the file.
class FolderAppearsClock : public test::FakeClock {
 public:
  FolderAppearsClock(std::time_t start, std::filesystem::path folder, int after)
      : FakeClock(start), folder_(std::move(folder)), after_(after) {}
  void Sleep(std::chrono::milliseconds d) override {
    FakeClock::Sleep(d);
    if (static_cast<int>(pauses.size()) == after_) std::filesystem::create_directory(folder_);
  }

 private:
  std::filesystem::path folder_;
  int after_;
};

TEST_F(EventLogTest, LineWrittenAfterRetriesCarriesTheTimeOfTheCall) {
  LogDirectory = base_.str() + "/late\\";
  FolderAppearsClock clock(test::LocalTimeOf(2026, 12, 7, 9, 5, 3), base_ / "late", 50);
  WriteLog("late line", clock);
  EXPECT_EQ(clock.pauses.size(), 50u);
  EXPECT_EQ(test::ReadFile(base_ / "late" / "qzbackup.log"), "07.12.2026, 09:05:03, late line\n");
}

TEST_F(EventLogTest, TwoThreadsAppendWholeLines) {
  constexpr int kLines = 500;
  const std::string a(300, 'a'), b(300, 'b');
  std::thread t1([&] {
    for (int i = 0; i < kLines; ++i) WriteLog(a);
  });
  std::thread t2([&] {
    for (int i = 0; i < kLines; ++i) WriteLog(b);
  });
  t1.join();
  t2.join();
  auto lines = test::ReadLines(LogFile());
  ASSERT_EQ(lines.size(), 2u * kLines);
  int as = 0, bs = 0;
  for (const auto& line : lines) {
    ASSERT_EQ(line.size(), 22u + 300u) << line;
    std::string text = line.substr(22);
    if (text == a)
      ++as;
    else if (text == b)
      ++bs;
    else
      ADD_FAILURE() << "torn line: " << line;
  }
  EXPECT_EQ(as, kLines);
  EXPECT_EQ(bs, kLines);
}

}  // namespace
}  // namespace qz
