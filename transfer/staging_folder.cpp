#include "transfer/staging_folder.h"

#include <cerrno>

#include "platform/files.h"
#include "platform/paths.h"

namespace qz {

StagingFolder::StagingFolder(std::string_view directory)
    : directory_(directory), path_(platform::PathInDirectory(directory, kName)) {}

bool StagingFolder::Prepare() {
  if (!platform::CreateDirectory(path_) && platform::LastError() != EEXIST) return false;
  return platform::ClearDirectory(path_);
}

void StagingFolder::Clear() {
  if (platform::PathExists(path_)) platform::ClearDirectory(path_);
}

bool StagingFolder::Holds(const std::string& fileName) const {
  return platform::PathExists(platform::PathInDirectory(path_, fileName));
}

bool StagingFolder::Deliver(const std::string& fileName) {
  const std::string staged = platform::PathInDirectory(path_, fileName);
  return platform::SyncFile(staged) &&
         platform::MoveFileReplacing(staged, platform::PathInDirectory(directory_, fileName));
}

}  // namespace qz
