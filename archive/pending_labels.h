// Rows whose recording has been moved into the backup directory but whose label may not be
// written yet. A run ended between the move and the label (killed, or the label refused) leaves
// the row unlabelled with its only copy in the backup directory, where a later run cannot fetch it
// again once the server has dropped it or when wget cannot store its name. ".qzpending" in the
// backup directory names each such row with its recording's digest, so a later run labels the row
// from the moved file while that file still holds the recording it was moved with.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace qz {

// The values a label compares to find its row; NULL is no value.
using RowValues = std::vector<std::optional<std::string>>;

inline constexpr std::string_view kPendingLabelsName = ".qzpending";

// What names one row across runs: the SHA-256 of its server, its file and the values the label
// compares, each with its length, so no two rows share it unless the label could not tell them
// apart either.
std::string PendingRowKey(const std::string& server, const std::string& file,
                          const RowValues& values);

// Installations sharing the backup directory each note their own rows in the one file: every
// call reads it as it stands (again only when it changed) and a write changes only the row it
// names, so it is called with the directory's lock held. The file is a log read from its start:
// "<row> <digest>" notes a row, "<row> -" forgets it; it is emptied once no row is noted.
class PendingLabels {
 public:
  explicit PendingLabels(platform::Clock& clock) : clock_(clock) {}

  // The file of rows in `directory` (a directory setting). Lines that do not parse are dropped
  // with the next write.
  void Use(std::string_view directory);
  // The digest of the recording moved for `row`, when a former run moved one.
  std::optional<std::string> DigestOf(const std::string& row);
  // Whether another row than `row`, of any installation, awaits its label with a recording of
  // this digest.
  bool NotesDigest(const std::string& digest, const std::string& row);
  // Names `row` with its recording's digest, on disk before it returns true. Logs a failure.
  bool Add(const std::string& row, const std::string& digest);
  // Forgets `row`, not flushed to disk: a note that comes back after a crash names a labelled
  // row, whose recording it only keeps from being replaced. A failure to write is logged.
  void Remove(const std::string& row);
  // Removes the file when it notes no row, after a run that wrote it (emptied, it is kept while
  // the run goes on, so that it is made, and its name flushed, once a run).
  void RemoveIfEmpty();

 private:
  void Reload();
  bool Append(const std::string& line, bool durable);
  bool Compact();
  bool Written(bool ok);

  platform::Clock& clock_;
  std::string path_;
  std::map<std::string, std::string> digests_;
  // Lines in the file when last read, so that forgotten rows do not make it grow for ever.
  std::size_t lines_ = 0;
  bool written_ = false;
  // What the file was when last read: another inode, size or time means another writer's.
  struct Version {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    std::int64_t modifiedNs = 0;
    bool operator==(const Version&) const = default;
  } read_;
};

}  // namespace qz
