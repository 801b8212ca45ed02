#include "transfer/staging_folder.h"

#include <cerrno>

#include "platform/files.h"
#include "platform/paths.h"

namespace qz {

StagingFolder::StagingFolder(std::string_view directory)
    : directory_(directory), path_(platform::PathInDirectory(directory, kName)) {}

bool StagingFolder::Prepare() {
  // A folder made anew for every download: a wget that outlived an ended tool (it runs in a
  // process group of its own) goes on writing into the removed folder, never into this one.
  if (platform::PathExists(path_) &&
      !(platform::ClearDirectory(path_) && platform::RemoveDirectory(path_)))
    return false;
  return platform::CreateDirectory(path_);
}

void StagingFolder::Clear() {
  if (platform::PathExists(path_)) platform::ClearDirectory(path_);
}

bool StagingFolder::Holds(const std::string& fileName) const {
  return platform::PathExists(platform::PathInDirectory(path_, fileName));
}

bool StagingFolder::Deliver(const std::string& fileName) {
  const std::string staged = platform::PathInDirectory(path_, fileName);
  // Flushed before the rename that names it: a name in the download directory is a complete
  // recording even after a crash. Whoever relies on the new entry flushes the directory.
  return platform::SyncFile(staged) &&
         platform::MoveFileReplacing(staged, platform::PathInDirectory(directory_, fileName));
}

}  // namespace qz
