#include "archive/tool_file_names.h"

#include <string>

#include "archive/checksum_manifest.h"
#include "archive/directory_lock.h"
#include "archive/pending_labels.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "transfer/staging_folder.h"

namespace qz {
namespace {

bool IsOwnListName(std::string_view name) {
  return name.ends_with(kManifestSuffix) || name == kPendingLabelsName;
}

// "<label>.sha256.XXXXXX", ".qzpending.XXXXXX": a list of the tool's being rewritten.
bool IsOwnListBeingRewritten(std::string_view name) {
  const std::size_t tail = platform::kAtomicTemporarySuffix.size();
  return name.size() > tail && name[name.size() - tail] == '.' &&
         IsOwnListName(name.substr(0, name.size() - tail));
}

}  // namespace

bool IsToolFileName(std::string_view name) {
  return name == StagingFolder::kName || name == kDirectoryLockName || IsOwnListName(name) ||
         IsOwnListBeingRewritten(name) || name.starts_with(platform::kTemporaryCopyPrefix) ||
         name.ends_with(kOldDownloadMarkerSuffix);
}

}  // namespace qz
