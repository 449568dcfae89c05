#include "db/db_statement.h"

#include "platform/ado/ado.h"
#include "platform/com/com_ptr.h"

bool RunStatement(CDbConnection& connection, const std::string& sql) {
  // The result of a change is a closed recordset; only its presence matters.
  ComPtr<_Recordset> result = ComPtr<_Recordset>::Adopt(connection.Execute(sql));
  return static_cast<bool>(result);
}

bool OpenQuery(CDbConnection& connection, CDbRecordset& rs, const std::string& sql) {
  // Attach hands back the reference Execute gave us; the wrapper keeps its own.
  ComPtr<_Recordset> held = ComPtr<_Recordset>::Adopt(rs.Attach(connection.Execute(sql)));
  return static_cast<bool>(held);
}

bool HasRow(CDbRecordset& rs) { return !rs.IsBOF() && !rs.IsEOF(); }

DbTransaction::DbTransaction(CDbConnection& connection)
    : connection_(connection), begun_(connection.BeginTrans()) {}

DbTransaction::~DbTransaction() {
  if (begun_ && !done_) connection_.RollbackTrans();
}

bool DbTransaction::Commit() {
  if (!begun_ || done_) return false;
  done_ = true;
  if (connection_.CommitTrans()) return true;
  connection_.RollbackTrans();
  return false;
}
