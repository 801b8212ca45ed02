// Child processes without a shell: started from an argument vector, or from a command line split
// by the Windows rules; the program is found on PATH. Every child is reaped, so none is left a
// zombie.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::platform {

// Splits a command line as the Windows runtime does: blanks separate arguments, double quotes
// group, 2n backslashes before a quote give n backslashes and an open/close quote, 2n+1 give n
// backslashes and a literal quote; other backslashes are literal.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Starts the program of `commandLine` without waiting. Returns the pid, or nothing when the
// program cannot be started (not found, not executable, empty line). The child gets default
// signal handling, no descriptors beyond standard input (/dev/null), output and error, and a
// process group of its own, with SIGTTIN and SIGTTOU blocked; the same holds for the two
// functions below. A
// non-empty `workingDirectory` is the child's own; the caller's stays as it is.
std::optional<pid_t> SpawnProcess(std::string_view commandLine,
                                  std::string_view workingDirectory = {});

// The same from an argument vector, passed on as it is: the program (found on PATH) and each of
// its arguments, none of them split or joined. Nothing when the vector or its program is empty.
std::optional<pid_t> SpawnArguments(const std::vector<std::string>& arguments,
                                    std::string_view workingDirectory = {});

// The same with the child's standard output and error both on `outputFd`.
std::optional<pid_t> SpawnArgumentsWithOutput(const std::vector<std::string>& arguments,
                                              int outputFd);

// Non-blocking: the exit code once the child has ended (reaping it), or nothing while it runs.
// A child ended by a signal has 128 + the signal's number; one that can no longer be queried
// (collected elsewhere) has -1.
std::optional<int> QueryExitCode(pid_t pid);

// Waits at most `limit` for the child to end, without reaping it. True when it has ended.
bool WaitForExit(pid_t pid, std::chrono::milliseconds limit);

// Kills the child and reaps it.
void KillProcess(pid_t pid);

// Starts a program without waiting and never looks at it again; a detached reaper collects it.
bool LaunchDetached(std::string_view commandLine);
bool LaunchDetached(const std::vector<std::string>& arguments);

// Waits at most `limit` until every program LaunchDetached started has ended. True when none is
// left running. A service manager ends whatever a service leaves behind when its main process
// exits, so a process about to exit gives them this time to finish.
bool WaitForDetachedChildren(std::chrono::milliseconds limit);

// How many programs LaunchDetached started are still running.
int DetachedChildrenRunning();

// Runs `command` through /bin/sh and waits until it has ended. Returns its exit code, or -1.
int RunShellCommand(std::string_view command);

}  // namespace qz::platform
