#include "platform/odbc.h"

#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <type_traits>

namespace qz::platform {

static_assert(std::is_same_v<SQLHANDLE, void*>, "handles are kept as void*");
static_assert(std::is_same_v<SQLLEN, long>, "indicators are kept as long");

namespace {

// Some drivers misbehave when the diagnostics of one failure are read twice, so each record is
// read exactly once, here.
[[noreturn]] void RaiseDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const char* call) {
  std::string message;
  std::string firstState;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER nativeError = 0;
    SQLCHAR text[1024] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(type, handle, record, state, &nativeError, text,
                                 static_cast<SQLSMALLINT>(sizeof text), &length);
    if (!SQL_SUCCEEDED(rc)) break;
    if (record == 1) firstState = reinterpret_cast<const char*>(state);
    if (!message.empty()) message += '\n';
    message += reinterpret_cast<const char*>(text);
  }
  if (message.empty()) message = std::string(call) + " failed without a diagnostic";
  throw OdbcError(message, firstState);
}

// The one place where results of ODBC calls are judged. SQL_NO_DATA is an answer, not a failure:
// the caller decides what it means.
SQLRETURN Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* call) {
  if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return rc;
  if (rc == SQL_INVALID_HANDLE) throw OdbcError(std::string(call) + ": invalid handle", "");
  RaiseDiagnostics(type, handle, call);
}

// The driver's words when the warnings of a statement that succeeded include a value cut short
// (SQLSTATE 01004); empty when none does.
std::string TruncationText(SQLHANDLE statement) {
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER nativeError = 0;
    SQLCHAR text[1024] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, statement, record, state, &nativeError, text,
                                     static_cast<SQLSMALLINT>(sizeof text), &length)))
      return "";
    if (std::string_view(reinterpret_cast<const char*>(state)) == "01004")
      return reinterpret_cast<const char*>(text);
  }
}

SQLHANDLE AllocateHandle(SQLSMALLINT type, SQLHANDLE parent, SQLSMALLINT parentType,
                         const char* call) {
  SQLHANDLE handle = SQL_NULL_HANDLE;
  Check(SQLAllocHandle(type, parent, &handle), parentType, parent, call);
  return handle;
}

// The driver manager loads its installer library on demand and unloads it with the last
// environment, losing the INI cache it built; keeping it resident avoids that loss every run.
void KeepInstallerLibraryLoaded() {
  static void* const library = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NODELETE);
  (void)library;
}

SQLHANDLE AllocateEnvironment() {
  KeepInstallerLibraryLoaded();
  return AllocateHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, SQL_HANDLE_ENV, "SQLAllocHandle(ENV)");
}

SQLCHAR* SqlText(std::string& text) {
  return reinterpret_cast<SQLCHAR*>(text.data());
}

// An empty catalog or schema is passed as none, which matches any.
SQLCHAR* OptionalName(std::string& text) {
  return text.empty() ? nullptr : SqlText(text);
}

SQLUSMALLINT InfoType(OdbcInfo info) {
  switch (info) {
    case OdbcInfo::kDbmsName:
      return SQL_DBMS_NAME;
    case OdbcInfo::kIdentifierQuoteChar:
      return SQL_IDENTIFIER_QUOTE_CHAR;
    case OdbcInfo::kUserName:
      return SQL_USER_NAME;
    case OdbcInfo::kDatabaseName:
      return SQL_DATABASE_NAME;
    case OdbcInfo::kDataSourceReadOnly:
      return SQL_DATA_SOURCE_READ_ONLY;
  }
  throw std::invalid_argument("unknown ODBC information type");
}

}  // namespace

OdbcError::OdbcError(const std::string& message, std::string sqlState)
    : std::runtime_error(message), sqlState_(std::move(sqlState)) {}

bool OdbcError::IsConnectionFailure() const noexcept {
  return sqlState_.rfind("08", 0) == 0 || sqlState_ == "HYT01";
}

bool IsOdbcTextType(short sqlType) {
  switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return true;
    default:
      return false;
  }
}

// Delegating, so that the destructor already owns the handle when the version cannot be set.
OdbcEnvironment::OdbcEnvironment() : OdbcEnvironment(AllocateEnvironment()) {
  Check(
      SQLSetEnvAttr(handle_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
      SQL_HANDLE_ENV, handle_, "SQLSetEnvAttr(ODBC_VERSION)");
}

OdbcEnvironment::OdbcEnvironment(void* handle) : handle_(handle) {}

OdbcEnvironment::~OdbcEnvironment() {
  SQLFreeHandle(SQL_HANDLE_ENV, handle_);
}

OdbcConnection::OdbcConnection()
    : handle_(AllocateHandle(SQL_HANDLE_DBC, environment_.handle(), SQL_HANDLE_ENV,
                             "SQLAllocHandle(DBC)")) {}

OdbcConnection::~OdbcConnection() {
  if (connected_) SQLDisconnect(handle_);
  SQLFreeHandle(SQL_HANDLE_DBC, handle_);
}

bool OdbcConnection::Connect(std::string_view connectionString, bool readOnly) {
  if (connected_) throw std::logic_error("ODBC connection is already open");
  SQLULEN mode = readOnly ? SQL_MODE_READ_ONLY : SQL_MODE_READ_WRITE;
  Check(SQLSetConnectAttr(handle_, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(mode), 0),
        SQL_HANDLE_DBC, handle_, "SQLSetConnectAttr(ACCESS_MODE)");
  Check(SQLSetConnectAttr(handle_, SQL_ATTR_ODBC_CURSORS,
                          reinterpret_cast<SQLPOINTER>(SQL_CUR_USE_DRIVER), 0),
        SQL_HANDLE_DBC, handle_, "SQLSetConnectAttr(ODBC_CURSORS)");
  std::string in(connectionString);
  SQLCHAR out[1024];
  SQLSMALLINT outLength = 0;
  SQLRETURN rc =
      Check(SQLDriverConnect(handle_, nullptr, SqlText(in), SQL_NTS, out,
                             static_cast<SQLSMALLINT>(sizeof out), &outLength, SQL_DRIVER_NOPROMPT),
            SQL_HANDLE_DBC, handle_, "SQLDriverConnect");
  connected_ = rc != SQL_NO_DATA;
  readOnly_ = readOnly;
  return connected_;
}

void OdbcConnection::Disconnect() {
  if (!connected_) return;
  Check(SQLDisconnect(handle_), SQL_HANDLE_DBC, handle_, "SQLDisconnect");
  connected_ = false;
}

std::string OdbcConnection::InfoText(OdbcInfo info) {
  char text[256] = {};
  SQLSMALLINT length = 0;
  Check(SQLGetInfo(handle_, InfoType(info), text, static_cast<SQLSMALLINT>(sizeof text), &length),
        SQL_HANDLE_DBC, handle_, "SQLGetInfo");
  return text;
}

bool OdbcConnection::IsReadOnly() {
  if (readOnly_) return true;
  SQLULEN mode = SQL_MODE_READ_WRITE;
  Check(SQLGetConnectAttr(handle_, SQL_ATTR_ACCESS_MODE, &mode, 0, nullptr), SQL_HANDLE_DBC,
        handle_, "SQLGetConnectAttr(ACCESS_MODE)");
  return mode == SQL_MODE_READ_ONLY || InfoText(OdbcInfo::kDataSourceReadOnly) == "Y";
}

bool OdbcConnection::NamesCatalogInStatements() {
  SQLUINTEGER usage = 0;
  Check(SQLGetInfo(handle_, SQL_CATALOG_USAGE, &usage, sizeof usage, nullptr), SQL_HANDLE_DBC,
        handle_, "SQLGetInfo(CATALOG_USAGE)");
  return (usage & SQL_CU_DML_STATEMENTS) != 0;
}

bool OdbcConnection::NamesSchemaInStatements() {
  SQLUINTEGER usage = 0;
  Check(SQLGetInfo(handle_, SQL_SCHEMA_USAGE, &usage, sizeof usage, nullptr), SQL_HANDLE_DBC,
        handle_, "SQLGetInfo(SCHEMA_USAGE)");
  return (usage & SQL_SU_DML_STATEMENTS) != 0;
}

void OdbcConnection::SetAutoCommit(bool on) {
  SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
  Check(SQLSetConnectAttr(handle_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0),
        SQL_HANDLE_DBC, handle_, "SQLSetConnectAttr(AUTOCOMMIT)");
}

void OdbcConnection::EndTransaction(bool commit) {
  Check(SQLEndTran(SQL_HANDLE_DBC, handle_, commit ? SQL_COMMIT : SQL_ROLLBACK), SQL_HANDLE_DBC,
        handle_, "SQLEndTran");
}

OdbcStatement::OdbcStatement(OdbcConnection& connection)
    : handle_(AllocateHandle(SQL_HANDLE_STMT, connection.handle(), SQL_HANDLE_DBC,
                             "SQLAllocHandle(STMT)")) {}

OdbcStatement::~OdbcStatement() {
  SQLFreeHandle(SQL_HANDLE_STMT, handle_);
}

void OdbcStatement::ExecuteDirect(std::string_view sql) {
  std::string text(sql);
  Check(SQLExecDirect(handle_, SqlText(text), SQL_NTS), SQL_HANDLE_STMT, handle_, "SQLExecDirect");
}

void OdbcStatement::Prepare(std::string_view sql) {
  std::string text(sql);
  Check(SQLPrepare(handle_, SqlText(text), SQL_NTS), SQL_HANDLE_STMT, handle_, "SQLPrepare");
}

void OdbcStatement::BindText(int number, std::optional<std::string> value, const OdbcColumn& as) {
  BoundText& bound = parameters_.emplace_back();
  bound.indicator = value ? static_cast<SQLLEN>(value->size()) : SQL_NULL_DATA;
  if (value) bound.text = std::move(*value);
  // A declared size of 0 is refused by some drivers, and a shorter one would cut the value.
  SQLULEN size = std::max<SQLULEN>({as.size, bound.text.size(), 1});
  Check(SQLBindParameter(handle_, static_cast<SQLUSMALLINT>(number), SQL_PARAM_INPUT, SQL_C_CHAR,
                         as.sqlType, size, as.decimalDigits, bound.text.data(),
                         static_cast<SQLLEN>(bound.text.size() + 1), &bound.indicator),
        SQL_HANDLE_STMT, handle_, "SQLBindParameter");
}

void OdbcStatement::BindText(int number, std::optional<std::string> value) {
  OdbcColumn varchar;
  varchar.sqlType = SQL_VARCHAR;
  BindText(number, std::move(value), varchar);
}

void OdbcStatement::Execute() {
  truncation_.clear();
  if (Check(SQLExecute(handle_), SQL_HANDLE_STMT, handle_, "SQLExecute") == SQL_SUCCESS_WITH_INFO)
    truncation_ = TruncationText(handle_);
}

int OdbcStatement::ColumnCount() {
  SQLSMALLINT count = 0;
  Check(SQLNumResultCols(handle_, &count), SQL_HANDLE_STMT, handle_, "SQLNumResultCols");
  return count;
}

OdbcColumn OdbcStatement::DescribeColumn(int number) {
  SQLCHAR name[256] = {};
  SQLSMALLINT nameLength = 0;
  SQLSMALLINT type = 0;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
  SQLSMALLINT nullable = 0;
  Check(SQLDescribeCol(handle_, static_cast<SQLUSMALLINT>(number), name,
                       static_cast<SQLSMALLINT>(sizeof name), &nameLength, &type, &size, &digits,
                       &nullable),
        SQL_HANDLE_STMT, handle_, "SQLDescribeCol");
  OdbcColumn column;
  column.name = reinterpret_cast<const char*>(name);
  column.sqlType = type;
  column.size = size;
  column.decimalDigits = digits;
  char table[256] = {};
  SQLSMALLINT tableLength = 0;
  // A driver that cannot name the base table answers with an error; that is an answer too.
  SQLRETURN rc =
      SQLColAttribute(handle_, static_cast<SQLUSMALLINT>(number), SQL_DESC_BASE_TABLE_NAME, table,
                      static_cast<SQLSMALLINT>(sizeof table), &tableLength, nullptr);
  if (SQL_SUCCEEDED(rc)) column.baseTable = table;
  column.baseCatalog = ColumnText(number, SQL_DESC_CATALOG_NAME);
  column.baseSchema = ColumnText(number, SQL_DESC_SCHEMA_NAME);
  return column;
}

std::string OdbcStatement::ColumnText(int number, unsigned short field) {
  char text[256] = {};
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLColAttribute(handle_, static_cast<SQLUSMALLINT>(number), field, text,
                                 static_cast<SQLSMALLINT>(sizeof text), &length, nullptr);
  return SQL_SUCCEEDED(rc) ? std::string(text) : std::string();
}

bool OdbcStatement::Fetch() {
  return Check(SQLFetch(handle_), SQL_HANDLE_STMT, handle_, "SQLFetch") != SQL_NO_DATA;
}

std::optional<std::string> OdbcStatement::ReadText(int number) {
  std::string value;
  char chunk[1024];
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = Check(SQLGetData(handle_, static_cast<SQLUSMALLINT>(number), SQL_C_CHAR, chunk,
                                    static_cast<SQLLEN>(sizeof chunk), &indicator),
                         SQL_HANDLE_STMT, handle_, "SQLGetData");
    if (rc == SQL_NO_DATA) return value;
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    const bool truncated =
        indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof chunk);
    value.append(chunk, truncated ? sizeof chunk - 1 : static_cast<std::size_t>(indicator));
    if (!truncated) return value;
  }
}

long OdbcStatement::RowCount() {
  SQLLEN count = 0;
  Check(SQLRowCount(handle_, &count), SQL_HANDLE_STMT, handle_, "SQLRowCount");
  return count;
}

std::vector<std::string> OdbcStatement::RowIdentifierColumns(const std::string& catalog,
                                                             const std::string& schema,
                                                             const std::string& table) {
  std::string c = catalog, s = schema, t = table;
  Check(SQLSpecialColumns(handle_, SQL_BEST_ROWID, OptionalName(c), SQL_NTS, OptionalName(s),
                          SQL_NTS, SqlText(t), SQL_NTS, SQL_SCOPE_CURROW, SQL_NULLABLE),
        SQL_HANDLE_STMT, handle_, "SQLSpecialColumns");
  std::vector<std::string> names;
  while (Fetch()) {
    std::optional<std::string> name = ReadText(2);
    std::optional<std::string> pseudo = ReadText(8);
    if (name && pseudo.value_or("") != std::to_string(SQL_PC_PSEUDO)) names.push_back(*name);
  }
  CloseCursor();
  return names;
}

std::vector<std::string> OdbcStatement::PrimaryKeyColumns(const std::string& catalog,
                                                          const std::string& schema,
                                                          const std::string& table) {
  std::string c = catalog, s = schema, t = table;
  Check(SQLPrimaryKeys(handle_, OptionalName(c), SQL_NTS, OptionalName(s), SQL_NTS, SqlText(t),
                       SQL_NTS),
        SQL_HANDLE_STMT, handle_, "SQLPrimaryKeys");
  std::vector<std::string> names;
  while (Fetch()) {
    if (std::optional<std::string> name = ReadText(4)) names.push_back(*name);
  }
  CloseCursor();
  return names;
}

void OdbcStatement::CloseCursor() {
  Check(SQLFreeStmt(handle_, SQL_CLOSE), SQL_HANDLE_STMT, handle_, "SQLFreeStmt(CLOSE)");
}

}  // namespace qz::platform
