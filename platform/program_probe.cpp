#include "platform/program_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/process.h"

namespace qz::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr std::size_t kMaxOutput = 64 * 1024;

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Reads until the child closes its end or the deadline passes. True when it closed its end.
bool ReadUntilClosed(int readEnd, SteadyClock::time_point deadline, std::string& output) {
  char buffer[4096];
  while (true) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) return false;
    pollfd entry{readEnd, POLLIN, 0};
    int ready = poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t got = read(readEnd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return true;
    std::size_t room = kMaxOutput - std::min(kMaxOutput, output.size());
    output.append(buffer, std::min(room, static_cast<std::size_t>(got)));
  }
}

}  // namespace

std::optional<std::string> FindProgramOnPath(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos)
    return IsExecutableFile(name) ? std::optional<std::string>(name) : std::nullopt;
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

CapturedRun RunCaptured(const std::vector<std::string>& arguments,
                        std::chrono::milliseconds limit) {
  CapturedRun run;
  int ends[2];
  if (arguments.empty() || pipe2(ends, O_CLOEXEC) != 0) return run;
  std::optional<pid_t> pid = SpawnArgumentsWithOutput(arguments, ends[1]);
  close(ends[1]);
  if (!pid) {
    close(ends[0]);
    return run;
  }
  run.started = true;
  const auto deadline = SteadyClock::now() + limit;
  const bool closed = ReadUntilClosed(ends[0], deadline, run.output);
  close(ends[0]);
  if (closed && WaitForExit(*pid, std::chrono::ceil<std::chrono::milliseconds>(
                                      deadline - SteadyClock::now()))) {
    run.exitCode = QueryExitCode(*pid);
    return run;
  }
  KillProcess(*pid);
  return run;
}

}  // namespace qz::platform
