// Files that hold a password the run uses: the data source's entry in odbc.ini, wget's settings
// and ~/.netrc. Readable by every local user, they hand out the database or the servers.
#pragma once

#include <string>
#include <vector>

#include "check/check_report.h"

namespace qz {

// The files among them that hold a password and are readable by others.
std::vector<std::string> PasswordFilesOpenToOthers(const std::string& dataSourceName);

// One WARN per such file, or one OK line.
void CheckCredentialFiles(const std::string& dataSourceName, CheckReport& report);

}  // namespace qz
