// Root working on an installation that belongs to another user would leave files that user
// cannot write: a log created by root, for one, silences every later line of the service. Such a
// command is refused, with the command that runs it as the installation's user.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace qz {

// For a process running as `self`: when that is root and the base directory named in the
// registry, its log folder or the settings file belongs to another user, the refusal of
// `qzbackup <arguments>` with the runuser command to use instead; nothing otherwise.
std::optional<std::string> RefuseAnotherUsersInstallation(uid_t self, const std::string& arguments);

}  // namespace qz
