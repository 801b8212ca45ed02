#include "archive/pending_labels.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/event_log.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/sha256_file.h"

namespace qz {
namespace {

// The second field of a line that forgets its row.
constexpr std::string_view kForgotten = "-";
// Forgotten rows' lines kept before the file is rewritten with only the rows still noted.
constexpr std::size_t kMostForgottenLines = 64;

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
  lines_ = 0;
  std::ifstream in(platform::NativePath(path_), std::ios::binary);
  for (std::string line; std::getline(in, line); ++lines_) {
    std::istringstream fields(line);
    std::string row, digest;
    if (!(fields >> row >> digest) || !platform::IsSha256Hex(row)) continue;
    if (digest == kForgotten)
      digests_.erase(row);
    else if (platform::IsSha256Hex(digest))
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

// The move this note guards follows at once: the note is on disk first, one flush of the file
// appended to (and of the directory, the one time the file is made).
bool PendingLabels::Add(const std::string& row, const std::string& digest) {
  Reload();
  digests_[row] = digest;
  return Written(Append(row + " " + digest + "\n", true));
}

void PendingLabels::Remove(const std::string& row) {
  Reload();
  if (digests_.erase(row) == 0) return;
  const std::string native = platform::NativePath(path_);
  if (digests_.empty())
    Written(truncate(native.c_str(), 0) == 0);
  else if (lines_ >= kMostForgottenLines + 2 * digests_.size())
    Written(Compact());
  else
    Written(Append(row + " " + std::string(kForgotten) + "\n", false));
}

void PendingLabels::RemoveIfEmpty() {
  if (!written_) return;
  written_ = false;
  Reload();
  if (digests_.empty() && read_.size >= 0)
    Written(unlink(platform::NativePath(path_).c_str()) == 0 || errno == ENOENT);
}

// A line torn by a crash is ended first, so that it spoils no other line.
bool PendingLabels::Append(const std::string& line, bool durable) {
  const std::string native = platform::NativePath(path_);
  int fd = open(native.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  const bool created = fd >= 0;
  if (!created && errno == EEXIST) fd = open(native.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  written_ = true;
  struct stat st {};
  char last = '\n';
  bool ok = fstat(fd, &st) == 0 && (st.st_size == 0 || pread(fd, &last, 1, st.st_size - 1) == 1);
  const std::string text = last == '\n' ? line : "\n" + line;
  ok = ok && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (ok && durable) ok = platform::SyncOpenFile(fd, native);
  int error = errno;
  close(fd);
  errno = error;
  if (ok && durable && created)
    ok = platform::SyncNativeDirectory(std::filesystem::path(native).parent_path());
  return ok;
}

// Rewritten as a whole, and flushed: it holds other rows' notes.
bool PendingLabels::Compact() {
  std::string text;
  for (const auto& [row, digest] : digests_) text += row + " " + digest + "\n";
  return platform::ReplaceFileContents(path_, text);
}

bool PendingLabels::Written(bool ok) {
  int error = errno;
  // The next call reads the file as written, or as left by a failed write.
  read_ = {.size = -2};
  if (!ok)
    WriteLog(
        "ERROR writing file: " + platform::NativePath(path_) + "  Error:" + std::to_string(error),
        clock_);
  return ok;
}

}  // namespace qz
