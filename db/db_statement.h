// Running the methods' statements on a connection and telling whether each
// one ran: a change that failed is never reported as made, and a query that
// failed is told apart from one that found no row. A change made of several
// statements runs in one DbTransaction, all or nothing.
#pragma once

#include <string>

#include "db/db_connection.h"
#include "db/db_recordset.h"

// Runs a statement that changes data; true when it ran (Execute gave a
// result, closed for insert/update/delete), false when it failed.
bool RunStatement(CDbConnection& connection, const std::string& sql);

// Runs a query and hands its result to `rs` (Attach). False when the query
// failed: `rs` then holds a closed recordset, which reads as neither BOF nor
// EOF, exactly as the plain Execute-and-Attach pattern leaves it.
bool OpenQuery(CDbConnection& connection, CDbRecordset& rs, const std::string& sql);

// True when `rs` holds at least one row (neither at BOF nor at EOF).
bool HasRow(CDbRecordset& rs);

// A transaction on the page connection that rolls back unless committed.
// Never nests: the methods using it open one per call.
class DbTransaction {
 public:
  explicit DbTransaction(CDbConnection& connection);
  ~DbTransaction();  // rolls back when begun and not committed
  DbTransaction(const DbTransaction&) = delete;
  DbTransaction& operator=(const DbTransaction&) = delete;

  bool begun() const { return begun_; }
  // True when the changes are now permanent. A failed commit rolls back.
  bool Commit();

 private:
  CDbConnection& connection_;
  bool begun_;
  bool done_ = false;
};
