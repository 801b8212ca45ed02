// Which file names the manifests of one directory may list. A backup directory holds the
// manifests of every earlier archive set; reading them all once per run, instead of once per
// recording, keeps a row's cost from growing with the archive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace qz {

class ManifestNameIndex {
 public:
  // Reads every manifest; false when one cannot be read, after which every name may be listed.
  bool Load(const std::vector<std::string>& manifests);
  // The same, one name at a time: Clear, AddRead for each name read, MarkIncomplete for a
  // manifest that cannot be read, then Seal.
  void Clear();
  void AddRead(std::string_view name) { loaded_.push_back(Hash(name)); }
  void MarkIncomplete() { complete_ = false; }
  void Seal();
  // A name listed from now on.
  void Add(std::string_view name);
  // False only when no manifest lists the name; true may also mean a name of the same hash.
  bool MayList(std::string_view name) const;

 private:
  static std::uint64_t Hash(std::string_view name);

  bool complete_ = false;
  std::vector<std::uint64_t> loaded_;  // sorted; 8 bytes a line of the archive
  std::unordered_set<std::uint64_t> added_;
};

}  // namespace qz
