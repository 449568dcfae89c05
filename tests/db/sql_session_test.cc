// SqlSession on both engines: UTF-8 text in and out untouched by the ANSI
// code page, the reason of a failure, and transactions that keep all of a
// change or none of it.
#include "db/sql_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "db/sql_values.h"
#include "platform/win/codepage.h"
#include "tests/support/seeded_database.h"

namespace {

using zelto::testing::SeededDatabase;

class SqlSessionTest : public ::testing::TestWithParam<zelto::testing::TestEngine> {
 protected:
  void SetUp() override { ZELTO_SKIP_WITHOUT(db_); }

  SqlLogin Login() const { return {db_.folder(), db_.user(), db_.password()}; }
  std::string Catalog() const { return db_.catalog("chat"); }
  std::string Companies() { return db_.Scalar("chat", "select count(*) from Company"); }

  SeededDatabase db_{GetParam()};
};

TEST_P(SqlSessionTest, TextComesBackByteForByteWhateverTheAnsiCodePage) {
  // Characters GBK lacks, a quote and a backslash: none may be narrowed,
  // dropped or unquoted on the way.
  const std::string name = "Zoë's café 😀 ℃ \\ 中文";
  ASSERT_EQ(GetACP(), CP_GBK) << "the test means a process whose ANSI code page is GBK";
  SqlSession session(Login(), Catalog());
  ASSERT_TRUE(session.is_open()) << session.error();
  ASSERT_TRUE(session.Execute("insert into Company (ID, CompanyName) values (9, " +
                              SqlStringLiteral(name) + ")"));
  std::vector<SqlSession::Row> rows;
  ASSERT_TRUE(session.Query(
      "select ID, CompanyName from Company where CompanyName=" + SqlStringLiteral(name),
      {"id", "companyname"}, &rows))
      << session.error();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (SqlSession::Row{"9", name}));
}

TEST_P(SqlSessionTest, FailuresSayWhyWithoutTheValues) {
  SqlSession session(Login(), Catalog());
  EXPECT_FALSE(session.Execute("insert into noSuchTable (a) values ('secret value')"));
  EXPECT_NE(session.error().find("insert into noSuchTable"), std::string::npos) << session.error();
  EXPECT_NE(session.error().find("noSuchTable"), session.error().rfind("noSuchTable"))
      << "the engine's own text names the table too: " << session.error();
  EXPECT_EQ(session.error().find("secret value"), std::string::npos) << session.error();
  // A call that works clears it.
  std::vector<SqlSession::Row> rows;
  EXPECT_TRUE(session.Query("select ID from Company", {"ID"}, &rows));
  EXPECT_EQ(session.error(), "");

  SqlSession missing({db_.folder(), db_.user(), db_.password()}, db_.catalog("nothere"));
  EXPECT_FALSE(missing.is_open());
  EXPECT_NE(missing.error().find("cannot open the"), std::string::npos) << missing.error();
  EXPECT_FALSE(missing.Execute("delete from Company"));
  EXPECT_NE(missing.error().find("cannot open the"), std::string::npos) << missing.error();
}

TEST_P(SqlSessionTest, ATransactionKeepsAllOrNothing) {
  const std::string before = Companies();
  SqlSession session(Login(), Catalog());
  {
    SqlTransaction transaction(session);
    ASSERT_TRUE(transaction.begun()) << session.error();
    ASSERT_TRUE(session.Execute("insert into Company (ID) values (21)"));
    ASSERT_TRUE(session.Execute("insert into Company (ID) values (22)"));
    // Not committed: both go.
  }
  EXPECT_EQ(Companies(), before);
  {
    SqlTransaction transaction(session);
    ASSERT_TRUE(session.Execute("insert into Company (ID) values (21)"));
    EXPECT_FALSE(session.Execute("insert into Company (ID) values (21)"));  // the key
    // The failed statement does not end the transaction on either engine
    // the caller sees: the caller gives up, and the first insert goes too.
  }
  EXPECT_EQ(Companies(), before);
  {
    SqlTransaction transaction(session);
    ASSERT_TRUE(session.Execute("insert into Company (ID) values (23)"));
    EXPECT_TRUE(transaction.Commit()) << session.error();
  }
  EXPECT_EQ(std::stoi(Companies()), std::stoi(before) + 1);
}

TEST_P(SqlSessionTest, TheFaultHookFailsTheStepItNames) {
  const std::string before = Companies();
  // Each step in turn: the second statement, then the commit.
  for (const std::string failing : {"insert into Company (ID) values (32)", "commit"}) {
    SqlSession session(Login(), Catalog(),
                       [failing](std::string_view step) { return step == failing; });
    SqlTransaction transaction(session);
    ASSERT_TRUE(transaction.begun());
    ASSERT_TRUE(session.Execute("insert into Company (ID) values (31)"));
    const bool ran =
        session.Execute("insert into Company (ID) values (32)") && transaction.Commit();
    EXPECT_FALSE(ran) << failing;
    EXPECT_NE(session.error().find("injected fault"), std::string::npos) << session.error();
  }
  EXPECT_EQ(Companies(), before);
  SqlSession refused(Login(), Catalog(), [](std::string_view step) { return step == "begin"; });
  SqlTransaction transaction(refused);
  EXPECT_FALSE(transaction.begun());
  EXPECT_FALSE(transaction.Commit());
}

ZELTO_ON_EVERY_ENGINE(SqlSessionTest);

TEST(SqlValuesTest, LiteralsAndParsedIntegers) {
  EXPECT_EQ(SqlStringLiteral("O'Brien"), "'O''Brien'");
  EXPECT_EQ(SqlStringLiteral(""), "''");
  EXPECT_EQ(ParseWellFormedInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseWellFormedInteger("007"), 7);
  for (const char* bad : {"", "2147483648", "1 ", "+1", "0x10"})
    EXPECT_EQ(ParseWellFormedInteger(bad), std::nullopt) << bad;
}

}  // namespace
