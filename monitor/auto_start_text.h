// How the service describes itself while it waits for the scheduler's next automatic start.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace qz {

// "Idle, next automatic start 02:00" (every day) or "... Sunday 23:00" (one weekday); an hour or
// day the scheduler never matches gives "Idle, no automatic start".
std::string IdleStatusText(int autoStartOnHour, int autoStartOnDay);

// The same for the values the scheduler reads now.
std::string IdleStatusText();

// When the scheduler would next start a run after `now`: minute 0 of the hour, on the day; the
// hour now counts while its minute 0 lasts. Nothing for an hour or day it never matches.
std::optional<std::time_t> NextAutomaticStart(std::time_t now, int autoStartOnHour,
                                              int autoStartOnDay);

}  // namespace qz
