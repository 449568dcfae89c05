// The T-SQL rewriter: the subset the component sends, literals as parameters,
// and everything else left alone.
#include <gtest/gtest.h>

#include "platform/ado/tsql_tokenizer.h"
#include "platform/ado/tsql_translator.h"

namespace zelto::ado {
namespace {

using V = SqlValue;

struct Case {
  const char* tsql;
  const char* sqlite;
  std::vector<SqlValue> params;
};

class TranslatorTest : public ::testing::TestWithParam<Case> {};

TEST_P(TranslatorTest, RewritesAndParameterizes) {
  const Case& c = GetParam();
  Statement s = TranslateTsqlForSqlite(c.tsql);
  EXPECT_EQ(s.text, c.sqlite) << c.tsql;
  EXPECT_EQ(s.parameters, c.params) << c.tsql;
}

INSTANTIATE_TEST_SUITE_P(
    Subset, TranslatorTest,
    ::testing::Values(
        Case{"select top 1 * from cstTrack where cstLabel='a' order by presentTime desc",
             "select * from cstTrack where cstLabel=? order by presentTime desc LIMIT 1",
             {V::Text("a")}},
        Case{"SELECT DISTINCT TOP 5 a FROM t", "SELECT DISTINCT a FROM t LIMIT 5", {}},
        // top inside a subquery limits the subquery only
        Case{"select * from t where x in (select top 2 y from u) and z=1",
             "select * from t where x in (select y from u LIMIT 2) and z=?", {V::Integer(1)}},
        Case{"select * from msg where conid=12 and userID_send<>5 and CHARINDEX(',5,',readFlag)=0",
             "select * from msg where conid=? and userID_send<>? and instr(readFlag, ?)=?",
             {V::Integer(12), V::Integer(5), V::Text(",5,"), V::Integer(0)}},
        Case{"update msg set readFlag = readFlag+',7,' where msgID=3",
             "update msg set readFlag = readFlag||? where msgID=?", {V::Text(",7,"), V::Integer(3)}},
        Case{"select a + b from t", "select a + b from t", {}},
        Case{"select 1 + 2", "select ? + ?", {V::Integer(1), V::Integer(2)}},
        Case{"select -3, +4", "select -?, +?", {V::Integer(3), V::Integer(4)}},
        Case{"select CAST(DATEPART(hh, v) AS nvarchar(50))+ ':' + CAST(DATEPART(mi, v) AS "
             "nvarchar(50)) as tt from t",
             "select CAST(CAST(strftime('%H', v) AS INTEGER) AS TEXT)|| ? || "
             "CAST(CAST(strftime('%M', v) AS INTEGER) AS TEXT) as tt from t",
             {V::Text(":")}},
        Case{"select CAST(x AS decimal(10,2)) from t", "select CAST(x AS decimal(10,2)) from t", {}},
        Case{"select DATEPART(ss,x), DATEPART(week,x) from t",
             "select CAST(strftime('%S', x) AS INTEGER), DATEPART(week,x) from t", {}},
        Case{"select 'it''s', N'宽' from t", "select ?, ? from t", {V::Text("it's"), V::Text("宽")}},
        Case{"select 1.5, 2e3, 99999999999", "select ?, ?, ?",
             {V::Real(1.5), V::Real(2000), V::Integer(99999999999)}},
        Case{"select a from t order by 2, b desc", "select a from t order by 2, b desc", {}},
        Case{"select a from t group by 1 having count(*) > 3",
             "select a from t group by 1 having count(*) > ?", {V::Integer(3)}},
        // comments, quoted names and an unknown function pass through
        Case{"select [order], \"x\" -- 5 'c'\nfrom t /* 'd' */ where f(1)=g('e')",
             "select [order], \"x\" -- 5 'c'\nfrom t /* 'd' */ where f(?)=g(?)",
             {V::Integer(1), V::Text("e")}},
        Case{"select CHARINDEX('a', b, 3) from t", "select CHARINDEX(?, b, ?) from t",
             {V::Text("a"), V::Integer(3)}},
        Case{"select charindex ( 'a' , b ) from t", "select instr(b, ?) from t", {V::Text("a")}},
        // nested rewrites keep parameter order with the swapped arguments
        Case{"select CHARINDEX('x', b + 'y') from t", "select instr(b || ?, ?) from t",
             {V::Text("y"), V::Text("x")}},
        Case{"select 0x0aFF, X'01', 0x1", "select ?, ?, 0x1",
             {V::Blob("\x0a\xff"), V::Blob("\x01")}},
        // broken text stays broken, and nothing is lost
        Case{"select 'abc from t", "select 'abc from t", {}},
        Case{"select (a from t", "select (a from t", {}},
        Case{"select top 1 a from t; select top 2 b from u",
             "select a from t LIMIT 1; select b from u LIMIT 2", {}},
        // a placeholder never runs into a neighbouring digit or name ("?2"
        // would bind the second parameter, "like?" stays two tokens)
        Case{"select a from t where b like'%x%' order by 'y'2",
             "select a from t where b like ? order by ? 2", {V::Text("%x%"), V::Text("y")}}));

TEST(TokenizerTest, KeepsEveryByte) {
  const char* texts[] = {"select 'a''b', [c d], \"e\" from t -- x", "/* open", "'open", "x<>y>=z",
                         "N'中文' + 1.5e-3"};
  for (const char* text : texts) {
    std::string joined;
    for (const Token& t : TokenizeTsql(text)) joined += t.text;
    EXPECT_EQ(joined, text);
  }
}

TEST(TokenizerTest, StringValues) {
  EXPECT_EQ(StringTokenValue("'a''b'"), "a'b");
  EXPECT_EQ(StringTokenValue("N'x'"), "x");
  EXPECT_EQ(StringTokenValue("''''"), "'");
  EXPECT_EQ(StringTokenValue("''"), "");
  EXPECT_EQ(StringTokenValue("'open"), "open");
}

}  // namespace
}  // namespace zelto::ado
