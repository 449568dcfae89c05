// Database set-up shared by the test fixtures and the benchmarks, which link
// it without GoogleTest (the zelto_database_setup library): the schema
// scripts of the source tree, the settings of a PostgreSQL cluster made by
// scripts/pg-cluster.sh, a cluster of one's own, and databases made from a
// script on either engine. Failures come back as text; the caller decides
// whether one fails a test or skips a benchmark.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ado/connection_string.h"

namespace zelto::testing {

// A new empty folder "<TMPDIR or /tmp>/zelto-<prefix>-XXXXXX"; empty text,
// with `why`, when it cannot be made.
std::string MakeScratchFolder(std::string_view prefix, std::string* why);

// The schema folder of today's scripts, and copies of earlier scripts for
// the schema upgrade tests: the first release's (schema version 1) and
// those of schema version 2 (the conversation id counter).
inline constexpr char kSchemaFolder[] = "db/schema";
inline constexpr char kFirstReleaseSchemaFolder[] = "tests/fixtures/schema-1.0";
inline constexpr char kSchemaVersion2Folder[] = "tests/fixtures/schema-v2";

// <folder>/<engine>/<catalog>.sql of the source tree (engine "sqlite" or
// "postgresql"), then, with `demo`, a line break and <folder>/demo/<catalog>.sql.
// False, with `error` naming the file, when one cannot be read.
bool ReadSchemaScript(std::string_view engine, std::string_view catalog, bool demo,
                      std::string* script, std::string* error,
                      std::string_view folder = kSchemaFolder);

// A PostgreSQL cluster's settings, as its cluster.env gives them.
struct TestCluster {
  std::string server;    // "127.0.0.1:PORT"
  std::string socket;    // "SOCKET_DIR:PORT"
  std::string user;
  std::string password;
  std::string env_file;  // for scripts/pg-cluster.sh halt/resume
};
// The cluster.env at `env_file`; nullopt, with `why`, when it names no server.
std::optional<TestCluster> ReadTestCluster(const std::string& env_file, std::string* why);
// The run's cluster: the cluster.env that ZELTO_TEST_PG_ENV names (ctest
// starts it for `make test`). Nullopt, with `why`, when there is none.
std::optional<TestCluster> FindTestCluster(std::string* why);

// scripts/pg-cluster.sh ACTION STATE_DIR with its output dropped; true when
// it succeeded.
bool RunPgClusterScript(const std::string& action, const std::string& state_dir);

// A cluster of one's own in a fresh folder under TMPDIR: started by the
// constructor, stopped and removed with its folder by the destructor.
class ScratchPgCluster {
 public:
  ScratchPgCluster();
  ~ScratchPgCluster();
  ScratchPgCluster(const ScratchPgCluster&) = delete;
  ScratchPgCluster& operator=(const ScratchPgCluster&) = delete;

  bool available() const { return settings_.has_value(); }
  const std::string& unavailable_reason() const { return why_; }
  // REQUIRES: available().
  const TestCluster& settings() const { return *settings_; }
  const std::string& state_dir() const { return state_; }
  // A database server outage: Halt stops the server and keeps its data,
  // Resume starts it again on the same port. False when the step failed.
  bool Halt();
  bool Resume();

 private:
  std::string state_;  // pg-cluster.sh's state folder; empty when none was made
  std::string why_;
  std::optional<TestCluster> settings_;
};

// The run's cluster when there is one, else a ScratchPgCluster: for programs
// that also run outside ctest (the benchmarks).
class AnyPgCluster {
 public:
  AnyPgCluster();
  ~AnyPgCluster();

  bool available() const { return settings_.has_value(); }
  const std::string& unavailable_reason() const { return why_; }
  // REQUIRES: available().
  const TestCluster& settings() const { return *settings_; }

 private:
  std::unique_ptr<ScratchPgCluster> own_;
  std::string why_;
  std::optional<TestCluster> settings_;
};

// One database as a page's session settings name it.
struct DatabaseTarget {
  std::string engine;   // "sqlite" or "postgresql"
  std::string server;   // DBServer: a folder (SQLite) or HOST[:PORT]
  std::string catalog;  // DBName
  std::string user;
  std::string password;

  // A SQLite database: `catalog`.db in `folder`, no credentials.
  static DatabaseTarget Sqlite(const std::string& folder, const std::string& catalog = "chat") {
    return {"sqlite", folder, catalog, "", ""};
  }
  // Provider "SQLOLEDB.1", as CDbConnection::Connect would name it.
  ado::ConnectionString ConnectionString() const;
};

// Makes target.engine the process's engine and creates the database from
// `script`, replacing one of that name. False with `error`.
bool CreateDatabaseFromScript(const DatabaseTarget& target, std::string_view script,
                              std::string* error);

// A database made for a program, or why it could not be made.
struct MadeDatabase : DatabaseTarget {
  bool ok = false;
  std::string why_not;  // when !ok
};

// The same chat database on each engine: SQLite in a scratch folder under
// TMPDIR, PostgreSQL on an AnyPgCluster (left out when `with_postgres` is
// false). Each is made from the engine's schema script (ReadSchemaScript,
// with the demo rows when `demo`) followed by `rows`; the folder and the
// PostgreSQL database ("zelto_<name>_<pid>") are named after `name` (letters,
// digits and '_'). The destructor removes the folder and a cluster of its own.
class DatabasesOnEveryEngine {
 public:
  DatabasesOnEveryEngine(const std::string& name, bool demo, const std::string& rows,
                         bool with_postgres);
  ~DatabasesOnEveryEngine();
  DatabasesOnEveryEngine(const DatabasesOnEveryEngine&) = delete;
  DatabasesOnEveryEngine& operator=(const DatabasesOnEveryEngine&) = delete;

  const MadeDatabase& Get(bool postgres) const { return postgres ? postgres_ : sqlite_; }

 private:
  std::string folder_;
  std::unique_ptr<AnyPgCluster> cluster_;
  MadeDatabase sqlite_;
  MadeDatabase postgres_;
};

}  // namespace zelto::testing
