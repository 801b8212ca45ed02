// The tool without a window, for a server: the automatic-start scheduler and the disk watchdog as
// in the window, with the automatic runs on the main thread and their result lines on standard
// output. SIGTERM and SIGINT end it cleanly: a run finishes the row it is on.
#pragma once

namespace qz {

// Exit status: 0 after a request to stop, 2 when the settings could not be loaded.
int RunService();

}  // namespace qz
