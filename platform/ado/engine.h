// A database engine behind "ADODB.Connection": opens connections for a parsed
// connection string, runs T-SQL on them, and creates database files. A second
// engine is one more implementation of these two interfaces (SQLite and
// PostgreSQL today).
// Engines never throw; failures come back as false with an error text.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/ado/connection_string.h"
#include "platform/ado/sql_value.h"

namespace zelto::ado {

// One session with a database. Used by one thread at a time; may move between
// threads through the pool.
class EngineConnection {
 public:
  virtual ~EngineConnection() = default;
  // Translates `tsql` for the engine and runs it; `result` receives the first
  // result set (or none, with the count of changed rows).
  virtual bool Execute(std::string_view tsql, ResultSet* result, std::string* error) = 0;
  // Write transactions take the write lock at once, so a busy database makes
  // them wait rather than fail halfway.
  virtual bool BeginTransaction(std::string* error) = 0;
  virtual bool CommitTransaction(std::string* error) = 0;
  virtual bool RollbackTransaction(std::string* error) = 0;
  virtual bool InTransaction() const = 0;
  // False once the session is known to be lost (a server that went away);
  // the pool then closes it instead of handing it out again.
  virtual bool Usable() { return true; }
  // What Usable knows without a system call: true once a statement showed
  // the session must not be reused. The pool asks this when a session comes
  // back and Usable when it hands one out, so each use costs one check.
  virtual bool Broken() const { return false; }
};

class Engine {
 public:
  virtual ~Engine() = default;
  virtual std::string_view Name() const = 0;
  // Null (and `error`) when the database cannot be reached; never creates one.
  virtual std::unique_ptr<EngineConnection> Connect(const ConnectionString& target,
                                                    std::string* error) = 0;
  // The database is `target.initial_catalog` at `target.data_source`; the
  // credentials are those of the connection string.
  virtual bool DatabaseExists(const ConnectionString& target) = 0;
  // Where the database lives, for messages ("/srv/data/chat.db").
  virtual std::string DatabaseLocation(const ConnectionString& target) = 0;
  // Creates the database and runs `script` in it, all or nothing. Fails when
  // the database exists and `replace` is false.
  virtual bool CreateDatabase(const ConnectionString& target, std::string_view script,
                              bool replace, std::string* error) = 0;
};

// The engine that "SQLOLEDB.1" binds to: the one named by SetDatabaseEngine,
// else by the environment variable ZELTO_DB_ENGINE, else SQLite. Null when
// the name is unknown.
Engine* GetDatabaseEngine();
// "sqlite" or "postgresql"; false for an unknown name.
bool SetDatabaseEngine(std::string_view name);

// The engine-level way to create a database (the only one): see
// Engine::CreateDatabase, on the configured engine.
bool CreateDatabase(const ConnectionString& target, std::string_view script, bool replace,
                    std::string* error);
// The same without credentials (SQLite needs none).
bool CreateDatabase(const std::string& data_source, const std::string& catalog,
                    std::string_view script, bool replace, std::string* error);

Engine* SqliteEngine();
Engine* PostgresEngine();

}  // namespace zelto::ado
