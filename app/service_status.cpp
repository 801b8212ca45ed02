#include "app/service_status.h"

#include "monitor/auto_start_text.h"
#include "platform/control_bytes.h"

namespace qz {

void ServiceStatusProgress::RunStarted(std::size_t total) {
  RowDone(0, total, 0);
}

void ServiceStatusProgress::RowDone(std::size_t done, std::size_t total, std::size_t failed) {
  sink_("Backing up " + FormatProgress(done, total, failed));
}

void ServiceStatusProgress::RunEnded(const RunSummary& summary) {
  std::string text = FormatRunSummary(summary);
  // The log is where an operator looks first; when it lost lines, the status says so.
  if (summary.logLinesLost > 0)
    text += ", " + std::to_string(summary.logLinesLost) + " log lines lost (" +
            platform::EscapeControlBytes(summary.logLoss) + ")";
  sink_(AfterRunStatusText(text, summary.ended));
}

}  // namespace qz
