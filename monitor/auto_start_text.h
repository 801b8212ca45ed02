// How the service describes itself while it waits for the scheduler's next automatic start.
#pragma once

#include <string>

namespace qz {

// "Idle, next automatic start 02:00" (every day) or "... Sunday 23:00" (one weekday); an hour or
// day the scheduler never matches gives "Idle, no automatic start".
std::string IdleStatusText(int autoStartOnHour, int autoStartOnDay);

// The same for the values the scheduler reads now.
std::string IdleStatusText();

}  // namespace qz
