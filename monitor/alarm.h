// The installation's alarm program, launched for serious errors.
#pragma once

#include <string>
#include <vector>

namespace qz {

// The alarm program and its arguments: "qze", "qzarun", "1", "-i4<number>", "-s8BackupTool". The
// number from the settings is part of one argument only.
std::vector<std::string> AlarmArguments(int alarmNumber);
// The same joined by blanks: "qze qzarun 1 -i4<number> -s8BackupTool".
std::string AlarmCommandLine(int alarmNumber);

// Starts the alarm program without waiting and without looking at the outcome.
void LaunchAlarmProgram(int alarmNumber);

// Launches the alarm program for a backup error and logs it. A number below 10 does nothing.
// Main thread only: it composes its text in MessageBuffer.
void StartAlarm(int alarmNumber);

// Texts of the main thread's log lines outside a run's own buffers.
extern std::string MessageBuffer;

}  // namespace qz
