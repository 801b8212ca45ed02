#include "monitor/alarm.h"

#include "config/event_log.h"
#include "platform/process.h"

namespace qz {

std::string MessageBuffer;

std::string AlarmCommandLine(int alarmNumber) {
  return "qze qzarun 1 -i4" + std::to_string(alarmNumber) + " -s8BackupTool";
}

void StartAlarm(int alarmNumber) {
  if (alarmNumber < 10) return;
  // The launch's outcome is not looked at: the alarm program reports nothing back.
  platform::LaunchDetached(AlarmCommandLine(alarmNumber));
  MessageBuffer = "Start alarm " + std::to_string(alarmNumber) + " because of error";
  WriteLog(MessageBuffer);
}

}  // namespace qz
