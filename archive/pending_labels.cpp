#include "archive/pending_labels.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "config/event_log.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/sha256_file.h"

namespace qz {
namespace {

void AddField(std::string& text, std::optional<std::string_view> value) {
  // NULL and the empty text differ: a NULL has no length.
  text += value ? std::to_string(value->size()) + ":" + std::string(*value) : "-";
  text += ';';
}

}  // namespace

std::string PendingRowKey(const std::string& server, const std::string& file,
                          const RowValues& values) {
  std::string text;
  AddField(text, server);
  AddField(text, file);
  for (const std::optional<std::string>& value : values) AddField(text, value);
  return platform::Sha256OfText(text);
}

void PendingLabels::Use(std::string_view directory) {
  path_ = platform::PathInDirectory(directory, kPendingLabelsName);
  digests_.clear();
  read_ = {};
}

void PendingLabels::Reload() {
  struct stat st {};
  Version now;
  if (stat(platform::NativePath(path_).c_str(), &st) == 0)
    now = {st.st_dev, st.st_ino, st.st_size,
           std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
  if (now == read_) return;
  read_ = now;
  digests_.clear();
  std::ifstream in(platform::NativePath(path_), std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string row, digest;
    if (fields >> row >> digest && platform::IsSha256Hex(row) && platform::IsSha256Hex(digest))
      digests_[row] = digest;
  }
}

std::optional<std::string> PendingLabels::DigestOf(const std::string& row) {
  Reload();
  auto found = digests_.find(row);
  if (found == digests_.end()) return std::nullopt;
  return found->second;
}

bool PendingLabels::NotesDigest(const std::string& digest, const std::string& row) {
  Reload();
  return std::any_of(digests_.begin(), digests_.end(), [&](const auto& noted) {
    return noted.second == digest && noted.first != row;
  });
}

bool PendingLabels::Add(const std::string& row, const std::string& digest) {
  Reload();
  digests_[row] = digest;
  return Save();
}

void PendingLabels::Remove(const std::string& row) {
  Reload();
  if (digests_.erase(row) != 0) Save();
}

bool PendingLabels::Save() {
  bool saved;
  if (digests_.empty()) {
    saved = platform::DeleteFile(path_) || platform::LastError() == ENOENT;
  } else {
    std::string text;
    for (const auto& [row, digest] : digests_) text += row + " " + digest + "\n";
    saved = platform::ReplaceFileContents(path_, text);
  }
  // The next call reads the file as written, or as left by a failed write.
  read_ = {.size = -2};
  if (!saved)
    WriteLog("ERROR writing file: " + platform::NativePath(path_) +
                 "  Error:" + std::to_string(platform::LastError()),
             clock_);
  return saved;
}

}  // namespace qz
