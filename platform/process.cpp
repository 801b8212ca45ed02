#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/paths.h"

extern char** environ;

namespace qz::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Handles a run of backslashes starting at `pos`; returns the position after what it consumed.
// Before a quote the run escapes (2n+1: literal quote) or halves (2n: the quote still toggles).
std::size_t TakeBackslashes(std::string_view line, std::size_t pos, std::string& current) {
  const std::size_t start = pos;
  while (pos < line.size() && line[pos] == '\\') ++pos;
  const std::size_t count = pos - start;
  if (pos < line.size() && line[pos] == '"') {
    current.append(count / 2, '\\');
    if (count % 2 == 1) {
      current += '"';
      ++pos;
    }
    return pos;
  }
  current.append(count, '\\');
  return pos;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// On the terminal such a child is a background job: reading the terminal, or writing to it under
// "stty tostop", would stop it for good and the tool with it. With these two blocked a write goes
// through and a read fails instead.
const sigset_t& BackgroundJobMask() {
  static const sigset_t mask = [] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTTIN);
    sigaddset(&set, SIGTTOU);
    return set;
  }();
  return mask;
}

int DecodeStatus(int status) {
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

// The child starts with default signal handling whatever the parent has set, and inherits no
// descriptor beyond the standard three. It leads a process group of its own, so Ctrl+C at the
// terminal reaches the tool alone, which then ends between rows. Its standard input is /dev/null:
// with the terminal there, wget in a group of its own takes itself for a background job and
// sends its messages to a "wget-log" file instead of standard error.
struct SpawnSetup {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;

  // With `outputFd`, the child's standard output and error go there.
  explicit SpawnSetup(int outputFd = -1) {
    posix_spawnattr_init(&attr);
    posix_spawnattr_setsigmask(&attr, &BackgroundJobMask());
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2})
      sigaddset(&set, sig);
    posix_spawnattr_setsigdefault(&attr, &set);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_init(&actions);
    if (outputFd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
      posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

std::optional<pid_t> SpawnArgv(const std::vector<std::string>& args,
                               const std::string& workingDirectory = {}, int outputFd = -1) {
  if (args.empty() || args.front().empty()) return std::nullopt;
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  SpawnSetup setup(outputFd);
  if (!workingDirectory.empty())
    posix_spawn_file_actions_addchdir_np(&setup.actions, workingDirectory.c_str());
  pid_t pid = 0;
  // glibc reports a failed exec as the error of posix_spawnp itself.
  if (posix_spawnp(&pid, argv[0], &setup.actions, &setup.attr, argv.data(), environ) != 0)
    return std::nullopt;
  return pid;
}

int WaitAndReap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return DecodeStatus(status);
}

bool HasEnded(pid_t pid) {
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0)
    return errno != EINTR;
  return info.si_pid == pid;
}

// For kernels without pidfd: look again every few milliseconds until the limit.
bool PollForExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!HasEnded(pid)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The children of LaunchDetached whose reaper has not collected them yet.
struct DetachedChildren {
  std::mutex mutex;
  std::condition_variable ended;
  int running = 0;
};

DetachedChildren& Detached() {
  static DetachedChildren* children = new DetachedChildren;  // outlives every reaper thread
  return *children;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::size_t pos = 0;
  while (true) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size()) return args;
    std::string current;
    bool quoted = false;
    while (pos < line.size() && (quoted || !IsBlank(line[pos]))) {
      if (line[pos] == '\\') {
        pos = TakeBackslashes(line, pos, current);
      } else if (line[pos] == '"') {
        quoted = !quoted;
        ++pos;
      } else {
        current += line[pos++];
      }
    }
    args.push_back(std::move(current));
  }
}

std::optional<pid_t> SpawnProcess(std::string_view commandLine, std::string_view workingDirectory) {
  return SpawnArgv(SplitCommandLine(commandLine), NativeDirectoryPath(workingDirectory));
}

std::optional<pid_t> SpawnArguments(const std::vector<std::string>& arguments,
                                    std::string_view workingDirectory) {
  return SpawnArgv(arguments, NativeDirectoryPath(workingDirectory));
}

std::optional<pid_t> SpawnArgumentsWithOutput(const std::vector<std::string>& arguments,
                                              int outputFd) {
  return SpawnArgv(arguments, {}, outputFd);
}

std::optional<int> QueryExitCode(pid_t pid) {
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == 0) return std::nullopt;
  // A child already collected elsewhere has ended with an unknown code: never report success.
  if (result < 0) return -1;
  return DecodeStatus(status);
}

bool WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
  int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return errno == ESRCH ? true : PollForExit(pid, limit);
  const auto deadline = Clock::now() + limit;
  pollfd entry{fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&entry, 1, RemainingMs(deadline));
  } while (ready < 0 && errno == EINTR);
  close(fd);
  return ready > 0;
}

void KillProcess(pid_t pid) {
  kill(pid, SIGKILL);
  WaitAndReap(pid);
}

bool LaunchDetached(std::string_view commandLine) {
  return LaunchDetached(SplitCommandLine(commandLine));
}

bool LaunchDetached(const std::vector<std::string>& arguments) {
  DetachedChildren& children = Detached();
  std::lock_guard lock(children.mutex);
  std::optional<pid_t> pid = SpawnArguments(arguments);
  if (!pid) return false;
  ++children.running;
  std::thread([child = *pid, &children] {
    WaitAndReap(child);
    std::lock_guard reaped(children.mutex);
    --children.running;
    children.ended.notify_all();
  }).detach();
  return true;
}

bool WaitForDetachedChildren(std::chrono::milliseconds limit) {
  DetachedChildren& children = Detached();
  std::unique_lock lock(children.mutex);
  return children.ended.wait_for(lock, limit, [&children] { return children.running == 0; });
}

int DetachedChildrenRunning() {
  DetachedChildren& children = Detached();
  std::lock_guard lock(children.mutex);
  return children.running;
}

int RunShellCommand(std::string_view command) {
  std::optional<pid_t> pid = SpawnArgv({"/bin/sh", "-c", std::string(command)});
  return pid ? WaitAndReap(*pid) : -1;
}

}  // namespace qz::platform
