#include "backup/database_connection.h"

#include <stdexcept>

namespace qz {
namespace {

constexpr int kSupportedOptions =
    DatabaseConnection::kOpenReadOnly | DatabaseConnection::kNoOdbcDialog;

std::string_view WithoutOdbcPrefix(std::string_view connectString) {
  constexpr std::string_view kPrefix = "ODBC;";
  if (connectString.substr(0, kPrefix.size()) == kPrefix)
    connectString.remove_prefix(kPrefix.size());
  return connectString;
}

}  // namespace

DatabaseConnection::DatabaseConnection() = default;
DatabaseConnection::~DatabaseConnection() = default;

bool DatabaseConnection::OpenConnection(std::string_view connectString, int options) {
  if (options & ~kSupportedOptions) throw std::invalid_argument("unsupported connection options");
  if (IsOpen()) throw std::logic_error("the connection is already open");
  auto connection = std::make_unique<platform::OdbcConnection>();
  if (!connection->Connect(WithoutOdbcPrefix(connectString), (options & kOpenReadOnly) != 0))
    return false;
  connection_ = std::move(connection);
  return true;
}

void DatabaseConnection::CloseConnection() {
  if (!connection_) return;
  connection_->Disconnect();
  connection_.reset();
}

bool DatabaseConnection::IsOpen() const {
  return connection_ != nullptr;
}

platform::OdbcConnection& DatabaseConnection::Odbc() {
  if (!connection_) throw std::logic_error("the connection is not open");
  return *connection_;
}

}  // namespace qz
