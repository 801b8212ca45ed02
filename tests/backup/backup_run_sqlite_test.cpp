#include "tests/backup/backup_run_test.h"

namespace qz {

INSTANTIATE_TEST_SUITE_P(SQLite, BackupRunTest, ::testing::Values(test::DataSourceKind::kSqlite),
                         RunDataSourceName);

}  // namespace qz
