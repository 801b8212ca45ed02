#include "backup/manifest_name_index.h"

#include <algorithm>
#include <functional>

#include "backup/checksum_manifest.h"

namespace qz {

std::uint64_t ManifestNameIndex::Hash(std::string_view name) {
  return std::hash<std::string_view>{}(name);
}

bool ManifestNameIndex::Load(const std::vector<std::string>& manifests) {
  loaded_.clear();
  added_.clear();
  complete_ = false;
  for (const std::string& manifest : manifests) {
    ManifestReader reader(manifest);
    if (!reader.IsOpen()) return false;
    for (std::string line; reader.NextLine(line);) {
      if (auto entry = ParseManifestLine(line)) loaded_.push_back(Hash(entry->name));
    }
  }
  std::sort(loaded_.begin(), loaded_.end());
  loaded_.erase(std::unique(loaded_.begin(), loaded_.end()), loaded_.end());
  loaded_.shrink_to_fit();
  complete_ = true;
  return true;
}

void ManifestNameIndex::Add(std::string_view name) {
  added_.insert(Hash(name));
}

bool ManifestNameIndex::MayList(std::string_view name) const {
  if (!complete_) return true;
  const std::uint64_t hash = Hash(name);
  return std::binary_search(loaded_.begin(), loaded_.end(), hash) || added_.count(hash) != 0;
}

}  // namespace qz
