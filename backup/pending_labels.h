// Rows whose recording has been moved into the backup directory but whose label may not be
// written yet. A run ended between the move and the label (killed, or the label refused) leaves
// the row unlabelled with its only copy in the backup directory, where a later run cannot fetch it
// again once the server has dropped it or when wget cannot store its name. ".qzpending" in the
// backup directory names each such row with its recording's digest, so a later run labels the row
// from the moved file while that file still holds the recording it was moved with.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "backup/archive_update.h"
#include "platform/clock.h"

namespace qz {

inline constexpr std::string_view kPendingLabelsName = ".qzpending";

// What names one row across runs: the SHA-256 of its server, its file and the values the label
// compares, each with its length, so no two rows share it unless the label could not tell them
// apart either.
std::string PendingRowKey(const std::string& server, const std::string& file,
                          const RowValues& values);

class PendingLabels {
 public:
  explicit PendingLabels(platform::Clock& clock) : clock_(clock) {}

  // Reads the rows former runs left in `directory` (a directory setting). Lines that do not
  // parse are dropped with the next write.
  void Load(std::string_view directory);
  // The digest of the recording moved for `row`, when a former run moved one.
  std::optional<std::string> DigestOf(const std::string& row) const;
  // Names `row` with its recording's digest, on disk before it returns true. Logs a failure.
  bool Add(const std::string& row, const std::string& digest);
  // Forgets `row`; a failure to write is logged and leaves a line that never matches wrongly.
  void Remove(const std::string& row);

 private:
  bool Save();

  platform::Clock& clock_;
  std::string path_;
  std::map<std::string, std::string> digests_;
};

}  // namespace qz
