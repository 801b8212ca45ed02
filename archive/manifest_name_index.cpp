#include "archive/manifest_name_index.h"

#include <algorithm>
#include <functional>

#include "archive/checksum_manifest.h"

namespace qz {

std::uint64_t ManifestNameIndex::Hash(std::string_view name) {
  return std::hash<std::string_view>{}(name);
}

bool ManifestNameIndex::Load(const std::vector<std::string>& manifests) {
  Clear();
  for (const std::string& manifest : manifests) {
    ManifestReader reader(manifest);
    if (!reader.IsOpen()) {
      MarkIncomplete();
      break;
    }
    for (std::string line; reader.NextLine(line);) {
      if (auto entry = ParseManifestLine(line)) AddRead(entry->name);
    }
  }
  Seal();
  return complete_;
}

void ManifestNameIndex::Clear() {
  loaded_.clear();
  added_.clear();
  complete_ = true;
}

void ManifestNameIndex::Seal() {
  std::sort(loaded_.begin(), loaded_.end());
  loaded_.erase(std::unique(loaded_.begin(), loaded_.end()), loaded_.end());
  loaded_.shrink_to_fit();
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
