// What --check finds of the label's way into the table: whether this account may write ARCHIVE,
// and whether the column holds the labels the settings give. Nothing is written: the right is
// tried with a statement that changes no row, inside a transaction that is rolled back.
#pragma once

#include <string>
#include <vector>

#include "backup/archive_label.h"
#include "backup/row_identity.h"
#include "check/check_report.h"
#include "config/backup_settings.h"
#include "platform/odbc.h"

namespace qz {

// `columns` are the result's, ARCHIVE at its position; `identity` the table the label goes to.
void CheckLabelWidth(const ArchiveLabel& next, const ArchiveLabel& longest,
                     const platform::OdbcColumn& archive, CheckReport& report);
void CheckRightToLabel(const BackupSettings& settings, const RowIdentity& identity,
                       const platform::OdbcColumn& archive, CheckReport& report);

}  // namespace qz
