#include <gtest/gtest.h>

#include "tests/backup/recordings_table_test.h"

namespace qz {

INSTANTIATE_TEST_SUITE_P(PostgreSQL, RecordingsTableTest,
                         ::testing::Values(test::DataSourceKind::kPostgreSql), DataSourceName);

}  // namespace qz
