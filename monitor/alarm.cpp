#include "monitor/alarm.h"

#include <cstdio>
#include <cstdlib>

#include "config/event_log.h"
#include "platform/process.h"

namespace qz {

std::string MessageBuffer;

std::vector<std::string> AlarmArguments(int alarmNumber) {
  return {"qze", "qzarun", "1", "-i4" + std::to_string(alarmNumber), "-s8BackupTool"};
}

std::string AlarmCommandLine(int alarmNumber) {
  std::string line;
  for (const std::string& argument : AlarmArguments(alarmNumber))
    line += (line.empty() ? "" : " ") + argument;
  return line;
}

void LaunchAlarmProgram(int alarmNumber) {
  if (platform::LaunchDetached(AlarmArguments(alarmNumber))) return;
  const char* path = std::getenv("PATH");
  std::fprintf(stderr, "Alarm program cannot be started: %s (PATH=%s)\n",
               AlarmCommandLine(alarmNumber).c_str(), path ? path : "");
}

void StartAlarm(int alarmNumber) {
  if (alarmNumber < 10) return;
  // The alarm program reports nothing back; a failed launch is told on standard error only.
  LaunchAlarmProgram(alarmNumber);
  MessageBuffer = "Start alarm " + std::to_string(alarmNumber) + " because of error";
  WriteLog(MessageBuffer);
}

void WaitForAlarmPrograms(std::chrono::milliseconds limit) {
  const int running = platform::DetachedChildrenRunning();
  if (running == 0) return;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
  std::fprintf(stderr, "Waiting up to %lld s for %d alarm program(s) to end\n",
               static_cast<long long>(seconds), running);
  if (!platform::WaitForDetachedChildren(limit))
    std::fprintf(stderr, "%d alarm program(s) still running after %lld s\n",
                 platform::DetachedChildrenRunning(), static_cast<long long>(seconds));
}

}  // namespace qz
