// CDbConnection and CDbRecordset on a real database: opening, executing,
// reading fields as text and numbers, and the failure paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/db_connection.h"
#include "db/db_recordset.h"
#include "platform/ado/ado.h"
#include "platform/win/codepage.h"
#include "platform/win/message_box.h"
#include "tests/support/seeded_database.h"

namespace {

class DbSessionTest : public ::testing::TestWithParam<zelto::testing::TestEngine> {
 protected:
  DbSessionTest() {
    SetMessageBoxSink([this](std::string_view caption, std::string_view text) {
      boxes_.push_back(std::string(caption) + "|" + std::string(text));
    });
  }
  ~DbSessionTest() override { SetMessageBoxSink({}); }
  void SetUp() override { ZELTO_SKIP_WITHOUT(db_); }

  bool Connect(CDbConnection& c) {
    return c.Connect(db_.folder(), db_.catalog("chat"), db_.user(), db_.password(),
                     adOptionUnspecified);
  }

  // Runs `sql` and attaches the result, as every read does.
  void Read(CDbConnection& c, CDbRecordset& rs, const std::string& sql) {
    ComPtr<_Recordset>::Adopt(rs.Attach(c.Execute(sql)));
  }

  zelto::testing::SeededDatabase db_{GetParam()};
  std::vector<std::string> boxes_;
};

TEST_P(DbSessionTest, ConnectBuildsTheStringByteForByte) {
  CDbConnection c;
  EXPECT_FALSE(c.Connect("", "", "", "", adOptionUnspecified));
  EXPECT_EQ(c.connection_string(), "Provider=SQLOLEDB.1; Data Source=; Initial Catalog=; User ID=; PWD=");
  EXPECT_FALSE(c.IsOpen());
  ASSERT_TRUE(Connect(c));
  EXPECT_EQ(c.connection_string(), db_.ConnectionString("chat"));
  EXPECT_TRUE(c.IsOpen());
}

TEST_P(DbSessionTest, OpenKeepsTheLastNonEmptyString) {
  CDbConnection fresh;
  EXPECT_FALSE(fresh.Open("", adOptionUnspecified));
  EXPECT_EQ(fresh.connection_string(), "");

  CDbConnection c;
  ASSERT_TRUE(c.Open(db_.ConnectionString(), adOptionUnspecified));
  EXPECT_TRUE(c.Open("", adOptionUnspecified));  // reopens with the kept string
  EXPECT_TRUE(c.IsOpen());
  c.Close();
  EXPECT_FALSE(c.IsOpen());
  EXPECT_TRUE(c.Open("", adOptionUnspecified));

  // A failing Open closes the open connection and keeps the new string.
  std::string missing = "Provider=SQLOLEDB.1; Data Source=" + db_.folder() +
                        "; Initial Catalog=nosuch; User ID=; PWD=";
  EXPECT_FALSE(c.Open(missing, adOptionUnspecified));
  EXPECT_FALSE(c.IsOpen());
  EXPECT_EQ(c.connection_string(), missing);
  EXPECT_FALSE(c.Open("Provider=MSDASQL; Data Source=x; Initial Catalog=chat", adOptionUnspecified));
}

TEST_P(DbSessionTest, ExecuteGivesNullOnEveryFailure) {
  CDbConnection c;
  EXPECT_EQ(c.Execute("select * from msg"), nullptr);  // never opened
  ASSERT_TRUE(Connect(c));
  EXPECT_EQ(c.Execute("select * from nosuch"), nullptr);
  EXPECT_EQ(c.Execute("select * from msg where cstlabel='a'b'"), nullptr);
  _Recordset* insert = c.Execute("insert into preMsg(cstlabel,conid) values('v',1)");
  ASSERT_NE(insert, nullptr);  // a closed recordset, as ADO gives for changes
  LONG state = -1;
  insert->get_State(&state);
  EXPECT_EQ(state, adStateClosed);
  insert->Release();
  c.Close();
  EXPECT_EQ(c.Execute("select * from msg"), nullptr);
}

TEST_P(DbSessionTest, NoRowsIsBothBofAndEofWithoutAMessageBox) {
  CDbConnection c;
  ASSERT_TRUE(Connect(c));
  CDbRecordset rs;
  Read(c, rs, "select * from msg where conid=1");
  EXPECT_TRUE(rs.IsOpen());
  EXPECT_TRUE(rs.IsBOF());
  EXPECT_TRUE(rs.IsEOF());
  std::string out = "unchanged";
  EXPECT_FALSE(rs.GetFieldText("msgContent", out));
  EXPECT_EQ(out, "unchanged");
  EXPECT_FALSE(rs.MoveNext());
  EXPECT_TRUE(boxes_.empty());
}

TEST_P(DbSessionTest, FailedExecuteLeavesAClosedRecordsetAndTheMessageBox) {
  CDbConnection c;
  ASSERT_TRUE(Connect(c));
  CDbRecordset rs;
  Read(c, rs, "select * from msg");
  ASSERT_TRUE(rs.IsOpen());
  EXPECT_EQ(rs.Attach(c.Execute("select * from nosuch")), nullptr);
  EXPECT_FALSE(rs.IsOpen());
  EXPECT_FALSE(rs.IsBOF());
  EXPECT_FALSE(rs.IsEOF());
  EXPECT_FALSE(rs.MoveNext());
  std::string out = "unchanged";
  EXPECT_FALSE(rs.GetFieldText("msgID", out));
  EXPECT_EQ(out, "unchanged");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "提示|数据库可能已经断开,\r\n请重新连接、然后重试.");
  LONG n = 9;
  EXPECT_FALSE(rs.GetFieldLong("msgID", n));
  EXPECT_EQ(n, 0);
  EXPECT_EQ(boxes_.size(), 1u);  // GetFieldLong shows no box
}

TEST_P(DbSessionTest, ReadsRowsFieldsAndUnknownNames) {
  db_.Execute("chat",
              "insert into userinfo(ID,name,CompanyID,Popedom) values(5,'王芳',1,1);"
              "insert into userinfo(ID,name,CompanyID,Popedom) values(7,NULL,1,0)");
  CDbConnection c;
  ASSERT_TRUE(Connect(c));
  CDbRecordset rs;
  Read(c, rs, "select * from userinfo order by ID");
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_FALSE(rs.IsBOF());
  std::string name;
  LONG id = 0;
  EXPECT_TRUE(rs.GetFieldText("NAME", name));  // names ignore case
  EXPECT_EQ(name, WideToAnsi(u"王芳"));
  EXPECT_TRUE(rs.GetFieldLong("id", id));
  EXPECT_EQ(id, 5);
  std::string out = "unchanged";
  EXPECT_FALSE(rs.GetFieldText("nosuch", out));
  EXPECT_EQ(out, "unchanged");
  LONG n = 9;
  EXPECT_FALSE(rs.GetFieldLong("nosuch", n));
  EXPECT_EQ(n, 0);
  ASSERT_TRUE(rs.MoveNext());
  EXPECT_TRUE(rs.GetFieldText("name", out));  // SQL NULL is empty text
  EXPECT_EQ(out, "");
  EXPECT_TRUE(rs.GetFieldLong("name", n));
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(rs.MoveNext());
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_FALSE(rs.MoveNext());
  EXPECT_FALSE(rs.GetFieldText("name", out));
  EXPECT_TRUE(boxes_.empty());
  rs.Close();
  EXPECT_FALSE(rs.IsOpen());
  rs.Close();  // twice is harmless
}

TEST_P(DbSessionTest, DuplicateColumnNamesGiveTheFirst) {
  CDbConnection c;
  ASSERT_TRUE(Connect(c));
  CDbRecordset rs;
  Read(c, rs, "select 'first' as x, 'second' as X");
  std::string x;
  EXPECT_TRUE(rs.GetFieldText("x", x));
  EXPECT_EQ(x, "first");
}

struct KindCase {
  const char* column;
  const char* text;
  LONG number;
};

TEST_P(DbSessionTest, ColumnTypesRenderAsTheServerTypesThem) {
  // The same values in each engine's nearest column types (PostgreSQL has
  // no tinyint: its smallint holds 200 as well).
  if (GetParam() == zelto::testing::TestEngine::kSqlite) {
    db_.Execute("chat",
                "create table kinds(b BIT, f FLOAT, r REAL, t TINYINT, bin VARBINARY(10), "
                "d DATETIME, d2 DATETIME, n INT, sm SMALLINT, big BIGINT, m MONEY, "
                "dec DECIMAL(10,2), s NVARCHAR(20));"
                "insert into kinds values(1, 3.14159, 3.14159, 200, 0x0102, "
                "'2006-01-02 03:04:05.6', '2006-01-02 03:04:05', -3, -2, 5000000000, 12.5, "
                "'-7.25', '12abc')");
  } else {
    db_.Execute("chat",
                "create table kinds(b BOOLEAN, f FLOAT8, r REAL, t SMALLINT, bin BYTEA, "
                "d TIMESTAMP, d2 TIMESTAMP, n INT, sm SMALLINT, big BIGINT, m MONEY, "
                "dec NUMERIC(10,2), s VARCHAR(20));"
                "insert into kinds values('t', 3.14159, 3.14159, 200, 0x0102, "
                "'2006-01-02 03:04:05.6', '2006-01-02 03:04:05', -3, -2, 5000000000, '12.5', "
                "'-7.25', '12abc')");
  }
  CDbConnection c;
  ASSERT_TRUE(Connect(c));
  CDbRecordset rs;
  Read(c, rs, "select *, n*2 as computed, n*0.5 as half from kinds");
  const KindCase cases[] = {
      {"b", "TRUE", -1},
      {"f", "3.14159000", 3},
      {"r", "3.1416", 3},
      {"t", "200", 200},
      {"bin", "[BLOB]", 0},
      {"d", "2006-01-02 03:04:06", 0},
      {"d2", "2006-01-02 03:04:05", 0},
      {"n", "-3", -3},
      {"sm", "-2", -2},
      {"big", "5000000000", 0},
      {"dec", "-7.25000000", -7},
      {"s", "12abc", 12},
      {"computed", "-6", -6},
      {"half", "-1.50000000", -1},
  };
  for (const KindCase& k : cases) {
    std::string text;
    LONG number = 99;
    EXPECT_TRUE(rs.GetFieldText(k.column, text)) << k.column;
    EXPECT_EQ(text, k.text) << k.column;
    EXPECT_TRUE(rs.GetFieldLong(k.column, number)) << k.column;
    EXPECT_EQ(number, k.number) << k.column;
  }
  std::string money;
  EXPECT_TRUE(rs.GetFieldText("m", money));
  EXPECT_EQ(money, "12.5");
}

TEST_P(DbSessionTest, TransactionsOnTheSession) {
  CDbConnection c;
  EXPECT_FALSE(c.BeginTrans());  // closed
  ASSERT_TRUE(Connect(c));
  EXPECT_FALSE(c.CommitTrans());  // none open
  ASSERT_TRUE(c.BeginTrans());
  ComPtr<_Recordset>::Adopt(c.Execute("insert into preMsg(cstlabel,conid) values('a',1)"));
  ASSERT_TRUE(c.RollbackTrans());
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from preMsg"), "0");
  ASSERT_TRUE(c.BeginTrans());
  ComPtr<_Recordset>::Adopt(c.Execute("insert into preMsg(cstlabel,conid) values('a',1)"));
  ASSERT_TRUE(c.CommitTrans());
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from preMsg"), "1");
  // A transaction left open when the connection closes is rolled back.
  ASSERT_TRUE(c.BeginTrans());
  ComPtr<_Recordset>::Adopt(c.Execute("insert into preMsg(cstlabel,conid) values('b',2)"));
  c.Close();
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from preMsg"), "1");
}

ZELTO_ON_EVERY_ENGINE(DbSessionTest);

}  // namespace
