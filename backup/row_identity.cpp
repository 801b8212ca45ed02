#include "backup/row_identity.h"

#include <algorithm>
#include <cctype>

#include "backup/archive_update.h"

namespace qz {
namespace {

struct TableName {
  std::string catalog, schema, table;
};

bool SameTable(const platform::OdbcColumn& a, const platform::OdbcColumn& b) {
  return a.baseTable == b.baseTable && a.baseCatalog == b.baseCatalog &&
         a.baseSchema == b.baseSchema;
}

// Naming the row in an UPDATE needs one base table behind every column.
std::optional<TableName> SingleBaseTable(const std::vector<platform::OdbcColumn>& columns) {
  const platform::OdbcColumn& first = columns.front();
  if (first.baseTable.empty()) return std::nullopt;
  for (const platform::OdbcColumn& column : columns) {
    if (!SameTable(column, first)) return std::nullopt;
  }
  return TableName{first.baseCatalog, first.baseSchema, first.baseTable};
}

std::vector<std::string> SplitAtDots(const std::string& text) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == '.')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

bool IsPlainName(std::string_view part) {
  if (part.empty() || std::isdigit(static_cast<unsigned char>(part.front()))) return false;
  return std::all_of(part.begin(), part.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
  });
}

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

// Positions of `names` among the result's columns; nothing unless every name is one of them.
std::optional<std::vector<int>> PositionsOf(const std::vector<std::string>& names,
                                            const std::vector<platform::OdbcColumn>& columns) {
  if (names.empty()) return std::nullopt;
  std::vector<int> positions;
  for (const std::string& name : names) {
    auto found = std::find_if(columns.begin(), columns.end(),
                              [&](const platform::OdbcColumn& c) { return c.name == name; });
    if (found == columns.end()) return std::nullopt;
    positions.push_back(static_cast<int>(found - columns.begin()));
  }
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  return positions;
}

// The row identifier the driver recommends, else the primary key. A driver that cannot answer
// leaves the table without a key: every column is compared then, which is slower but safe.
std::vector<int> KeyPositions(platform::OdbcConnection& connection, const TableName& name,
                              const std::vector<platform::OdbcColumn>& columns) {
  try {
    platform::OdbcStatement catalog(connection);
    if (auto positions = PositionsOf(
            catalog.RowIdentifierColumns(name.catalog, name.schema, name.table), columns))
      return *positions;
    if (auto positions =
            PositionsOf(catalog.PrimaryKeyColumns(name.catalog, name.schema, name.table), columns))
      return *positions;
  } catch (const platform::OdbcError& error) {
    if (error.IsConnectionFailure()) throw;
  }
  return {};
}

std::string Qualified(platform::OdbcConnection& connection, const TableName& name,
                      const std::string& quote) {
  std::string text;
  if (!name.catalog.empty() && connection.NamesCatalogInStatements())
    text += QuotedIdentifier(name.catalog, quote) + ".";
  if (!name.schema.empty() && connection.NamesSchemaInStatements())
    text += QuotedIdentifier(name.schema, quote) + ".";
  return text + QuotedIdentifier(name.table, quote);
}

// The query's own words: a schema where the data source has schemas, else a catalog.
TableName NameOfQueryTable(platform::OdbcConnection& connection, const std::string& text) {
  std::vector<std::string> parts = SplitAtDots(text);
  if (parts.size() == 3) return {parts[0], parts[1], parts[2]};
  if (parts.size() == 2) {
    if (connection.NamesSchemaInStatements()) return {"", parts[0], parts[1]};
    return {parts[0], "", parts[1]};
  }
  return {"", "", parts[0]};
}

}  // namespace

std::optional<std::string> PlainTableOfQuery(std::string_view query) {
  const std::string lowered = Lowered(query);
  constexpr std::string_view kFrom = "select * from ";
  if (lowered.rfind(kFrom, 0) != 0) return std::nullopt;
  const std::size_t end = lowered.find(' ', kFrom.size());
  if (end == std::string::npos || lowered.compare(end, 7, " where ") != 0) return std::nullopt;
  std::string table(query.substr(kFrom.size(), end - kFrom.size()));
  std::vector<std::string> parts = SplitAtDots(table);
  if (parts.size() > 3 || !std::all_of(parts.begin(), parts.end(), IsPlainName))
    return std::nullopt;
  return table;
}

std::optional<RowIdentity> IdentifyRows(platform::OdbcConnection& connection,
                                        const std::vector<platform::OdbcColumn>& columns,
                                        std::string_view query) {
  const std::string quote = connection.InfoText(platform::OdbcInfo::kIdentifierQuoteChar);
  RowIdentity identity;
  TableName name;
  std::optional<TableName> base = SingleBaseTable(columns);
  std::optional<std::string> plain = PlainTableOfQuery(query);
  std::string driverTable;
  if (base) driverTable = Qualified(connection, *base, quote);
  // A bare name from the driver (SQLite's for an attached database's table) names the main
  // database's table; a query that qualified its table names the one it read.
  const bool driverNamesTheTable = base && (driverTable != QuotedIdentifier(base->table, quote) ||
                                            !plain || SplitAtDots(*plain).size() == 1);
  if (driverNamesTheTable) {
    name = *base;
    identity.table = driverTable;
    identity.tableText = name.table;
  } else if (plain) {
    // The driver names no base table, or not where it is; the query's own text does.
    name = NameOfQueryTable(connection, *plain);
    identity.table = *plain;
    identity.tableText = *plain;
  } else {
    return std::nullopt;
  }
  identity.keyPositions = KeyPositions(connection, name, columns);
  return identity;
}

}  // namespace qz
