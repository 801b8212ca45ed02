// Test bodies for the backup run, written once and instantiated per data source: a real web
// server on 127.0.0.1, real wget, a stand-in alarm program and real files.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "backup/backup_run.h"
#include "config/backup_settings.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/test_web_server.h"

namespace qz {

// The result list as a vector, newest line first.
class RecordedResultList : public ResultList {
 public:
  void AddLine(const ResultLine& line) override { lines.insert(lines.begin(), line); }
  int CountLines() const override { return static_cast<int>(lines.size()); }
  void DeleteLine(int index) override { lines.erase(lines.begin() + index); }
  std::vector<ResultLine> lines;
};

class BackupRunTest : public ::testing::TestWithParam<test::DataSourceKind> {
 protected:
  void SetUp() override;
  void TearDown() override { std::filesystem::current_path(startDirectory_); }

  // A row of yesterday whose file the web server publishes with `content`.
  void AddRecording(const std::string& id, const std::string& file,
                    const std::string& content = "audio");
  RunSummary Run();
  std::vector<std::string> LogLines();
  // The alarm program is never waited for: this waits for `expected` calls, briefly.
  std::vector<std::string> AlarmCalls(size_t expected = 0);
  test::SqlValue ArchiveOf(const std::string& id);
  std::string Download(const std::string& file) { return (download_ / file).string(); }
  std::string Backup(const std::string& file) { return (backup_ / file).string(); }

  std::filesystem::path startDirectory_ = std::filesystem::current_path();
  test::TempDir folder_;
  std::filesystem::path download_, backup_, log_, bin_;
  std::unique_ptr<test::TestDataSource> source_;
  std::unique_ptr<test::TestWebServer> web_;
  std::unique_ptr<test::PathPrepend> path_;
  BackupSettings settings_;
  RecordedResultList list_;
  test::FakeClock clock_{std::time(nullptr)};
};

// Cases only a database server has (another database or schema): MariaDB and PostgreSQL.
class ServerBackupRunTest : public BackupRunTest {};
// MariaDB's own cases (zero dates).
class MariaDbBackupRunTest : public BackupRunTest {};

std::string RunDataSourceName(const ::testing::TestParamInfo<test::DataSourceKind>& info);

}  // namespace qz
