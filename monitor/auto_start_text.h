// How the service describes itself between runs: when the scheduler starts the next run.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace qz {

// The next automatic start the scheduler makes, looking from `from` on: minute 0 of a matching
// hour on a matching day whose minute has not passed before `from`. Nothing when the hour or the
// day never matches.
std::optional<std::time_t> NextAutoStart(std::time_t from, int autoStartOnHour, int autoStartOnDay);

// "next automatic start 02:00" when that start is on the day of `now`, "next automatic start
// Sunday 02:00" when on another day; "no automatic start" when there is none.
std::string NextAutoStartText(std::time_t now, std::time_t from, int autoStartOnHour,
                              int autoStartOnDay);

// "Idle, next automatic start 02:00": the service waiting at `now`.
std::string IdleStatusText(std::time_t now, int autoStartOnHour, int autoStartOnDay);

// The same at this moment for the values the scheduler reads now.
std::string IdleStatusText();

// "<summary>; next automatic start Sunday 02:00": the status after a run that ended at `ended`.
// The scheduler's next pass comes a minute after the run, so the start of this hour is past.
std::string AfterRunStatusText(const std::string& summary, std::time_t ended);

}  // namespace qz
