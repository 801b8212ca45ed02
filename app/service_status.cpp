#include "app/service_status.h"

#include "monitor/auto_start_text.h"

namespace qz {

void ServiceStatusProgress::RunStarted(std::size_t total) {
  RowDone(0, total, 0);
}

void ServiceStatusProgress::RowDone(std::size_t done, std::size_t total, std::size_t failed) {
  sink_("Backing up " + FormatProgress(done, total, failed));
}

void ServiceStatusProgress::RunEnded(const RunSummary& summary) {
  sink_(AfterRunStatusText(FormatRunSummary(summary), summary.ended));
}

}  // namespace qz
