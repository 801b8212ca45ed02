// The installation's alarm program, launched for serious errors.
#pragma once

#include <string>

namespace qz {

// "qze qzarun 1 -i4<number> -s8BackupTool"
std::string AlarmCommandLine(int alarmNumber);

// Launches the alarm program for a backup error and logs it. A number below 10 does nothing.
// Main thread only: it composes its text in MessageBuffer.
void StartAlarm(int alarmNumber);

// Texts of the main thread's log lines outside a run's own buffers.
extern std::string MessageBuffer;

}  // namespace qz
