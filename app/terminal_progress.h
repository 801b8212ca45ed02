// The progress of a headless run for a person at a terminal: one line on standard error,
// "12 of 340, 1 failed, 0:42 elapsed, 3:10 left", rewritten in place and cleared at the end.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

#include "backup/run_progress.h"
#include "platform/clock.h"

namespace qz {

// "0:42", "12:05", "1:02:03"
std::string FormatDuration(std::time_t seconds);

// The line's text; the time left is estimated from the rows done so far, once there are any.
std::string FormatTerminalProgress(std::size_t done, std::size_t total, std::size_t failed,
                                   std::time_t elapsed);

class TerminalProgress : public RunProgress {
 public:
  // `out` is a terminal: the caller decides, so redirected output never gets the line.
  TerminalProgress(std::FILE* out, platform::Clock& clock) : out_(out), clock_(clock) {}

  void RunStarted(std::size_t total) override;
  void RowDone(std::size_t done, std::size_t total, std::size_t failed) override;
  void RunEnded(const RunSummary& summary) override;

 private:
  void Show(const std::string& text);

  std::FILE* out_;
  platform::Clock& clock_;
  std::time_t started_ = 0;
  bool shown_ = false;
};

}  // namespace qz
