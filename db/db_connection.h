// CDbConnection: owns one "ADODB.Connection" and turns every failure into a
// plain false or null. Used by one thread at a time; holds no locks.
#pragma once

#include <string>

#include "platform/com/com_ptr.h"
#include "platform/com/hresult.h"

struct _Connection;
struct _Recordset;

// "Provider=SQLOLEDB.1; Data Source=<server>; Initial Catalog=<database>;
// User ID=<user>; PWD=<password>", with nothing quoted: the one connection
// string every database session of the product uses.
std::string SqlServerConnectionString(const std::string& server, const std::string& database,
                                      const std::string& user, const std::string& password);

class CDbConnection {
 public:
  // Creates the ADO connection object by ProgID; a failed creation leaves a
  // connection that answers every operation as a closed one.
  CDbConnection();
  ~CDbConnection();  // Close, then release
  CDbConnection(const CDbConnection&) = delete;
  CDbConnection& operator=(const CDbConnection&) = delete;

  // Returns Open(SqlServerConnectionString(...), options).
  bool Connect(const std::string& server, const std::string& database, const std::string& user,
               const std::string& password, LONG options);
  // A non-empty `connection_string` replaces the kept one; an empty one reuses
  // it. False when there is none, or unless the provider's Open gave S_OK.
  bool Open(const std::string& connection_string, LONG options);
  bool IsOpen();
  void Close();
  // Runs `sql` (adCmdText). The caller owns one reference to the result;
  // null on any failure, including a closed connection.
  _Recordset* Execute(const std::string& sql);

  // Transactions, for changes that must happen all together or not at all.
  // Each returns false on failure (including a closed connection).
  bool BeginTrans();
  bool CommitTrans();
  bool RollbackTrans();

  // The kept connection string, for tests and diagnostics.
  const std::string& connection_string() const { return connection_string_; }

 private:
  std::string connection_string_;
  ComPtr<_Connection> connection_;
};
