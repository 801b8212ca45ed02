// SIGTERM and SIGINT as requests to stop, for the tool without a window. The first one lets the
// run finish the row it is on; a second one also ends the download under way.
#pragma once

#include <signal.h>

#include <functional>

namespace qz {

// Blocks SIGTERM and SIGINT in this thread and every thread started after it, so that only the
// watching thread receives them. Call it before any other thread starts.
sigset_t BlockStopSignals();

// Starts a detached thread that waits for the signals of `stopSignals`: on the first it calls
// `onFirst` with its number, then sets StopRequested, on the second it sets CancelDownloads.
void WatchStopSignals(const sigset_t& stopSignals, std::function<void(int)> onFirst);

}  // namespace qz
