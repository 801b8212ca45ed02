#include "transfer/set_aside_file.h"

#include <cerrno>

#include "platform/files.h"

namespace qz {
namespace {

constexpr int kMaxAttempts = 1000;

}  // namespace

SetAsideFile::SetAsideFile(std::string name) : name_(std::move(name)) {
  if (!platform::PathExists(name_)) return;
  for (int n = 1; n <= kMaxAttempts; ++n) {
    std::string candidate = name_ + ".qzaside" + std::to_string(n);
    if (platform::MoveFile(name_, candidate)) {
      asideName_ = std::move(candidate);
      return;
    }
    if (platform::LastError() != EEXIST) break;
  }
  clear_ = false;
}

void SetAsideFile::Restore() {
  if (HoldsFile() && platform::MoveFile(asideName_, name_)) asideName_.clear();
}

void SetAsideFile::Discard() {
  if (HoldsFile() && platform::DeleteFile(asideName_)) asideName_.clear();
}

}  // namespace qz
