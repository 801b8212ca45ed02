// The run's connection to the recordings data source, in the manner of the framework's database
// object: opened from a connection string and option bits, handed to the recordset.
#pragma once

#include <memory>
#include <string_view>

#include "platform/odbc.h"

namespace qz {

class DatabaseConnection {
 public:
  // Option bits of OpenConnection. No dialog is ever shown here, with or without kNoOdbcDialog.
  static constexpr int kOpenReadOnly = 0x2;
  static constexpr int kNoOdbcDialog = 0x8;

  DatabaseConnection();
  ~DatabaseConnection();
  DatabaseConnection(const DatabaseConnection&) = delete;
  DatabaseConnection& operator=(const DatabaseConnection&) = delete;

  // True: connected. False: the driver ended without connecting and without an error. A leading
  // "ODBC;" is dropped. Other option bits (exclusive, cursor library, forced dialog) are refused
  // with std::invalid_argument. Data-source failures raise platform::OdbcError.
  bool OpenConnection(std::string_view connectString, int options);
  void CloseConnection();
  bool IsOpen() const;

  // The open ODBC connection; std::logic_error when closed.
  platform::OdbcConnection& Odbc();

 private:
  std::unique_ptr<platform::OdbcConnection> connection_;
};

}  // namespace qz
