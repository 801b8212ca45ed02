#include "monitor/auto_start_text.h"

#include <array>
#include <cstdio>

#include "config/process_values.h"
#include "platform/clock.h"

namespace qz {
namespace {

// AutoStartOnDay 1 to 7 are Sunday to Saturday.
constexpr std::array<const char*, 8> kDayNames = {
    "", "Sunday ", "Monday ", "Tuesday ", "Wednesday ", "Thursday ", "Friday ", "Saturday "};

}  // namespace

std::string IdleStatusText(int autoStartOnHour, int autoStartOnDay) {
  if (autoStartOnHour < 0 || autoStartOnHour > 23 || autoStartOnDay < 0 || autoStartOnDay > 7)
    return "Idle, no automatic start";
  char text[64];
  std::snprintf(text, sizeof text, "Idle, next automatic start %s%02d:00",
                kDayNames[static_cast<size_t>(autoStartOnDay)], autoStartOnHour);
  return text;
}

std::string IdleStatusText() {
  return IdleStatusText(AutoStartOnHour.load(), AutoStartOnDay.load());
}

std::optional<std::time_t> NextAutomaticStart(std::time_t now, int autoStartOnHour,
                                              int autoStartOnDay) {
  if (autoStartOnHour < 0 || autoStartOnHour > 23 || autoStartOnDay < 0 || autoStartOnDay > 7)
    return std::nullopt;
  std::tm start = platform::LocalTime(now);
  start.tm_min = 0;
  start.tm_sec = 0;
  const int hourNow = start.tm_hour;
  // Hour by hour through eight days, so summer time changes and the weekday fall out of mktime.
  for (int hours = 0; hours <= 8 * 24; ++hours) {
    std::tm candidate = start;
    candidate.tm_hour = hourNow + hours;
    candidate.tm_isdst = -1;
    const std::time_t when = std::mktime(&candidate);
    if (when == static_cast<std::time_t>(-1) || when + 60 <= now) continue;
    const std::tm local = platform::LocalTime(when);
    if (local.tm_hour == autoStartOnHour &&
        (autoStartOnDay == 0 || local.tm_wday + 1 == autoStartOnDay))
      return when;
  }
  return std::nullopt;
}

}  // namespace qz
