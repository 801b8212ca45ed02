// The last guards before a label: a row is labelled only when its file is flushed to disk in its
// final directory and its checksum line is written.
#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <map>
#include <memory>

#include "backup/archive_label.h"
#include "backup/backup_status.h"
#include "tests/backup/backup_run_test.h"
#include "tests/support/prerequisite.h"
#include "tests/support/write_refusing_folder.h"

namespace qz {
namespace {

std::string CurrentWeekLabel() {
  return "DAT_" + std::to_string(CurrentIsoWeek(std::time(nullptr)));
}

bool LogHas(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines)
    if (line == text) return true;
  return false;
}

}  // namespace

TEST_P(BackupRunTest, RowWhoseChecksumLineCannotBeWrittenStaysUnlabelledAndKeepsItsFile) {
  const std::string label = CurrentWeekLabel();
  const std::string manifest = label + ".sha256";
  std::unique_ptr<test::WriteRefusingFolder> refusing;
  struct Case {
    std::string what;
    bool move;
    // Makes the checksum file unwritable; returns the errno its write fails with, -1 when the
    // machine cannot refuse it.
    std::function<int(const std::string& file)> block;
    std::function<void()> unblock;
  };
  const Case cases[] = {
      {"a folder stands in its place", true,
       [&](const std::string&) {
         std::filesystem::create_directory(backup_ / manifest);
         return EISDIR;
       },
       [&] { std::filesystem::remove(backup_ / manifest); }},
      {"the directory refuses new files", false,
       [&](const std::string& file) {
         // The recording stands there already: the line's file is the one new name needed.
         test::WriteFile(Download(file), "audio");
         std::filesystem::create_directory(download_ / ".qzfetch");
         refusing = std::make_unique<test::WriteRefusingFolder>(download_);
         return refusing->Failure().empty() ? refusing->RefusalError() : -1;
       },
       [&] { refusing.reset(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    source_->Execute("DELETE FROM recording");
    const std::string file = c.move ? "moved.wav" : "kept.wav";
    settings_.MoveToBackupPath = c.move ? 1 : 0;
    list_.lines.clear();
    AddRecording("1", file, "audio");
    const int error = c.block(file);
    if (error < 0) QZ_SKIP_OUTSIDE_CI(refusing->Failure());
    RunSummary summary = Run();
    c.unblock();

    EXPECT_EQ(summary.failedByStatus, (std::map<int, int>{{kArchiveFlagFailed, 1}}));
    ASSERT_EQ(list_.lines.size(), 1u);
    EXPECT_EQ(list_.lines[0].status, "Failed to set archive flag in DB!");
    EXPECT_EQ(ArchiveOf("1"), "");
    const std::filesystem::path directory = c.move ? backup_ : download_;
    EXPECT_EQ(test::ReadFile(directory / file), "audio");
    const auto log = LogLines();
    EXPECT_TRUE(LogHas(log, "ERROR writing checksum file: " + (directory / manifest).string() +
                                "  Error:" + std::to_string(error)));
    EXPECT_TRUE(LogHas(log, "Failed to set archive flag " + label + " in DB for file " + file));

    // With the way clear, the next run labels it.
    EXPECT_EQ(Run().failed, 0);
    EXPECT_EQ(ArchiveOf("1"), label);
  }
}

// A recording that is only a name (a link to nothing) cannot be flushed: without checksum
// lines the flush is the last check before the label.
TEST_P(BackupRunTest, FileThatCannotBeFlushedFailsItsRowUnlabelled) {
  settings_.WriteChecksumFile = 0;
  const struct {
    bool move;
    int status;
    std::string flushed;
  } cases[] = {{false, kDownloadFailed, Download("1.wav")}, {true, kMoveFailed, Backup("2.wav")}};
  int id = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.move ? "moving" : "not moving");
    const std::string name = std::to_string(++id);
    settings_.MoveToBackupPath = c.move ? 1 : 0;
    AddRecording(name, name + ".wav");
    std::filesystem::create_symlink(folder_ / "gone", Download(name + ".wav"));
    RunSummary summary = Run();
    EXPECT_EQ(summary.failedByStatus, (std::map<int, int>{{c.status, 1}}));
    EXPECT_EQ(ArchiveOf(name), "");
    EXPECT_TRUE(LogHas(LogLines(),
                       "ERROR flushing file: " + c.flushed + "  Error:" + std::to_string(ENOENT)));
    std::filesystem::remove(c.flushed);
  }
}

}  // namespace qz
