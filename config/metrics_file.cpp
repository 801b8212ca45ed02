#include "config/metrics_file.h"

#include <fstream>

#include "config/process_values.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qz {
namespace {

// The metric a line speaks of: the name after "# HELP" or "# TYPE", or the sample's name.
std::string_view MetricName(std::string_view line) {
  if (line.starts_with("# HELP ") || line.starts_with("# TYPE ")) {
    line.remove_prefix(7);
    return line.substr(0, line.find(' '));
  }
  if (line.empty() || line.front() == '#') return {};
  return line.substr(0, line.find_first_of("{ "));
}

std::string OtherWritersLines(const std::string& path, std::string_view prefix) {
  std::ifstream in(platform::NativePath(path), std::ios::binary);
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    std::string_view name = MetricName(line);
    if (name.empty() || name.starts_with(prefix)) continue;
    kept.append(line).append("\n");
  }
  return kept;
}

}  // namespace

std::string MetricsFilePath() {
  return LogDirectory + ".\\qzbackup.prom";
}

bool UpdateMetricsFile(std::string_view prefix, std::string_view families) {
  const std::string path = MetricsFilePath();
  // The file itself cannot carry the lock: every update replaces it by a new file.
  platform::FileLock lock;
  if (!lock.Lock(path + ".lock")) return false;
  std::string text = OtherWritersLines(path, prefix);
  text.append(families);
  // Readable for all: a collector running as another user reads it, and it names no recording.
  return platform::ReplaceFileContents(path, text, 0644);
}

}  // namespace qz
