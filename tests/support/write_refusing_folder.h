// A folder that refuses new entries for as long as the object lives, also to root: as root it is
// made immutable (chattr +i), which no privilege overrides; otherwise its write permission is
// taken away. Either way creating, renaming or removing a name in it fails.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace qz::test {

class WriteRefusingFolder {
 public:
  explicit WriteRefusingFolder(std::filesystem::path folder);
  ~WriteRefusingFolder();
  WriteRefusingFolder(const WriteRefusingFolder&) = delete;
  WriteRefusingFolder& operator=(const WriteRefusingFolder&) = delete;

  // Why the folder could not be made to refuse writes; empty when it refuses them.
  const std::string& Failure() const { return failure_; }
  // The errno a refused write gives: EPERM for an immutable folder, EACCES otherwise.
  int RefusalError() const;

 private:
  bool SetImmutable(bool on);

  std::filesystem::path folder_;
  mode_t mode_ = 0755;
  bool immutable_ = false;
  std::string failure_;
};

}  // namespace qz::test
