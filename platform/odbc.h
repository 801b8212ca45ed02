// ODBC through unixODBC, owned by small RAII classes. Every call goes through one check that turns
// a failure into OdbcError with the driver's own text, so callers see what the data source said.
// Handles are freed in exactly one destructor each; a statement must not outlive its connection.
#pragma once

#include <list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qz::platform {

class OdbcError : public std::runtime_error {
 public:
  OdbcError(const std::string& message, std::string sqlState);
  // Five-character SQLSTATE of the first diagnostic record, empty when the driver gave none.
  const std::string& SqlState() const noexcept { return sqlState_; }
  // The link to the data source failed (SQLSTATE class 08, or a connection timeout): nothing more
  // can be done on this connection, unlike a statement the data source refused.
  bool IsConnectionFailure() const noexcept;

 private:
  std::string sqlState_;
};

// A result column as the driver describes it; also the target type of a bound parameter.
struct OdbcColumn {
  std::string name;
  std::string baseTable;    // empty when the driver names none (an expression, an unknown source)
  std::string baseCatalog;  // the base table's catalog (MariaDB: database) and schema, or empty
  std::string baseSchema;
  short sqlType = 0;  // the SQL_* data type code
  unsigned long size = 0;
  short decimalDigits = 0;
};

// Character types of any width, narrow or wide.
bool IsOdbcTextType(short sqlType);

enum class OdbcInfo {
  kDbmsName,
  kIdentifierQuoteChar,
  kDataSourceReadOnly,
  kUserName,
  kDatabaseName
};

class OdbcEnvironment {
 public:
  OdbcEnvironment();
  ~OdbcEnvironment();
  OdbcEnvironment(const OdbcEnvironment&) = delete;
  OdbcEnvironment& operator=(const OdbcEnvironment&) = delete;
  void* handle() const noexcept { return handle_; }

 private:
  explicit OdbcEnvironment(void* handle);
  void* handle_ = nullptr;
};

class OdbcConnection {
 public:
  OdbcConnection();
  ~OdbcConnection();
  OdbcConnection(const OdbcConnection&) = delete;
  OdbcConnection& operator=(const OdbcConnection&) = delete;

  // Completes the connection string without ever prompting, through the driver itself (no cursor
  // library). False when the driver ends without connecting and without an error.
  bool Connect(std::string_view connectionString, bool readOnly);
  void Disconnect();
  bool IsConnected() const noexcept { return connected_; }

  std::string InfoText(OdbcInfo info);
  // Read-only as asked at Connect (some drivers, SQLite's among them, ignore the access mode), or
  // as the driver reports it.
  bool IsReadOnly();
  // Whether statements may name a table's catalog or schema (SQL_CATALOG_USAGE, SQL_SCHEMA_USAGE).
  bool NamesCatalogInStatements();
  bool NamesSchemaInStatements();
  void SetAutoCommit(bool on);
  void EndTransaction(bool commit);
  void* handle() const noexcept { return handle_; }

 private:
  OdbcEnvironment environment_;
  void* handle_ = nullptr;
  bool connected_ = false;
  bool readOnly_ = false;
};

class OdbcStatement {
 public:
  explicit OdbcStatement(OdbcConnection& connection);
  ~OdbcStatement();
  OdbcStatement(const OdbcStatement&) = delete;
  OdbcStatement& operator=(const OdbcStatement&) = delete;

  void ExecuteDirect(std::string_view sql);
  void Prepare(std::string_view sql);
  // Binds parameter `number` (from 1) as text that the driver converts to the type of `as`;
  // nothing binds NULL. The text is kept until the statement is destroyed.
  void BindText(int number, std::optional<std::string> value, const OdbcColumn& as);
  // The same, bound as VARCHAR.
  void BindText(int number, std::optional<std::string> value);
  void Execute();
  // After Execute: the driver's words when it reported a value cut short, else empty.
  const std::string& TruncationWarning() const noexcept { return truncation_; }

  int ColumnCount();
  OdbcColumn DescribeColumn(int number);
  // False once past the last row.
  bool Fetch();
  // The whole value of column `number` (from 1) of the fetched row as text; nothing for NULL.
  // Each column can be read once per row, in ascending order.
  std::optional<std::string> ReadText(int number);
  long RowCount();
  void CloseCursor();

  // Columns that identify a row of the table (SQLSpecialColumns, SQL_BEST_ROWID), pseudo-columns
  // left out, and the table's primary key (SQLPrimaryKeys). Empty parts match any.
  std::vector<std::string> RowIdentifierColumns(const std::string& catalog,
                                                const std::string& schema,
                                                const std::string& table);
  std::vector<std::string> PrimaryKeyColumns(const std::string& catalog, const std::string& schema,
                                             const std::string& table);

 private:
  struct BoundText {
    std::string text;
    long indicator = 0;
  };
  std::string ColumnText(int number, unsigned short field);

  void* handle_ = nullptr;
  std::list<BoundText> parameters_;
  std::string truncation_;  // stable addresses: the driver reads them at Execute
};

}  // namespace qz::platform
