#include "backup/tool_file_names.h"

#include <string>

#include "backup/checksum_manifest.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "transfer/staging_folder.h"

namespace qz {
namespace {

// "<label>.sha256.XXXXXX": a checksum file being rewritten.
bool IsManifestBeingRewritten(std::string_view name) {
  const std::size_t tail = platform::kAtomicTemporarySuffix.size();
  return name.size() > tail && name[name.size() - tail] == '.' &&
         name.substr(0, name.size() - tail).ends_with(kManifestSuffix);
}

}  // namespace

bool IsToolFileName(std::string_view name) {
  return name == StagingFolder::kName || name.ends_with(kManifestSuffix) ||
         IsManifestBeingRewritten(name) || name.starts_with(platform::kTemporaryCopyPrefix) ||
         name.ends_with(kOldDownloadMarkerSuffix);
}

}  // namespace qz
