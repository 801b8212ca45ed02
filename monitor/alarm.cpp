#include "monitor/alarm.h"

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
  platform::LaunchDetached(AlarmArguments(alarmNumber));
}

void StartAlarm(int alarmNumber) {
  if (alarmNumber < 10) return;
  // The launch's outcome is not looked at: the alarm program reports nothing back.
  LaunchAlarmProgram(alarmNumber);
  MessageBuffer = "Start alarm " + std::to_string(alarmNumber) + " because of error";
  WriteLog(MessageBuffer);
}

}  // namespace qz
