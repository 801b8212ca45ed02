// The private folder inside the download directory where wget writes. A recording enters the
// download directory only by one rename of its complete, flushed file, so whatever a killed run
// or a wrongly named download leaves behind stands here and is never taken for a recording.
#pragma once

#include <string>
#include <string_view>

namespace qz {

class StagingFolder {
 public:
  // Its name inside the download directory; no recording may carry it.
  static constexpr std::string_view kName = ".qzfetch";

  // The staging folder of `directory` ("." for the current one).
  explicit StagingFolder(std::string_view directory);

  const std::string& Path() const { return path_; }

  // Makes the folder anew, empty. False when that fails: a file left in it could be taken for the
  // one the next download stores.
  bool Prepare();
  // Removes whatever stands in it; a missing folder is already clear.
  void Clear();

  // True when a download stored `fileName` here.
  bool Holds(const std::string& fileName) const;
  // Flushes `fileName` and renames it into the directory, replacing an older copy there; the
  // directory itself is not flushed.
  bool Deliver(const std::string& fileName);

 private:
  std::string directory_;
  std::string path_;
};

}  // namespace qz
