// The service's status line for the service manager: "Backing up 12 of 340, 1 failed" while a run
// goes on, and the run's summary line with the next automatic start once it has ended.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "backup/run_progress.h"

namespace qz {

class ServiceStatusProgress : public RunProgress {
 public:
  using Sink = std::function<void(const std::string& status)>;
  explicit ServiceStatusProgress(Sink sink) : sink_(std::move(sink)) {}

  void RunStarted(std::size_t total) override;
  void RowDone(std::size_t done, std::size_t total, std::size_t failed) override;
  void RunEnded(const RunSummary& summary) override;

 private:
  Sink sink_;
};

}  // namespace qz
