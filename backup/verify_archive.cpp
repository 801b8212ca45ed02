#include "backup/verify_archive.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "backup/backup_query.h"
#include "backup/backup_run.h"
#include "archive/checksum_manifest.h"
#include "backup/database_connection.h"
#include "backup/run_lock.h"
#include "config/event_log.h"
#include "config/load_settings.h"
#include "platform/control_bytes.h"
#include "platform/odbc.h"
#include "platform/sha256_file.h"

namespace qz {
namespace {

constexpr int kFileColumn = 25;  // FILE, counted from 1

struct LabelCounts {
  long ok = 0;
  long missing = 0;
  long changed = 0;
  long unlisted = 0;
  long other = 0;  // bad manifest lines, no manifest at all
  bool Whole() const { return missing + changed + unlisted + other == 0; }
};

// A name shown in one output line: a control byte in it must not start another line.
std::string Shown(const std::string& text) {
  return platform::EscapeControlBytes(text);
}

class Verifier {
 public:
  Verifier(const BackupSettings& s, std::ostream& out, platform::Clock& clock)
      : s_(s), out_(out), clock_(clock) {
    directories_.push_back(NativeDirectory(s.DownloadPath));
    if (!s.BackupPath.empty()) {
      std::string backup = NativeDirectory(ResolveBackupPath(s));
      std::error_code ec;
      if (backup != directories_[0] && !std::filesystem::equivalent(backup, directories_[0], ec))
        directories_.push_back(backup);
    }
  }

  bool Run(const std::optional<std::string>& label);

 private:
  std::set<std::string> LabelsWithManifests() const;
  bool VerifyLabel(DatabaseConnection& connection, const std::string& label);
  void CheckManifest(const std::string& directory, const std::string& label, LabelCounts& counts,
                     std::unordered_set<std::string>& listed);
  void CheckFile(const std::string& path, const std::string& digest, const std::string& label,
                 LabelCounts& counts);
  void CheckTable(DatabaseConnection& connection, const std::string& label, LabelCounts& counts,
                  const std::unordered_set<std::string>& listed);
  std::string DirectoryList() const;

  const BackupSettings& s_;
  std::ostream& out_;
  platform::Clock& clock_;
  std::vector<std::string> directories_;
};

bool Verifier::Run(const std::optional<std::string>& label) {
  std::set<std::string> labels = label ? std::set<std::string>{*label} : LabelsWithManifests();
  if (labels.empty()) {
    out_ << "No checksum file in " << DirectoryList() << "\n";
    return false;
  }
  DatabaseConnection connection;
  const std::string connect = "DSN=" + s_.UseDSN + ";";
  if (!connection.OpenConnection(
          connect, DatabaseConnection::kNoOdbcDialog | DatabaseConnection::kOpenReadOnly))
    throw platform::OdbcError("The data source " + connect + " could not be connected", "");
  bool whole = true;
  for (const std::string& each : labels) whole = VerifyLabel(connection, each) && whole;
  connection.CloseConnection();
  return whole;
}

std::set<std::string> Verifier::LabelsWithManifests() const {
  std::set<std::string> labels;
  for (const std::string& directory : directories_) {
    for (const std::string& manifest : ManifestsIn(directory)) {
      std::string name = std::filesystem::path(manifest).filename().string();
      labels.insert(name.substr(0, name.size() - kManifestSuffix.size()));
    }
  }
  return labels;
}

bool Verifier::VerifyLabel(DatabaseConnection& connection, const std::string& label) {
  LabelCounts counts;
  // Names only, for the table check; a set is checked one label at a time.
  std::unordered_set<std::string> listed;
  bool found = false;
  for (const std::string& directory : directories_) {
    if (!std::filesystem::exists(directory + "/" + ManifestFileName(label))) continue;
    found = true;
    CheckManifest(directory, label, counts, listed);
  }
  if (!found) {
    out_ << "No checksum file " << ManifestFileName(label) << " in " << DirectoryList() << "\n";
    ++counts.other;
  }
  CheckTable(connection, label, counts, listed);
  std::string summary = "Verify of archive " + label + ": " + std::to_string(counts.ok) +
                        " files ok, " + std::to_string(counts.missing) + " missing, " +
                        std::to_string(counts.changed) + " changed";
  WriteLog(summary, clock_);
  out_ << summary << ", " << counts.unlisted << " labelled rows not in the checksum file\n";
  return counts.Whole();
}

void Verifier::CheckManifest(const std::string& directory, const std::string& label,
                             LabelCounts& counts, std::unordered_set<std::string>& listed) {
  const std::string manifest = directory + "/" + ManifestFileName(label);
  ManifestReader reader(manifest);
  if (!reader.IsOpen()) {
    out_ << "Unreadable checksum file: " << manifest << "  Error:" << errno << "\n";
    ++counts.other;
    return;
  }
  // A row labelled twice leaves a repeated line: its file is checked once.
  std::unordered_map<std::string, std::string> checked;
  long number = 0;
  for (std::string line; reader.NextLine(line);) {
    ++number;
    auto entry = ParseManifestLine(line);
    if (!entry) {
      out_ << "Bad line " << number << " in checksum file: " << manifest << "\n";
      ++counts.other;
      continue;
    }
    auto [it, added] = checked.emplace(entry->name, entry->digest);
    if (!added && it->second == entry->digest) continue;
    listed.insert(entry->name);
    CheckFile(directory + "/" + entry->name, entry->digest, label, counts);
  }
}

void Verifier::CheckFile(const std::string& path, const std::string& digest,
                         const std::string& label, LabelCounts& counts) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
    out_ << "Missing: " << Shown(path) << "  (archive " << label << ")\n";
    ++counts.missing;
    return;
  }
  std::string actual;
  if (!platform::Sha256OfFile(path, actual)) {
    // A file that cannot be read is not there as listed.
    out_ << "Missing (unreadable, Error:" << errno << "): " << Shown(path) << "  (archive " << label
         << ")\n";
    ++counts.missing;
    return;
  }
  if (actual != digest) {
    out_ << "Changed: " << Shown(path) << "  (archive " << label << ")\n";
    ++counts.changed;
    return;
  }
  ++counts.ok;
}

void Verifier::CheckTable(DatabaseConnection& connection, const std::string& label,
                          LabelCounts& counts, const std::unordered_set<std::string>& listed) {
  platform::OdbcStatement statement(connection.Odbc());
  statement.Prepare(MakeVerifyQuery(s_));
  statement.BindText(1, label);
  statement.Execute();
  // Rows are streamed: memory does not grow with the table.
  while (statement.Fetch()) {
    std::string file = statement.ReadText(kFileColumn).value_or("");
    // Rows without a usable name have no recording in these directories.
    if (file.empty() || IsUnsafeFileName(file) || listed.count(file)) continue;
    out_ << "Labelled but not in the checksum file: " << Shown(file) << "  (archive " << label
         << ")\n";
    ++counts.unlisted;
  }
  statement.CloseCursor();
}

std::string Verifier::DirectoryList() const {
  std::string list = directories_[0];
  for (size_t i = 1; i < directories_.size(); ++i) list += " or " + directories_[i];
  return list;
}

}  // namespace

bool VerifyArchive(const BackupSettings& settings, const std::optional<std::string>& label,
                   std::ostream& out, platform::Clock& clock) {
  SharedRunLock lock(clock);
  return Verifier(settings, out, clock).Run(label);
}

}  // namespace qz
