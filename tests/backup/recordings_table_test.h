// Test bodies for the recordings table, written once and instantiated per data source.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backup/database_connection.h"
#include "backup/db_rec_set.h"
#include "config/backup_settings.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/test_support.h"

namespace qz {

class RecordingsTableTest : public ::testing::TestWithParam<test::DataSourceKind> {
 protected:
  void SetUp() override;

  void Insert(const test::RecordingRow& row) { source_->Insert(row); }
  void Open(std::string_view query, int options = CDBRecSet::kNone,
            int connectionOptions = DatabaseConnection::kNoOdbcDialog);
  // IDs of the rows that the backup query of `settings` selects, sorted.
  std::vector<std::string> SelectedIds(const BackupSettings& settings);
  // Opens the rows of the backup query anew and walks to the row with this ID; false when the
  // query does not select it.
  bool OpenAt(std::string_view id);
  BackupSettings Settings() const;

  test::TempDir folder_;
  std::unique_ptr<test::TestDataSource> source_;
  DatabaseConnection connection_;
  CDBRecSet rows_{&connection_};
};

std::string DataSourceName(const ::testing::TestParamInfo<test::DataSourceKind>& info);

}  // namespace qz
