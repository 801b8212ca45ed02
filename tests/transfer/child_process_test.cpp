#include "transfer/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace qz {
namespace {

using std::chrono::milliseconds;

// True once `pid` is neither running nor a zombie of ours. Looks without collecting.
bool IsCollected(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0 &&
         errno == ECHILD;
}

void PollToEnd(ChildProcess& child) {
  while (child.IsRunning()) child.WaitForExit(milliseconds(100));
}

TEST(ChildProcessTest, ReportsTheExitCodeAndCollectsTheChild) {
  for (auto [command, code] : {std::pair{"sh -c \"exit 0\"", 0u},
                               {"sh -c \"exit 5\"", 5u},
                               {"sh -c \"kill -TERM $$\"", 128u + SIGTERM}}) {
    SCOPED_TRACE(command);
    ChildProcess child(command);
    ASSERT_EQ(child.Start(true, false), 1);
    EXPECT_EQ(child.GetExitCode(), 0u);  // before the first query
    PollToEnd(child);
    EXPECT_EQ(child.GetExitCode(), code);
    EXPECT_TRUE(IsCollected(child.ProcessId()));
  }
}

TEST(ChildProcessTest, AnswersFromMemoryOnceTheEndWasSeen) {
  ChildProcess child("sh -c \"exit 7\"");
  ASSERT_EQ(child.Start(false, true), 1);
  PollToEnd(child);
  // A second query of the collected pid would fail and spoil the code.
  EXPECT_EQ(child.IsRunning(), 0);
  EXPECT_EQ(child.IsRunning(), 0);
  EXPECT_EQ(child.GetExitCode(), 7u);
  child.Terminate();
  EXPECT_EQ(child.GetExitCode(), 7u);
}

TEST(ChildProcessTest, FailedStartLeavesTheRunnerReady) {
  for (const char* command : {"qz-no-such-program-anywhere", ""}) {
    ChildProcess child(command);
    EXPECT_EQ(child.Start(true, false), 0);
    EXPECT_EQ(child.IsRunning(), 0);
    EXPECT_EQ(child.GetExitCode(), 0u);
    EXPECT_EQ(child.ProcessId(), 0);
    child.Terminate();
  }
}

TEST(ChildProcessTest, TerminateKillsARunningChild) {
  ChildProcess child("sleep 30");
  ASSERT_EQ(child.Start(true, false), 1);
  EXPECT_EQ(child.IsRunning(), 1);
  EXPECT_EQ(child.GetExitCode(), ChildProcess::kStillActive);
  EXPECT_FALSE(child.WaitForExit(milliseconds(20)));
  child.Terminate();
  EXPECT_EQ(child.GetExitCode(), 0u);
  EXPECT_EQ(child.IsRunning(), 0);
  EXPECT_TRUE(IsCollected(child.ProcessId()));
}

TEST(ChildProcessTest, TerminateAfterTheEndKeepsTheRealCode) {
  ChildProcess child("sh -c \"exit 3\"");
  ASSERT_EQ(child.Start(true, false), 1);
  ASSERT_TRUE(child.WaitForExit(milliseconds(10000)));
  EXPECT_FALSE(IsCollected(child.ProcessId()));  // waiting does not collect
  child.Terminate();
  EXPECT_EQ(child.GetExitCode(), 3u);
  EXPECT_TRUE(IsCollected(child.ProcessId()));
}

TEST(ChildProcessTest, DestructionLeavesNoChildBehind) {
  for (auto [command, running] : {std::pair{"sleep 30", true}, {"sh -c \"exit 2\"", false}}) {
    pid_t pid = 0;
    {
      ChildProcess child(command);
      ASSERT_EQ(child.Start(true, false), 1);
      pid = child.ProcessId();
      if (!running) {
        ASSERT_TRUE(child.WaitForExit(milliseconds(10000)));
      }
    }
    EXPECT_TRUE(IsCollected(pid)) << command;
  }
}

}  // namespace
}  // namespace qz
