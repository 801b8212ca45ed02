// Runs one command as a child process and lets its owner poll it until it ends.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

class ChildProcess {
 public:
  static constexpr std::uint32_t kStillActive = 259;

  // A non-empty `workingDirectory` is where the child starts; the process's own stays.
  // The child's arguments are the command line split at blanks and quotes.
  explicit ChildProcess(std::string_view commandLine, std::string_view workingDirectory = {});
  // The child's arguments are exactly `arguments`, program first; `commandLine` is only the text
  // that shows the command (its title), never split.
  ChildProcess(std::vector<std::string> arguments, std::string_view commandLine,
               std::string_view workingDirectory);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // 1 when the child was created, 0 otherwise. A child here has no window and no console of its
  // own, so `minimized` and `newConsole` are accepted and change nothing.
  int Start(bool minimized, bool newConsole);

  // Non-blocking: 1 while the child runs, 0 otherwise. The call that sees the end collects the
  // child; later calls answer 0 without looking again.
  int IsRunning();

  std::uint32_t GetExitCode() const { return exitCode_; }

  const std::string& CommandLine() const { return commandLine_; }

  // Kills a child that still runs (exit code 0 then); one that has ended keeps its exit code.
  void Terminate();

  // Waits at most `limit` for the child to end without collecting it, so the pause between two
  // IsRunning queries ends as soon as the child does. True when no child runs any more.
  bool WaitForExit(std::chrono::milliseconds limit);

  // The child's process id once started, kept after it has ended; 0 before.
  pid_t ProcessId() const { return processId_; }

 private:
  std::vector<std::string> arguments_;
  std::string commandLine_;
  std::string workingDirectory_;
  std::uint32_t exitCode_ = 0;
  pid_t processId_ = 0;
  bool handleOpen_ = false;
};

}  // namespace qz
