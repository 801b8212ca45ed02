// Rows named like the tool's own files.
#include <algorithm>
#include <filesystem>
#include <sstream>

#include "archive/checksum_manifest.h"
#include "backup/archive_label.h"
#include "backup/verify_archive.h"
#include "platform/sha256_file.h"
#include "tests/backup/backup_run_test.h"

namespace qz {
namespace {

using test::ReadFile;
using test::RecordingRow;
using test::WriteFile;

std::string WeekLabel() {
  return "DAT_" + std::to_string(CurrentIsoWeek(std::time(nullptr)));
}

std::vector<std::string> FilesIn(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST_P(BackupRunTest, NamesOfTheToolsOwnFilesAreRefusedBeforeAnyFileIsTouched) {
  settings_.DownloadIfFileAlreadyExists = 1;
  AddRecording("1", "a.wav", "first");
  ASSERT_EQ(Run().failed, 0);
  const std::string manifest = WeekLabel() + ".sha256";
  const std::string listed = ReadFile(download_ / manifest);
  const std::vector<std::string> names = {
      manifest,   "DAT_1.sha256", manifest + ".Ab12Cd", "a.wav.qzdownload", ".qzpart.Xy12Zw",
      ".qzfetch", ".qzpending",   ".qzpending.Ab12Cd",  ".qzlock"};
  for (std::size_t i = 0; i < names.size(); ++i)
    AddRecording(std::to_string(10 + i), names[i], "server body");
  list_.lines.clear();
  EXPECT_EQ(Run().failed, static_cast<int>(names.size()));
  for (const auto& line : list_.lines)
    EXPECT_EQ(line.status, "Invalid filename in DB") << line.file;
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(ArchiveOf(std::to_string(10 + i)), "");
  EXPECT_EQ(ReadFile(download_ / manifest), listed);
  EXPECT_EQ(ReadFile(download_ / "a.wav"), "first");
  EXPECT_EQ(FilesIn(download_), (std::vector<std::string>{".qzfetch", manifest, "a.wav"}));
  std::ostringstream report;
  EXPECT_TRUE(VerifyArchive(settings_, WeekLabel(), report, clock_)) << report.str();
}

// Versions that did not refuse the name could label a recording "x.wav.qzdownload"; a later row
// "x.wav" must not take it for a marker of a download cut short.
TEST_P(BackupRunTest, ListedFileIsNeverDeletedAsAnOldDownloadMarker) {
  WriteFile(download_ / "x.wav", "local x");
  WriteFile(download_ / "x.wav.qzdownload", "labelled recording");
  std::string digest;
  ASSERT_TRUE(platform::Sha256OfFile((download_ / "x.wav.qzdownload").string(), digest));
  WriteFile(download_ / "DAT_1.sha256", ManifestLine(digest, "x.wav.qzdownload"));
  AddRecording("1", "x.wav", "server x");
  ASSERT_EQ(Run().failed, 0);
  EXPECT_EQ(ReadFile(download_ / "x.wav.qzdownload"), "labelled recording");
  EXPECT_EQ(ReadFile(download_ / "x.wav"), "local x");
  EXPECT_EQ(ArchiveOf("1"), WeekLabel());
}

}  // namespace qz
