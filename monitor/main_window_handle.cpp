#include "monitor/main_window_handle.h"

namespace qz {

std::atomic<AutoBackupTarget*> MainWindowHandle{nullptr};

}  // namespace qz
