// The automatic start: about once a minute the scheduler looks at the local clock and, in minute 0
// of the configured hour and day, has the main window run a backup.
#pragma once

#include <functional>

#include "platform/clock.h"

namespace qz {

// Looks at the clock once, sends the automatic start when it is due and waits for the whole run,
// then pauses before the next pass.
void SchedulerPass(platform::Clock& clock);

// Makes passes as long as keepRunning() says so, the first one at once.
void RunScheduler(platform::Clock& clock, const std::function<bool()>& keepRunning);

// The thread's entry: passes on the system clock until the process ends.
void SchedulerThread();

// Starts SchedulerThread detached; it is never stopped or waited for.
void StartSchedulerThread();

}  // namespace qz
