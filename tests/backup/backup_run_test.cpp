#include "tests/backup/backup_run_test.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "archive/checksum_manifest.h"
#include "backup/archive_label.h"
#include "backup/backup_status.h"
#include "backup/verify_archive.h"
#include "config/load_settings.h"
#include "config/process_values.h"
#include "platform/files.h"
#include "platform/odbc.h"
#include "platform/sha256_file.h"

namespace qz {

using test::ReadFile;
using test::RecordingRow;
using test::WriteFile;

std::string RunDataSourceName(const ::testing::TestParamInfo<test::DataSourceKind>& info) {
  return test::KindName(info.param);
}

void BackupRunTest::SetUp() {
  source_ = test::MakeDataSourceOrSkip(GetParam(), folder_.path());
  if (!source_) return;
  web_ = std::make_unique<test::TestWebServer>();
  download_ = folder_ / "download";
  backup_ = folder_ / "backup";
  log_ = folder_ / "base" / "log";
  bin_ = folder_ / "bin";
  for (const auto& dir : {download_, backup_, log_, bin_}) std::filesystem::create_directories(dir);
  BaseDirectory = (folder_ / "base").string() + "/";
  LogDirectory = (folder_ / "base").string() + ".\\log\\";
  test::WriteScript(bin_ / "qze", "echo \"$*\" >> '" + (folder_ / "alarms").string() + "'");
  path_ = std::make_unique<test::PathPrepend>(bin_);
  setenv("no_proxy", "127.0.0.1", 1);

  settings_.WebDocDir = "ConfData";
  settings_.DownloadPath = download_.string() + "/";
  settings_.BackupPath = backup_.string();
  settings_.UseDSN = source_->Dsn();
  settings_.GetDataFromTable = "recording";
  settings_.ArchivePrefixForDBEntry = "DAT";
  settings_.UpdateArchiveField = 1;
  settings_.ShowMaxItems = 500;
}

void BackupRunTest::AddRecording(const std::string& id, const std::string& file,
                                 const std::string& content) {
  source_->Insert(RecordingRow(id).Set("SERVERNAME", web_->Host()).Set("FILE", file));
  web_->Publish(file, content);
}

RunSummary BackupRunTest::Run() {
  return RunBackup(settings_, list_, clock_);
}

std::vector<std::string> BackupRunTest::LogLines() {
  return test::LogTexts(log_ / "qzbackup.log");
}

std::vector<std::string> BackupRunTest::AlarmCalls(size_t expected) {
  for (int i = 0; i < 500 && test::ReadLines(folder_ / "alarms").size() < expected; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return test::ReadLines(folder_ / "alarms");
}

test::SqlValue BackupRunTest::ArchiveOf(const std::string& id) {
  auto values = source_->ArchiveOf(id);
  return values.empty() ? test::SqlValue("<no row>") : values.front();
}

namespace {

using test::RecordingRow;

std::string WeekLabel() {
  return "DAT_" + std::to_string(CurrentIsoWeek(std::time(nullptr)));
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST_P(BackupRunTest, BacksUpMovesAndLabelsEveryRowOfBeforeToday) {
  settings_.MoveToBackupPath = 1;
  AddRecording("1", "Rec 01.wav", "first");
  AddRecording("2", "a+b&c.wav", "second");
  source_->Insert(RecordingRow("3")
                      .Set("TIMESTAMP", test::SqlDateTime(test::StartOfToday()))
                      .Set("SERVERNAME", web_->Host()));
  RunSummary summary = Run();
  EXPECT_EQ(summary.rows, 2);
  EXPECT_EQ(summary.failed, 0);
  EXPECT_EQ(ReadFile(Backup("Rec 01.wav")), "first");
  EXPECT_EQ(ReadFile(Backup("a+b&c.wav")), "second");
  EXPECT_FALSE(std::filesystem::exists(Download("Rec 01.wav")));
  EXPECT_EQ(ArchiveOf("1"), WeekLabel());
  EXPECT_EQ(ArchiveOf("2"), WeekLabel());
  EXPECT_EQ(ArchiveOf("3"), "");
  ASSERT_EQ(list_.lines.size(), 2u);
  for (const auto& line : list_.lines) {
    EXPECT_EQ(line.server, web_->Host());
    EXPECT_EQ(line.status, "Backup of file successfull");
    EXPECT_EQ(line.image, kImageOk);
  }
  EXPECT_TRUE(Contains(LogLines(), "http://" + web_->Host() + "/ConfData/Rec%2001.wav"));
  EXPECT_TRUE(AlarmCalls().empty());
  // Nothing is left to do: a second run selects no row.
  list_.lines.clear();
  EXPECT_EQ(Run().rows, 0);
}

TEST_P(BackupRunTest, FailedRowsShowTheirStatusAndStartTheAlarmOnce) {
  settings_.StartAlarmOnError = 10;
  source_->Insert(RecordingRow("1").Set("SERVERNAME", web_->Host()).Set("FILE", "gone.wav"));
  source_->Insert(RecordingRow("2").Set("SERVERNAME", std::nullopt).Set("FILE", "x.wav"));
  source_->Insert(RecordingRow("3").Set("SERVERNAME", web_->Host()).Set("FILE", ""));
  source_->Insert(RecordingRow("4").Set("SERVERNAME", web_->Host()).Set("FILE", "../up.wav"));
  RunSummary summary = Run();
  EXPECT_EQ(summary.failed, 4);
  std::map<std::string, std::string> statusOf;
  for (const auto& line : list_.lines) {
    statusOf[line.file] = line.status;
    EXPECT_EQ(line.image, kImageFailed);
  }
  EXPECT_EQ(statusOf["gone.wav"], "Failed to download file");
  EXPECT_EQ(statusOf["x.wav"], "No servername defined in DB");
  EXPECT_EQ(statusOf[""], "No filename defined in DB");
  EXPECT_EQ(statusOf["../up.wav"], "Invalid filename in DB");
  EXPECT_EQ(AlarmCalls(1), std::vector<std::string>{"qzarun 1 -i410 -s8BackupTool"});
  auto log = LogLines();
  EXPECT_EQ(std::count(log.begin(), log.end(), "Start alarm 10 because of error"), 1);
  EXPECT_TRUE(Contains(log, "/ConfData/gone.wav  [ErrorCode=8]"));
  EXPECT_TRUE(Contains(log, "No server for download specified in db"));
  EXPECT_TRUE(Contains(log, "No file for download specified in db"));
  EXPECT_TRUE(Contains(log, "Invalid filename in DB: ../up.wav"));
  for (const char* id : {"1", "2", "3", "4"}) EXPECT_EQ(ArchiveOf(id), "") << id;
}

TEST_P(BackupRunTest, UnsafeNamesNeverTouchFilesOutsideTheTwoDirectories) {
  settings_.MoveToBackupPath = 1;
  WriteFile(folder_ / "outside.wav", "precious");
  std::filesystem::create_directory(download_ / "sub");
  WriteFile(download_ / "sub" / "in.wav", "nested");
  source_->Insert(RecordingRow("1").Set("SERVERNAME", web_->Host()).Set("FILE", "../outside.wav"));
  source_->Insert(RecordingRow("2").Set("SERVERNAME", web_->Host()).Set("FILE", "sub/in.wav"));
  source_->Insert(RecordingRow("3").Set("SERVERNAME", web_->Host()).Set("FILE", "sub\\in.wav"));
  source_->Insert(RecordingRow("4").Set("SERVERNAME", web_->Host()).Set("FILE", ".."));
  // The staging folder inside the download directory is no recording either.
  std::filesystem::create_directory(download_ / ".qzfetch");
  source_->Insert(RecordingRow("5").Set("SERVERNAME", web_->Host()).Set("FILE", ".qzfetch"));
  Run();
  EXPECT_EQ(ReadFile(folder_ / "outside.wav"), "precious");
  EXPECT_EQ(ReadFile(download_ / "sub" / "in.wav"), "nested");
  EXPECT_TRUE(std::filesystem::is_directory(download_ / ".qzfetch"));
  ASSERT_EQ(list_.lines.size(), 5u);
  for (const auto& line : list_.lines) EXPECT_EQ(line.status, "Invalid filename in DB");
}

TEST_P(BackupRunTest, FileAlreadyDownloadedIsNotFetchedAgain) {
  AddRecording("1", "here.wav", "from server");
  WriteFile(Download("here.wav"), "local copy");
  Run();
  EXPECT_EQ(ReadFile(Download("here.wav")), "local copy");
  EXPECT_FALSE(Contains(LogLines(), "wget"));
  EXPECT_EQ(ArchiveOf("1"), WeekLabel());

  // With DownloadIfFileAlreadyExists 1 a file no checksum file lists is fetched again and replaced.
  source_->Execute("UPDATE recording SET ARCHIVE=''");
  std::filesystem::remove(download_ / (WeekLabel() + ".sha256"));
  settings_.DownloadIfFileAlreadyExists = 1;
  Run();
  EXPECT_EQ(ReadFile(Download("here.wav")), "from server");
}

TEST_P(BackupRunTest, WhatAKilledRunLeftIsClearedAndNeverTakenForARecording) {
  std::filesystem::create_directory(download_ / ".qzfetch");
  WriteFile(download_ / ".qzfetch" / "cut.wav", "xx");
  Run();
  EXPECT_TRUE(std::filesystem::is_empty(download_ / ".qzfetch"));

  // Older versions downloaded in place beside a marker "<name>.qzdownload".
  AddRecording("1", "old.wav", std::string(5000, 'x'));
  WriteFile(Download("old.wav"), "xx");
  WriteFile(Download("old.wav.qzdownload"), "");
  Run();
  EXPECT_EQ(ReadFile(Download("old.wav")), std::string(5000, 'x'));
  EXPECT_FALSE(std::filesystem::exists(Download("old.wav.qzdownload")));
  EXPECT_EQ(ArchiveOf("1"), WeekLabel());
}

TEST_P(BackupRunTest, ANameWgetStoresDifferentlyNeverStandsInForAnother) {
  // wget stores "a%20b.wav" (fetched as "a%2520b.wav") as "a b.wav".
  AddRecording("1", "a%20b.wav", "encoded name");
  Run();
  EXPECT_EQ(list_.lines[0].status, "Failed to download file");
  AddRecording("2", "a b.wav", "blank name");
  Run();
  EXPECT_EQ(ArchiveOf("1"), "");
  EXPECT_EQ(ArchiveOf("2"), WeekLabel());
  EXPECT_EQ(ReadFile(Download("a b.wav")), "blank name");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(download_))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".qzfetch", WeekLabel() + ".sha256", "a b.wav"}));
  EXPECT_TRUE(std::filesystem::is_empty(download_ / ".qzfetch"));
}

// Changed in the settings but never created: the run cannot enter it and stays where it was.
TEST_P(BackupRunTest, MissingDownloadDirectoryLabelsNoRowAndFillsNoOtherFolder) {
  std::filesystem::current_path(folder_.path());
  settings_.DownloadPath = (folder_ / "gone").string();
  AddRecording("1", "x.wav");
  EXPECT_EQ(Run().failed, 1);
  EXPECT_EQ(ArchiveOf("1"), "");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "x.wav"));
}

TEST_P(BackupRunTest, DirectoriesEndingInADotWorkLikeAnyOther) {
  settings_.DownloadPath = (folder_ / "rec.").string();
  settings_.BackupPath = (folder_ / "bak.").string();
  settings_.MoveToBackupPath = 1;
  ASSERT_TRUE(platform::CreateDirectory(settings_.DownloadPath));
  ASSERT_TRUE(platform::CreateDirectory(settings_.BackupPath));
  AddRecording("1", "fetched.wav", "from server");
  EXPECT_EQ(Run().failed, 0);
  EXPECT_EQ(ReadFile(folder_ / "bak" / "fetched.wav"), "from server");
  EXPECT_EQ(std::filesystem::current_path(), folder_ / "rec");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "rec."));
}

TEST_P(BackupRunTest, ExistingBackupTargetIsReplacedWithOneMoveError) {
  settings_.MoveToBackupPath = 1;
  AddRecording("1", "dup.wav", "new");
  WriteFile(Backup("dup.wav"), "old");
  Run();
  EXPECT_EQ(ReadFile(Backup("dup.wav")), "new");
  EXPECT_FALSE(std::filesystem::exists(Download("dup.wav")));
  ASSERT_EQ(list_.lines.size(), 1u);
  EXPECT_EQ(list_.lines[0].status, "Backup of file successfull");
  auto log = LogLines();
  std::string error = "ERROR moving file: " + Download("dup.wav") + " to " + Backup("dup.wav") +
                      "  Error:" + std::to_string(EEXIST);
  EXPECT_EQ(std::count(log.begin(), log.end(), error), 1) << error;
}

TEST_P(BackupRunTest, UnreachableBackupDirectoryKeepsTheFileForTheNextRun) {
  settings_.MoveToBackupPath = 1;
  settings_.BackupPath = (folder_ / "nodir").string();
  AddRecording("1", "keep.wav", "data");
  RunSummary summary = Run();
  EXPECT_EQ(summary.failed, 1);
  EXPECT_EQ(list_.lines[0].status, "Move to backup directory failed!");
  EXPECT_EQ(ReadFile(Download("keep.wav")), "data");
  EXPECT_EQ(ArchiveOf("1"), "");
  auto log = LogLines();
  EXPECT_TRUE(Contains(log, "ERROR moving file: " + Download("keep.wav")));
  EXPECT_TRUE(Contains(log, "ERROR copy file: " + Download("keep.wav") + " to " +
                                (folder_ / "nodir" / "keep.wav").string() +
                                "  Error:" + std::to_string(ENOENT)));

  // Once the directory exists the next run moves the file it already has.
  std::filesystem::create_directory(folder_ / "nodir");
  Run();
  EXPECT_EQ(ReadFile(folder_ / "nodir" / "keep.wav"), "data");
  EXPECT_EQ(ArchiveOf("1"), WeekLabel());
}

TEST_P(BackupRunTest, LabelTooLongIsNeverWritten) {
  settings_.ArchivePrefixForDBEntry = std::string(40, 'P');
  AddRecording("1", "a.wav");
  AddRecording("2", "b.wav");
  RunSummary summary = Run();
  EXPECT_EQ(summary.failed, 2);
  EXPECT_EQ(ArchiveOf("1"), "");
  for (const auto& line : list_.lines) EXPECT_EQ(line.status, "Failed to set archive flag in DB!");
  auto log = LogLines();
  std::string label = std::string(40, 'P') + "_" + std::to_string(CurrentIsoWeek(clock_.Now()));
  EXPECT_TRUE(Contains(log, "Failed to set archive flag " + label + " in DB for file a.wav"));
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.rfind("Archive label", 0) == 0; }),
            1);
}

// MariaDB outside its strict modes would store DAT_ of DAT_50: a row in a set it does not belong
// to.
TEST_P(BackupRunTest, LabelWiderThanTheArchiveColumnIsNeverCutShort) {
  std::string ddl = source_->TableDdl("recording");
  ddl.replace(ddl.rfind("VARCHAR(255)"), 12, "VARCHAR(4)");
  source_->Execute("DROP TABLE recording");
  source_->Execute(ddl);
  AddRecording("1", "a.wav");
  RunSummary summary = Run();
  EXPECT_EQ(summary.failed, 1);
  EXPECT_EQ(ArchiveOf("1"), "");
  EXPECT_TRUE(Contains(LogLines(), "the label " + WeekLabel() + " would be cut short"))
      << ::testing::PrintToString(LogLines());
}

TEST_P(BackupRunTest, WithoutLabelsTheSameRowsComeBackEveryRun) {
  settings_.UpdateArchiveField = 0;
  AddRecording("1", "again.wav");
  Run();
  Run();
  EXPECT_EQ(list_.lines.size(), 2u);
  EXPECT_EQ(ArchiveOf("1"), "");
  auto log = LogLines();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.rfind("wget", 0) == 0; }),
            1);
}

TEST_P(BackupRunTest, WithoutChecksumFileRowsAreStillBackedUpAndLabelled) {
  settings_.WriteChecksumFile = 0;
  settings_.MoveToBackupPath = 1;
  AddRecording("1", "a.wav", "first");
  AddRecording("2", "b.wav", "second");
  RunSummary summary = Run();
  EXPECT_EQ(summary.rows, 2);
  EXPECT_EQ(summary.failed, 0);
  EXPECT_EQ(ArchiveOf("1"), WeekLabel());
  EXPECT_EQ(ArchiveOf("2"), WeekLabel());
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(backup_))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".qzlock", "a.wav", "b.wav"}));
  EXPECT_FALSE(std::filesystem::exists(download_ / (WeekLabel() + ".sha256")));
}

// The check reads the table through a read-only connection with the label as a bound parameter,
// the one place where a data source could answer differently than it does to a run.
TEST_P(BackupRunTest, VerifyNamesChangedAndMissingFilesAndLabelledRowsWithoutALine) {
  settings_.MoveToBackupPath = 1;
  AddRecording("1", "a.wav", "first");
  AddRecording("2", "b.wav", "second");
  AddRecording("3", "c.wav", "third");
  ASSERT_EQ(Run().failed, 0);
  const std::string label = WeekLabel(), archive = "  (archive " + label + ")\n";
  std::ostringstream whole;
  EXPECT_TRUE(VerifyArchive(settings_, std::nullopt, whole, clock_)) << whole.str();
  EXPECT_EQ(whole.str(), "Verify of archive " + label +
                             ": 3 files ok, 0 missing, 0 changed, 0 labelled rows not in the "
                             "checksum file\n");

  WriteFile(Backup("a.wav"), "changed");
  std::filesystem::remove(Backup("b.wav"));
  source_->Insert(RecordingRow("8").Set("FILE", "other.wav").Set("ARCHIVE", "DAT_1"));
  source_->Insert(RecordingRow("9").Set("FILE", "never.wav").Set("ARCHIVE", label));
  auto before = source_->SelectColumn("SELECT ARCHIVE FROM recording ORDER BY ID");
  std::ostringstream broken;
  EXPECT_FALSE(VerifyArchive(settings_, label, broken, clock_));
  EXPECT_EQ(broken.str(), "Changed: " + Backup("a.wav") + archive + "Missing: " + Backup("b.wav") +
                              archive + "Labelled but not in the checksum file: never.wav" +
                              archive + "Verify of archive " + label +
                              ": 1 files ok, 1 missing, 1 changed, 1 labelled rows not in the "
                              "checksum file\n");
  EXPECT_EQ(source_->SelectColumn("SELECT ARCHIVE FROM recording ORDER BY ID"), before);
  EXPECT_EQ(LogLines().back(), "Verify of archive " + label + ": 1 files ok, 1 missing, 1 changed");
}

TEST_P(BackupRunTest, CommandAfterBackupRunsAlsoWithoutRowsAndTheListIsTrimmed) {
  std::string marker = (folder_ / "after").string();
  settings_.StartCommandAfterBackup = "echo done >> '" + marker + "'";
  settings_.ShowMaxItems = 500;
  for (int i = 0; i < 599; ++i) list_.lines.push_back({"old", std::to_string(i), "x", 0});
  AddRecording("1", "new.wav");
  Run();
  ASSERT_EQ(list_.lines.size(), 500u);
  EXPECT_EQ(list_.lines.front().file, "new.wav");
  EXPECT_EQ(list_.lines.back().file, "498");
  EXPECT_EQ(ReadFile(marker), "done\n");
  auto log = LogLines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "Start command: " + settings_.StartCommandAfterBackup);
  EXPECT_EQ(log.back(), "Backup run ended: 1 rows, 1 backed up, 0 failed");

  settings_.ShowMaxItems = 0;
  Run();
  EXPECT_TRUE(list_.lines.empty());
  EXPECT_EQ(ReadFile(marker), "done\ndone\n");
}

TEST_P(BackupRunTest, DataLayerErrorEndsTheRunWithTheDriversText) {
  settings_.GetDataFromTable = "no_such_table";
  settings_.StartCommandAfterBackup = "touch '" + (folder_ / "after").string() + "'";
  try {
    Run();
    ADD_FAILURE() << "no error for a missing table";
  } catch (const platform::OdbcError& error) {
    std::string text = error.what();
    EXPECT_TRUE(text.find("no such table") != std::string::npos ||
                text.find("doesn't exist") != std::string::npos ||
                text.find("does not exist") != std::string::npos)
        << text;
  }
  EXPECT_FALSE(std::filesystem::exists(folder_ / "after"));
}

TEST_P(BackupRunTest, PausesAroundEveryRow) {
  AddRecording("1", "p.wav");
  clock_.pauses.clear();
  Run();
  std::vector<long> pauses;
  for (auto p : clock_.pauses) pauses.push_back(p.count());
  EXPECT_EQ(pauses, (std::vector<long>{50, 100, 50}));
}

}  // namespace qz

namespace qz {

TEST_P(BackupRunTest, ResultThatCannotBeUpdatedShowsCanNotSetArchiveFlag) {
  // The table name goes into the query unchanged: a join gives rows no single table owns.
  settings_.GetDataFromTable = "recording natural join (select 1 as EXTRA) extra";
  AddRecording("1", "joined.wav");
  RunSummary summary = Run();
  EXPECT_EQ(summary.failed, 1);
  ASSERT_EQ(list_.lines.size(), 1u);
  EXPECT_EQ(list_.lines[0].status, "Failed to set archive flag in DB!");
  EXPECT_EQ(list_.lines[0].image, kImageFailed);
  EXPECT_TRUE(Contains(LogLines(),
                       "Can not set archive flag " + WeekLabel() + " in DB for file joined.wav"));
  EXPECT_EQ(ArchiveOf("1"), "");
}

TEST_P(BackupRunTest, RowChangedWhileItsFileDownloadsIsNotLabelled) {
  // Keyed, the row now names another recording; without a key, any changed column counts.
  for (std::string change : {"FILE='other.wav'", "CALLER='changed'"}) {
    if (change.rfind("CALLER", 0) == 0) source_->RecreateTableWithoutKey();
    source_->Execute("DELETE FROM recording");
    list_.lines.clear();
    // A wget that changes the row behind the run's back, then stores the file.
    test::WriteScript(bin_ / "wget", "echo \"UPDATE recording SET " + change +
                                         " WHERE ID='1'\" | isql -b " + source_->Dsn() +
                                         " >/dev/null\necho data > changed.wav");
    source_->Insert(RecordingRow("1").Set("SERVERNAME", web_->Host()).Set("FILE", "changed.wav"));
    Run();
    ASSERT_EQ(list_.lines.size(), 1u) << change;
    EXPECT_EQ(list_.lines[0].status, "Failed to set archive flag in DB!") << change;
    EXPECT_TRUE(Contains(
        LogLines(), "Failed to set archive flag " + WeekLabel() + " in DB for file changed.wav"));
    EXPECT_EQ(ArchiveOf("1"), "") << change;
    std::filesystem::remove(Download("changed.wav"));
  }
}

}  // namespace qz

namespace qz {

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ServerBackupRunTest);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(MariaDbBackupRunTest);

TEST_P(ServerBackupRunTest, TableOfAnotherDatabaseOrSchemaGetsTheLabelNotItsTwinInTheDefaultOne) {
  std::optional<std::string> other = source_->MakeTableElsewhere();
  ASSERT_TRUE(other) << "the data source makes no table in another database or schema";
  const RecordingRow row =
      RecordingRow("1").Set("SERVERNAME", web_->Host()).Set("FILE", "there.wav");
  source_->Insert(row, *other);
  source_->Insert(row);  // the same values in the data source's own table
  web_->Publish("there.wav", "audio");
  settings_.GetDataFromTable = *other;
  EXPECT_EQ(Run().failed, 0);
  EXPECT_EQ(source_->ArchiveOf("1", *other), std::vector<test::SqlValue>{WeekLabel()});
  EXPECT_EQ(ArchiveOf("1"), "");

  // A data source without a default database works when the table is qualified.
  if (std::optional<std::string> dsn = source_->DsnWithoutDatabase()) {
    source_->Execute("UPDATE " + *other + " SET ARCHIVE=''");
    settings_.UseDSN = *dsn;
    EXPECT_EQ(Run().failed, 0);
    EXPECT_EQ(source_->ArchiveOf("1", *other), std::vector<test::SqlValue>{WeekLabel()});
    EXPECT_EQ(ArchiveOf("1"), "");
  }
}

TEST_P(MariaDbBackupRunTest, ZeroDateInAnUnusedColumnNeitherStopsTheRunNorItsLabel) {
  for (bool keyed : {true, false}) {
    if (!keyed) source_->RecreateTableWithoutKey();
    source_->Execute("SET SESSION sql_mode=''");
    AddRecording("1", "zero.wav");
    AddRecording("2", "after.wav");
    source_->Execute("UPDATE recording SET MODIFY='0000-00-00 00:00:00' WHERE ID='1'");
    EXPECT_EQ(Run().failed, 0) << keyed;
    EXPECT_EQ(ArchiveOf("1"), WeekLabel()) << keyed;
    EXPECT_EQ(ArchiveOf("2"), WeekLabel()) << keyed;
  }
}

TEST_P(BackupRunTest, TableWithoutKeyIsNamedOnceInTheLog) {
  source_->RecreateTableWithoutKey();
  AddRecording("1", "a.wav");
  AddRecording("2", "b.wav");
  EXPECT_EQ(Run().failed, 0);
  auto log = LogLines();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) {
                            return l.find(
                                       "has no primary key: each archive label compares every "
                                       "column") != std::string::npos;
                          }),
            1);
  AddRecording("3", "c.wav");
  source_->Execute("DROP TABLE recording");
  source_->Execute(source_->TableDdl("recording"));
  AddRecording("4", "d.wav");
  Run();
  log = LogLines();
  EXPECT_FALSE(Contains(std::vector<std::string>(log.end() - 3, log.end()), "no primary key"));
}

}  // namespace qz

namespace qz {
namespace {

struct RecordedProgress : RunProgress {
  void RunStarted(std::size_t total) override {
    events.push_back("start " + std::to_string(total));
  }
  void RowDone(std::size_t done, std::size_t total, std::size_t failed) override {
    events.push_back(FormatProgress(done, total, failed));
  }
  void RunEnded(const RunSummary& summary) override { events.push_back(FormatRunSummary(summary)); }
  std::vector<std::string> events;
};

}  // namespace

TEST_P(BackupRunTest, ProgressSummaryLineAndMetricsOfARun) {
  AddRecording("1", "a.wav");
  AddRecording("2", "b.wav");
  source_->Insert(RecordingRow("3").Set("SERVERNAME", web_->Host()).Set("FILE", "gone.wav"));
  RecordedProgress progress;
  RunSummary summary = RunBackup(settings_, list_, clock_, &progress);
  EXPECT_EQ(progress.events.front(), "start 3");
  EXPECT_EQ(progress.events[3], "3 of 3, 1 failed");
  EXPECT_EQ(progress.events.back(), "Backup run ended: 3 rows, 2 backed up, 1 failed");
  EXPECT_EQ(LogLines().back(), "Backup run ended: 3 rows, 2 backed up, 1 failed");
  EXPECT_EQ(summary.failedByStatus, (std::map<int, int>{{kDownloadFailed, 1}}));
  // The metrics file, read by Prometheus' own parser.
  std::string parsed = test::ParsedMetrics(log_ / "qzbackup.prom");
  EXPECT_NE(parsed.find("qzbackup_last_run_backed_up_rows 2.0\n"), std::string::npos) << parsed;
  EXPECT_NE(parsed.find("qzbackup_last_run_failed_rows{status=-1} 1.0\n"), std::string::npos)
      << parsed;
  EXPECT_NE(parsed.find("qzbackup_last_run_archive_label_info{label=" + WeekLabel() + "} 1.0\n"),
            std::string::npos)
      << parsed;
}

// A log nobody can append to (a folder in its place stops root as well): its lines are dropped,
// but each run says so once on standard error and counts them in its metrics.
TEST_P(BackupRunTest, LinesTheLogLosesAreSaidOncePerRunAndCounted) {
  std::filesystem::create_directory(log_ / "qzbackup.log");
  source_->Insert(RecordingRow("1").Set("SERVERNAME", web_->Host()).Set("FILE", "gone.wav"));
  testing::internal::CaptureStderr();
  RunSummary first = Run();
  RunSummary second = Run();
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string said = "qzbackup: the event log cannot be written, its lines are lost: " +
                           (log_ / "qzbackup.log").string() + ": Is a directory\n";
  std::size_t times = 0;
  for (auto at = err.find(said); at != std::string::npos; at = err.find(said, at + 1)) ++times;
  EXPECT_EQ(times, 2u) << err;
  EXPECT_GE(first.logLinesLost, 2);
  EXPECT_EQ(second.logLinesLost, first.logLinesLost);
  EXPECT_EQ(second.logLoss, (log_ / "qzbackup.log").string() + ": Is a directory");
  std::string parsed = test::ParsedMetrics(log_ / "qzbackup.prom");
  EXPECT_NE(parsed.find("qzbackup_last_run_log_lines_lost " + std::to_string(second.logLinesLost) +
                        ".0\n"),
            std::string::npos)
      << parsed;
}

}  // namespace qz

namespace qz {
namespace {

// The digest the week's checksum file in `directory` lists for `file`.
std::optional<std::string> ListedDigest(const std::filesystem::path& directory,
                                        const std::string& file) {
  for (const std::string& line : test::ReadLines(directory / ManifestFileName(WeekLabel()))) {
    auto entry = ParseManifestLine(line);
    if (entry && entry->name == file) return entry->digest;
  }
  return std::nullopt;
}

std::optional<std::string> DigestOf(const std::filesystem::path& path) {
  std::string digest;
  if (!platform::Sha256OfFile(path.string(), digest)) return std::nullopt;
  return digest;
}

}  // namespace

// The original copied the file onto itself and then deleted its only copy.
TEST_P(BackupRunTest, BackupDirectoryThatIsTheDownloadDirectoryMovesNothing) {
  settings_.MoveToBackupPath = 1;
  std::filesystem::create_directory_symlink(download_, folder_ / "link");
  const std::string line = "Backup directory is the download directory " + download_.string() +
                           ": recordings are not moved";
  int run = 0;
  for (const std::string& backupPath :
       {download_.string(), download_.string() + "/", std::string(), (folder_ / "link").string()}) {
    for (int checksums : {0, 1}) {
      const std::string id = std::to_string(++run), file = "self" + id + ".wav";
      SCOPED_TRACE("BackupPath=" + backupPath + " WriteChecksumFile=" + std::to_string(checksums));
      settings_.BackupPath = backupPath;
      settings_.WriteChecksumFile = checksums;
      AddRecording(id, file, "only copy of " + file);
      EXPECT_EQ(Run().failed, 0);
      EXPECT_EQ(ReadFile(Download(file)), "only copy of " + file);
      EXPECT_EQ(ArchiveOf(id), WeekLabel());
      auto log = LogLines();
      EXPECT_EQ(std::count(log.begin(), log.end(), line), run);
      EXPECT_FALSE(Contains(log, "ERROR"));
      EXPECT_EQ(ListedDigest(download_, file).has_value(), checksums == 1);
    }
  }
}

// Two servers with a recording of one name, in one run or the second after the first was archived.
TEST_P(BackupRunTest, ArchivedRecordingIsNeverReplacedByOrTakenForAnotherOfItsName) {
  settings_.StartAlarmOnError = 10;
  test::TestWebServer otherServer;
  const struct {
    int move;
    bool sameContent;
    bool oneRun;
  } cases[] = {{0, false, false}, {1, false, false}, {0, false, true},
               {1, false, true},  {0, true, true},   {1, true, true}};
  int n = 0, failedRuns = 0;
  for (const auto& c : cases) {
    const std::string file = "same" + std::to_string(++n) + ".wav";
    const std::string first = std::to_string(10 * n + 1), second = std::to_string(10 * n + 2);
    const std::string firstContent = "first " + file;
    // As long as the first: a guard comparing sizes alone would take it for the same recording.
    const std::string secondContent = c.sameContent ? firstContent : "other " + file;
    SCOPED_TRACE(file + " MoveToBackupPath=" + std::to_string(c.move));
    settings_.MoveToBackupPath = c.move;
    AddRecording(first, file, firstContent);
    if (!c.oneRun) Run();
    source_->Insert(RecordingRow(second).Set("SERVERNAME", otherServer.Host()).Set("FILE", file));
    otherServer.Publish(file, secondContent);
    list_.lines.clear();
    Run();
    const std::filesystem::path archived = (c.move ? backup_ : download_) / file;
    EXPECT_EQ(ListedDigest(archived.parent_path(), file), DigestOf(archived));
    EXPECT_TRUE(std::filesystem::is_empty(download_ / ".qzfetch"));
    if (c.sameContent) {
      EXPECT_EQ(ArchiveOf(first), WeekLabel());
      EXPECT_EQ(ArchiveOf(second), WeekLabel());
      EXPECT_EQ(ReadFile(archived), firstContent);
      continue;
    }
    ++failedRuns;
    // In one run the data source chooses which row comes first and keeps the name.
    const bool firstKept = ArchiveOf(first) == WeekLabel();
    EXPECT_NE(firstKept, ArchiveOf(second) == WeekLabel());
    EXPECT_TRUE(firstKept || c.oneRun);
    EXPECT_EQ(ReadFile(archived), firstKept ? firstContent : secondContent);
    const std::string refused = firstKept ? otherServer.Host() : web_->Host();
    ASSERT_FALSE(list_.lines.empty());
    auto line = std::find_if(list_.lines.begin(), list_.lines.end(),
                             [&](const ResultLine& l) { return l.server == refused; });
    ASSERT_NE(line, list_.lines.end());
    EXPECT_EQ(line->status, "Another recording of this name is already archived");
    EXPECT_EQ(line->image, kImageFailed);
    EXPECT_TRUE(Contains(
        LogLines(), "Another recording of this name is already archived: " + archived.string() +
                        " kept, " + file + " of server " + refused + " not backed up"));
    EXPECT_TRUE(!c.move || !std::filesystem::exists(Download(file)));
  }
  EXPECT_EQ(AlarmCalls(failedRuns).size(), static_cast<size_t>(failedRuns));
}

// Resolved again from inside the download directory, "dl/" named a folder "dl/dl/". A relative
// BackupPath is a folder of the download directory, which the run works in, wherever the tool
// started: resolved against the start directory it failed every row where dl/bk stood.
TEST_P(BackupRunTest, RelativeDirectoriesAreFoldersOfTheStartAndDownloadDirectories) {
  const std::filesystem::path start = folder_ / "start";
  std::filesystem::create_directories(start / "dl" / "bk");
  test::ResetConfig();
  WriteFile(test::IniFile(), "[Config]\nDownloadPath=dl/\nMoveToBackupPath=1\nBackupPath=bk/\n");
  std::filesystem::current_path(start);
  const std::string baseDirectory = BaseDirectory, logDirectory = LogDirectory;
  BackupSettings loaded;
  ASSERT_TRUE(LoadSettings(loaded));
  BaseDirectory = baseDirectory;
  LogDirectory = logDirectory;
  settings_.DownloadPath = loaded.DownloadPath;
  settings_.BackupPath = loaded.BackupPath;
  settings_.MoveToBackupPath = loaded.MoveToBackupPath;
  AddRecording("1", "a.wav", "first");
  EXPECT_EQ(Run().failed, 0);
  AddRecording("2", "b.wav", "second");  // this run starts inside dl/
  EXPECT_EQ(Run().failed, 0);
  EXPECT_EQ(ReadFile(start / "dl" / "bk" / "a.wav"), "first");
  EXPECT_EQ(ReadFile(start / "dl" / "bk" / "b.wav"), "second");
  EXPECT_EQ(ArchiveOf("1"), WeekLabel());
  EXPECT_EQ(ArchiveOf("2"), WeekLabel());
  EXPECT_FALSE(std::filesystem::exists(start / "dl" / "dl"));
  // The disk watchdog reads the setting anew from inside dl/ and names the same folder.
  EXPECT_EQ(ResolveDirectorySetting("dl/"), loaded.DownloadPath);
}

// What a crash leaves depends on the order of flushes and renames, which no other test sees: each
// row's content is flushed before its first rename, and its name where it now stands and its
// checksum line are flushed while the row is still unlabelled.
TEST_P(BackupRunTest, EachRowIsFlushedWhereItStandsBeforeItsRenameAndItsLabel) {
  struct Seen {
    platform::FileEvent event;
    std::set<std::string> labelled;  // the files whose row was labelled when it happened
  };
  const auto trimmed = [](std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
  };
  // The second row of a run finds the checksum file made: only its own flushes cover it.
  const std::map<std::string, std::string> rows = {{"1", "a.wav"}, {"2", "b.wav"}};
  for (const int move : {1, 0}) {
    SCOPED_TRACE(move ? "moving" : "not moving");
    source_->Execute("DELETE FROM recording");
    std::filesystem::remove(download_ / (WeekLabel() + ".sha256"));
    settings_.MoveToBackupPath = move;
    for (const auto& [id, file] : rows) AddRecording(id, file);
    const std::filesystem::path stands = move ? backup_ : download_;
    std::vector<Seen> seen;
    platform::WatchFileEvents([&](const platform::FileEvent& event) {
      seen.push_back({event, {}});
      for (const auto& [id, file] : rows)
        if (ArchiveOf(id) == WeekLabel()) seen.back().labelled.insert(file);
    });
    ASSERT_EQ(Run().failed, 0);
    platform::WatchFileEvents({});
    for (const auto& [id, file] : rows) {
      SCOPED_TRACE(file);
      // The index of the first such event from `after` on (while the row is unlabelled), or
      // seen.size().
      const auto find = [&](platform::FileEvent::Kind kind, const std::filesystem::path& path,
                            size_t after, bool unlabelled = false) {
        for (size_t i = after; i < seen.size(); ++i)
          if (seen[i].event.kind == kind && trimmed(seen[i].event.path) == trimmed(path) &&
              !(unlabelled && seen[i].labelled.contains(file)))
            return i;
        return seen.size();
      };
      const std::filesystem::path staged = download_ / ".qzfetch" / file;
      const size_t delivered = find(platform::FileEvent::kRename, download_ / file, 0);
      const size_t placed = find(platform::FileEvent::kRename, stands / file, 0);
      ASSERT_LT(placed, seen.size());
      EXPECT_EQ(seen[delivered].event.from, staged.string());
      EXPECT_LT(find(platform::FileEvent::kFlush, staged, 0), delivered);
      EXPECT_LT(find(platform::FileEvent::kFlush, stands, placed, true), seen.size());
      EXPECT_LT(find(platform::FileEvent::kFlush, stands / (WeekLabel() + ".sha256"), placed, true),
                seen.size());
      // The note that lets a later run label the moved row is on disk before the move.
      if (move) {
        EXPECT_LT(find(platform::FileEvent::kFlush, backup_ / ".qzpending", delivered), placed);
      }
      EXPECT_EQ(ArchiveOf(id), WeekLabel());
    }
  }
}

}  // namespace qz
