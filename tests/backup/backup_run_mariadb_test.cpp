#include "tests/backup/backup_run_test.h"

namespace qz {

INSTANTIATE_TEST_SUITE_P(MariaDB, BackupRunTest, ::testing::Values(test::DataSourceKind::kMariaDb),
                         RunDataSourceName);

}  // namespace qz
