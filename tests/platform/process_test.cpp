#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace qz::platform {
namespace {

using Args = std::vector<std::string>;
using std::chrono::milliseconds;

int RunToEnd(const std::string& commandLine) {
  std::optional<pid_t> pid = SpawnProcess(commandLine);
  if (!pid) return -1000;
  EXPECT_TRUE(WaitForExit(*pid, milliseconds(10000)));
  std::optional<int> code = QueryExitCode(*pid);
  return code.value_or(-2000);
}

TEST(SplitCommandLineTest, BlanksSeparateAndQuotesGroup) {
  EXPECT_EQ(SplitCommandLine("wget  --tries=5\thttp://S/a"),
            (Args{"wget", "--tries=5", "http://S/a"}));
  EXPECT_EQ(SplitCommandLine("  a \"b c\" d\"e f\"g  "), (Args{"a", "b c", "de fg"}));
  EXPECT_EQ(SplitCommandLine("a \"\" b"), (Args{"a", "", "b"}));
  EXPECT_EQ(SplitCommandLine("a \"open to end"), (Args{"a", "open to end"}));
  EXPECT_EQ(SplitCommandLine(""), Args{});
  EXPECT_EQ(SplitCommandLine("   "), Args{});
}

TEST(SplitCommandLineTest, BackslashesEscapeOnlyBeforeAQuote) {
  EXPECT_EQ(SplitCommandLine(R"(C:\dir\x.exe a\\b)"), (Args{R"(C:\dir\x.exe)", R"(a\\b)"}));
  EXPECT_EQ(SplitCommandLine(R"(a\"b)"), (Args{R"(a"b)"}));           // 1 -> literal quote
  EXPECT_EQ(SplitCommandLine(R"("a\\" b)"), (Args{R"(a\)", "b"}));    // 2 -> one, quote closes
  EXPECT_EQ(SplitCommandLine(R"(a\\\"b)"), (Args{R"(a\"b)"}));        // 3 -> one + quote
  EXPECT_EQ(SplitCommandLine(R"(a\\\\"b c")"), (Args{R"(a\\b c)"}));  // 4 -> two, quote opens
  EXPECT_EQ(SplitCommandLine(R"("a\"b c" d)"), (Args{R"(a"b c)", "d"}));
  EXPECT_EQ(SplitCommandLine(R"(x\)"), (Args{R"(x\)"}));
}

TEST(SpawnProcessTest, FailsForAMissingProgramOrAnEmptyLine) {
  EXPECT_FALSE(SpawnProcess("qz-no-such-program-anywhere --flag"));
  EXPECT_FALSE(SpawnProcess("/nonexistent/dir/prog"));
  EXPECT_FALSE(SpawnProcess("   "));
  test::TempDir dir;
  test::WriteFile(dir / "not-executable", "#!/bin/sh\n");
  EXPECT_FALSE(SpawnProcess((dir / "not-executable").string()));
}

TEST(SpawnProcessTest, ChildStartsWithCleanSignalsAndNoExtraDescriptors) {
  int fd = open("/dev/null", O_RDONLY);  // deliberately without close-on-exec
  ASSERT_GE(fd, 3);
  sigset_t term, old;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, &old);
  EXPECT_EQ(RunToEnd("sh -c \"test -e /proc/self/fd/" + std::to_string(fd) + "\""), 1);
  // Never the tool's own standard input, a terminal perhaps: wget would take itself for a
  // background job there.
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  int savedInput = dup(STDIN_FILENO);
  dup2(input[0], STDIN_FILENO);
  EXPECT_EQ(RunToEnd("sh -c \"test /proc/self/fd/0 -ef /dev/null\""), 0);
  dup2(savedInput, STDIN_FILENO);
  for (int unused : {savedInput, input[0], input[1]}) close(unused);
  EXPECT_EQ(RunToEnd("sh -c \"kill -TERM $$; exit 0\""), 128 + SIGTERM);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  close(fd);
}

// A shell that writes "<its pid> <its process group>" into `out`.
std::string GroupReport(const std::filesystem::path& out) {
  return "read -r pid comm state ppid pgrp rest < /proc/self/stat; echo $pid $pgrp > " +
         out.string();
}

void ExpectOwnGroup(const std::filesystem::path& out) {
  for (int i = 0; i < 1000 && test::ReadFile(out).find('\n') == std::string::npos; ++i)
    std::this_thread::sleep_for(milliseconds(5));
  std::istringstream ids(test::ReadFile(out));
  pid_t pid = 0, group = 0;
  ASSERT_TRUE(ids >> pid >> group) << out;
  EXPECT_EQ(group, pid);
  EXPECT_NE(group, getpgrp());
}

TEST(SpawnProcessTest, EveryKindOfChildLeadsAProcessGroupOfItsOwn) {
  test::TempDir dir;
  EXPECT_EQ(RunToEnd("sh -c \"" + GroupReport(dir / "spawned") + "\""), 0);
  ExpectOwnGroup(dir / "spawned");
  EXPECT_EQ(RunShellCommand(GroupReport(dir / "shell")), 0);
  ExpectOwnGroup(dir / "shell");
  ASSERT_TRUE(LaunchDetached("sh -c \"" + GroupReport(dir / "detached") + "\""));
  ExpectOwnGroup(dir / "detached");
}

// As a background job on the terminal it must neither stop on a write nor on a read.
TEST(SpawnProcessTest, ChildStartsWithTheTerminalStopSignalsBlocked) {
  test::TempDir dir;
  EXPECT_EQ(RunToEnd("cp /proc/self/status " + (dir / "status").string()), 0);
  EXPECT_NE(test::ReadFile(dir / "status").find("SigBlk:\t0000000000300000\n"), std::string::npos);
}

TEST(ProcessLifetimeTest, LaunchDetachedLeavesNoZombie) {
  test::TempDir dir;
  std::string pidFile = (dir / "pid").string();
  ASSERT_TRUE(LaunchDetached("sh -c \"echo $$ > " + pidFile + "\""));
  EXPECT_FALSE(LaunchDetached("qz-no-such-program-anywhere"));
  std::string written;
  for (int i = 0; i < 1000 && written.find('\n') == std::string::npos; ++i) {
    std::this_thread::sleep_for(milliseconds(5));
    written = test::ReadFile(pidFile);
  }
  ASSERT_FALSE(written.empty());
  const std::filesystem::path proc = "/proc/" + written.substr(0, written.find('\n'));
  for (int i = 0; i < 1000 && std::filesystem::exists(proc); ++i)
    std::this_thread::sleep_for(milliseconds(5));
  EXPECT_FALSE(std::filesystem::exists(proc)) << "left as a zombie";
}

TEST(ProcessLifetimeTest, WaitForDetachedChildrenWaitsForEachUntilItsLimit) {
  test::TempDir dir;
  const std::string release = (dir / "release").string();
  const std::string done = (dir / "done").string();
  ASSERT_TRUE(WaitForDetachedChildren(milliseconds(0))) << "a child of another test still runs";
  ASSERT_TRUE(LaunchDetached("sh -c \"until [ -e " + release + " ]; do sleep 0.02; done; echo >" +
                             done + "\""));
  ASSERT_TRUE(LaunchDetached("true"));
  EXPECT_FALSE(WaitForDetachedChildren(milliseconds(100)));
  EXPECT_GE(DetachedChildrenRunning(), 1);
  test::WriteFile(release, "");
  EXPECT_TRUE(WaitForDetachedChildren(milliseconds(10000)));
  EXPECT_EQ(DetachedChildrenRunning(), 0);
  EXPECT_EQ(test::ReadFile(done), "\n") << "it returned before the child ended";
}

TEST(RunShellCommandTest, RunsThroughTheShellAndWaits) {
  test::TempDir dir;
  std::string out = (dir / "out").string();
  EXPECT_EQ(RunShellCommand("echo one two | tr ' ' '-' > " + out + "; exit 6"), 6);
  EXPECT_EQ(test::ReadFile(out), "one-two\n");
  EXPECT_EQ(RunShellCommand("kill -KILL $$"), 128 + SIGKILL);
}

}  // namespace
}  // namespace qz::platform
