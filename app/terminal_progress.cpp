#include "app/terminal_progress.h"

namespace qz {
namespace {

constexpr const char* kClearLine = "\r\x1b[K";

}  // namespace

std::string FormatDuration(std::time_t seconds) {
  if (seconds < 0) seconds = 0;
  char text[32];
  long long hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
  if (hours > 0)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, rest);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", minutes, rest);
  return text;
}

std::string FormatTerminalProgress(std::size_t done, std::size_t total, std::size_t failed,
                                   std::time_t elapsed) {
  std::string text =
      FormatProgress(done, total, failed) + ", " + FormatDuration(elapsed) + " elapsed";
  if (done > 0 && done <= total) {
    auto left = static_cast<std::time_t>(elapsed * static_cast<double>(total - done) /
                                         static_cast<double>(done));
    text += ", " + FormatDuration(left) + " left";
  }
  return text;
}

void TerminalProgress::RunStarted(std::size_t total) {
  started_ = clock_.Now();
  Show(FormatTerminalProgress(0, total, 0, 0));
}

void TerminalProgress::RowDone(std::size_t done, std::size_t total, std::size_t failed) {
  Show(FormatTerminalProgress(done, total, failed, clock_.Now() - started_));
}

void TerminalProgress::RunEnded(const RunSummary&) {
  if (!shown_) return;
  std::fputs(kClearLine, out_);
  std::fflush(out_);
  shown_ = false;
}

void TerminalProgress::Show(const std::string& text) {
  // The cursor goes back to the line's start, so wget's messages on the same terminal write over
  // the line instead of after it; the next row draws it again below them.
  std::fprintf(out_, "%s%s\r", kClearLine, text.c_str());
  std::fflush(out_);
  shown_ = true;
}

}  // namespace qz
