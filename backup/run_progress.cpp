#include "backup/run_progress.h"

namespace qz {

std::string FormatProgress(std::size_t done, std::size_t total, std::size_t failed) {
  return std::to_string(done) + " of " + std::to_string(total) + ", " + std::to_string(failed) +
         " failed";
}

std::string FormatRunSummary(const RunSummary& summary) {
  if (!summary.refusal.empty()) return summary.refusal;
  return "Backup run ended: " + std::to_string(summary.rows) + " rows, " +
         std::to_string(summary.BackedUp()) + " backed up, " + std::to_string(summary.failed) +
         " failed";
}

}  // namespace qz
