#include "transfer/child_process.h"

#include <utility>

#include "platform/process.h"

namespace qz {

ChildProcess::ChildProcess(std::string_view commandLine, std::string_view workingDirectory)
    : arguments_(platform::SplitCommandLine(commandLine)),
      commandLine_(commandLine),
      workingDirectory_(workingDirectory) {}

ChildProcess::ChildProcess(std::vector<std::string> arguments, std::string_view commandLine,
                           std::string_view workingDirectory)
    : arguments_(std::move(arguments)),
      commandLine_(commandLine),
      workingDirectory_(workingDirectory) {}

ChildProcess::~ChildProcess() {
  if (IsRunning()) Terminate();
}

int ChildProcess::Start(bool /*minimized*/, bool /*newConsole*/) {
  if (commandLine_.empty() || handleOpen_) return 0;
  std::optional<pid_t> pid = platform::SpawnArguments(arguments_, workingDirectory_);
  if (!pid) return 0;
  processId_ = *pid;
  handleOpen_ = true;
  return 1;
}

int ChildProcess::IsRunning() {
  if (commandLine_.empty() || !handleOpen_) return 0;
  std::optional<int> code = platform::QueryExitCode(processId_);
  // Exit codes here stay below 256, so a real one never reads as still running.
  exitCode_ = code ? static_cast<std::uint32_t>(*code) : kStillActive;
  if (exitCode_ != kStillActive) handleOpen_ = false;
  return exitCode_ == kStillActive ? 1 : 0;
}

void ChildProcess::Terminate() {
  if (!IsRunning()) return;
  platform::KillProcess(processId_);
  handleOpen_ = false;
  exitCode_ = 0;
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds limit) {
  if (!handleOpen_) return true;
  return platform::WaitForExit(processId_, limit);
}

}  // namespace qz
