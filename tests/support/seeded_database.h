// SeededDatabase: fresh chat and count databases made from the schema in
// db/schema/<engine>/, for tests that need real tables. Seed rows with
// Execute, read them back with Query; the databases are removed when the
// fixture goes. Texts are UTF-8. A failing statement is a test failure
// (ADD_FAILURE), never an exception.
//
// On SQLite the databases live in a scratch data folder. On PostgreSQL they
// are two databases with names of their own on the test cluster that
// `make test` starts (scripts/pg-cluster.sh; found through the environment
// variable ZELTO_TEST_PG_ENV naming its cluster.env). Without a cluster the
// PostgreSQL fixture is not available() and the test skips, saying why.
//
// Suites run on every engine by taking the engine as their parameter:
//
//   class PollTest : public ::testing::TestWithParam<zelto::testing::TestEngine> {
//    protected:
//     void SetUp() override { ZELTO_SKIP_WITHOUT(db_); }
//     zelto::testing::SeededDatabase db_{GetParam()};
//   };
//   ZELTO_ON_EVERY_ENGINE(PollTest);
//
//   db_.Execute("chat", "insert into userinfo(ID,name,CompanyID) values(5,'王芳',1)");
//   auto rows = db_.Query("chat", "select name from userinfo where id=5");
//   EXPECT_EQ(rows[0]["NAME"], "王芳");  // column names ignore ASCII case
//
// Connect a CDbConnection with (db_.folder(), db_.catalog("chat"), db_.user(),
// db_.password()), or pass db_.ConnectionString("chat") to Open, or give a
// TestPage the database with page.Database(db_).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/database_setup.h"

namespace zelto::testing {

enum class TestEngine { kSqlite, kPostgres };

// Every engine, for INSTANTIATE_TEST_SUITE_P; "Sqlite" and "Postgres" in names.
std::vector<TestEngine> AllTestEngines();
std::string TestEngineName(const ::testing::TestParamInfo<TestEngine>& info);
const char* EngineSettingName(TestEngine engine);  // "sqlite", "postgresql"
void PrintTo(TestEngine engine, std::ostream* out);

#define ZELTO_ON_EVERY_ENGINE(Suite)                                                   \
  INSTANTIATE_TEST_SUITE_P(Engines, Suite,                                             \
                           ::testing::ValuesIn(::zelto::testing::AllTestEngines()), \
                           ::zelto::testing::TestEngineName)
#define ZELTO_SKIP_WITHOUT(db) \
  if (!(db).available()) GTEST_SKIP() << (db).unavailable_reason()

struct SeededColumnLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
// Column name -> value as text: integers in decimal, reals as "%.15g", NULL as
// empty text.
using SeededRow = std::map<std::string, std::string, SeededColumnLess>;

class SeededDatabase {
 public:
  // SQLite. With `demo`, the databases also get the demo data set of `zelto
  // init-db --demo` (company 1, operators 5, 12 and 7, conversation 1).
  explicit SeededDatabase(bool demo = false) : SeededDatabase(TestEngine::kSqlite, demo) {}
  // Makes `engine` the process's database engine until the fixture goes.
  // The scripts come from `schema_folder` of the source tree (today's, or
  // kFirstReleaseSchemaFolder for a database as the first release made it).
  explicit SeededDatabase(TestEngine engine, bool demo = false,
                          std::string_view schema_folder = kSchemaFolder);
  ~SeededDatabase();
  SeededDatabase(const SeededDatabase&) = delete;
  SeededDatabase& operator=(const SeededDatabase&) = delete;

  bool available() const { return available_; }
  const std::string& unavailable_reason() const { return why_; }
  TestEngine engine() const { return engine_; }

  // The Data Source: the DBServer setting of a page (a folder on SQLite,
  // HOST:PORT on PostgreSQL).
  const std::string& folder() const { return folder_; }
  // The database name of "chat" or "count": the DBName and DBCount settings.
  std::string catalog(std::string_view name) const;
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  // "Provider=SQLOLEDB.1; Data Source=<folder>; Initial Catalog=<catalog>;
  // User ID=<user>; PWD=<password>", exactly as CDbConnection::Connect builds it.
  std::string ConnectionString(std::string_view catalog = "chat") const;

  // Runs one or more statements on `catalog` ("chat" or "count").
  void Execute(std::string_view catalog, std::string_view sql);
  std::vector<SeededRow> Query(std::string_view catalog, std::string_view sql);
  // The first column of the first row; empty text when there is no row.
  std::string Scalar(std::string_view catalog, std::string_view sql);
  // Makes every insert into `table` of the chat database fail from now on,
  // while reads go on.
  void RefuseInserts(const std::string& table);

 private:
  bool Run(std::string_view catalog, std::string_view sql, void* result);
  DatabaseTarget Target(std::string_view catalog) const;
  void DropPostgresDatabases();

  TestEngine engine_;
  bool available_ = false;
  std::string why_;
  std::string folder_;
  std::string prefix_;  // PostgreSQL database names: prefix_ + "chat"
  std::string user_;
  std::string password_;
};

}  // namespace zelto::testing
