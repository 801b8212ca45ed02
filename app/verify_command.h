// qzbackup --verify [LABEL]: proof that the archive sets in the two directories are whole.
#pragma once

#include <optional>
#include <string>

namespace qz {

// Exit status: 0 when every set is whole, 1 when anything is missing, changed or not listed,
// 2 when the label is not a usable name or the data layer raised an error (its text on
// standard error).
int RunVerify(const std::optional<std::string>& label);

}  // namespace qz
