// The tool without a window: one run (--run) printing its result lines to standard output.
// SIGTERM and SIGINT stop it as they stop --service: the run finishes the row it is on; a second
// signal ends the download under way, and the run with it.
#pragma once

namespace qz {

// Exit status: 0 when every row was backed up, 1 when any row failed, 2 when the settings could
// not be loaded or the data layer raised an error, 128 + the signal's number (130, 143) when
// SIGINT or SIGTERM stopped the run before all its rows were done.
int RunHeadless();

}  // namespace qz
