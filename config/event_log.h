// The append-only event log: one time-stamped line per event, opened and closed for every line.
#pragma once

#include <string>
#include <string_view>

#include "platform/clock.h"

namespace qz {

// The log file's path as composed from LogDirectory, before the native mapping.
std::string LogFilePath();

// "dd.mm.yyyy, hh:mm:ss, text\n" in local time, the text's control bytes escaped: one event is
// always one line.
std::string FormatLogLine(std::time_t when, std::string_view text);

// Appends one line. The time is taken before the file is opened; when it cannot be opened it is
// tried again up to 100 times, 10 ms apart, then the line is dropped. Never reports failure to
// the caller; the first line dropped after StartLogLossReport is said on standard error.
void WriteLog(std::string_view text, platform::Clock& clock = platform::SystemClock());

// Lines dropped since the process started, and why the last one was.
struct LogLoss {
  long lines = 0;
  std::string why;  // "<path>: <reason>"
};
LogLoss LogLinesLost();

// A run begins: the next dropped line is said on standard error again. Returns the lines
// dropped so far, from which the run counts its own.
long StartLogLossReport();

}  // namespace qz
