#include "config/event_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "config/process_values.h"
#include "platform/control_bytes.h"
#include "platform/paths.h"

namespace qz {
namespace {

constexpr int kOpenRetries = 100;
constexpr std::chrono::milliseconds kRetryPause{10};

int OpenForAppend(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
}

// Both writing threads drop lines; the journal hears of it once per run, not once per line.
std::mutex lossMutex;
LogLoss loss;
bool lossReported = false;

void NoteDroppedLine(const std::string& path, int error) {
  std::lock_guard<std::mutex> guard(lossMutex);
  ++loss.lines;
  loss.why = path + ": " + std::strerror(error);
  if (lossReported) return;
  lossReported = true;
  std::fprintf(stderr, "qzbackup: the event log cannot be written, its lines are lost: %s\n",
               platform::EscapeControlBytes(loss.why).c_str());
}

}  // namespace

std::string LogFilePath() {
  return LogDirectory + ".\\qzbackup.log";
}

std::string FormatLogLine(std::time_t when, std::string_view text) {
  std::tm tm = platform::LocalTime(when);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%02d.%02d.%d, %02d:%02d:%02d, ", tm.tm_mday, tm.tm_mon + 1,
                tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return std::string(stamp).append(platform::EscapeControlBytes(text)).append("\n");
}

void WriteLog(std::string_view text, platform::Clock& clock) {
  std::string line = FormatLogLine(clock.Now(), text);
  std::string path = platform::NativePath(LogFilePath());
  int fd = OpenForAppend(path);
  for (int retry = 0; fd < 0 && retry < kOpenRetries; ++retry) {
    clock.Sleep(kRetryPause);
    fd = OpenForAppend(path);
  }
  if (fd < 0) {
    NoteDroppedLine(path, errno);
    return;
  }
  // One write per line: lines of the two writing threads never interleave.
  ssize_t written;
  do {
    written = write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  close(fd);
}

LogLoss LogLinesLost() {
  std::lock_guard<std::mutex> guard(lossMutex);
  return loss;
}

long StartLogLossReport() {
  std::lock_guard<std::mutex> guard(lossMutex);
  lossReported = false;
  return loss.lines;
}

}  // namespace qz
