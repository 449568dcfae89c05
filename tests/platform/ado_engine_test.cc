// The SQLite engine, database creation and the session pool, below the ADO
// objects.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/ado/connection_pool.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/engine.h"
#include "tests/support/seeded_database.h"

namespace zelto::ado {
namespace {

TEST(ConnectionStringTest, ParsesTheOleDbForm) {
  struct Case {
    const char* text;
    bool ok;
    const char* source;
    const char* catalog;
    const char* user;
    const char* password;
  };
  const Case cases[] = {
      {"Provider=SQLOLEDB.1; Data Source=/srv/data; Initial Catalog=chat; User ID=sa; PWD=x", true,
       "/srv/data", "chat", "sa", "x"},
      {"Provider=SQLOLEDB.1; Data Source=; Initial Catalog=; User ID=; PWD=", true, "", "", "", ""},
      {"  provider = SQLOLEDB.1 ;DATA  SOURCE= d ;initial catalog=c;uid=u;Password=p;", true, "d",
       "c", "u", "p"},
      {"Server=s;Database=db;Password=\"a;b\"\"c\"", true, "s", "db", "", "a;b\"c"},
      {"Data Source=x; Extended Properties=y", true, "x", "", "", ""},
      {"Data Source", false, "", "", "", ""},
      {"PWD='unclosed", false, "", "", "", ""},
      {"=x", false, "", "", "", ""},
  };
  for (const Case& c : cases) {
    auto cs = ParseConnectionString(c.text);
    ASSERT_EQ(cs.has_value(), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(cs->data_source, c.source) << c.text;
    EXPECT_EQ(cs->initial_catalog, c.catalog) << c.text;
    EXPECT_EQ(cs->user_id, c.user) << c.text;
    EXPECT_EQ(cs->password, c.password) << c.text;
  }
  // Values cannot imitate each other's boundaries in the pool key.
  ConnectionString a, b;
  a.data_source = "x;";
  b.initial_catalog = "x;";
  EXPECT_NE(a.PoolKey(), b.PoolKey());
}

class SqliteEngineTest : public ::testing::Test {
 protected:
  std::unique_ptr<EngineConnection> Connect(const char* catalog = "chat") {
    ConnectionString target;
    target.data_source = db_.folder();
    target.initial_catalog = catalog;
    std::string error;
    auto c = SqliteEngine()->Connect(target, &error);
    EXPECT_TRUE(c) << error;
    return c;
  }
  testing::SeededDatabase db_;
};

TEST_F(SqliteEngineTest, MissingDatabaseIsNeverCreatedByConnect) {
  ConnectionString target;
  target.data_source = db_.folder();
  target.initial_catalog = "nosuch";
  std::string error;
  EXPECT_FALSE(SqliteEngine()->Connect(target, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(std::filesystem::exists(db_.folder() + "/nosuch.db"));
}

TEST_F(SqliteEngineTest, TypesColumnsByDeclarationAndCountsChanges) {
  auto c = Connect();
  ResultSet r;
  std::string error;
  ASSERT_TRUE(c->Execute("insert into userinfo(ID,name,CompanyID) values(5,'王芳',1);"
                         "insert into userinfo(ID,name,CompanyID) values(7,'张伟',1)",
                         &r, &error))
      << error;
  EXPECT_FALSE(r.HasResultSet());
  EXPECT_EQ(r.rows_affected, 2);
  ASSERT_TRUE(c->Execute("select ID, name, ID*2 as twice from userinfo where name='王芳'", &r, &error));
  ASSERT_EQ(r.RowCount(), 1u);
  EXPECT_EQ(r.columns[0].type, SqlType::kInt);
  EXPECT_EQ(r.columns[1].type, SqlType::kText);
  EXPECT_EQ(r.columns[2].type, SqlType::kUnknown);
  EXPECT_EQ(r.At(0, 1), SqlValue::Text("王芳"));
  EXPECT_EQ(r.At(0, 2), SqlValue::Integer(10));
  // A select that finds nothing still has its columns.
  ASSERT_TRUE(c->Execute("select * from userinfo where ID=99", &r, &error));
  EXPECT_TRUE(r.HasResultSet());
  EXPECT_EQ(r.RowCount(), 0u);
}

TEST_F(SqliteEngineTest, LabelsCompareWithoutCase) {
  auto c = Connect();
  ResultSet r;
  std::string error;
  ASSERT_TRUE(c->Execute("insert into C_members(cid,serid,cstlabel,IsChat) values(1,0,'AbC',1)", &r,
                         &error));
  ASSERT_TRUE(c->Execute("select * from C_Members where cstlabel='abc' and 'ABC' in (select "
                         "cstlabel from c_members where cstlabel<>'' and cid=1)",
                         &r, &error))
      << error;
  EXPECT_EQ(r.RowCount(), 1u);
}

TEST_F(SqliteEngineTest, ReusedShapeBindsNewValues) {
  auto c = Connect();
  ResultSet r;
  std::string error;
  for (int id : {1, 2, 3}) {
    std::string sql = "insert into userinfo(ID,name) values(" + std::to_string(id) + ",'n" +
                      std::to_string(id) + "')";
    ASSERT_TRUE(c->Execute(sql, &r, &error)) << error;
  }
  for (int id : {3, 1, 2}) {
    ASSERT_TRUE(c->Execute("select name from userinfo where ID=" + std::to_string(id), &r, &error));
    ASSERT_EQ(r.RowCount(), 1u);
    EXPECT_EQ(r.At(0, 0).bytes, "n" + std::to_string(id));
  }
}

TEST_F(SqliteEngineTest, FailuresAreReportedNotThrown) {
  auto c = Connect();
  ResultSet r;
  std::string error;
  EXPECT_FALSE(c->Execute("select * from nosuchtable", &r, &error));
  EXPECT_NE(error.find("nosuchtable"), std::string::npos);
  EXPECT_FALSE(c->Execute("select * from msg where cstlabel='it's'", &r, &error));
  EXPECT_FALSE(c->Execute("select 'unclosed", &r, &error));
  // The connection still works afterwards.
  EXPECT_TRUE(c->Execute("select count(*) from msg", &r, &error)) << error;
}

TEST_F(SqliteEngineTest, TransactionsCommitAndRollBack) {
  auto c = Connect();
  ResultSet r;
  std::string error;
  ASSERT_TRUE(c->BeginTransaction(&error)) << error;
  EXPECT_FALSE(c->BeginTransaction(&error));
  ASSERT_TRUE(c->Execute("insert into preMsg(cstlabel,conid) values('a',1)", &r, &error));
  ASSERT_TRUE(c->RollbackTransaction(&error));
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from preMsg"), "0");
  ASSERT_TRUE(c->BeginTransaction(&error));
  ASSERT_TRUE(c->Execute("insert into preMsg(cstlabel,conid) values('a',1)", &r, &error));
  ASSERT_TRUE(c->CommitTransaction(&error));
  EXPECT_FALSE(c->CommitTransaction(&error));
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from preMsg"), "1");
}

TEST_F(SqliteEngineTest, WriterWaitsForAnotherWriterInsteadOfFailing) {
  auto holder = Connect();
  auto waiter = Connect();
  std::string error;
  ASSERT_TRUE(holder->BeginTransaction(&error));
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string e;
    holder->CommitTransaction(&e);
  });
  ResultSet r;
  EXPECT_TRUE(waiter->Execute("insert into preMsg(cstlabel,conid) values('b',2)", &r, &error))
      << error;
  release.join();
}

TEST_F(SqliteEngineTest, CreateDatabaseIsAllOrNothing) {
  std::string error;
  EXPECT_FALSE(CreateDatabase(db_.folder(), "chat", "create table x(a)", false, &error));
  EXPECT_NE(error.find("exists"), std::string::npos);
  EXPECT_FALSE(CreateDatabase(db_.folder(), "fresh", "create table x(a); create table x(a);",
                              false, &error));
  EXPECT_FALSE(std::filesystem::exists(db_.folder() + "/fresh.db"));
  // A failed replacement leaves the old database as it was.
  db_.Execute("chat", "insert into preMsg(cstlabel,conid) values('kept',1)");
  EXPECT_FALSE(CreateDatabase(db_.folder(), "chat", "syntax error here", true, &error));
  EXPECT_EQ(db_.Scalar("chat", "select cstlabel from preMsg"), "kept");
  ASSERT_TRUE(CreateDatabase(db_.folder(), "chat", "create table x(a)", true, &error)) << error;
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from sqlite_master where name='x'"), "1");
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from sqlite_master where name='preMsg'"), "0");
  ASSERT_TRUE(CreateDatabase(db_.folder() + "/sub/dir", "c", "create table y(a)", false, &error));
}

TEST_F(SqliteEngineTest, PoolReusesAndBoundsIdleSessions) {
  ConnectionPool& pool = ConnectionPool::Instance();
  pool.CloseIdle();
  pool.SetIdleLimit(2);
  ConnectionString target;
  target.data_source = db_.folder();
  target.initial_catalog = "chat";
  std::string error;
  auto a = pool.Acquire(SqliteEngine(), target, &error);
  auto b = pool.Acquire(SqliteEngine(), target, &error);
  auto c = pool.Acquire(SqliteEngine(), target, &error);
  ASSERT_TRUE(a && b && c) << error;
  EngineConnection* first = a.get();
  ASSERT_TRUE(a->BeginTransaction(&error));
  pool.Release(SqliteEngine(), target, std::move(a));
  pool.Release(SqliteEngine(), target, std::move(b));
  pool.Release(SqliteEngine(), target, std::move(c));
  EXPECT_EQ(pool.IdleCount(), 2u);
  auto again = pool.Acquire(SqliteEngine(), target, &error);
  auto again2 = pool.Acquire(SqliteEngine(), target, &error);
  EXPECT_TRUE(again.get() == first || again2.get() == first);
  // A transaction left open was rolled back on release.
  EXPECT_FALSE(again->InTransaction());
  EXPECT_FALSE(again2->InTransaction());
  pool.SetIdleLimit(16);
}

}  // namespace
}  // namespace zelto::ado
