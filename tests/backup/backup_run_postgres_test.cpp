#include "tests/backup/backup_run_test.h"

namespace qz {

INSTANTIATE_TEST_SUITE_P(PostgreSQL, BackupRunTest,
                         ::testing::Values(test::DataSourceKind::kPostgreSql), RunDataSourceName);
INSTANTIATE_TEST_SUITE_P(PostgreSQL, ServerBackupRunTest,
                         ::testing::Values(test::DataSourceKind::kPostgreSql), RunDataSourceName);

}  // namespace qz
