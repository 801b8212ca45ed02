// How far a run is, for whoever watches it: the window's caption, a terminal, the service's status.
#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>
#include <map>
#include <string>

namespace qz {

struct RunSummary {
  int rows = 0;                       // rows handled
  int failed = 0;                     // of those, rows whose status is below 1
  std::size_t selected = 0;           // rows the run's snapshot held
  std::map<int, int> failedByStatus;  // status -> rows
  bool stopped = false;               // ended by a stop request before all rows were done
  bool dataLayerError = false;        // ended by an error of the data layer
  std::string archiveLabel;           // the label written into ARCHIVE; empty when none is
  std::string refusal;                // why the run did not start at all; empty when it ran
  long logLinesLost = 0;              // event log lines dropped during the run
  std::string logLoss;                // "<log path>: <reason>" of the last line dropped
  std::time_t started = 0;
  std::time_t ended = 0;
  // Where the rows' time went, summed over them; the pauses are in no step, wget's time is in
  // fetch. All zero when no row was handled.
  struct StepTimes {
    std::chrono::nanoseconds fetch{0}, hashing{0}, placing{0}, records{0}, label{0};
  } steps;
  int BackedUp() const { return rows - failed; }
};

class RunProgress {
 public:
  virtual ~RunProgress() = default;
  // The rows are read: `total` of them are to be done. A run that never reaches its rows (no
  // connection, or a data-layer error before them) skips this.
  virtual void RunStarted(std::size_t total) = 0;
  // After each row's result line.
  virtual void RowDone(std::size_t done, std::size_t total, std::size_t failed) = 0;
  // Last of all, also after a stop or a data-layer error.
  virtual void RunEnded(const RunSummary& summary) = 0;
};

// "12 of 340, 1 failed"
std::string FormatProgress(std::size_t done, std::size_t total, std::size_t failed);

// "Backup run ended: 340 rows, 338 backed up, 2 failed", or the refusal of a run that never started
std::string FormatRunSummary(const RunSummary& summary);

}  // namespace qz
