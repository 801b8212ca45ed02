#include "monitor/auto_start_text.h"

#include <array>
#include <cstdio>

#include "config/process_values.h"
#include "platform/clock.h"

namespace qz {
namespace {

// AutoStartOnDay 1 to 7 are Sunday to Saturday, tm_wday 0 to 6.
constexpr std::array<const char*, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};

// The scheduler's pause after a run before it looks at the clock again.
constexpr std::time_t kPauseAfterRun = 60;

bool NeverMatches(int hour, int day) {
  return hour < 0 || hour > 23 || day < 0 || day > 7;
}

// Minute 0 of `hour` on the day `offset` days after the one of `from`; nothing when the clock
// skips that hour on that day.
std::optional<std::time_t> HourOnDay(std::time_t from, int offset, int hour) {
  std::tm local = platform::LocalTime(from);
  local.tm_mday += offset;
  local.tm_hour = hour;
  local.tm_min = 0;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  const std::time_t start = std::mktime(&local);
  if (start == -1 || platform::LocalTime(start).tm_hour != hour) return std::nullopt;
  return start;
}

bool SameDay(const std::tm& a, const std::tm& b) {
  return a.tm_year == b.tm_year && a.tm_yday == b.tm_yday;
}

}  // namespace

std::optional<std::time_t> NextAutoStart(std::time_t from, int autoStartOnHour,
                                         int autoStartOnDay) {
  if (NeverMatches(autoStartOnHour, autoStartOnDay)) return std::nullopt;
  // Eight days: a weekly start whose minute has just passed today comes again in seven.
  for (int offset = 0; offset <= 8; ++offset) {
    const std::optional<std::time_t> start = HourOnDay(from, offset, autoStartOnHour);
    if (!start || *start + 60 <= from) continue;
    const int weekday = platform::LocalTime(*start).tm_wday;
    if (autoStartOnDay == 0 || autoStartOnDay == weekday + 1) return start;
  }
  return std::nullopt;
}

std::string NextAutoStartText(std::time_t now, std::time_t from, int autoStartOnHour,
                              int autoStartOnDay) {
  const std::optional<std::time_t> start = NextAutoStart(from, autoStartOnHour, autoStartOnDay);
  if (!start) return "no automatic start";
  const std::tm when = platform::LocalTime(*start);
  char text[64];
  const bool today = SameDay(when, platform::LocalTime(now));
  std::snprintf(text, sizeof text, "next automatic start %s%s%02d:00",
                today ? "" : kDayNames[static_cast<size_t>(when.tm_wday)], today ? "" : " ",
                when.tm_hour);
  return text;
}

std::string IdleStatusText(std::time_t now, int autoStartOnHour, int autoStartOnDay) {
  return "Idle, " + NextAutoStartText(now, now, autoStartOnHour, autoStartOnDay);
}

std::string IdleStatusText() {
  return IdleStatusText(platform::SystemClock().Now(), AutoStartOnHour.load(),
                        AutoStartOnDay.load());
}

std::string AfterRunStatusText(const std::string& summary, std::time_t ended) {
  return summary + "; " +
         NextAutoStartText(ended, ended + kPauseAfterRun, AutoStartOnHour.load(),
                           AutoStartOnDay.load());
}

}  // namespace qz
