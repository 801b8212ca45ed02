#include "tests/backup/backup_run_test.h"

namespace qz {

INSTANTIATE_TEST_SUITE_P(MariaDB, BackupRunTest, ::testing::Values(test::DataSourceKind::kMariaDb),
                         RunDataSourceName);
INSTANTIATE_TEST_SUITE_P(MariaDB, ServerBackupRunTest,
                         ::testing::Values(test::DataSourceKind::kMariaDb), RunDataSourceName);
INSTANTIATE_TEST_SUITE_P(MariaDB, MariaDbBackupRunTest,
                         ::testing::Values(test::DataSourceKind::kMariaDb), RunDataSourceName);

}  // namespace qz
