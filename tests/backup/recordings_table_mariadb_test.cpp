#include <gtest/gtest.h>

#include "tests/backup/recordings_table_test.h"

namespace qz {

INSTANTIATE_TEST_SUITE_P(MariaDB, RecordingsTableTest,
                         ::testing::Values(test::DataSourceKind::kMariaDb), DataSourceName);

}  // namespace qz
