// Keeps a file that already stands under a download's name out of the downloader's way: wget
// would store the new copy as "name.1" and the old file would be taken for the new one.
#pragma once

#include <string>

namespace qz {

class SetAsideFile {
 public:
  // Renames `name`, when it exists, to a free name beside it.
  explicit SetAsideFile(std::string name);
  SetAsideFile(const SetAsideFile&) = delete;
  SetAsideFile& operator=(const SetAsideFile&) = delete;

  // False when `name` exists but could not be moved out of the way.
  bool IsClear() const { return clear_; }
  // Whether a file was set aside, and under which name.
  bool HoldsFile() const { return !asideName_.empty(); }
  const std::string& AsideName() const { return asideName_; }

  // Puts the old file back under its name; the caller has removed whatever stands there.
  void Restore();
  // Deletes the old file: the download has replaced it.
  void Discard();

 private:
  std::string name_;
  std::string asideName_;
  bool clear_ = true;
};

}  // namespace qz
