#include "platform/program_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/process.h"

extern char** environ;

namespace qz::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr std::size_t kMaxOutput = 64 * 1024;

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The same start as every other child of the tool, its output into `writeEnd`.
class CapturingSpawn {
 public:
  explicit CapturingSpawn(int writeEnd) {
    posix_spawnattr_init(&attr_);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTTIN);
    sigaddset(&set, SIGTTOU);
    posix_spawnattr_setsigmask(&attr_, &set);
    sigemptyset(&set);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2})
      sigaddset(&set, sig);
    posix_spawnattr_setsigdefault(&attr_, &set);
    posix_spawnattr_setpgroup(&attr_, 0);
    posix_spawnattr_setflags(
        &attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions_, writeEnd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions_, writeEnd, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  }
  ~CapturingSpawn() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  CapturingSpawn(const CapturingSpawn&) = delete;
  CapturingSpawn& operator=(const CapturingSpawn&) = delete;

  std::optional<pid_t> Start(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& arg : arguments) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions_, &attr_, argv.data(), environ) != 0)
      return std::nullopt;
    return pid;
  }

 private:
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

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
  std::optional<pid_t> pid = CapturingSpawn(ends[1]).Start(arguments);
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
