// The installation's alarm program, launched for serious errors.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace qz {

// The alarm program and its arguments: "qze", "qzarun", "1", "-i4<number>", "-s8BackupTool". The
// number from the settings is part of one argument only.
std::vector<std::string> AlarmArguments(int alarmNumber);
// The same joined by blanks: "qze qzarun 1 -i4<number> -s8BackupTool".
std::string AlarmCommandLine(int alarmNumber);

// Launches the alarm program without waiting for it. When it cannot be started (not on PATH, not
// executable) says so on standard error, with the PATH searched; the event log is left as it is.
void LaunchAlarmProgram(int alarmNumber);

// Launches the alarm program for a backup error and logs it. A number below 10 does nothing.
// Main thread only: it composes its text in MessageBuffer.
void StartAlarm(int alarmNumber);

// How long a process about to exit waits for the alarm programs it started.
constexpr std::chrono::seconds kAlarmProgramGrace{60};

// Waits at most `limit` for the alarm programs this process started and that still run, saying
// so on standard error. A service manager kills what is left in a unit once its main process has
// exited, so --run and --service call this last: an alarm program that pages or mails finishes.
void WaitForAlarmPrograms(std::chrono::milliseconds limit = kAlarmProgramGrace);

// Texts of the main thread's log lines outside a run's own buffers.
extern std::string MessageBuffer;

}  // namespace qz
