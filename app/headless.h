// The tool without a window: one run (--run) printing its result lines to standard output.
#pragma once

namespace qz {

// Exit status: 0 when every row was backed up, 1 when any row failed, 2 when the settings could
// not be loaded or the data layer raised an error.
int RunHeadless();

}  // namespace qz
