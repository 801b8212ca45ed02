#include "monitor/auto_start_text.h"

#include <array>
#include <cstdio>

#include "config/process_values.h"

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

}  // namespace qz
