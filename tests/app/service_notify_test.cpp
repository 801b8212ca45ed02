// The service as systemd sees it: a datagram socket stands in for the manager's notify socket and
// collects what the real binary sends.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/service_notify.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

namespace fs = std::filesystem;
using test::WriteFile;

// Collects the notify datagrams; each may carry several newline-separated assignments.
class NotifySocket {
 public:
  explicit NotifySocket(const fs::path& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
  }
  ~NotifySocket() { close(fd_); }
  const fs::path& path() const { return path_; }

  // Receives until `done` holds for the messages so far, for at most 30 s.
  bool ReceiveUntil(const std::function<bool(const std::vector<std::string>&)>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done(messages)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd wait{fd_, POLLIN, 0};
      if (poll(&wait, 1, 100) <= 0) continue;
      char buffer[4096];
      ssize_t size = recv(fd_, buffer, sizeof buffer, 0);
      if (size > 0) SplitInto(std::string(buffer, static_cast<size_t>(size)));
    }
    return true;
  }
  std::vector<std::string> messages;

 private:
  void SplitInto(const std::string& datagram) {
    size_t start = 0;
    for (size_t end; (end = datagram.find('\n', start)) != std::string::npos; start = end + 1)
      messages.push_back(datagram.substr(start, end - start));
    if (start < datagram.size()) messages.push_back(datagram.substr(start));
  }
  fs::path path_;
  int fd_ = -1;
};

long Count(const std::vector<std::string>& messages, const std::string& message) {
  return std::count(messages.begin(), messages.end(), message);
}

// A status line built from outside text stays one line of status, its control bytes escaped.
TEST(NotifyStatusTest, ControlBytesAreEscapedInOneStatusLine) {
  test::TempDir dir;
  NotifySocket socket(dir / "notify");
  setenv("NOTIFY_SOCKET", socket.path().c_str(), 1);
  platform::NotifyStatus("a\nSTATUS=forged\x1b[2J");
  unsetenv("NOTIFY_SOCKET");
  EXPECT_TRUE(socket.ReceiveUntil([](const auto& messages) { return !messages.empty(); }));
  EXPECT_EQ(socket.messages, std::vector<std::string>{"STATUS=a\\x0aSTATUS=forged\\x1b[2J"});
}

class ServiceNotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetConfig();
    for (const char* dir : {"download", "base/log"}) fs::create_directories(folder_ / dir);
    WriteFile(test::ConfigHome().parent_path() / "xdg" / "hklm.ini",
              "[SOFTWARE\\Corvane\\Corvane Tool]\nDirectory=" + (folder_ / "base").string() + "\n");
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
  }
  void WriteSettings(const std::string& extra) {
    WriteFile(test::IniFile(),
              "[Config]\nDownloadPath=" + (folder_ / "download").string() + "/\n" + extra);
  }
  // Starts `qzbackup --service` as systemd would: notify socket and a 200 ms watchdog.
  void StartService(const std::string& environment = "") {
    std::string command = "env NOTIFY_SOCKET='" + socket_.path().string() +
                          "' WATCHDOG_USEC=200000 " + environment + " '" + QZ_TOOL_BINARY +
                          "' --service > '" + (folder_ / "out").string() + "' 2>&1";
    pid_ = platform::SpawnProcess("/bin/sh -c \"exec " + command + "\"").value_or(0);
    ASSERT_GT(pid_, 0);
  }

  test::TempDir folder_;
  NotifySocket socket_{folder_ / "notify"};
  pid_t pid_ = 0;
};

// Only the wall clock is faked: the watchdog and the waits keep the real monotonic clock.
std::string FakeTimeEnvironment(const std::string& localTime) {
  return "LD_PRELOAD=" + test::FakeTimeLibrary() + " FAKETIME='@" + localTime +
         "' DONT_FAKE_MONOTONIC=1 ASAN_OPTIONS=verify_asan_link_order=0";
}

TEST_F(ServiceNotifyTest, ReportsReadyWithTheNextStartAndPingsTheWatchdog) {
  WriteSettings("AutoStartOnHour=2\nAutoStartOnDay=0\n");
  StartService(FakeTimeEnvironment("2025-05-22 01:30:00"));
  ASSERT_TRUE(socket_.ReceiveUntil([](const auto& m) { return Count(m, "WATCHDOG=1") >= 3; }))
      << testing::PrintToString(socket_.messages);
  const auto& m = socket_.messages;
  auto ready = std::find(m.begin(), m.end(), "READY=1");
  ASSERT_NE(ready, m.end());
  EXPECT_NE(std::find(m.begin(), ready, "STATUS=Idle, next automatic start 02:00"), ready)
      << "the idle status comes with readiness";
  EXPECT_LT(ready - m.begin(), std::find(m.begin(), m.end(), "WATCHDOG=1") - m.begin());
  EXPECT_EQ(Count(m, "READY=1"), 1);
}

TEST_F(ServiceNotifyTest, StatusSaysBackingUpDuringAnAutomaticRunAndTheSummaryAfterIt) {
  auto source = test::MakeSqliteDataSource(folder_.path());
  std::tm local = platform::LocalTime(std::time(nullptr));
  char fake[32];
  std::strftime(fake, sizeof fake, "%Y-%m-%d %H:00:05", &local);
  WriteSettings("UseDSN=" + source->Dsn() + "\nAutoStartOnHour=" + std::to_string(local.tm_hour) +
                "\nAutoStartOnDay=0\n");
  StartService(FakeTimeEnvironment(fake));
  // This hour's start is taken: the next one is tomorrow's.
  std::tm tomorrow = local;
  tomorrow.tm_mday += 1;
  tomorrow.tm_isdst = -1;
  std::mktime(&tomorrow);
  char weekday[32];
  std::strftime(weekday, sizeof weekday, "%A", &tomorrow);
  const std::string after = "STATUS=Backup run ended: 0 rows, 0 backed up, 0 failed; " +
                            std::string("next automatic start ") + weekday + " " +
                            (local.tm_hour < 10 ? "0" : "") + std::to_string(local.tm_hour) + ":00";
  ASSERT_TRUE(socket_.ReceiveUntil([&](const auto& m) {
    auto ended = std::find(m.begin(), m.end(), after);
    return ended != m.end() && std::count(ended, m.end(), "WATCHDOG=1") >= 2;
  })) << testing::PrintToString(socket_.messages);
  const auto& m = socket_.messages;
  auto running = std::find(m.begin(), m.end(), "STATUS=Backing up");
  ASSERT_NE(running, m.end());
  auto ended = std::find(running, m.end(), after);
  ASSERT_NE(ended, m.end());
  EXPECT_EQ(std::find_if(ended + 1, m.end(),
                         [](const std::string& line) { return line.starts_with("STATUS="); }),
            m.end())
      << "the summary stays the status: " << testing::PrintToString(m);
  auto log = test::LogTexts(folder_ / "base" / "log" / "qzbackup.log");
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "Started backup automatically");
}

}  // namespace
}  // namespace qz
