// The checksum manifest of an archive set: "<label>.sha256" in the directory that holds the set's
// recordings, one line per recording in the format `sha256sum -c` reads.
#pragma once

#include <sys/types.h>

#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/manifest_name_index.h"
#include "platform/clock.h"

namespace qz {

inline constexpr std::string_view kManifestSuffix = ".sha256";

std::string ManifestFileName(std::string_view label);
// A directory setting ("\qzt\backup\", "/qzt/backup/") as a native path without a trailing slash.
std::string NativeDirectory(std::string_view directory);
// The manifests ("*.sha256") in a native directory, sorted; none when it cannot be read.
std::vector<std::string> ManifestsIn(const std::string& nativeDirectory);

// "<digest>  <name>\n"; a name holding a backslash, newline or carriage return is escaped as
// sha256sum escapes it (the line starts with a backslash).
std::string ManifestLine(std::string_view hexDigest, std::string_view fileName);

struct ManifestEntry {
  std::string digest;
  std::string name;
};
// A line without its newline; nothing when it is not a SHA-256 line.
std::optional<ManifestEntry> ParseManifestLine(std::string_view line);

// A manifest read one line at a time, so memory does not grow with its length.
class ManifestReader {
 public:
  explicit ManifestReader(const std::string& nativePath) : in_(nativePath, std::ios::binary) {}
  bool IsOpen() const { return in_.is_open(); }
  bool NextLine(std::string& line) { return static_cast<bool>(std::getline(in_, line)); }
  // After NextLine: the line read had no newline (a torn append when it does not parse).
  bool LineUnterminated() const { return in_.eof(); }

 private:
  std::ifstream in_;
};

// The manifest lines of one backup run. A line is on disk before AddRecording returns true.
class ChecksumManifests {
 public:
  explicit ChecksumManifests(platform::Clock& clock) : clock_(clock) {}

  // Lists `fileName` of `directory` in the label's manifest there, first removing from every
  // manifest of that directory the lines that name the file with other content (it replaced an
  // older file). False after a failure, which it logs.
  bool AddRecording(std::string_view directory, std::string_view label,
                    const std::string& fileName);
  // The same with the file's digest already known.
  bool AddRecording(std::string_view directory, std::string_view label, const std::string& fileName,
                    const std::string& digest);

  // Whether a manifest of `directory` lists `fileName`, so a file of that name there is archived.
  // A manifest that cannot be read may list it.
  bool Lists(std::string_view directory, const std::string& fileName);

  // Brings what this run knows of `directory` up to its manifests as they stand, for a decision
  // taken under the directory's lock: lines another writer appended are read, a manifest
  // rewritten or removed is read anew. `lookForNew` also finds manifests made since, which costs
  // a listing of the directory.
  void Refresh(std::string_view directory, bool lookForNew);

 private:
  struct Manifest {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t read = 0;  // up to the end of its last whole line read
  };
  struct Directory {
    std::vector<Manifest> manifests;
    ManifestNameIndex names;
  };
  Directory& KnownDirectory(const std::string& nativeDirectory);
  void ReadAll(Directory& directory);
  template <typename AddName>
  bool ReadNewLines(Manifest& manifest, AddName addName);
  bool HasChanged(const Manifest& manifest, bool& rewritten);
  bool DropStaleLines(const std::string& manifest, const std::string& fileName,
                      const std::string& digest, bool& listed);
  bool Append(const std::string& manifest, const std::string& line);
  bool LogWriteError(const std::string& path, int error);

  platform::Clock& clock_;
  // Manifests and their names per directory, read once per run and then only what changed.
  std::map<std::string, Directory> directories_;
};

}  // namespace qz
