// How the archive label names the row it belongs to: the table the query named, qualified as the
// driver reports it, and the table's key among the result's columns where it has one.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/odbc.h"

namespace qz {

struct RowIdentity {
  std::string table;              // as an UPDATE names it: qualified, quoted
  std::string tableText;          // as a log line names it
  std::vector<int> keyPositions;  // result positions of the key, ascending; empty: no key
};

// Nothing when the rows come from no single table that can be named.
std::optional<RowIdentity> IdentifyRows(platform::OdbcConnection& connection,
                                        const std::vector<platform::OdbcColumn>& columns,
                                        std::string_view query);

// The table of "Select * from <table> where ..." when it is a plain name, optionally qualified
// with dots ("recording", "other.recording"); nothing for a join, a subquery or quotes.
std::optional<std::string> PlainTableOfQuery(std::string_view query);

}  // namespace qz
