#include "archive/checksum_manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "config/event_log.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/sha256_file.h"

namespace qz {
namespace {

constexpr size_t kDigestLength = 64;

bool NeedsEscape(std::string_view name) {
  return name.find_first_of("\\\n\r") != std::string_view::npos;
}

std::string Escaped(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::optional<std::string> Unescaped(std::string_view name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '\\') {
      out += name[i];
      continue;
    }
    if (++i == name.size()) return std::nullopt;
    if (name[i] == '\\')
      out += '\\';
    else if (name[i] == 'n')
      out += '\n';
    else if (name[i] == 'r')
      out += '\r';
    else
      return std::nullopt;
  }
  return out;
}

bool WriteAll(int fd, std::string_view text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A crash during an append can leave a torn last line; its row was never labelled, so it goes.
bool DropTornTail(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  off_t end = st.st_size;
  char buffer[4096];
  while (end > 0) {
    off_t start = std::max<off_t>(0, end - static_cast<off_t>(sizeof buffer));
    ssize_t n = pread(fd, buffer, static_cast<size_t>(end - start), start);
    if (n <= 0) return false;
    for (ssize_t i = n; i > 0; --i) {
      if (buffer[i - 1] == '\n') {
        off_t keep = start + i;
        return keep == st.st_size || ftruncate(fd, keep) == 0;
      }
    }
    end = start;
  }
  return st.st_size == 0 || ftruncate(fd, 0) == 0;
}

}  // namespace

std::string ManifestFileName(std::string_view label) {
  return std::string(label) + std::string(kManifestSuffix);
}

std::string NativeDirectory(std::string_view directory) {
  // Composed with a file name, so every component is a directory's (trailing dots dropped).
  std::string native = platform::NativePath(std::string(directory) + "/x");
  native.resize(native.size() - 2);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return native.empty() ? "." : native;
}

std::vector<std::string> ManifestsIn(const std::string& nativeDirectory) {
  std::vector<std::string> manifests;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(nativeDirectory, ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() > kManifestSuffix.size() && name.ends_with(kManifestSuffix) &&
        entry.is_regular_file(ec))
      manifests.push_back(entry.path().string());
  }
  std::sort(manifests.begin(), manifests.end());
  return manifests;
}

std::string ManifestLine(std::string_view hexDigest, std::string_view fileName) {
  if (!NeedsEscape(fileName)) return std::string(hexDigest) + "  " + std::string(fileName) + "\n";
  return "\\" + std::string(hexDigest) + "  " + Escaped(fileName) + "\n";
}

std::optional<ManifestEntry> ParseManifestLine(std::string_view line) {
  bool escaped = !line.empty() && line.front() == '\\';
  if (escaped) line.remove_prefix(1);
  if (line.size() < kDigestLength + 3 || !platform::IsSha256Hex(line.substr(0, kDigestLength)) ||
      line[kDigestLength] != ' ' ||
      (line[kDigestLength + 1] != ' ' && line[kDigestLength + 1] != '*'))
    return std::nullopt;
  std::string_view name = line.substr(kDigestLength + 2);
  ManifestEntry entry{std::string(line.substr(0, kDigestLength)), std::string(name)};
  std::transform(entry.digest.begin(), entry.digest.end(), entry.digest.begin(),
                 [](char c) { return static_cast<char>(std::tolower(c & 0xff)); });
  if (escaped) {
    std::optional<std::string> plain = Unescaped(name);
    if (!plain) return std::nullopt;
    entry.name = *plain;
  }
  return entry;
}

bool ChecksumManifests::AddRecording(std::string_view directory, std::string_view label,
                                     const std::string& fileName) {
  const std::string recording = NativeDirectory(directory) + "/" + fileName;
  std::string digest;
  if (!platform::Sha256OfFile(recording, digest)) {
    WriteLog("ERROR reading file for checksum: " + recording + "  Error:" + std::to_string(errno),
             clock_);
    return false;
  }
  return AddRecording(directory, label, fileName, digest);
}

bool ChecksumManifests::AddRecording(std::string_view directory, std::string_view label,
                                     const std::string& fileName, const std::string& digest) {
  const std::string dir = NativeDirectory(directory);
  const std::string target = dir + "/" + ManifestFileName(label);
  Directory& known = KnownDirectory(dir);
  bool listed = false;
  if (known.names.MayList(fileName)) {
    for (const Manifest& manifest : known.manifests) {
      bool listedHere = false;
      if (!DropStaleLines(manifest.path, fileName, digest, listedHere)) return false;
      if (manifest.path == target) listed = listedHere;
    }
  }
  if (listed) return true;
  if (!Append(target, ManifestLine(digest, fileName))) return false;
  known.names.Add(fileName);
  if (std::none_of(known.manifests.begin(), known.manifests.end(),
                   [&](const Manifest& m) { return m.path == target; }))
    known.manifests.push_back({target});
  return true;
}

bool ChecksumManifests::Lists(std::string_view directory, const std::string& fileName) {
  Directory& known = KnownDirectory(NativeDirectory(directory));
  if (!known.names.MayList(fileName)) return false;
  for (const Manifest& manifest : known.manifests) {
    ManifestReader reader(manifest.path);
    if (!reader.IsOpen()) {
      if (errno == ENOENT) continue;
      return true;
    }
    for (std::string line; reader.NextLine(line);) {
      if (line.size() < fileName.size()) continue;  // cheap rejection before parsing
      auto entry = ParseManifestLine(line);
      if (entry && entry->name == fileName) return true;
    }
  }
  return false;
}

ChecksumManifests::Directory& ChecksumManifests::KnownDirectory(
    const std::string& nativeDirectory) {
  auto found = directories_.find(nativeDirectory);
  if (found != directories_.end()) return found->second;
  Directory& directory = directories_[nativeDirectory];
  for (std::string& path : ManifestsIn(nativeDirectory)) directory.manifests.push_back({path});
  ReadAll(directory);
  return directory;
}

// A manifest that cannot be read leaves every name to the per-recording scan, which says so.
void ChecksumManifests::ReadAll(Directory& directory) {
  directory.names.Clear();
  for (Manifest& manifest : directory.manifests) {
    manifest.read = 0;
    if (!ReadNewLines(manifest, [&](std::string_view name) { directory.names.AddRead(name); }))
      directory.names.MarkIncomplete();
  }
  directory.names.Seal();
}

// A last line without its newline is an append under way or torn by a crash: it is read again
// once whole.
template <typename AddName>
bool ChecksumManifests::ReadNewLines(Manifest& manifest, AddName addName) {
  int fd = open(manifest.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  manifest.device = st.st_dev;
  manifest.inode = st.st_ino;
  std::string tail;
  char buffer[65536];
  for (off_t at = manifest.read; ok;) {
    ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    at += n;
    tail.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = tail.find('\n', start)) != std::string::npos; start = end + 1) {
      if (auto entry = ParseManifestLine(std::string_view(tail).substr(start, end - start)))
        addName(entry->name);
    }
    manifest.read += static_cast<off_t>(start);
    tail.erase(0, start);
  }
  close(fd);
  return ok;
}

// Writers append; a rewrite replaces the file (another inode), a torn tail makes it shorter.
bool ChecksumManifests::HasChanged(const Manifest& manifest, bool& rewritten) {
  struct stat st {};
  if (stat(manifest.path.c_str(), &st) != 0) {
    rewritten = true;
    return true;
  }
  rewritten = manifest.inode == 0 ? false
                                  : st.st_ino != manifest.inode || st.st_dev != manifest.device ||
                                        st.st_size < manifest.read;
  return rewritten || manifest.inode == 0 || st.st_size > manifest.read;
}

void ChecksumManifests::Refresh(std::string_view directory, bool lookForNew) {
  const std::string native = NativeDirectory(directory);
  const bool known = directories_.count(native) != 0;
  Directory& d = KnownDirectory(native);
  if (!known) return;
  if (lookForNew) {
    for (std::string& path : ManifestsIn(native)) {
      if (std::none_of(d.manifests.begin(), d.manifests.end(),
                       [&](const Manifest& m) { return m.path == path; }))
        d.manifests.push_back({path});
    }
  }
  bool rereadAll = false;
  std::vector<Manifest*> grown;
  for (Manifest& manifest : d.manifests) {
    bool rewritten = false;
    if (!HasChanged(manifest, rewritten)) continue;
    if (rewritten)
      rereadAll = true;
    else
      grown.push_back(&manifest);
  }
  if (rereadAll) {
    std::erase_if(d.manifests, [](const Manifest& m) {
      struct stat st {};
      return stat(m.path.c_str(), &st) != 0 && errno == ENOENT;
    });
    ReadAll(d);
    return;
  }
  for (Manifest* manifest : grown) {
    if (!ReadNewLines(*manifest, [&](std::string_view name) { d.names.Add(name); }))
      d.names.MarkIncomplete();
  }
}

// `listed` tells whether the manifest already holds the file with this content.
bool ChecksumManifests::DropStaleLines(const std::string& manifest, const std::string& fileName,
                                       const std::string& digest, bool& listed) {
  bool stale = false;
  {
    ManifestReader reader(manifest);
    if (!reader.IsOpen()) return errno == ENOENT || LogWriteError(manifest, errno);
    for (std::string line; reader.NextLine(line);) {
      if (line.size() < fileName.size()) continue;  // cheap rejection before parsing
      auto entry = ParseManifestLine(line);
      if (!entry || entry->name != fileName) continue;
      (entry->digest == digest ? listed : stale) = true;
    }
  }
  if (!stale) return true;
  ManifestReader reader(manifest);
  platform::AtomicFileWriter writer(manifest);
  for (std::string line; writer.Ok() && reader.NextLine(line);) {
    auto entry = ParseManifestLine(line);
    if (entry && entry->name == fileName && entry->digest != digest) continue;
    if (!entry && reader.LineUnterminated()) continue;
    writer.Write(line + "\n");
  }
  return writer.Commit() || LogWriteError(manifest, writer.Error());
}

bool ChecksumManifests::Append(const std::string& manifest, const std::string& line) {
  int fd = open(manifest.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  bool created = fd >= 0;
  if (!created && errno == EEXIST) fd = open(manifest.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (fd < 0) return LogWriteError(manifest, errno);
  // The label that follows promises the line: it is on disk first, and so is the name of a
  // manifest made for it.
  bool ok = DropTornTail(fd) && WriteAll(fd, line) && platform::SyncOpenFile(fd, manifest);
  int error = errno;
  close(fd);
  if (ok && created &&
      !platform::SyncNativeDirectory(std::filesystem::path(manifest).parent_path()))
    return LogWriteError(manifest, errno);
  return ok || LogWriteError(manifest, error);
}

bool ChecksumManifests::LogWriteError(const std::string& path, int error) {
  WriteLog("ERROR writing checksum file: " + path + "  Error:" + std::to_string(error), clock_);
  return false;
}

}  // namespace qz
