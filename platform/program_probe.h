// Looking at external programs without changing anything: where PATH finds one, and what one says
// when run with its output captured.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qz::platform {

// The path of the executable file `name` in the first folder of PATH that holds one; nothing when
// none does. A name with a slash is taken as it is.
std::optional<std::string> FindProgramOnPath(const std::string& name);

struct CapturedRun {
  bool started = false;
  std::optional<int> exitCode;  // nothing when the limit ended it
  std::string output;           // standard output and error together, at most 64 KiB
};

// Runs `arguments` (the program found on PATH; every element is one argument, never split) with
// standard output and error captured, and waits at most `limit` before killing it. The child
// starts as SpawnProcess starts one: default signal handling, a process group of its own, no
// descriptors beyond the standard three, standard input from /dev/null.
CapturedRun RunCaptured(const std::vector<std::string>& arguments, std::chrono::milliseconds limit);

}  // namespace qz::platform
