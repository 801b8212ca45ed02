// qzbackup --check: what a run would need, checked before the first night.
#pragma once

namespace qz {

// Exit status: 0 when no check failed, 1 when one did, 2 when the settings cannot be loaded.
int RunCheck();

}  // namespace qz
