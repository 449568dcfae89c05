// SqlSession: one connection to one database, for the host's own statements
// (the component's go through CDbConnection and are unchanged). Statements
// and values are UTF-8 and reach the engine without passing through the ANSI
// code page; rows come back as UTF-8 text; every failure says why (error()).
// Changes made of several statements run in one SqlTransaction: all of them
// or none. Values go into statements through SqlStringLiteral and
// well-formed integers (db/sql_values.h); the platform binds them as
// parameters. Used by one thread at a time; the connection goes back to the
// platform's pool (or rolls back an open transaction there) when the
// session goes.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/hresult.h"

struct _Connection;

// Where the databases are: the DBServer setting (a folder on SQLite,
// HOST[:PORT] on PostgreSQL) and the login.
struct SqlLogin {
  std::string server, user, password;
};

// For fault tests: asked before each statement a session sends, and before
// "begin" and "commit"; true makes that step fail as a failing statement
// does (nothing sent). Must be safe to call from any thread.
using SqlFault = std::function<bool(std::string_view step)>;

class SqlSession {
 public:
  using Row = std::vector<std::string>;  // fields as text, "" for NULL

  // Opens `catalog` ("chat", "count") on the login's server; is_open() and
  // error() tell how that went.
  SqlSession(const SqlLogin& login, std::string_view catalog, SqlFault fault = {});
  ~SqlSession();
  SqlSession(const SqlSession&) = delete;
  SqlSession& operator=(const SqlSession&) = delete;

  bool is_open() const { return static_cast<bool>(connection_); }
  // Why the last call failed: the engine's own text and the first words of
  // the statement (never its values), or why the open failed. Empty after a
  // call that succeeded.
  const std::string& error() const { return error_; }
  // error() without the engine's text when the platform's failure sink
  // (platform/ado/engine_failures.h) has received that text already: what
  // a log that also receives the sink's reports writes, so that one cause
  // is logged once.
  const std::string& unreported_error() const { return reported_ ? what_failed_ : error_; }
  // Stops an operation the way a failed statement does, for a check made
  // between statements ("conversation ids exhausted"): error() becomes
  // `why`; always false.
  bool Fail(std::string why);

  // Runs a query and reads `columns` (by name, ASCII case ignored) of every
  // row into `rows`. False with error() when it failed.
  bool Query(std::string_view sql, const std::vector<std::string>& columns, std::vector<Row>* rows);
  // Runs a statement without rows; `affected` (may be null) gets the number
  // of changed rows.
  bool Execute(std::string_view sql, LONG* affected = nullptr);

 private:
  friend class SqlTransaction;
  bool Begin();
  bool Commit();
  void Rollback();
  // False, with error() set, when the fault hook fails `step` or the
  // session is not open.
  bool MayRun(std::string_view step);
  bool Failed(std::string what, HRESULT hr);

  std::string catalog_;
  SqlFault fault_;
  std::string error_;
  std::string what_failed_;         // error_ without the engine's text
  bool reported_ = false;           // a sink received error_'s cause
  ComPtr<_Connection> connection_;  // null when the open failed
  bool in_transaction_ = false;
};

// A write transaction on `session`: begun at construction (on SQLite with
// the write lock taken at once, on PostgreSQL one write transaction of the
// database at a time), rolled back at destruction unless committed. Never
// nests.
class SqlTransaction {
 public:
  explicit SqlTransaction(SqlSession& session) : session_(session), begun_(session.Begin()) {}
  ~SqlTransaction() {
    if (begun_ && !done_) session_.Rollback();
  }
  SqlTransaction(const SqlTransaction&) = delete;
  SqlTransaction& operator=(const SqlTransaction&) = delete;

  bool begun() const { return begun_; }
  // True when every change is now permanent; a failed commit rolls back.
  bool Commit();

 private:
  SqlSession& session_;
  const bool begun_;
  bool done_ = false;
};
